// Runtime initialisation and the process-wide start-up record.
#pragma once

#include "kelp/types.h"

// Written by the entry point and by the first RTR3Init, read by anyone afterwards.
struct RTPROCESSINFO
{
    char     execPath[RTPATH_MAX];  // full path of the running executable, UTF-8
    uint32_t pathLength;            // bytes in execPath
    uint32_t dirLength;             // bytes of its directory part
    uint32_t fileNameOffset;        // offset of the file name in execPath
    int32_t  argc;                  // recorded by RTR3Init; -1 before
    char   **argv;                  // recorded by RTR3Init (not replaced)
    uint32_t processId;
    uint64_t startTimeNs;
    int32_t  initCount;             // successful RTR3Init calls
    uint32_t initFlags;             // flags of the first RTR3Init, later ones merged in
};

extern RTPROCESSINFO ProcessInfo;

// RTR3Init flags.
enum : uint32_t
{
    RTR3INIT_FLAG_REPEATED      = 0x2,  // merged in by every call after the first
    RTR3INIT_FLAG_SYSTEM32_ONLY = 0x4,  // default DLL search: the system directory alone
    RTR3INIT_FLAG_NO_HARDENING  = 0x8,  // leave the loader configuration for a later call
};

// Initialises the runtime; main calls it first with its argument count, the address of its
// argument vector and RTR3INIT_FLAG_SYSTEM32_ONLY. Later calls only merge flags and check
// that the arguments are the ones recorded (ERR_BAD_SEQUENCE otherwise).
int RTR3Init(int argc, char ***argv, uint32_t flags);
// True once the runtime has begun to shut down.
bool RTR3IsTerminating(void);

// Exit callbacks run at process termination, the most recently registered first.
typedef void (*PFNRTEXITCALLBACK)(void);
enum : uint32_t { RTPROC_MAX_EXIT_CALLBACKS = 64 };
// ERR_NO_MEMORY when every slot is taken.
int RTProcAtExit(PFNRTEXITCALLBACK callback);

// Ends the process with `exitCode`; with `runExitCallbacks`, first the exit callbacks, then
// the static pre-terminators and terminators. Never returns.
[[noreturn]] void RTProcTerminate(int exitCode, bool runExitCallbacks);

// Static initialisers and terminators, run by the start-up code in this order:
//   RT_STATIC_INIT_RC(fn)   int fn(void), a non-zero result stops the start-up with it as
//                           exit code, without exit callbacks;
//   RT_STATIC_INIT(fn)      void fn(void);
//   RT_STATIC_PRETERM(fn)   void fn(void), at termination before the terminators;
//   RT_STATIC_TERM(fn)      void fn(void), at termination (the stream exit handler is one).
// `order` (two letters, AA to ZZ, a bare token) sorts the entries of one table; MM is the
// middle.
typedef int (*PFNRTSTATICINITRC)(void);
typedef void (*PFNRTSTATICFN)(void);
#define RT_STATIC_STR_(x) #x
#define RT_STATIC_SECTION_(x) RT_STATIC_STR_(x)
#define RT_STATIC_TABLE_ENTRY_(type, table, fn, order) \
    extern "C" __attribute__((section(RT_STATIC_SECTION_(.CRT$X##table##order)), used)) \
    type const g_rtStaticEntry_##fn = fn
#define RT_STATIC_INIT_RC(fn, order) RT_STATIC_TABLE_ENTRY_(PFNRTSTATICINITRC, I, fn, order)
#define RT_STATIC_INIT(fn, order)    RT_STATIC_TABLE_ENTRY_(PFNRTSTATICFN, C, fn, order)
#define RT_STATIC_PRETERM(fn, order) RT_STATIC_TABLE_ENTRY_(PFNRTSTATICFN, P, fn, order)
#define RT_STATIC_TERM(fn, order)    RT_STATIC_TABLE_ENTRY_(PFNRTSTATICFN, T, fn, order)
