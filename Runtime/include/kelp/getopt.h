// Command-line splitting and the table-driven option parser.
//
// The parser never copies text: every string it hands back points into the caller's
// argument vector, which OPT_INIT_MIXED also reorders in place.
#pragma once

#include "kelp/types.h"
#include "kelp/number.h"

// RTGetOptArgvSplit flags.
enum : uint32_t
{
    ARGV_STYLE_MS_CRT = 0,      // Windows command-line quoting
    ARGV_STYLE_BOURNE = 1,      // Bourne shell quoting
    ARGV_STYLE_MASK   = 3,
    ARGV_IN_PLACE     = 4,      // unquote into the input text itself
};

// Splits a command line into a vector of count + 1 pointers (the last one null).
// Separators null means " \t\n\r". With ARGV_IN_PLACE the strings are written into
// `cmdLine`, which must then be writable; otherwise they live in one copy of it.
// Free the result with RTGetOptArgvFree (or RTGetOptArgvFreeEx with the same flags).
int RTGetOptArgvSplit(char ***argv, int *argc, const char *cmdLine, uint32_t flags,
                      const char *separators);
void RTGetOptArgvFree(char **argv);
void RTGetOptArgvFreeEx(char **argv, uint32_t flags);

// OptionDef flags: the value type in bits 0-4, modifiers above.
enum : uint32_t
{
    OPT_TYPE_NONE            = 0,
    OPT_TYPE_STRING          = 1,
    OPT_TYPE_INT8            = 2,
    OPT_TYPE_UINT8           = 3,
    OPT_TYPE_INT16           = 4,
    OPT_TYPE_UINT16          = 5,
    OPT_TYPE_INT32           = 6,
    OPT_TYPE_UINT32          = 7,
    OPT_TYPE_INT64           = 8,
    OPT_TYPE_UINT64          = 9,
    OPT_TYPE_IPV4            = 10,
    OPT_TYPE_IPV4_CIDR       = 11,
    OPT_TYPE_MAC             = 14,
    OPT_TYPE_UUID            = 15,
    OPT_TYPE_ON_OFF          = 16,
    OPT_TYPE_BOOL            = 17,
    OPT_TYPE_UINT32_PAIR     = 18,
    OPT_TYPE_UINT64_PAIR     = 19,
    OPT_TYPE_UINT32_PAIR_OPT = 20,
    OPT_TYPE_UINT64_PAIR_OPT = 21,
    OPT_TYPE_MASK            = 0x1F,

    OPT_FLAG_HEX             = 0x10000,
    OPT_FLAG_OCT             = 0x20000,
    OPT_FLAG_DEC             = 0x40000,
    OPT_FLAG_BASE_MASK       = 0x70000,
    OPT_FLAG_INDEX           = 0x80000,
    OPT_FLAG_INDEX_DEFAULT_1 = 0x100000,  // index may be left out: it is then 0
    OPT_FLAG_INDEX_DEFAULT_2 = 0x200000,  // ... 1
    OPT_FLAG_INDEX_DEFAULT_3 = 0x300000,  // ... 2
    OPT_FLAG_INDEX_DEFAULT_MASK = 0x300000,
    OPT_FLAG_INDEX_DASH      = 0x400000,
    OPT_FLAG_ICASE           = 0x800000,
};

// RTGetOptInit flags.
enum : uint32_t
{
    OPT_INIT_MIXED       = 1,   // options may follow plain arguments; the vector is reordered
    OPT_INIT_NO_BUILTINS = 2,   // no built-in --help / --version entries
};

// The current index when the option carried none.
enum : uint32_t { OPT_INDEX_NONE = 0xFFFFFFFF };
// The skipped count once every remaining argument is plain.
enum : int32_t { OPT_SKIPPED_ALL_PLAIN = 0x7FFFFFFF };

struct OptionDef
{
    const char *longName;   // complete text incl. its leading characters; null: short only
    int32_t     id;         // > 0; a character code makes the entry reachable as -<char>
    uint32_t    flags;
};

// What RTGetOptNext / RTGetOptTakeValue return besides the status. The first member is the
// matched definition or a text pointer; a conversion writes only its own member.
union OptionValue
{
    const OptionDef *def;
    const char      *str;
    int8_t           i8;
    uint8_t          u8;
    int16_t          i16;
    uint16_t         u16;
    int32_t          i32;
    uint32_t         u32;
    int64_t          i64;
    uint64_t         u64;
    RTNETADDRIPV4    ipv4;      // in the order written (network order)
    struct { uint32_t addr, mask; } cidr;   // host order
    RTMAC            mac;
    RTUUID           uuid;
    uint8_t          f;         // OPT_TYPE_ON_OFF, OPT_TYPE_BOOL: 1 or 0
    struct { uint32_t first, second; } pairU32;
    struct { uint64_t first, second; } pairU64;
};
static_assert(sizeof(OptionValue) == 16, "the value record is 16 bytes");

struct OptionParserState
{
    int32_t          nextIndex;
    char           **argv;
    int32_t          argc;
    const OptionDef *options;
    uint32_t         optionCount;
    const char      *nextShort;     // next letter of a bundle ('-abc'), null when idle
    const OptionDef *currentDef;    // entry of the last successful RTGetOptNext
    uint32_t         currentIndex;  // index of an OPT_FLAG_INDEX option, else OPT_INDEX_NONE
    uint32_t         initFlags;
    int32_t          skipped;       // plain arguments passed over (OPT_INIT_MIXED)
};

int RTGetOptInit(OptionParserState *state, int argc, char **argv, const OptionDef *options,
                 uint32_t optionCount, int firstIndex, uint32_t initFlags);
// 0 at the end, an id (> 0), INF_OPT_PLAIN_ARGUMENT, or a negative status.
int RTGetOptNext(OptionParserState *state, OptionValue *value);
// Takes the next argument as one more value of the option just returned.
int RTGetOptTakeValue(OptionParserState *state, OptionValue *value, uint32_t typeFlags);
// Prints one error line describing what RTGetOptNext returned; always returns 2.
int RTGetOptReportError(int rc, const OptionValue *value);
