// Heap functions for programs built for the build host (tools, fuzzing): the C library's
// heap stands in for the Windows process heap, with the same contract.
#include "kelp/mem.h"

#include <stdlib.h>

void *RTMemAllocTag(size_t size, const char *tag)
{
    RT_NOREF(tag);
    return malloc(size ? size : 1);
}

void *RTMemAllocZTag(size_t size, const char *tag)
{
    RT_NOREF(tag);
    return calloc(1, size ? size : 1);
}

void *RTMemReallocTag(void *block, size_t newSize, const char *tag)
{
    if (!block)
        return RTMemAllocTag(newSize, tag);
    if (!newSize)
    {
        RTMemFree(block);
        return nullptr;
    }
    return realloc(block, newSize);
}

void RTMemFree(void *block)
{
    free(block);
}
