#include <gtest/gtest.h>
#include <cstring>
#include <set>
#include "kelp/err.h"

namespace
{

struct CatalogueEntry
{
    int value;
    const char *name;
    const char *message;
};

constexpr CatalogueEntry kCatalogue[] = {
#define KELP_STATUS(value, name, message) { value, #name, message },
#include "kelp/errcodes.def"
#undef KELP_STATUS
};

const char *NameOf(int status)
{
    for (const CatalogueEntry &e : kCatalogue)
        if (e.value == status)
            return e.name;
    return "(not in the catalogue)";
}

TEST(ErrCatalogue, ValuesNamesAndMessages)
{
    std::set<int> values;
    std::set<std::string> names;
    for (const CatalogueEntry &e : kCatalogue)
    {
        SCOPED_TRACE(e.name);
        EXPECT_TRUE(values.insert(e.value).second) << "value used twice";
        EXPECT_TRUE(names.insert(e.name).second) << "name used twice";
        EXPECT_GT(strlen(e.message), 0u);
        std::string const n = e.name;
        if (e.value < 0)
            EXPECT_EQ(n.rfind("ERR_", 0), 0u);
        else
            EXPECT_TRUE(n.rfind("WRN_", 0) == 0 || n.rfind("INF_", 0) == 0);
    }

    struct Row
    {
        int value;
        const char *name;
    } const rows[] = {
        { 0, "INF_SUCCESS" },
        { 77, "WRN_TRAILING_BLANKS" },
        { 828, "INF_OPT_PLAIN_ARGUMENT" },
        { -2, "ERR_BAD_ARGUMENT" },
        { -35, "ERR_UNMAPPED_OS_ERROR" },
        { -41, "ERR_BUFFER_OVERFLOW" },
        { -61, "ERR_INVALID_UTF8" },
        { -102, "ERR_FILE_NOT_FOUND" },
        { -436, "ERR_NET_IN_PROGRESS" },
        { -465, "ERR_NET_HOST_UNREACHABLE" },
        { -610, "ERR_MODULE_NOT_FOUND" },
        { -829, "ERR_OPT_INDEX_MISSING" },
        { -3775, "ERR_TRUST_FAILURE" },
        { -22401, "ERR_HEX_TOO_SHORT" },
        { -23502, "ERR_CRYPTO_BAD_ALGORITHM" },
    };
    for (const Row &r : rows)
        EXPECT_STREQ(NameOf(r.value), r.name) << r.value;
    EXPECT_EQ(ERR_FILE_NOT_FOUND, -102);
    EXPECT_EQ(WRN_NUMBER_NEGATIVE, 57);
}

// Every Windows error value the conversion knows, with the code it must give.
TEST(ErrConvertWin, EveryMappedValue)
{
    struct Case
    {
        uint32_t winError;
        int status;
        const char *name;
    } const cases[] = {
        { 1u, -36, "ERR_INVALID_FUNCTION" },
        { 2u, -102, "ERR_FILE_NOT_FOUND" },
        { 3u, -103, "ERR_PATH_NOT_FOUND" },
        { 4u, -106, "ERR_TOO_MANY_OPEN_FILES" },
        { 5u, -38, "ERR_ACCESS_DENIED" },
        { 6u, -4, "ERR_INVALID_HANDLE" },
        { 8u, -8, "ERR_NO_MEMORY" },
        { 14u, -8, "ERR_NO_MEMORY" },
        { 15u, -151, "ERR_INVALID_DRIVE" },
        { 16u, -118, "ERR_DIR_NOT_REMOVABLE" },
        { 17u, -119, "ERR_NOT_SAME_DEVICE" },
        { 18u, -201, "ERR_NO_MORE_FILES" },
        { 19u, -113, "ERR_WRITE_PROTECT" },
        { 20u, -251, "ERR_BAD_UNIT" },
        { 21u, -252, "ERR_NOT_READY" },
        { 22u, -253, "ERR_BAD_DEVICE_REQUEST" },
        { 23u, -254, "ERR_IO_CRC" },
        { 24u, -255, "ERR_BAD_LENGTH" },
        { 25u, -107, "ERR_SEEK" },
        { 26u, -155, "ERR_MEDIA_NOT_RECOGNIZED" },
        { 27u, -256, "ERR_SECTOR_NOT_FOUND" },
        { 29u, -112, "ERR_WRITE_FAULT" },
        { 30u, -111, "ERR_READ_FAULT" },
        { 31u, -257, "ERR_GENERAL_FAILURE" },
        { 32u, -114, "ERR_SHARING_VIOLATION" },
        { 33u, -116, "ERR_LOCK_VIOLATION" },
        { 38u, -110, "ERR_EOF" },
        { 39u, -152, "ERR_DISK_FULL" },
        { 50u, -37, "ERR_NOT_SUPPORTED" },
        { 51u, -400, "ERR_NET_IO_ERROR" },
        { 52u, -400, "ERR_NET_IO_ERROR" },
        { 53u, -402, "ERR_NET_HOST_NOT_FOUND" },
        { 54u, -401, "ERR_NET_OUT_OF_RESOURCES" },
        { 55u, -403, "ERR_NET_PATH_NOT_FOUND" },
        { 56u, -401, "ERR_NET_OUT_OF_RESOURCES" },
        { 57u, -400, "ERR_NET_IO_ERROR" },
        { 58u, -400, "ERR_NET_IO_ERROR" },
        { 59u, -400, "ERR_NET_IO_ERROR" },
        { 60u, -400, "ERR_NET_IO_ERROR" },
        { 61u, -404, "ERR_NET_PRINT_ERROR" },
        { 62u, -404, "ERR_NET_PRINT_ERROR" },
        { 63u, -404, "ERR_NET_PRINT_ERROR" },
        { 64u, -402, "ERR_NET_HOST_NOT_FOUND" },
        { 65u, -400, "ERR_NET_IO_ERROR" },
        { 66u, -400, "ERR_NET_IO_ERROR" },
        { 67u, -403, "ERR_NET_PATH_NOT_FOUND" },
        { 68u, -401, "ERR_NET_OUT_OF_RESOURCES" },
        { 69u, -401, "ERR_NET_OUT_OF_RESOURCES" },
        { 70u, -400, "ERR_NET_IO_ERROR" },
        { 71u, -400, "ERR_NET_IO_ERROR" },
        { 72u, -400, "ERR_NET_IO_ERROR" },
        { 80u, -105, "ERR_ALREADY_EXISTS" },
        { 82u, -117, "ERR_CANT_CREATE" },
        { 84u, -401, "ERR_NET_OUT_OF_RESOURCES" },
        { 85u, -400, "ERR_NET_IO_ERROR" },
        { 86u, -400, "ERR_NET_IO_ERROR" },
        { 87u, -2, "ERR_BAD_ARGUMENT" },
        { 88u, -400, "ERR_NET_IO_ERROR" },
        { 89u, -44, "ERR_TOO_MANY_PROCESSES" },
        { 100u, -351, "ERR_TOO_MANY_SEMAPHORES" },
        { 101u, -352, "ERR_SEM_ALREADY_OWNED" },
        { 102u, -353, "ERR_SEM_IS_SET" },
        { 103u, -354, "ERR_TOO_MANY_SEM_REQUESTS" },
        { 105u, -361, "ERR_SEM_OWNER_DIED" },
        { 108u, -154, "ERR_DRIVE_LOCKED" },
        { 109u, -301, "ERR_BROKEN_PIPE" },
        { 110u, -101, "ERR_OPEN_FAILED" },
        { 111u, -41, "ERR_BUFFER_OVERFLOW" },
        { 112u, -152, "ERR_DISK_FULL" },
        { 113u, -202, "ERR_NO_MORE_SEARCH_HANDLES" },
        { 121u, -40, "ERR_TIMEOUT" },
        { 122u, -41, "ERR_BUFFER_OVERFLOW" },
        { 123u, -104, "ERR_INVALID_NAME" },
        { 126u, -610, "ERR_MODULE_NOT_FOUND" },
        { 127u, -609, "ERR_SYMBOL_NOT_FOUND" },
        { 130u, -4, "ERR_INVALID_HANDLE" },
        { 131u, -108, "ERR_NEGATIVE_SEEK" },
        { 132u, -109, "ERR_SEEK_ON_DEVICE" },
        { 145u, -125, "ERR_DIR_NOT_EMPTY" },
        { 156u, -45, "ERR_SIGNAL_REFUSED" },
        { 158u, -123, "ERR_NOT_LOCKED" },
        { 160u, -2, "ERR_BAD_ARGUMENT" },
        { 161u, -104, "ERR_INVALID_NAME" },
        { 162u, -46, "ERR_SIGNAL_PENDING" },
        { 164u, -43, "ERR_TOO_MANY_THREADS" },
        { 167u, -115, "ERR_LOCK_FAILED" },
        { 183u, -105, "ERR_ALREADY_EXISTS" },
        { 187u, -362, "ERR_SEM_NOT_FOUND" },
        { 191u, -600, "ERR_INVALID_EXE_SIGNATURE" },
        { 193u, -608, "ERR_BAD_EXE_FORMAT" },
        { 203u, -750, "ERR_ENV_VAR_NOT_FOUND" },
        { 205u, -45, "ERR_SIGNAL_REFUSED" },
        { 206u, -120, "ERR_FILENAME_TOO_LONG" },
        { 209u, -47, "ERR_INVALID_SIGNAL" },
        { 230u, -302, "ERR_BAD_PIPE" },
        { 231u, -303, "ERR_PIPE_BUSY" },
        { 232u, -304, "ERR_NO_DATA" },
        { 233u, -305, "ERR_PIPE_NOT_CONNECTED" },
        { 234u, -306, "ERR_MORE_DATA" },
        { 258u, -40, "ERR_TIMEOUT" },
        { 267u, -126, "ERR_NOT_A_DIRECTORY" },
        { 288u, -355, "ERR_NOT_OWNER" },
        { 298u, -357, "ERR_TOO_MANY_POSTS" },
        { 487u, -6, "ERR_INVALID_POINTER" },
        { 535u, -300, "ERR_PIPE_STATE" },
        { 536u, -300, "ERR_PIPE_STATE" },
        { 577u, -619, "ERR_IMAGE_HASH_INVALID" },
        { 740u, -22419, "ERR_ELEVATION_REQUIRED" },
        { 995u, -39, "ERR_INTERRUPTED" },
        { 998u, -6, "ERR_INVALID_POINTER" },
        { 1004u, -2, "ERR_BAD_ARGUMENT" },
        { 1005u, -122, "ERR_UNKNOWN_VOLUME" },
        { 1053u, -40, "ERR_TIMEOUT" },
        { 1056u, -9, "ERR_ALREADY_RUNNING" },
        { 1060u, -78, "ERR_NOT_FOUND" },
        { 1113u, -58, "ERR_NO_TRANSLATION" },
        { 1121u, -40, "ERR_TIMEOUT" },
        { 1200u, -104, "ERR_INVALID_NAME" },
        { 1223u, -70, "ERR_CANCELLED" },
        { 1224u, -114, "ERR_SHARING_VIOLATION" },
        { 1272u, -89, "ERR_AUTHENTICATION_FAILURE" },
        { 1314u, -22410, "ERR_PRIVILEGE_NOT_HELD" },
        { 1325u, -22405, "ERR_ACCOUNT_RESTRICTED" },
        { 1326u, -89, "ERR_AUTHENTICATION_FAILURE" },
        { 1327u, -22405, "ERR_ACCOUNT_RESTRICTED" },
        { 1330u, -22405, "ERR_ACCOUNT_RESTRICTED" },
        { 1331u, -22405, "ERR_ACCOUNT_RESTRICTED" },
        { 1392u, -608, "ERR_BAD_EXE_FORMAT" },
        { 1450u, -8, "ERR_NO_MEMORY" },
        { 1460u, -40, "ERR_TIMEOUT" },
        { 1705u, -49, "ERR_UUID_FORMAT" },
        { 1788u, -89, "ERR_AUTHENTICATION_FAILURE" },
        { 1789u, -89, "ERR_AUTHENTICATION_FAILURE" },
        { 1812u, -304, "ERR_NO_DATA" },
        { 4390u, -19, "ERR_NOT_REPARSE_POINT" },
        { 10004u, -39, "ERR_INTERRUPTED" },
        { 10009u, -4, "ERR_INVALID_HANDLE" },
        { 10013u, -38, "ERR_ACCESS_DENIED" },
        { 10014u, -6, "ERR_INVALID_POINTER" },
        { 10022u, -2, "ERR_BAD_ARGUMENT" },
        { 10024u, -106, "ERR_TOO_MANY_OPEN_FILES" },
        { 10035u, -52, "ERR_TRY_AGAIN" },
        { 10036u, -436, "ERR_NET_IN_PROGRESS" },
        { 10037u, -437, "ERR_NET_ALREADY_IN_PROGRESS" },
        { 10038u, -438, "ERR_NET_NOT_SOCKET" },
        { 10039u, -439, "ERR_NET_DEST_ADDRESS_REQUIRED" },
        { 10040u, -440, "ERR_NET_MSG_SIZE" },
        { 10041u, -441, "ERR_NET_PROTOCOL_TYPE" },
        { 10042u, -442, "ERR_NET_PROTOCOL_NOT_AVAILABLE" },
        { 10043u, -443, "ERR_NET_PROTOCOL_NOT_SUPPORTED" },
        { 10044u, -444, "ERR_NET_SOCKET_TYPE_NOT_SUPPORTED" },
        { 10045u, -445, "ERR_NET_OPERATION_NOT_SUPPORTED" },
        { 10046u, -446, "ERR_NET_PROTOCOL_FAMILY_NOT_SUPPORTED" },
        { 10047u, -447, "ERR_NET_ADDRESS_FAMILY_NOT_SUPPORTED" },
        { 10048u, -448, "ERR_NET_ADDRESS_IN_USE" },
        { 10049u, -449, "ERR_NET_ADDRESS_NOT_AVAILABLE" },
        { 10050u, -450, "ERR_NET_DOWN" },
        { 10051u, -451, "ERR_NET_UNREACHABLE" },
        { 10052u, -452, "ERR_NET_CONNECTION_DROPPED" },
        { 10053u, -453, "ERR_NET_CONNECTION_ABORTED" },
        { 10054u, -454, "ERR_NET_CONNECTION_RESET" },
        { 10055u, -455, "ERR_NET_NO_BUFFER_SPACE" },
        { 10056u, -456, "ERR_NET_ALREADY_CONNECTED" },
        { 10057u, -457, "ERR_NET_NOT_CONNECTED" },
        { 10058u, -458, "ERR_NET_SHUTDOWN" },
        { 10059u, -459, "ERR_NET_TOO_MANY_REFERENCES" },
        { 10060u, -40, "ERR_TIMEOUT" },
        { 10061u, -461, "ERR_NET_CONNECTION_REFUSED" },
        { 10062u, -156, "ERR_TOO_MANY_SYMLINKS" },
        { 10063u, -120, "ERR_FILENAME_TOO_LONG" },
        { 10064u, -464, "ERR_NET_HOST_DOWN" },
        { 10065u, -465, "ERR_NET_HOST_UNREACHABLE" },
        { 10066u, -118, "ERR_DIR_NOT_REMOVABLE" },
        { 10067u, -44, "ERR_TOO_MANY_PROCESSES" },
        { 10069u, -152, "ERR_DISK_FULL" },
        { 10106u, -468, "ERR_NET_PROVIDER_INIT_FAILED" },
        { 11001u, -402, "ERR_NET_HOST_NOT_FOUND" },
        { 11002u, -52, "ERR_TRY_AGAIN" },
        { 11004u, -449, "ERR_NET_ADDRESS_NOT_AVAILABLE" },
        { 0x80090008u, -23502, "ERR_CRYPTO_BAD_ALGORITHM" },
        { 0xc000042cu, -22410, "ERR_PRIVILEGE_NOT_HELD" },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::Message() << "Windows error " << c.winError);
        EXPECT_EQ(RTErrConvertFromWinError(c.winError), c.status);
        EXPECT_STREQ(NameOf(c.status), c.name);
    }
}

TEST(ErrConvertWin, SuccessAndUnknownValues)
{
    EXPECT_EQ(RTErrConvertFromWinError(0), INF_SUCCESS);
    uint32_t const unknown[] = { 7, 9, 1002, 3010, 10093, 11003, 0x80090007u, 0xC000042Bu,
                                 0xC000042Du, 0xFFFFFFFFu };
    for (uint32_t v : unknown)
        EXPECT_EQ(RTErrConvertFromWinError(v), ERR_UNMAPPED_OS_ERROR) << v;
}

// Every NT status value (and range) the conversion knows; ranges are checked at both ends
// and just outside.
TEST(ErrConvertNt, EveryMappedValue)
{
    struct Case
    {
        uint32_t first;
        uint32_t last;
        int status;
        const char *name;
    } const cases[] = {
        { 0x000000c0u, 0x000000c0u, -39, "ERR_INTERRUPTED" },
        { 0x00000101u, 0x00000101u, -39, "ERR_INTERRUPTED" },
        { 0x80000002u, 0x80000002u, -6, "ERR_INVALID_POINTER" },
        { 0x80000006u, 0x80000006u, -201, "ERR_NO_MORE_FILES" },
        { 0x8000001au, 0x8000001au, -201, "ERR_NO_MORE_FILES" },
        { 0xc0000003u, 0xc0000003u, -36, "ERR_INVALID_FUNCTION" },
        { 0xc0000005u, 0xc0000005u, -6, "ERR_INVALID_POINTER" },
        { 0xc0000008u, 0xc0000008u, -4, "ERR_INVALID_HANDLE" },
        { 0xc000000du, 0xc000000du, -2, "ERR_BAD_ARGUMENT" },
        { 0xc000000eu, 0xc000000eu, -102, "ERR_FILE_NOT_FOUND" },
        { 0xc000000fu, 0xc000000fu, -102, "ERR_FILE_NOT_FOUND" },
        { 0xc0000010u, 0xc0000010u, -253, "ERR_BAD_DEVICE_REQUEST" },
        { 0xc0000013u, 0xc0000013u, -165, "ERR_NO_MEDIA" },
        { 0xc0000017u, 0xc0000017u, -8, "ERR_NO_MEMORY" },
        { 0xc0000022u, 0xc0000022u, -38, "ERR_ACCESS_DENIED" },
        { 0xc0000024u, 0xc0000024u, -141, "ERR_OBJECT_TYPE_MISMATCH" },
        { 0xc0000033u, 0xc0000033u, -104, "ERR_INVALID_NAME" },
        { 0xc0000034u, 0xc0000034u, -102, "ERR_FILE_NOT_FOUND" },
        { 0xc0000039u, 0xc0000039u, -104, "ERR_INVALID_NAME" },
        { 0xc000003au, 0xc000003au, -103, "ERR_PATH_NOT_FOUND" },
        { 0xc000003bu, 0xc000003bu, -104, "ERR_INVALID_NAME" },
        { 0xc0000043u, 0xc0000043u, -114, "ERR_SHARING_VIOLATION" },
        { 0xc000006du, 0xc000006du, -89, "ERR_AUTHENTICATION_FAILURE" },
        { 0xc00000bau, 0xc00000bau, -127, "ERR_IS_A_DIRECTORY" },
        { 0xc00000beu, 0xc00000beu, -403, "ERR_NET_PATH_NOT_FOUND" },
        { 0xc00000c4u, 0xc00000c4u, -400, "ERR_NET_IO_ERROR" },
        { 0xc00000efu, 0xc00000fau, -2, "ERR_BAD_ARGUMENT" },
        { 0xc0000101u, 0xc0000101u, -125, "ERR_DIR_NOT_EMPTY" },
        { 0xc0000103u, 0xc0000103u, -126, "ERR_NOT_A_DIRECTORY" },
        { 0xc0000190u, 0xc0000190u, -3775, "ERR_TRUST_FAILURE" },
        { 0xc0000280u, 0xc0000280u, -156, "ERR_TOO_MANY_SYMLINKS" },
        { 0xc0000428u, 0xc0000428u, -619, "ERR_IMAGE_HASH_INVALID" },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::Message() << std::hex << "NT status " << c.first << "-" << c.last);
        EXPECT_EQ(RTErrConvertFromNtStatus((int32_t)c.first), c.status);
        EXPECT_EQ(RTErrConvertFromNtStatus((int32_t)c.last), c.status);
        EXPECT_EQ(RTErrConvertFromNtStatus((int32_t)(c.first + (c.last - c.first) / 2)), c.status);
        EXPECT_STREQ(NameOf(c.status), c.name);
    }
}

TEST(ErrConvertNt, SuccessAndUnknownValues)
{
    EXPECT_EQ(RTErrConvertFromNtStatus(0), INF_SUCCESS);
    uint32_t const unknown[] = { 0xC0000001u, 0xC00000EEu, 0xC00000FBu, 0x00000103u, 0x80000005u,
                                 0xC0000004u, 0xC0000100u, 0xFFFFFFFFu };
    for (uint32_t v : unknown)
        EXPECT_EQ(RTErrConvertFromNtStatus((int32_t)v), ERR_UNMAPPED_OS_ERROR) << std::hex << v;
}

} // namespace
