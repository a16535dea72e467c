#include "kelp/file.h"
#include "kelp/err.h"
#include "r3/win/fs-win.h"
#include "r3/win/file-transfer.h"
#include "runtime/fs_fixture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace
{

using fstest::TempDirTest;

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = (char)(i * 7 + i / 251);
    return s;
}

TEST(FileOpenFlags, ValidationTable)
{
    struct Case { uint64_t flags; int rc; uint64_t completed; };
    const Case cases[] =
    {
        { 0x0, ERR_BAD_ARGUMENT, 0 },                       // no access at all
        { 0x1, 0, 0x781 },                                  // read; existing, deny none filled in
        { 0x10000, 0, 0x10780 },                            // attribute access alone is enough
        { 0x9, ERR_BAD_ARGUMENT, 0 },                       // reserved bit 0x8
        { 0x4001, ERR_BAD_ARGUMENT, 0 },                    // reserved bit 0x4000
        { 0x80000001, ERR_BAD_ARGUMENT, 0 },                // reserved bit 31
        { 0x1001, ERR_BAD_ARGUMENT, 0 },                    // truncate without write
        { 0x1702, 0, 0x1782 },
        { 0x401, ERR_BAD_ARGUMENT, 0 },                     // undefined actions
        { 0x501, ERR_BAD_ARGUMENT, 0 },
        { 0x601, ERR_BAD_ARGUMENT, 0 },
        { 0xF01, ERR_BAD_ARGUMENT, 0 },                     // not-indexed with explicit open-existing
        { 0x801, 0, 0xF81 },                                // ... but the defaulted action is not checked
        { 0xC1, ERR_BAD_ARGUMENT, 0 },                      // sharing above deny-none
        { 0x91, ERR_BAD_ARGUMENT, 0 },
        { 0x41, 0, 0x741 },
        { 0xFFFFFFFF00000001ull, 0, 0x781 },                // the high half is dropped
        { 0x1C000322, 0, 0x1C000322 },
        { 0x1C000222, 0, 0x1C000222 },
        { 0x1C000781, 0, 0x1C000781 },
        { 0x721, 0, 0x721 },
    };
    for (const Case &c : cases)
    {
        uint64_t f = c.flags;
        EXPECT_EQ(RTFileValidateOpenFlags(&f), c.rc) << std::hex << c.flags;
        if (c.rc == 0)
            EXPECT_EQ(f, c.completed) << std::hex << c.flags;
    }
}

TEST(FileOpenFlags, WindowsOpenParameters)
{
    struct Case { uint64_t flags; uint32_t access, share, disposition, flagsAndAttributes; };
    const Case cases[] =
    {
        { 0x1C000322, 0x120116, 1, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL },
        { 0x1C000222, 0x120116, 1, CREATE_NEW, FILE_ATTRIBUTE_NORMAL },
        { 0x1C000781, 0x120089, 3, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL },
        { 0x721, 0x120089, 1, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL },
        { 0x1782, 0x40120116, 3, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL },
        { 0x741, 0x120089, 7, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL },
        { 0x786, 0x120114, 3, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL },      // append
        { 0x787, 0x12019D, 3, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL },
        { 0x10780, 0x100080, 3, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL },    // attributes only
        { 0x20781, 0x120189, 3, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL },    // read data, write attributes
        { 0x40000182, 0x120116, 3, OPEN_ALWAYS, FILE_ATTRIBUTE_TEMPORARY },
        { 0x88786, 0x120110, 3, OPEN_EXISTING,                             // no cache drops append right
          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING },
        { 0x40781, 0x120089, 3, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED },
        { 0x751, 0x120089, 6, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL },
        { 0x761, 0x120089, 5, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL },
        { 0x771, 0x120089, 4, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL },
        { 0x731, 0x120089, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL },
        { 0x711, 0x120089, 2, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL },
    };
    for (const Case &c : cases)
    {
        RTFILEWINOPEN p;
        rtFileWinOpenParams(c.flags, &p);
        EXPECT_EQ(p.access, c.access) << std::hex << c.flags;
        EXPECT_EQ(p.share, c.share) << std::hex << c.flags;
        EXPECT_EQ(p.disposition, c.disposition) << std::hex << c.flags;
        EXPECT_EQ(p.flagsAndAttributes, c.flagsAndAttributes) << std::hex << c.flags;
    }
}

class FileTest : public TempDirTest
{
};

TEST_F(FileTest, RefusedFlagWordsOpenAndCreateNothing)
{
    std::string const path = Path("never.bin");
    // Each would create the file if it were accepted.
    const uint64_t bad[] = { 0x300, 0x1301, 0x4302, 0x30A, 0x80000302, 0x602, 0x3C2 };
    for (uint64_t flags : bad)
    {
        RTFILE h = (RTFILE)(intptr_t)0x1234;
        uint32_t action = 77;
        EXPECT_EQ(RTFileOpenEx(path.c_str(), flags, &h, &action), ERR_BAD_ARGUMENT) << std::hex << flags;
        EXPECT_EQ(h, RTFILE_NIL);
        EXPECT_EQ(action, RTFILE_ACTION_INVALID);
    }
    EXPECT_FALSE(fstest::Exists(path));
    EXPECT_EQ(fstest::EntryCount(root_), 0);

    RTFILE h;
    EXPECT_EQ(RTFileOpen(&h, nullptr, 0x1), ERR_BAD_ARGUMENT);
    EXPECT_EQ(h, RTFILE_NIL);
    EXPECT_EQ(RTFileOpen(nullptr, path.c_str(), 0x1), ERR_BAD_ARGUMENT);
}

TEST_F(FileTest, InstallerFlagWordsCreateReplaceAndRefuseExisting)
{
    std::string const path = Path("pkg.msi");
    RTFILE h;
    uint32_t action;
    ASSERT_EQ(RTFileOpenEx(path.c_str(), 0x1C000322, &h, &action), 0);
    EXPECT_EQ(action, RTFILE_ACTION_CREATED);
    std::string const data = Pattern(5000);
    ASSERT_EQ(RTFileWrite(h, data.data(), (uint32_t)data.size(), nullptr), 0);
    EXPECT_EQ(RTFileClose(h), 0);

    // Replacing truncates what was there.
    ASSERT_EQ(RTFileOpenEx(path.c_str(), 0x1C000322, &h, &action), 0);
    EXPECT_EQ(action, RTFILE_ACTION_REPLACED);
    uint64_t size = 1;
    EXPECT_EQ(RTFileQuerySize(h, &size), 0);
    EXPECT_EQ(size, 0u);
    ASSERT_EQ(RTFileWrite(h, data.data(), 10, nullptr), 0);
    EXPECT_EQ(RTFileClose(h), 0);

    // Create-new on an existing file: refused, reported, and the file is untouched.
    h = (RTFILE)(intptr_t)0x1234;
    EXPECT_EQ(RTFileOpenEx(path.c_str(), 0x1C000222, &h, &action), ERR_ALREADY_EXISTS);
    EXPECT_EQ(action, RTFILE_ACTION_ALREADY_EXISTS);
    EXPECT_EQ(h, RTFILE_NIL);
    WIN32_FILE_ATTRIBUTE_DATA fad;
    ASSERT_TRUE(GetFileAttributesExW(fstest::LongForm(path).c_str(), GetFileExInfoStandard, &fad));
    EXPECT_EQ(fad.nFileSizeLow, 10u);

    ASSERT_EQ(RTFileOpenEx(Path("new.msi").c_str(), 0x1C000222, &h, &action), 0);
    EXPECT_EQ(action, RTFILE_ACTION_CREATED);
    EXPECT_EQ(RTFileClose(h), 0);
}

TEST_F(FileTest, VerificationOpenLocksAgainstWritersDeleteAndRename)
{
    MakeFile("locked.msi", Pattern(300));
    std::string const path = Path("locked.msi");

    RTFILE hLock;
    ASSERT_EQ(RTFileOpen(&hLock, path.c_str(), 0x721), 0);

    RTFILE hRead;
    ASSERT_EQ(RTFileOpen(&hRead, path.c_str(), 0x1C000781), 0);
    char buf[300];
    EXPECT_EQ(RTFileRead(hRead, buf, sizeof(buf), nullptr), 0);
    EXPECT_EQ(RTFileClose(hRead), 0);

    RTFILE hWrite = (RTFILE)(intptr_t)0x1234;
    EXPECT_EQ(RTFileOpen(&hWrite, path.c_str(), RTFILE_OPEN_WRITE | RTFILE_OPEN_DENY_NONE | RTFILE_OPEN_EXISTING),
              ERR_SHARING_VIOLATION);
    EXPECT_EQ(hWrite, RTFILE_NIL);

    int rc = RTFileDelete(path.c_str());
    EXPECT_TRUE(rc == ERR_SHARING_VIOLATION || rc == ERR_ACCESS_DENIED) << rc;
    rc = RTFileRename(path.c_str(), Path("moved.msi").c_str(), 0);
    EXPECT_TRUE(rc == ERR_SHARING_VIOLATION || rc == ERR_ACCESS_DENIED) << rc;
    EXPECT_TRUE(fstest::Exists(path));
    EXPECT_FALSE(fstest::Exists(Path("moved.msi")));

    EXPECT_EQ(RTFileClose(hLock), 0);
    EXPECT_EQ(RTFileRename(path.c_str(), Path("moved.msi").c_str(), 0), 0);
    EXPECT_EQ(RTFileDelete(Path("moved.msi").c_str()), 0);
    EXPECT_FALSE(fstest::Exists(Path("moved.msi")));
}

// The extraction's order: write, re-open for reading while the writer is still open, close
// the writer, re-open denying writers while the first re-opening is open; the last handle
// keeps the verified file from being changed.
TEST_F(FileTest, ExtractionHandleSequence)
{
    std::string const path = Path("package.msi");
    std::string const data = Pattern(200000);
    RTFILE hWriter;
    ASSERT_EQ(RTFileOpen(&hWriter, path.c_str(), 0x1C000322), 0);
    ASSERT_EQ(RTFileWrite(hWriter, data.data(), (uint32_t)data.size(), nullptr), 0);
    RTOBJINFO written;
    ASSERT_EQ(RTFileQueryInfo(hWriter, &written, RTOBJINFO_ADD_UNIX), 0);

    RTFILE hFirst;
    ASSERT_EQ(RTFileOpen(&hFirst, path.c_str(), 0x1C000781), 0);
    EXPECT_EQ(RTFileClose(hWriter), 0);
    RTFILE hSecond;
    ASSERT_EQ(RTFileOpen(&hSecond, path.c_str(), 0x721), 0);
    EXPECT_EQ(RTFileClose(hFirst), 0);

    RTOBJINFO kept;
    ASSERT_EQ(RTFileQueryInfo(hSecond, &kept, RTOBJINFO_ADD_UNIX), 0);
    EXPECT_EQ(kept.size, data.size());
    EXPECT_EQ(kept.add.unixAttr.fileId, written.add.unixAttr.fileId);
    std::vector<char> back(65536);
    std::string all;
    for (;;)
    {
        uint32_t got = 0;
        ASSERT_EQ(RTFileRead(hSecond, back.data(), (uint32_t)back.size(), &got), 0);
        if (!got)
            break;
        all.append(back.data(), got);
    }
    EXPECT_EQ(all, data);

    // Nobody can now write, replace or remove the verified file.
    RTFILE hOther = RTFILE_NIL;
    EXPECT_EQ(RTFileOpen(&hOther, path.c_str(), 0x1C000322), ERR_SHARING_VIOLATION);
    EXPECT_EQ(RTFileOpen(&hOther, path.c_str(), RTFILE_OPEN_READWRITE | RTFILE_OPEN_OPEN_OR_CREATE),
              ERR_SHARING_VIOLATION);
    EXPECT_NE(RTFileDelete(path.c_str()), 0);
    EXPECT_EQ(RTFileClose(hSecond), 0);
    EXPECT_EQ(RTFileDelete(path.c_str()), 0);
}

TEST_F(FileTest, AppendInheritAndDenyAll)
{
    MakeFile("log.txt", "abc");
    RTFILE h;
    ASSERT_EQ(RTFileOpen(&h, Path("log.txt").c_str(), RTFILE_OPEN_WRITE | RTFILE_OPEN_APPEND | RTFILE_OPEN_EXISTING), 0);
    EXPECT_EQ(RTFileSeek(h, 0, RTFILE_SEEK_BEGIN, nullptr), 0);
    EXPECT_EQ(RTFileWrite(h, "X", 1, nullptr), 0);
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation((HANDLE)h, &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
    EXPECT_EQ(RTFileClose(h), 0);

    ASSERT_EQ(RTFileOpen(&h, Path("log.txt").c_str(), RTFILE_OPEN_READ | RTFILE_OPEN_DENY_ALL | RTFILE_OPEN_INHERIT), 0);
    ASSERT_TRUE(GetHandleInformation((HANDLE)h, &flags));
    EXPECT_NE(flags & HANDLE_FLAG_INHERIT, 0u);
    char buf[8] = {};
    uint32_t got = 0;
    EXPECT_EQ(RTFileRead(h, buf, sizeof(buf), &got), 0);
    EXPECT_EQ(std::string(buf, got), "abcX");
    RTFILE h2 = RTFILE_NIL;
    EXPECT_EQ(RTFileOpen(&h2, Path("log.txt").c_str(), RTFILE_OPEN_READ), ERR_SHARING_VIOLATION);
    EXPECT_EQ(RTFileClose(h), 0);
}

TEST_F(FileTest, FileIdIdentifiesTheFile)
{
    MakeFile("a.bin", "aaa");
    MakeFile("b.bin", "bbb");
    RTFILE h1, h2, hOther;
    ASSERT_EQ(RTFileOpen(&h1, Path("a.bin").c_str(), 0x1C000781), 0);
    ASSERT_EQ(RTFileOpen(&h2, Path("a.bin").c_str(), 0x721), 0);
    ASSERT_EQ(RTFileOpen(&hOther, Path("b.bin").c_str(), 0x721), 0);

    RTOBJINFO i1, i2, iOther;
    ASSERT_EQ(RTFileQueryInfo(h1, &i1, RTOBJINFO_ADD_UNIX), 0);
    ASSERT_EQ(RTFileQueryInfo(h2, &i2, RTOBJINFO_ADD_UNIX), 0);
    ASSERT_EQ(RTFileQueryInfo(hOther, &iOther, RTOBJINFO_ADD_UNIX), 0);
    EXPECT_EQ(i1.addKind, RTOBJINFO_ADD_UNIX);
    EXPECT_EQ(i1.add.unixAttr.fileId, i2.add.unixAttr.fileId);
    EXPECT_NE(i1.add.unixAttr.fileId, iOther.add.unixAttr.fileId);
    EXPECT_GE(i1.add.unixAttr.hardLinks, 1u);
    EXPECT_EQ(i1.add.unixAttr.uid, RTOBJINFO_NO_ID);
    EXPECT_EQ(i1.size, 3u);
    EXPECT_EQ(i1.mode & MODE_TYPE_MASK, MODE_TYPE_FILE);

    // The same identity as Windows' own view of the handle.
    BY_HANDLE_FILE_INFORMATION bhfi;
    ASSERT_TRUE(GetFileInformationByHandle((HANDLE)h1, &bhfi));
    EXPECT_EQ(i1.add.unixAttr.idDevice, bhfi.dwVolumeSerialNumber);
    EXPECT_EQ(i1.add.unixAttr.fileId, ((uint64_t)bhfi.nFileIndexHigh << 32) | bhfi.nFileIndexLow);

    // Modification time agrees with Windows (nanoseconds since 1970).
    FILETIME ft = bhfi.ftLastWriteTime;
    int64_t const nt = (int64_t)(((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime);
    EXPECT_EQ(i1.modificationTime, (nt - INT64_C(116444736000000000)) * 100);

    EXPECT_EQ(RTFileClose(h1), 0);
    EXPECT_EQ(RTFileClose(h2), 0);
    EXPECT_EQ(RTFileClose(hOther), 0);
}

TEST_F(FileTest, QueryInfoKindsAndBadArguments)
{
    MakeFile("k.bin", "12345");
    RTFILE h;
    ASSERT_EQ(RTFileOpen(&h, Path("k.bin").c_str(), 0x1), 0);
    RTOBJINFO info;
    EXPECT_EQ(RTFileQueryInfo(h, &info, 0), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTFileQueryInfo(h, &info, 6), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTFileQueryInfo(h, nullptr, RTOBJINFO_ADD_NOTHING), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTFileQueryInfo(RTFILE_NIL, &info, RTOBJINFO_ADD_NOTHING), ERR_BAD_ARGUMENT);

    info.add.owner.id = 5;
    info.add.owner.name[0] = 'x';
    ASSERT_EQ(RTFileQueryInfo(h, &info, RTOBJINFO_ADD_UNIX_OWNER), 0);
    EXPECT_EQ(info.add.owner.id, RTOBJINFO_NO_ID);
    EXPECT_EQ(info.add.owner.name[0], '\0');
    info.add.eaSize = 99;
    ASSERT_EQ(RTFileQueryInfo(h, &info, RTOBJINFO_ADD_EASIZE), 0);
    EXPECT_EQ(info.add.eaSize, 0u);
    EXPECT_EQ(info.size, 5u);
    EXPECT_EQ(RTFileClose(h), 0);
}

TEST_F(FileTest, QueryInfoOfStaleAndDeviceHandles)
{
    MakeFile("c.bin", "c");
    RTFILE h;
    ASSERT_EQ(RTFileOpen(&h, Path("c.bin").c_str(), 0x1), 0);
    ASSERT_EQ(RTFileClose(h), 0);
    // A closed handle is not mistaken for a console and described as a device.
    RTOBJINFO info;
    info.mode = 0x12345678;
    EXPECT_EQ(RTFileQueryInfo(h, &info, RTOBJINFO_ADD_UNIX), ERR_INVALID_HANDLE);

    // The null device is described, by the NT query or as a device.
    ASSERT_EQ(RTFileOpen(&h, "NUL", RTFILE_OPEN_READWRITE | RTFILE_OPEN_EXISTING), 0);
    EXPECT_EQ(RTFileQueryInfo(h, &info, RTOBJINFO_ADD_NOTHING), 0);
    EXPECT_EQ(info.size, 0u);
    EXPECT_EQ(info.addKind, RTOBJINFO_ADD_NOTHING);
    EXPECT_EQ(RTFileClose(h), 0);
}

TEST_F(FileTest, ReadWriteSeekSizeRoundTrip)
{
    std::string const path = Path("rw.bin");
    RTFILE h;
    ASSERT_EQ(RTFileOpen(&h, path.c_str(), RTFILE_OPEN_READWRITE | RTFILE_OPEN_CREATE_NEW | RTFILE_OPEN_DENY_WRITE), 0);
    std::string const data = Pattern(100000);
    uint32_t written = 0;
    ASSERT_EQ(RTFileWrite(h, data.data(), (uint32_t)data.size(), &written), 0);
    EXPECT_EQ(written, data.size());
    uint64_t size = 0;
    EXPECT_EQ(RTFileQuerySize(h, &size), 0);
    EXPECT_EQ(size, data.size());
    EXPECT_EQ(RTFileTell(h), data.size());
    EXPECT_EQ(RTFileFlush(h), 0);

    uint64_t pos = 1;
    EXPECT_EQ(RTFileSeek(h, 0, RTFILE_SEEK_BEGIN, &pos), 0);
    EXPECT_EQ(pos, 0u);
    std::vector<char> back(data.size());
    ASSERT_EQ(RTFileRead(h, back.data(), (uint32_t)back.size(), nullptr), 0);
    EXPECT_EQ(std::string(back.data(), back.size()), data);

    // Past the end: a short read is reported when asked for, else it is an error.
    EXPECT_EQ(RTFileSeek(h, -10, RTFILE_SEEK_END, &pos), 0);
    EXPECT_EQ(pos, data.size() - 10);
    uint32_t got = 0;
    char tail[64];
    EXPECT_EQ(RTFileRead(h, tail, sizeof(tail), &got), 0);
    EXPECT_EQ(got, 10u);
    EXPECT_EQ(std::string(tail, 10), data.substr(data.size() - 10));
    EXPECT_EQ(RTFileSeek(h, -10, RTFILE_SEEK_END, nullptr), 0);
    EXPECT_EQ(RTFileRead(h, tail, sizeof(tail), nullptr), ERR_EOF);

    EXPECT_EQ(RTFileSeek(h, 100, RTFILE_SEEK_BEGIN, nullptr), 0);
    EXPECT_EQ(RTFileSeek(h, 50, RTFILE_SEEK_CURRENT, &pos), 0);
    EXPECT_EQ(pos, 150u);
    EXPECT_EQ(RTFileRead(h, tail, 4, nullptr), 0);
    EXPECT_EQ(std::string(tail, 4), data.substr(150, 4));
    EXPECT_EQ(RTFileSeek(h, 0, 3, &pos), ERR_BAD_ARGUMENT);

    // A seek whose low half is all ones is judged by the last error, not the return value.
    EXPECT_EQ(RTFileSeek(h, 0xFFFFFFFF, RTFILE_SEEK_BEGIN, &pos), 0);
    EXPECT_EQ(pos, 0xFFFFFFFFu);

    // Zero-byte transfers: reads report 0, writes leave the caller's count alone.
    got = 99;
    EXPECT_EQ(RTFileRead(h, tail, 0, &got), 0);
    EXPECT_EQ(got, 0u);
    written = 99;
    EXPECT_EQ(RTFileWrite(h, tail, 0, &written), 0);
    EXPECT_EQ(written, 99u);
    EXPECT_EQ(RTFileClose(h), 0);
}

// Positions whose low half is all ones look like INVALID_SET_FILE_POINTER whatever the
// requested offset was; they are still positions (seeking past the end grows nothing).
TEST_F(FileTest, SeekToPositionsWithAllOnesLowHalf)
{
    RTFILE h;
    ASSERT_EQ(RTFileOpen(&h, Path("seek.bin").c_str(), RTFILE_OPEN_READWRITE | RTFILE_OPEN_CREATE_NEW), 0);
    struct Case { uint64_t start; int64_t offset; uint32_t method; uint64_t pos; };
    const Case cases[] =
    {
        { 0, 0xFFFFFFFF, RTFILE_SEEK_BEGIN, 0xFFFFFFFF },
        { 0xFFFFFFFE, 1, RTFILE_SEEK_CURRENT, 0xFFFFFFFF },
        { 0x100000000, -1, RTFILE_SEEK_CURRENT, 0xFFFFFFFF },
        { 0xFFFFFFFF, 0, RTFILE_SEEK_CURRENT, 0xFFFFFFFF },
        { 0x1FFFFFFF0, 0xF, RTFILE_SEEK_CURRENT, 0x1FFFFFFFF },
        { 0, 0x2FFFFFFFF, RTFILE_SEEK_BEGIN, 0x2FFFFFFFF },
    };
    for (const Case &c : cases)
    {
        ASSERT_EQ(RTFileSeek(h, (int64_t)c.start, RTFILE_SEEK_BEGIN, nullptr), 0) << std::hex << c.start;
        uint64_t pos = 1;
        EXPECT_EQ(RTFileSeek(h, c.offset, c.method, &pos), 0) << std::hex << c.start << " " << c.offset;
        EXPECT_EQ(pos, c.pos) << std::hex << c.start << " " << c.offset;
        EXPECT_EQ(RTFileTell(h), c.pos) << std::hex << c.start << " " << c.offset;
    }
    uint64_t size = 1;
    EXPECT_EQ(RTFileQuerySize(h, &size), 0);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(RTFileClose(h), 0);
}

TEST_F(FileTest, SizeWithAllOnesLowHalfIsReported)
{
    std::string const path = Path("big.bin");
    RTFILE h;
    ASSERT_EQ(RTFileOpen(&h, path.c_str(), RTFILE_OPEN_READWRITE | RTFILE_OPEN_CREATE_NEW), 0);
    DWORD cb = 0;
    DeviceIoControl((HANDLE)h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &cb, nullptr);
    ASSERT_EQ(RTFileSeek(h, 0xFFFFFFFF, RTFILE_SEEK_BEGIN, nullptr), 0);
    ASSERT_TRUE(SetEndOfFile((HANDLE)h));
    uint64_t size = 0;
    EXPECT_EQ(RTFileQuerySize(h, &size), 0);
    EXPECT_EQ(size, 0xFFFFFFFFu);
    EXPECT_EQ(RTFileClose(h), 0);
}

TEST_F(FileTest, PostOpenTruncateAndNotIndexed)
{
    MakeFile("t.bin", "old content");
    RTFILE h;
    uint32_t action;
    ASSERT_EQ(RTFileOpenEx(Path("t.bin").c_str(), 0x1102, &h, &action), 0);
    EXPECT_EQ(action, RTFILE_ACTION_TRUNCATED);
    uint64_t size = 1;
    EXPECT_EQ(RTFileQuerySize(h, &size), 0);
    EXPECT_EQ(size, 0u);
    RTFileClose(h);
    ASSERT_EQ(RTFileOpenEx(Path("t2.bin").c_str(), 0x1102, &h, &action), 0);
    EXPECT_EQ(action, RTFILE_ACTION_CREATED);
    RTFileClose(h);

    MakeFile("e.bin", "kept");
    ASSERT_EQ(RTFileOpenEx(Path("e.bin").c_str(), 0x1782, &h, &action), 0);
    EXPECT_EQ(action, RTFILE_ACTION_TRUNCATED);
    EXPECT_EQ(RTFileQuerySize(h, &size), 0);
    EXPECT_EQ(size, 0u);
    RTFileClose(h);

    // Not-content-indexed only for a file this open creates; an existing one keeps its
    // attributes and its content.
    MakeFile("old.bin", "kept");
    ASSERT_EQ(RTFileOpenEx(Path("old.bin").c_str(), 0x902, &h, &action), 0);
    EXPECT_EQ(action, RTFILE_ACTION_OPENED);
    RTFileClose(h);
    EXPECT_EQ(fstest::Attributes(Path("old.bin")) & FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, 0u);
    EXPECT_EQ(RTFileOpen(&h, Path("old.bin").c_str(), 0x1), 0);
    EXPECT_EQ(RTFileQuerySize(h, &size), 0);
    EXPECT_EQ(size, 4u);
    RTFileClose(h);

    ASSERT_EQ(RTFileOpenEx(Path("fresh.bin").c_str(), 0x902, &h, &action), 0);
    EXPECT_EQ(action, RTFILE_ACTION_CREATED);
    RTFileClose(h);
}

TEST_F(FileTest, NotContentIndexedOnCreatedFile_WineStoresNoSuchAttribute)
{
    // Wine accepts the attribute but keeps only read-only, hidden and system.
    if (fstest::UnderWine())
        GTEST_SKIP() << "wine does not keep FILE_ATTRIBUTE_NOT_CONTENT_INDEXED";
    RTFILE h;
    uint32_t action;
    ASSERT_EQ(RTFileOpenEx(Path("fresh.bin").c_str(), 0x902, &h, &action), 0);
    EXPECT_EQ(action, RTFILE_ACTION_CREATED);
    RTFileClose(h);
    EXPECT_NE(fstest::Attributes(Path("fresh.bin")) & FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, 0u);
    ASSERT_EQ(RTFileOpenEx(Path("fresh.bin").c_str(), 0xB02, &h, &action), 0);
    EXPECT_EQ(action, RTFILE_ACTION_REPLACED);
    RTFileClose(h);
    EXPECT_NE(fstest::Attributes(Path("fresh.bin")) & FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, 0u);
    ASSERT_EQ(RTFileOpenEx(Path("plain.bin").c_str(), 0x302, &h, &action), 0);
    RTFileClose(h);
    EXPECT_EQ(fstest::Attributes(Path("plain.bin")) & FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, 0u);
}

TEST_F(FileTest, MissingFilesAndRenameRules)
{
    RTFILE h;
    EXPECT_EQ(RTFileOpen(&h, Path("none.bin").c_str(), 0x1), ERR_FILE_NOT_FOUND);
    EXPECT_EQ(RTFileOpen(&h, Path("nodir\\none.bin").c_str(), 0x1), ERR_PATH_NOT_FOUND);
    EXPECT_EQ(RTFileDelete(Path("none.bin").c_str()), ERR_FILE_NOT_FOUND);

    MakeFile("src.bin", "s");
    MakeFile("dst.bin", "dd");
    EXPECT_EQ(RTFileRename(Path("src.bin").c_str(), Path("dst.bin").c_str(), 2), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTFileRename(nullptr, Path("dst.bin").c_str(), 0), ERR_INVALID_POINTER);
    EXPECT_EQ(RTFileRename(Path("src.bin").c_str(), Path("dst.bin").c_str(), 0), ERR_ALREADY_EXISTS);
    EXPECT_EQ(RTFileRename(Path("src.bin").c_str(), Path("dst.bin").c_str(), RTFILEMOVE_FLAGS_REPLACE), 0);
    EXPECT_FALSE(fstest::Exists(Path("src.bin")));
    ASSERT_EQ(RTFileOpen(&h, Path("dst.bin").c_str(), 0x1), 0);
    uint64_t size = 0;
    EXPECT_EQ(RTFileQuerySize(h, &size), 0);
    EXPECT_EQ(size, 1u);
    RTFileClose(h);
}

TEST_F(FileTest, HandleValidityAndFileSystemType)
{
    MakeFile("v.bin", "v");
    RTFILE h;
    ASSERT_EQ(RTFileOpen(&h, Path("v.bin").c_str(), 0x1), 0);
    EXPECT_TRUE(RTFileIsValid(h));
    EXPECT_FALSE(RTFileIsValid(RTFILE_NIL));
    RTFSTYPE type = 12345;
    EXPECT_EQ(RTFileQueryFsType(h, &type), 0);
    EXPECT_NE(type, 12345u);
    // Below 2 GiB a full disk is always a full disk.
    EXPECT_EQ(RTFileCheckDiskFull(h, 0x7FFFFFFE), ERR_DISK_FULL);
    EXPECT_EQ(RTFileClose(h), 0);
    EXPECT_EQ(RTFileClose(RTFILE_NIL), 0);

    RTFILE hNative;
    EXPECT_EQ(RTFileFromNative(&hNative, INVALID_HANDLE_VALUE), ERR_INVALID_HANDLE);
    EXPECT_EQ(hNative, RTFILE_NIL);
}

TEST(FileSystemType, NamesAndLimits)
{
    struct Case { const wchar_t *name; RTFSTYPE type; };
    const Case cases[] =
    {
        { L"NTFS", RTFSTYPE_NTFS }, { L"FAT", RTFSTYPE_FAT }, { L"FAT32", RTFSTYPE_FAT },
        { L"fat32", RTFSTYPE_UNKNOWN }, { L"exFAT", RTFSTYPE_EXFAT }, { L"UDF", RTFSTYPE_UDF },
        { L"CDFS", RTFSTYPE_ISO9660 }, { L"HPFS", RTFSTYPE_HPFS }, { L"ReFS", RTFSTYPE_REFS },
        { L"PlomSharedFolderFS", RTFSTYPE_SHARED_FOLDER }, { L"NTF", RTFSTYPE_UNKNOWN },
        { L"NTFSX", RTFSTYPE_UNKNOWN }, { L"", RTFSTYPE_UNKNOWN },
    };
    for (const Case &c : cases)
        EXPECT_EQ(RTFsTypeFromName((const uint16_t *)c.name, wcslen(c.name)), c.type)
            << fstest::WideToUtf8(c.name);

    EXPECT_EQ(RTFsTypeMaxFileSize(RTFSTYPE_FAT), UINT64_C(0x100000000));
    EXPECT_EQ(RTFsTypeMaxFileSize(RTFSTYPE_HPFS), UINT64_C(0x80000000));
    EXPECT_EQ(RTFsTypeMaxFileSize(RTFSTYPE_ISO9660), UINT64_C(1) << 43);
    EXPECT_EQ(RTFsTypeMaxFileSize(RTFSTYPE_NTFS), 0u);
}

TEST(FileMode, FromAttributesTable)
{
    struct Case { RTFMODE attrs; const char *name; uint32_t tag; RTFMODE hint; RTFMODE mode; };
    const Case cases[] =
    {
        { MODE_WIN_NORMAL, "setup.EXE", 0, 0, 0x008081FF },
        { MODE_WIN_NORMAL, "run.Cmd", 0, 0, 0x008081FF },
        { MODE_WIN_NORMAL, "exe", 0, 0, 0x008081B6 },
        { MODE_WIN_NORMAL, "file.exex", 0, 0, 0x008081B6 },
        { MODE_WIN_READONLY, "notes.txt", 0, 0, 0x00018124 },
        { MODE_WIN_DIRECTORY, "dir", 0, 0, 0x001041FF },
        { MODE_WIN_DIRECTORY | MODE_WIN_READONLY, nullptr, 0, 0, 0x001141FF },
        { 0, nullptr, 0, MODE_TYPE_DIRECTORY, 0x001041FF },
        { MODE_WIN_DEVICE, "", 0, 0, 0x004081B6 },
        { MODE_WIN_REPARSE_POINT, "link", RTFS_REPARSE_TAG_SYMLINK, 0, 0x0400A1B6 },
        { MODE_WIN_REPARSE_POINT | MODE_WIN_DIRECTORY, "jd", RTFS_REPARSE_TAG_SYMLINK, 0, 0x0410A1FF },
        { MODE_WIN_REPARSE_POINT | MODE_WIN_DIRECTORY, "mount", 0xA0000003, 0, 0x041041FF },
        { MODE_WIN_NORMAL | 0777, "low.exe", 0, 0, 0x008081FF },   // the low half is replaced
    };
    for (const Case &c : cases)
        EXPECT_EQ(RTFsModeFromAttributes(c.attrs, c.name, 0, c.tag, c.hint), c.mode)
            << std::hex << c.attrs << " " << (c.name ? c.name : "(null)");
    // An explicit length limits the name that is looked at.
    EXPECT_EQ(RTFsModeFromAttributes(MODE_WIN_NORMAL, "a.exe.txt", 5, 0, 0), 0x008081FFu);
}

TEST(FileMode, NormalizeAndValidity)
{
    struct Case { RTFMODE mode; const char *name; RTFMODE hint; RTFMODE normalized; bool valid; };
    const Case cases[] =
    {
        { 0700, "C:\\tmp\\dir", MODE_TYPE_DIRECTORY, 0x008001C0, true },
        { 0500, "C:\\tmp\\dir", 0, 0x00010140, true },                      // no write bit: read-only
        { 0x41C0, "C:\\tmp\\dir", 0, 0x001041C0, true },                    // directory type
        { 0x41C0, "C:\\tmp\\.cache", 0, 0x001241C0, true },                 // dot name is hidden
        { 0x41C0, "C:\\tmp\\..", 0, 0x001041C0, true },
        { 0x001041C0, nullptr, 0, 0x001041C0, true },                       // both parts consistent
        { 0x001001C0, nullptr, 0, 0x001041C0, true },                       // type derived from attribute
        { 0x008001C0, nullptr, 0, 0x008081C0, true },
        { 0x001081C0, nullptr, 0, 0x001081C0, false },                      // file type, directory attribute
        { 0x008041C0, nullptr, 0, 0x009041C0, true },                       // directory type adds the attribute
        { 0, "C:\\tmp\\d", MODE_TYPE_DIRECTORY, 0x001041FF, true },         // no Unix part
    };
    for (const Case &c : cases)
    {
        RTFMODE const m = RTFsModeNormalize(c.mode, c.name, 0, c.hint);
        EXPECT_EQ(m, c.normalized) << std::hex << c.mode;
        EXPECT_EQ(RTFsModeIsValid(m), c.valid) << std::hex << c.mode;
    }
    EXPECT_FALSE(RTFsModeIsValid(MODE_TYPE_DIRECTORY));
    EXPECT_FALSE(RTFsModeIsValid(MODE_WIN_DIRECTORY | MODE_TYPE_FILE));
    EXPECT_TRUE(RTFsModeIsValid(MODE_WIN_DIRECTORY | MODE_TYPE_DIRECTORY));
}

// A stand-in for ReadFile/WriteFile: transfers above a limit fail with
// ERROR_NOT_ENOUGH_MEMORY, like Windows under memory pressure.
template <bool kWrite>
struct FakeIo
{
    static const bool kIsWrite = kWrite;
    static const uint32_t kChunkCap = kWrite ? 0x8000 : 0x4000;
    static const int kZeroStatus = kWrite ? ERR_WRITE_FAULT : ERR_EOF;

    uint32_t limit;             // larger transfers fail with error 8
    uint32_t available;         // bytes the "file" can still supply or take
    uint32_t otherError = 0;    // when set, every call fails with it
    uint32_t failFirst = 0;     // this many first calls fail with error 8 whatever their size
    std::vector<uint32_t> calls;
    std::vector<uint32_t> pending;

    bool Transfer(uint8_t *pb, uint32_t cb, uint32_t *pcbDone)
    {
        calls.push_back(cb);
        *pcbDone = 0;
        if (otherError || cb > limit || calls.size() <= failFirst)
            return false;
        uint32_t n = cb < available ? cb : available;
        for (uint32_t i = 0; i < n; i++)
            if (!kWrite)
                pb[i] = 0xAB;
        available -= n;
        *pcbDone = n;
        return true;
    }
    uint32_t LastError() { return otherError ? otherError : 8; }
    int Fail(uint32_t winError, uint32_t cbPending)
    {
        pending.push_back(cbPending);
        return RTErrConvertFromWinError(winError);
    }
};

TEST(FileTransfer, MemoryPressureFallsBackToChunks)
{
    struct Case
    {
        bool write; uint32_t count, limit, available, failFirst; bool withDone;
        int rc; uint32_t done; uint32_t secondCall;
    };
    const Case cases[] =
    {
        // Reads: half the count capped at 16 KiB, halved while Windows refuses.
        { false, 100000, 5000, 100000, 0, false, 0, 0, 0x4000 },
        { false, 1000, 100, 1000, 0, false, 0, 0, 512 },
        // Small counts: the chunk must not round down to nothing.
        { false, 1, 0xFFFFFFFF, 1, 1, false, 0, 0, 1 },
        { true, 300, 0xFFFFFFFF, 300, 1, false, 0, 0, 256 },
        // With a bytes-read output the first good chunk is reported at once.
        { false, 100000, 0x4000, 100000, 0, true, 0, 0x4000, 0x4000 },
        // The file ends early: without an output that is ERR_EOF.
        { false, 100000, 0x2000, 3000, 0, false, ERR_EOF, 0, 0x4000 },
        // Windows refuses even tiny chunks: out of memory.
        { false, 4096, 4, 4096, 0, false, ERR_NO_MEMORY, 0, 2048 },
        // Writes: chunks capped at 32 KiB.
        { true, 200000, 0x8000, 200000, 0, false, 0, 0, 0x8000 },
        { true, 300, 200, 300, 0, false, 0, 0, 256 },
        { true, 100000, 0x1000, 0, 0, false, ERR_WRITE_FAULT, 0, 0x8000 },
    };
    for (const Case &c : cases)
    {
        std::vector<uint8_t> buf(c.count, 0);
        uint32_t done = 0xDEAD;
        int rc;
        std::vector<uint32_t> calls;
        if (c.write)
        {
            FakeIo<true> io{ c.limit, c.available, 0, c.failFirst };
            rc = rtFileTransfer(io, buf.data(), c.count, c.withDone ? &done : nullptr);
            calls = io.calls;
        }
        else
        {
            FakeIo<false> io{ c.limit, c.available, 0, c.failFirst };
            rc = rtFileTransfer(io, buf.data(), c.count, c.withDone ? &done : nullptr);
            calls = io.calls;
            if (rc == 0 && !c.withDone)
                for (uint32_t i = 0; i < c.count; i++)
                    ASSERT_NE(buf[i], 0) << "byte " << i << " of " << c.count << " never read";
        }
        EXPECT_EQ(rc, c.rc) << c.count << "/" << c.limit;
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[0], c.count);
        EXPECT_EQ(calls[1], c.secondCall) << c.count << "/" << c.limit;
        for (uint32_t cb : calls)
            EXPECT_GT(cb, 0u);
        if (c.withDone)
            EXPECT_EQ(done, c.done);
    }
}

TEST(FileTransfer, FailuresReportWhatWasStillToBeWritten)
{
    std::vector<uint8_t> buf(1000);
    FakeIo<true> first{ 0xFFFFFFFF, 1000, 112 /* ERROR_DISK_FULL */ };
    EXPECT_EQ(rtFileTransfer(first, buf.data(), 1000, nullptr), ERR_DISK_FULL);
    ASSERT_EQ(first.pending.size(), 1u);
    EXPECT_EQ(first.pending[0], 1000u);

    // A short first write, then the disk fills: what is left is pending.
    struct Io : FakeIo<true>
    {
        bool Transfer(uint8_t *pb, uint32_t cb, uint32_t *pcbDone)
        {
            if (!calls.empty())
                otherError = 112;
            return FakeIo<true>::Transfer(pb, cb, pcbDone);
        }
    } io;
    io.limit = 0xFFFFFFFF;
    io.available = 600;
    EXPECT_EQ(rtFileTransfer(io, buf.data(), 1000, nullptr), ERR_DISK_FULL);
    ASSERT_EQ(io.pending.size(), 1u);
    EXPECT_EQ(io.pending[0], 400u);

    // In chunks after memory pressure: the failing chunk is what is pending, not the rest
    // of the count.
    struct ChunkIo : FakeIo<true>
    {
        bool Transfer(uint8_t *pb, uint32_t cb, uint32_t *pcbDone)
        {
            if (calls.size() == 2)
                otherError = 112;
            return FakeIo<true>::Transfer(pb, cb, pcbDone);
        }
    } chunkIo;
    chunkIo.limit = 0x8000;
    chunkIo.available = 100000;
    std::vector<uint8_t> big(100000);
    EXPECT_EQ(rtFileTransfer(chunkIo, big.data(), (uint32_t)big.size(), nullptr), ERR_DISK_FULL);
    ASSERT_EQ(chunkIo.calls.size(), 3u);
    ASSERT_EQ(chunkIo.pending.size(), 1u);
    EXPECT_EQ(chunkIo.pending[0], 0x8000u);
}

} // namespace
