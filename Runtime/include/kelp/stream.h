// Buffered text output streams: the three standard streams and streams opened on files.
#pragma once

#include "kelp/types.h"
#include "kelp/file.h"

enum : uint32_t
{
    STREAM_MAGIC      = 0xE44E44EE,
    STREAM_MAGIC_DEAD = 0x1BB1BB11,
};

// Modes for RTStreamSetBuffering.
enum : uint32_t
{
    STREAM_BUF_FULL = 1,
    STREAM_BUF_LINE = 2,
    STREAM_BUF_NONE = 3,
};

// As stored in Stream::buffering.
enum : int32_t
{
    STREAM_BUFFERING_NONE = 0,
    STREAM_BUFFERING_LINE = 1,
    STREAM_BUFFERING_FULL = 2,
};

enum : int32_t
{
    STREAM_DIR_NONE  = 0,
    STREAM_DIR_WRITE = 2,
};

struct Stream
{
    uint32_t magic;
    int32_t  status;        // 0, or the first write error, which sticks
    int32_t  stdIndex;      // 0 input, 1 output, 2 error; -1 for opened streams
    RTFILE   file;          // RTFILE_NIL until a standard stream is first flushed
    char    *buffer;
    uint32_t bufferSize;
    uint32_t start;         // first byte not yet written out
    uint32_t fill;          // after the last buffered byte
    int32_t  direction;     // STREAM_DIR_WRITE while the buffer holds output
    int32_t  buffering;     // STREAM_BUFFERING_*
    bool     convertToAnsi;
    bool     binary;
    void    *lock;          // made on first use
    Stream  *next;          // list of opened streams
    Stream  *prev;
};

extern Stream StreamStdInObj;
extern Stream StreamStdOutObj;
extern Stream StreamStdErrObj;
// The current standard output and error streams; replaceable.
extern Stream *StreamStdOut;
extern Stream *StreamStdErr;

// mode: access letter r, w or a, then any of + x b t N e E.
int RTStreamOpen(const char *path, const char *mode, Stream **result);
// Flushes, closes and frees an opened stream; standard streams are only flushed.
int RTStreamClose(Stream *stream);
int RTStreamSetBuffering(Stream *stream, uint32_t mode);
// Returns the formatter's total, -1 when the stream is in error, ERR_BAD_ARGUMENT for a
// pointer that is not a live stream.
int RTStreamPrintfV(Stream *stream, const char *format, va_list args);
int RTStreamPrintf(Stream *stream, const char *format, ...);
int RTStreamPrintfStdOut(const char *format, ...);

// Run at process termination: flushes everything and closes every opened stream.
void RTStreamExitHandler(void);
