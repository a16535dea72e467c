// The formatter's front ends: a caller's buffer (truncating or checked) and a new heap
// string.
#include "kelp/format.h"
#include "kelp/mem.h"
#include "format-internal.h"

namespace {

struct RTFMTBUFFER
{
    char *pos;
    size_t room; // bytes left before the terminator
};

size_t rtFmtBufferOutput(void *outputArg, const char *chars, size_t count)
{
    RTFMTBUFFER *state = (RTFMTBUFFER *)outputArg;
    size_t const taken = count < state->room ? count : state->room;
    if (taken)
        __builtin_memcpy(state->pos, chars, taken);
    state->pos += taken;
    state->room -= taken;
    *state->pos = '\0';
    return taken;
}

struct RTFMTCHECKED
{
    char *pos;
    size_t room; // bytes left, terminator included
    bool overflowed;
};

size_t rtFmtCheckedOutput(void *outputArg, const char *chars, size_t count)
{
    RTFMTCHECKED *state = (RTFMTCHECKED *)outputArg;
    if (count < state->room)
    {
        if (count)
            __builtin_memcpy(state->pos, chars, count);
        state->pos += count;
        state->room -= count;
        *state->pos = '\0';
    }
    else
    {
        if (state->room > 1)
        {
            __builtin_memcpy(state->pos, chars, state->room - 1);
            state->pos += state->room - 1;
            *state->pos = '\0';
            state->room = 1;
        }
        state->overflowed = true;
    }
    return count;
}

const size_t kAllocLocal = 2048;
const size_t kAllocMaxStep = 1048576;
const size_t kAllocMaxIncrement = 1073741824;

struct RTFMTALLOC
{
    char *buf;       // local or heap
    size_t capacity;
    size_t length;
    bool onHeap;
    bool failed;
    const char *tag;
    char local[kAllocLocal];
};

size_t rtFmtAllocOutput(void *outputArg, const char *chars, size_t count)
{
    RTFMTALLOC *state = (RTFMTALLOC *)outputArg;
    if (state->failed || !chars)
        return 0;
    size_t const room = state->capacity - state->length - 1;
    if (count > room)
    {
        size_t const increment = rtFmtAllocIncrement(state->capacity, count);
        // The length must stay representable in the int result.
        if (!increment || state->capacity + increment > 0x7fffffff)
        {
            state->failed = true;
            return 0;
        }
        size_t const capacity = state->capacity + increment;
        char *block;
        if (state->onHeap)
            block = (char *)RTMemReallocTag(state->buf, capacity, state->tag);
        else
        {
            block = (char *)RTMemAllocTag(capacity, state->tag);
            if (block)
                __builtin_memcpy(block, state->buf, state->length + 1);
        }
        if (!block)
        {
            state->failed = true;
            return 0;
        }
        state->buf = block;
        state->onHeap = true;
        state->capacity = capacity;
    }
    __builtin_memcpy(state->buf + state->length, chars, count);
    state->length += count;
    state->buf[state->length] = '\0';
    return count;
}

} // namespace

size_t rtFmtAllocIncrement(size_t capacity, size_t chunk)
{
    size_t increment = capacity < kAllocMaxStep ? capacity : kAllocMaxStep;
    if (chunk >= increment)
    {
        if (chunk > kAllocMaxIncrement)
            return 0;
        increment = (chunk + 4095) & ~(size_t)4095;
    }
    if (increment > kAllocMaxIncrement)
        return 0;
    return increment;
}

size_t RTFmtBufferV(char *buffer, size_t size, const char *format, va_list args)
{
    if (!size)
        return 0;
    RTFMTBUFFER state = { buffer, size - 1 };
    *buffer = '\0';
    return RTFmtEmitV(rtFmtBufferOutput, &state, nullptr, nullptr, format, args);
}

size_t RTFmtBuffer(char *buffer, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    size_t n = RTFmtBufferV(buffer, size, format, args);
    va_end(args);
    return n;
}

int RTFmtBufferCheckedV(char *buffer, size_t size, const char *format, va_list args)
{
    RTFMTCHECKED state = { buffer, size, false };
    if (size)
        *buffer = '\0';
    size_t total = RTFmtEmitV(rtFmtCheckedOutput, &state, nullptr, nullptr, format, args);
    if (total > 0x7ffffffe)
    {
        total = 0x7ffffffe;
        state.overflowed = true;
    }
    return state.overflowed ? -(int)(total + 1) : (int)total;
}

int RTFmtBufferChecked(char *buffer, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int rc = RTFmtBufferCheckedV(buffer, size, format, args);
    va_end(args);
    return rc;
}

int RTFmtAllocV(char **result, const char *format, va_list args, const char *tag)
{
    RTFMTALLOC state;
    state.buf = state.local;
    state.capacity = kAllocLocal;
    state.length = 0;
    state.onHeap = false;
    state.failed = false;
    state.tag = tag;
    state.local[0] = '\0';
    RTFmtEmitV(rtFmtAllocOutput, &state, nullptr, nullptr, format, args);

    *result = nullptr;
    if (state.failed)
    {
        if (state.onHeap)
            RTMemFree(state.buf);
        return -1;
    }
    if (state.onHeap)
    {
        char *shrunk = (char *)RTMemReallocTag(state.buf, state.length + 1, tag);
        *result = shrunk ? shrunk : state.buf;
    }
    else
    {
        char *block = (char *)RTMemAllocTag(state.length + 1, tag);
        if (!block)
            return -1;
        __builtin_memcpy(block, state.local, state.length + 1);
        *result = block;
    }
    return (int)state.length;
}

int RTFmtAllocTag(char **result, const char *tag, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int rc = RTFmtAllocV(result, format, args, tag);
    va_end(args);
    return rc;
}
