// Heap functions on the process heap.
#include "kelp/mem.h"

#include <windows.h>

void *RTMemAllocTag(size_t size, const char *tag)
{
    RT_NOREF(tag);
    return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}

void *RTMemAllocZTag(size_t size, const char *tag)
{
    RT_NOREF(tag);
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size ? size : 1);
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
    return HeapReAlloc(GetProcessHeap(), 0, block, newSize);
}

void RTMemFree(void *block)
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}
