// Buffered output streams on top of the file layer.
#include "kelp/stream.h"
#include "kelp/err.h"
#include "kelp/file.h"
#include "kelp/init.h"
#include "kelp/format.h"
#include "kelp/mem.h"
#include "kelp/string.h"

#include <windows.h>

Stream StreamStdInObj  = { STREAM_MAGIC, 0, 0, RTFILE_NIL, nullptr, 0, 0, 0, STREAM_DIR_NONE,
                           STREAM_BUFFERING_NONE, true, false, nullptr, nullptr, nullptr };
Stream StreamStdOutObj = { STREAM_MAGIC, 0, 1, RTFILE_NIL, nullptr, 0, 0, 0, STREAM_DIR_NONE,
                           STREAM_BUFFERING_LINE, true, false, nullptr, nullptr, nullptr };
Stream StreamStdErrObj = { STREAM_MAGIC, 0, 2, RTFILE_NIL, nullptr, 0, 0, 0, STREAM_DIR_NONE,
                           STREAM_BUFFERING_NONE, true, false, nullptr, nullptr, nullptr };
Stream *StreamStdOut = &StreamStdOutObj;
Stream *StreamStdErr = &StreamStdErrObj;

namespace {

// The list of opened streams, set up on the first open.
CRITICAL_SECTION g_listLock;
Stream *g_listHead;
Stream *g_listTail;
volatile LONG g_listState;      // 0 not set up, 1 being set up, 2 ready

const uint32_t kFullBufferSize = 65536;
const uint32_t kOtherBufferSize = 16384;
const uint32_t kSmallestBuffer = 256;

bool isLive(const Stream *stream)
{
    return RTIsValidPtr(stream) && stream->magic == STREAM_MAGIC;
}

int setUpList()
{
    for (;;)
    {
        LONG const state = InterlockedCompareExchange(&g_listState, 1, 0);
        if (state == 2)
            return 0;
        if (state == 0)
        {
            InitializeCriticalSection(&g_listLock);
            g_listHead = g_listTail = nullptr;
            InterlockedExchange(&g_listState, 2);
            return 0;
        }
        Sleep(0);
    }
}

CRITICAL_SECTION *streamLock(Stream *stream)
{
    CRITICAL_SECTION *lock = (CRITICAL_SECTION *)stream->lock;
    if (lock)
        return lock;
    CRITICAL_SECTION *mine = (CRITICAL_SECTION *)RTMemAlloc(sizeof(*mine));
    if (!mine)
        return nullptr;
    InitializeCriticalSection(mine);
    lock = (CRITICAL_SECTION *)InterlockedCompareExchangePointer(&stream->lock, mine, nullptr);
    if (!lock)
        return mine;
    DeleteCriticalSection(mine);
    RTMemFree(mine);
    return lock;
}

void destroyLock(Stream *stream)
{
    CRITICAL_SECTION *lock = (CRITICAL_SECTION *)stream->lock;
    stream->lock = nullptr;
    if (lock)
    {
        DeleteCriticalSection(lock);
        RTMemFree(lock);
    }
}

int attachStandardHandle(Stream *stream)
{
    static const DWORD s_aStdHandles[3] = { STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE };
    if (stream->stdIndex < 0 || stream->stdIndex > 2)
        return ERR_INVALID_HANDLE;
    HANDLE h = GetStdHandle(s_aStdHandles[stream->stdIndex]);
    if (h == INVALID_HANDLE_VALUE || h == nullptr)
        return ERR_INVALID_HANDLE;
    RTFILE file;
    if (RT_FAILURE(RTFileFromNative(&file, h)))
        return ERR_INVALID_HANDLE;
    // Files and pipes get their output in large blocks.
    DWORD mode;
    if (!GetConsoleMode(h, &mode))
        stream->buffering = STREAM_BUFFERING_FULL;
    stream->file = file;
    return 0;
}

int flushBytes(Stream *stream, uint32_t count)
{
    if (stream->file == RTFILE_NIL)
    {
        int rc = attachStandardHandle(stream);
        if (RT_FAILURE(rc))
            return rc;
    }
    if (count)
    {
        int rc = RTFileWrite(stream->file, stream->buffer + stream->start, count, nullptr);
        if (RT_FAILURE(rc))
            return rc;
    }
    uint32_t const done = stream->start + count;
    uint32_t const rest = stream->fill - done;
    if (rest)
        __builtin_memmove(stream->buffer, stream->buffer + done, rest);
    stream->start = 0;
    stream->fill = rest;
    return 0;
}

int flushAll(Stream *stream)
{
    return flushBytes(stream, stream->fill - stream->start);
}

int prepareForOutput(Stream *stream)
{
    if (stream->direction == STREAM_DIR_WRITE)
        return 0;
    stream->direction = STREAM_DIR_WRITE;
    stream->start = stream->fill = 0;
    if (!stream->buffer)
    {
        uint32_t size = stream->buffering == STREAM_BUFFERING_FULL ? kFullBufferSize : kOtherBufferSize;
        for (;;)
        {
            stream->buffer = (char *)RTMemAlloc(size);
            if (stream->buffer)
                break;
            size /= 2;
            if (size < kSmallestBuffer)
            {
                stream->direction = STREAM_DIR_NONE;
                return ERR_NO_MEMORY;
            }
        }
        stream->bufferSize = size;
    }
    return 0;
}

int appendRaw(Stream *stream, const char *chars, size_t count)
{
    while (count)
    {
        if (stream->fill >= stream->bufferSize)
        {
            int rc = flushAll(stream);
            if (RT_FAILURE(rc))
                return rc;
        }
        size_t n = stream->bufferSize - stream->fill;
        if (n > count)
            n = count;
        __builtin_memcpy(stream->buffer + stream->fill, chars, n);
        stream->fill += (uint32_t)n;
        chars += n;
        count -= n;
    }
    return 0;
}

int appendTranslated(Stream *stream, const char *chars, size_t count)
{
    if (stream->binary)
        return appendRaw(stream, chars, count);
    while (count)
    {
        size_t run = 0;
        while (run < count && chars[run] != '\n')
            run++;
        int rc = appendRaw(stream, chars, run);
        if (RT_FAILURE(rc))
            return rc;
        if (run == count)
            break;
        if (stream->bufferSize - stream->fill < 2)
        {
            rc = flushAll(stream);
            if (RT_FAILURE(rc))
                return rc;
        }
        stream->buffer[stream->fill++] = '\r';
        stream->buffer[stream->fill++] = '\n';
        chars += run + 1;
        count -= run + 1;
    }
    return 0;
}

int flushByMode(Stream *stream)
{
    if (stream->fill == stream->start)
        return 0;
    switch (stream->buffering)
    {
        case STREAM_BUFFERING_NONE:
            return flushAll(stream);
        case STREAM_BUFFERING_LINE:
        {
            if (stream->buffer[stream->fill - 1] == '\n')
                return flushAll(stream);
            uint32_t i = stream->fill;
            while (i > stream->start && stream->buffer[i - 1] != '\n')
                i--;
            if (i > stream->start)
                return flushBytes(stream, i - stream->start);
            return 0;
        }
        default:
            return 0;
    }
}

// Encoding problems of the text only cost that chunk; the stream stays usable.
bool isEncodingError(int rc)
{
    return rc == ERR_INVALID_UTF8 || rc == ERR_INVALID_UTF16 || rc == ERR_CODE_POINT_SURROGATE
        || rc == ERR_CODE_POINT_BYTE_ORDER || rc == ERR_NOT_UTF16_REPRESENTABLE;
}

int writeChunk(Stream *stream, const char *chars, size_t count, bool mayConvert)
{
    if (stream->status < 0)
        return stream->status;
    int rc = prepareForOutput(stream);
    if (RT_SUCCESS(rc))
    {
        if (mayConvert && stream->convertToAnsi && !stream->binary)
        {
            char *copy = nullptr;
            const char *text = chars;
            if (count == 0 || chars[count - 1] != '\0')
            {
                rc = RTStrCloneNEx(&copy, chars, count);
                text = copy;
            }
            if (RT_SUCCESS(rc))
            {
                char *ansi = nullptr;
                rc = RTStrToAnsiCodePage(&ansi, text);
                if (RT_SUCCESS(rc))
                {
                    rc = appendTranslated(stream, ansi, RTStrLen(ansi));
                    RTStrDispose(ansi);
                }
                else if (isEncodingError(rc))
                {
                    RTStrDispose(copy);
                    return rc;
                }
            }
            RTStrDispose(copy);
        }
        else
            rc = appendTranslated(stream, chars, count);
        if (RT_SUCCESS(rc))
            rc = flushByMode(stream);
    }
    if (RT_FAILURE(rc) && rc != ERR_INVALID_UTF8)
        stream->status = rc;
    return rc;
}

size_t outputCallback(void *arg, const char *chars, size_t count)
{
    if (chars && count)
        writeChunk((Stream *)arg, chars, count, true);
    return count;
}

// Flushes what is pending and releases the buffer and the lock; the handle stays.
void flushAndRelease(Stream *stream)
{
    if (stream->direction == STREAM_DIR_WRITE && stream->status >= 0 && stream->fill > stream->start)
    {
        int rc = flushAll(stream);
        if (RT_FAILURE(rc))
            stream->status = rc;
    }
    RTMemFree(stream->buffer);
    stream->buffer = nullptr;
    stream->bufferSize = 0;
    stream->start = stream->fill = 0;
    stream->direction = STREAM_DIR_NONE;
    destroyLock(stream);
}

void unlink(Stream *stream)
{
    if (stream->prev)
        stream->prev->next = stream->next;
    else if (g_listHead == stream)
        g_listHead = stream->next;
    if (stream->next)
        stream->next->prev = stream->prev;
    else if (g_listTail == stream)
        g_listTail = stream->prev;
    stream->next = stream->prev = nullptr;
}

void destroyOpened(Stream *stream)
{
    stream->magic = STREAM_MAGIC_DEAD;
    flushAndRelease(stream);
    if (stream->file != RTFILE_NIL)
        RTFileClose(stream->file);
    stream->file = RTFILE_NIL;
    RTMemFree(stream);
}

} // namespace

// Mode letters to open flags; ERR_INVALID_FLAGS for anything not understood.
int rtStrmParseMode(const char *mode, uint64_t *openFlags, bool *binary)
{
    if (!mode || !*mode)
        return ERR_INVALID_FLAGS;
    char access = 0;
    bool plus = false, exclusive = false, inherit = true;
    *binary = false;
    for (const char *p = mode; *p; p++)
    {
        switch (*p)
        {
            case 'r': case 'w': case 'a': access = *p; break;
            case '+': plus = true; break;
            case 'x': exclusive = true; break;
            case 'b': *binary = true; break;
            case 't': *binary = false; break;
            case 'N': case 'e': inherit = false; break;
            case 'E': inherit = true; break;
            default: return ERR_INVALID_FLAGS;
        }
    }
    uint64_t flags;
    switch (access)
    {
        case 'r':
            flags = RTFILE_OPEN_READ | RTFILE_OPEN_EXISTING;
            break;
        case 'w':
            flags = exclusive ? RTFILE_OPEN_WRITE | RTFILE_OPEN_CREATE_NEW
                              : RTFILE_OPEN_WRITE | RTFILE_OPEN_CREATE_REPLACE;
            break;
        case 'a':
            flags = RTFILE_OPEN_WRITE | RTFILE_OPEN_APPEND | RTFILE_OPEN_OPEN_OR_CREATE;
            break;
        default:
            return ERR_INVALID_FLAGS;
    }
    if (exclusive && access != 'w')
        return ERR_INVALID_FLAGS;
    if (plus || exclusive)
        flags = (flags & ~(uint64_t)RTFILE_OPEN_ACCESS_MASK) | RTFILE_OPEN_READWRITE;
    flags |= RTFILE_OPEN_DENY_NONE | ((uint64_t)0666 << RTFILE_OPEN_CREATE_MODE_SHIFT);
    if (inherit)
        flags |= RTFILE_OPEN_INHERIT;
    *openFlags = flags;
    return 0;
}

int RTStreamOpen(const char *path, const char *mode, Stream **result)
{
    if (!RTIsValidPtr(result))
        return ERR_INVALID_POINTER;
    *result = nullptr;
    if (!path)
        return ERR_BAD_ARGUMENT;
    uint64_t openFlags;
    bool binary;
    int rc = rtStrmParseMode(mode, &openFlags, &binary);
    if (RT_FAILURE(rc))
        return rc;
    rc = setUpList();
    if (RT_FAILURE(rc))
        return rc;

    Stream *stream = (Stream *)RTMemAllocZ(sizeof(*stream));
    if (!stream)
        return ERR_NO_MEMORY;
    stream->magic = STREAM_MAGIC;
    stream->stdIndex = -1;
    stream->buffering = STREAM_BUFFERING_FULL;
    stream->binary = binary;
    stream->convertToAnsi = false;
    stream->file = RTFILE_NIL;
    rc = RTFileOpen(&stream->file, path, openFlags);
    if (RT_FAILURE(rc))
    {
        RTMemFree(stream);
        return rc;
    }

    EnterCriticalSection(&g_listLock);
    stream->prev = g_listTail;
    stream->next = nullptr;
    if (g_listTail)
        g_listTail->next = stream;
    else
        g_listHead = stream;
    g_listTail = stream;
    LeaveCriticalSection(&g_listLock);

    *result = stream;
    return 0;
}

int RTStreamClose(Stream *stream)
{
    if (!stream)
        return 0;
    if (!isLive(stream))
        return ERR_INVALID_HANDLE;
    if (stream->stdIndex >= 0)
    {
        CRITICAL_SECTION *lock = streamLock(stream);
        if (lock)
            EnterCriticalSection(lock);
        int rc = stream->status;
        if (rc >= 0 && stream->direction == STREAM_DIR_WRITE)
            rc = flushAll(stream);
        if (lock)
            LeaveCriticalSection(lock);
        return rc < 0 ? rc : 0;
    }

    EnterCriticalSection(&g_listLock);
    unlink(stream);
    LeaveCriticalSection(&g_listLock);

    int rc = stream->status;
    if (rc >= 0 && stream->direction == STREAM_DIR_WRITE && stream->fill > stream->start)
        rc = flushAll(stream);
    stream->status = -1;    // nothing more is flushed below
    RTFILE const file = stream->file;
    stream->file = RTFILE_NIL;
    destroyOpened(stream);
    int rc2 = RTFileClose(file);
    if (rc >= 0)
        rc = rc2;
    return rc < 0 ? rc : 0;
}

int RTStreamSetBuffering(Stream *stream, uint32_t mode)
{
    if (!isLive(stream))
        return ERR_INVALID_HANDLE;
    if (mode < STREAM_BUF_FULL || mode > STREAM_BUF_NONE)
        return ERR_BAD_ARGUMENT;
    CRITICAL_SECTION *lock = streamLock(stream);
    if (!lock)
        return ERR_NO_MEMORY;
    EnterCriticalSection(lock);
    static const int32_t s_aModes[] = { STREAM_BUFFERING_FULL, STREAM_BUFFERING_LINE, STREAM_BUFFERING_NONE };
    stream->buffering = s_aModes[mode - STREAM_BUF_FULL];
    LeaveCriticalSection(lock);
    return 0;
}

int RTStreamPrintfV(Stream *stream, const char *format, va_list args)
{
    if (!isLive(stream))
        return ERR_BAD_ARGUMENT;
    if (stream->status < 0)
        return -1;
    CRITICAL_SECTION *lock = streamLock(stream);
    if (!lock)
        return ERR_NO_MEMORY;
    EnterCriticalSection(lock);
    size_t const total = RTFmtEmitV(outputCallback, stream, nullptr, nullptr, format, args);
    LeaveCriticalSection(lock);
    return (int)total;
}

int RTStreamPrintf(Stream *stream, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int rc = RTStreamPrintfV(stream, format, args);
    va_end(args);
    return rc;
}

int RTStreamPrintfStdOut(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int rc = RTStreamPrintfV(StreamStdOut, format, args);
    va_end(args);
    return rc;
}

void RTStreamExitHandler(void)
{
    Stream *const standard[] = { &StreamStdOutObj, &StreamStdErrObj, &StreamStdInObj };
    for (Stream *stream : standard)
    {
        flushAndRelease(stream);
        stream->file = RTFILE_NIL;
    }

    if (g_listState != 2)
        return;
    EnterCriticalSection(&g_listLock);
    while (Stream *stream = g_listHead)
    {
        unlink(stream);
        destroyOpened(stream);
    }
    LeaveCriticalSection(&g_listLock);
    DeleteCriticalSection(&g_listLock);
    InterlockedExchange(&g_listState, 0);
}

RT_STATIC_TERM(RTStreamExitHandler, MM);
