// Diagnostics in one shape: "<program>: <prefix><line>" for every line of the text.
#pragma once

#include "kelp/types.h"

struct Stream;

// Always 0, whatever the stream does.
int RTMsgWriteLines(Stream *stream, const char *prefix, const char *format, va_list args);
// To standard error with "error: ".
int RTMsgReportError(const char *format, ...);
int RTMsgReportErrorV(const char *format, va_list args);
// To standard output with "info: ".
int RTMsgReportInfo(const char *format, ...);
int RTMsgReportInfoV(const char *format, va_list args);
// The fixed report of a failed runtime initialisation, without the heap; returns 3, the
// exit code for it.
int RTMsgReportInitFailure(int rc);
