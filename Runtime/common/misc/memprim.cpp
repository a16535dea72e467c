// The memory primitives that the compiler emits calls to. Linked only into freestanding
// programs; test programs take them from the C run-time library.
#include "kelp/types.h"

extern "C" {

// "rep movsb"/"rep stosb" are fast on current processors and, being inline assembly,
// cannot be turned back into calls to these very functions by the optimiser.
void *memcpy(void *dst, const void *src, size_t n)
{
    void *d = dst;
    __asm__ __volatile__("rep movsb" : "+D"(d), "+S"(src), "+c"(n) : : "memory");
    return dst;
}

void *memmove(void *dst, const void *src, size_t n)
{
    unsigned char *d = (unsigned char *)dst;
    const unsigned char *s = (const unsigned char *)src;
    if (d <= s || d >= s + n)
        return memcpy(dst, src, n);
    while (n--)
        d[n] = s[n];
    return dst;
}

void *memset(void *dst, int c, size_t n)
{
    void *d = dst;
    __asm__ __volatile__("rep stosb" : "+D"(d), "+c"(n) : "a"(c) : "memory");
    return dst;
}

int memcmp(const void *a, const void *b, size_t n)
{
    // Whole machine words while they agree (the installer compares every byte it wrote
    // this way); the bytes of the first word that differs decide the sign.
    const unsigned char *x = (const unsigned char *)a;
    const unsigned char *y = (const unsigned char *)b;
    for (; n >= sizeof(size_t); n -= sizeof(size_t), x += sizeof(size_t), y += sizeof(size_t))
    {
        size_t u, v;
        __builtin_memcpy(&u, x, sizeof(u));
        __builtin_memcpy(&v, y, sizeof(v));
        if (u != v)
            break;
    }
    for (; n; n--, x++, y++)
        if (*x != *y)
            return *x - *y;
    return 0;
}

}
