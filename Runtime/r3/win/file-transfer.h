// The read and write loops of the file layer. One template serves both directions and
// keeps the system call out of the loop, so that the retry rules can be exercised with a
// stand-in for the call.
#pragma once

#include "kelp/types.h"

enum : uint32_t { RTFILE_WINERR_NOT_ENOUGH_MEMORY = 8 };

// Io supplies:
//   static const bool kIsWrite; static const uint32_t kChunkCap; static const int kZeroStatus;
//   bool Transfer(uint8_t *pb, uint32_t cb, uint32_t *pcbDone)   one system call
//   uint32_t LastError()                                          right after a failed call
//   int Fail(uint32_t winError, uint32_t cbPending)              converted (and refined) status
template <class Io>
int rtFileTransfer(Io &io, uint8_t *pb, uint32_t cb, uint32_t *pcbDone)
{
    if (!cb)
    {
        if (!Io::kIsWrite && pcbDone)
            *pcbDone = 0;
        return 0;
    }

    uint32_t done = 0;
    if (io.Transfer(pb, cb, &done))
    {
        if (done > cb)
            done = cb;
        if (pcbDone)
        {
            *pcbDone = done;
            return 0;
        }
        while (done < cb)
        {
            uint32_t got = 0;
            if (!io.Transfer(pb + done, cb - done, &got))
                return io.Fail(io.LastError(), cb - done);
            if (!got)
                return Io::kZeroStatus;
            done += got < cb - done ? got : cb - done;
        }
        return 0;
    }

    uint32_t err = io.LastError();
    if (err != RTFILE_WINERR_NOT_ENOUGH_MEMORY)
        return io.Fail(err, cb);

    // Windows ran out of memory for one big transfer: go on in smaller pieces. Half a
    // count below 512 would round to a chunk of 0 bytes, so the smallest chunk is 256.
    uint32_t chunk = cb / 2;
    if (chunk > Io::kChunkCap)
        chunk = Io::kChunkCap;
    else
        chunk = chunk ? (chunk + 255u) & ~255u : 256u;

    uint32_t total = 0;
    while (total < cb)
    {
        uint32_t const n = cb - total < chunk ? cb - total : chunk;
        uint32_t got = 0;
        if (io.Transfer(pb + total, n, &got))
        {
            total += got < n ? got : n;
            if (pcbDone)
            {
                *pcbDone = total;
                return 0;
            }
            if (!got)
                return Io::kZeroStatus;
            continue;
        }
        err = io.LastError();
        if (err == RTFILE_WINERR_NOT_ENOUGH_MEMORY && chunk > 8)
        {
            chunk /= 2;
            continue;
        }
        return io.Fail(err, n);
    }
    return 0;
}
