#include "kelp/dir.h"
#include "kelp/file.h"
#include "kelp/err.h"
#include "runtime/fs_fixture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace
{

using fstest::TempDirTest;

class DirTest : public TempDirTest
{
};

TEST_F(DirTest, CreateRemoveExists)
{
    std::string const dir = Path("sub");
    EXPECT_FALSE(RTDirExists(dir.c_str()));
    ASSERT_EQ(RTDirCreate(dir.c_str(), 0700, 0), 0);
    EXPECT_TRUE(RTDirExists(dir.c_str()));
    EXPECT_FALSE(RTFileExists(dir.c_str()));
    DWORD const attrs = fstest::Attributes(dir);
    ASSERT_NE(attrs, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attrs & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(RTDirCreate(dir.c_str(), 0700, 0), ERR_ALREADY_EXISTS);

    EXPECT_EQ(RTDirRemove(dir.c_str()), 0);
    EXPECT_FALSE(fstest::Exists(dir));
    EXPECT_FALSE(RTDirExists(dir.c_str()));
    EXPECT_EQ(RTDirRemove(dir.c_str()), ERR_FILE_NOT_FOUND);
    EXPECT_EQ(RTDirCreate(Path("no\\such\\parent").c_str(), 0700, 0), ERR_PATH_NOT_FOUND);
}

TEST_F(DirTest, NotContentIndexedAttribute_WineStoresNoSuchAttribute)
{
    // Wine accepts the attribute but keeps only read-only, hidden and system.
    if (fstest::UnderWine())
        GTEST_SKIP() << "wine does not keep FILE_ATTRIBUTE_NOT_CONTENT_INDEXED";
    ASSERT_EQ(RTDirCreate(Path("marked").c_str(), 0700, 0), 0);
    EXPECT_NE(fstest::Attributes(Path("marked")) & FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, 0u);
    ASSERT_EQ(RTDirCreate(Path("indexed").c_str(), 0700, RTDIR_CREATE_KEEP_INDEXED), 0);
    EXPECT_EQ(fstest::Attributes(Path("indexed")) & FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, 0u);
    char templ[512];
    std::string const t = root_ + "\\XXXXXXXX";
    std::memcpy(templ, t.c_str(), t.size() + 1);
    ASSERT_EQ(RTDirCreateTemp(templ, 0700), 0);
    EXPECT_NE(fstest::Attributes(templ) & FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, 0u);
}

TEST_F(DirTest, NonAsciiNamesReachWindowsAsUtf16)
{
    std::string const dir = Path("\xC3\xBC" "ber");                        // "über"
    std::string const file = dir + "\\\xE6\x97\xA5\xE6\x9C\xAC.txt";  // two CJK characters
    ASSERT_EQ(RTDirCreate(dir.c_str(), 0700, 0), 0);
    RTFILE h;
    ASSERT_EQ(RTFileOpen(&h, file.c_str(), 0x1C000322), 0);
    EXPECT_EQ(RTFileWrite(h, "u", 1, nullptr), 0);
    EXPECT_EQ(RTFileClose(h), 0);

    std::wstring const wideFile = fstest::Utf8ToWide(root_) + L"\\\u00FCber\\\u65E5\u672C.txt";
    EXPECT_NE(GetFileAttributesW(wideFile.c_str()), INVALID_FILE_ATTRIBUTES);
    RTOBJINFO info;
    ASSERT_EQ(RTPathQueryInfo(file.c_str(), &info, RTOBJINFO_ADD_UNIX, RTPATH_QUERY_FOLLOW_LINK), 0);
    EXPECT_EQ(info.size, 1u);
    EXPECT_TRUE(RTDirExists(dir.c_str()));
    EXPECT_EQ(RTFileDelete(file.c_str()), 0);
    EXPECT_EQ(RTDirRemove(dir.c_str()), 0);
    EXPECT_EQ(fstest::EntryCount(root_), 0);
}

TEST_F(DirTest, BadInputLeavesNothingBehind)
{
    // A file type with the directory attribute is not a directory mode.
    EXPECT_EQ(RTDirCreate(Path("badmode").c_str(), MODE_WIN_DIRECTORY | MODE_TYPE_FILE | 0700, 0),
              ERR_INVALID_MODE);
    EXPECT_FALSE(fstest::Exists(Path("badmode")));

    ASSERT_EQ(RTDirCreate(Path("full").c_str(), 0700, 0), 0);
    MakeFile("full\\f.txt", "x");
    EXPECT_EQ(RTDirRemove(Path("full").c_str()), ERR_DIR_NOT_EMPTY);
    EXPECT_TRUE(fstest::Exists(Path("full\\f.txt")));

    EXPECT_EQ(fstest::EntryCount(root_), 1);
}

TEST_F(DirTest, ExistsDistinguishesFilesAndDirectories)
{
    MakeFile("plain.txt", "p");
    EXPECT_FALSE(RTDirExists(Path("plain.txt").c_str()));
    EXPECT_TRUE(RTFileExists(Path("plain.txt").c_str()));
    EXPECT_FALSE(RTFileExists(Path("missing.txt").c_str()));
    EXPECT_FALSE(RTDirExists(Path("missing").c_str()));
    EXPECT_FALSE(RTDirExists(""));
    EXPECT_FALSE(RTFileExists(nullptr));
    EXPECT_TRUE(RTDirExists(root_.c_str()));
}

TEST_F(DirTest, OpenHoldsTheDirectoryAgainstDeleteAndRename)
{
    std::string const dir = Path("held");
    ASSERT_EQ(RTDirCreate(dir.c_str(), 0700, 0), 0);
    RTDIR hDir = nullptr;
    ASSERT_EQ(RTDirOpen(&hDir, dir.c_str()), 0);
    EXPECT_TRUE(RTDirIsValid(hDir));

    EXPECT_NE(RTDirRemove(dir.c_str()), 0);
    EXPECT_FALSE(MoveFileW(fstest::LongForm(dir).c_str(), fstest::LongForm(Path("moved")).c_str()));
    EXPECT_TRUE(fstest::Exists(dir));
    // Files inside can still be created and removed.
    MakeFile("held\\inner.txt", "i");
    EXPECT_EQ(RTFileDelete(Path("held\\inner.txt").c_str()), 0);

    EXPECT_EQ(RTDirClose(hDir), 0);
    EXPECT_FALSE(RTDirIsValid(hDir));
    // Closing again is refused and does no harm.
    EXPECT_EQ(RTDirClose(hDir), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTDirClose(nullptr), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTDirRemove(dir.c_str()), 0);
}

TEST_F(DirTest, OpenAcceptsPathSpellings)
{
    std::string slashed = root_;
    for (char &c : slashed)
        if (c == '\\')
            c = '/';
    std::string const spellings[] = { root_, root_ + "\\", slashed, root_ + "\\.\\sub\\..", root_.substr(0, 3) };
    ASSERT_EQ(RTDirCreate(Path("sub").c_str(), 0700, 0), 0);
    for (const std::string &path : spellings)
    {
        RTDIR hDir = nullptr;
        ASSERT_EQ(RTDirOpen(&hDir, path.c_str()), 0) << path;
        EXPECT_TRUE(RTDirIsValid(hDir));
        EXPECT_EQ(RTDirClose(hDir), 0);
    }
}

TEST_F(DirTest, OpenRefusals)
{
    RTDIR hDir = nullptr;
    EXPECT_EQ(RTDirOpen(&hDir, Path("absent").c_str()), ERR_FILE_NOT_FOUND);
    EXPECT_EQ(RTDirOpen(nullptr, root_.c_str()), ERR_INVALID_POINTER);
    EXPECT_EQ(RTDirOpen(&hDir, nullptr), ERR_INVALID_POINTER);
    MakeFile("notadir", "x");
    EXPECT_LT(RTDirOpen(&hDir, Path("notadir").c_str()), 0);
    RTDIR fake = (RTDIR)(void *)&hDir;
    EXPECT_EQ(RTDirClose(fake), ERR_BAD_ARGUMENT);
    EXPECT_FALSE(RTDirIsValid(fake));
}

TEST_F(DirTest, QueryInfoOfFilesAndDirectories)
{
    MakeFile("setup.exe", std::string(1234, 'e'));
    RTOBJINFO info;
    ASSERT_EQ(RTPathQueryInfo(Path("setup.exe").c_str(), &info, RTOBJINFO_ADD_NOTHING, RTPATH_QUERY_FOLLOW_LINK), 0);
    EXPECT_EQ(info.size, 1234u);
    EXPECT_EQ(info.mode & MODE_TYPE_MASK, MODE_TYPE_FILE);
    EXPECT_EQ(info.mode & MODE_PERM_MASK, 0777u);
    EXPECT_EQ(info.addKind, RTOBJINFO_ADD_NOTHING);

    // The Unix kind takes the open-and-query way and agrees with the handle query.
    RTOBJINFO viaPath, viaHandle;
    ASSERT_EQ(RTPathQueryInfo(Path("setup.exe").c_str(), &viaPath, RTOBJINFO_ADD_UNIX, RTPATH_QUERY_ON_LINK), 0);
    RTFILE h;
    ASSERT_EQ(RTFileOpen(&h, Path("setup.exe").c_str(), 0x1), 0);
    ASSERT_EQ(RTFileQueryInfo(h, &viaHandle, RTOBJINFO_ADD_UNIX), 0);
    RTFileClose(h);
    EXPECT_EQ(viaPath.add.unixAttr.fileId, viaHandle.add.unixAttr.fileId);
    EXPECT_EQ(viaPath.add.unixAttr.idDevice, viaHandle.add.unixAttr.idDevice);
    EXPECT_EQ(viaPath.size, viaHandle.size);
    EXPECT_EQ(viaPath.modificationTime, viaHandle.modificationTime);
    // The handle query knows no name, so no execute bits there.
    EXPECT_EQ(viaPath.mode & ~(RTFMODE)MODE_EXEC_BITS, viaHandle.mode);

    ASSERT_EQ(RTPathQueryInfo(root_.c_str(), &info, RTOBJINFO_ADD_EASIZE, RTPATH_QUERY_FOLLOW_LINK), 0);
    EXPECT_EQ(info.mode & MODE_TYPE_MASK, MODE_TYPE_DIRECTORY);
    EXPECT_NE(info.mode & MODE_WIN_DIRECTORY, 0u);
    EXPECT_EQ(info.add.eaSize, 0u);
    ASSERT_EQ(RTPathQueryInfo(root_.c_str(), &info, RTOBJINFO_ADD_UNIX, RTPATH_QUERY_ON_LINK), 0);
    EXPECT_EQ(info.mode & MODE_TYPE_MASK, MODE_TYPE_DIRECTORY);
    EXPECT_EQ(info.add.unixAttr.idDevice, viaHandle.add.unixAttr.idDevice);

    EXPECT_EQ(RTPathQueryInfo(Path("gone.txt").c_str(), &info, RTOBJINFO_ADD_NOTHING, RTPATH_QUERY_FOLLOW_LINK),
              ERR_FILE_NOT_FOUND);
    EXPECT_EQ(RTPathQueryInfo(Path("gone\\x.txt").c_str(), &info, RTOBJINFO_ADD_UNIX, RTPATH_QUERY_FOLLOW_LINK),
              ERR_PATH_NOT_FOUND);
}

TEST_F(DirTest, QueryInfoArgumentChecks)
{
    RTOBJINFO info;
    std::string const p = root_;
    struct Case { const char *path; RTOBJINFO *info; uint32_t kind, flags; int rc; };
    const Case cases[] =
    {
        { nullptr, &info, RTOBJINFO_ADD_NOTHING, RTPATH_QUERY_FOLLOW_LINK, ERR_INVALID_POINTER },
        { "", &info, RTOBJINFO_ADD_NOTHING, RTPATH_QUERY_FOLLOW_LINK, ERR_BAD_ARGUMENT },
        { p.c_str(), nullptr, RTOBJINFO_ADD_NOTHING, RTPATH_QUERY_FOLLOW_LINK, ERR_INVALID_POINTER },
        { p.c_str(), &info, 0, RTPATH_QUERY_FOLLOW_LINK, ERR_BAD_ARGUMENT },
        { p.c_str(), &info, 6, RTPATH_QUERY_FOLLOW_LINK, ERR_BAD_ARGUMENT },
        { p.c_str(), &info, RTOBJINFO_ADD_NOTHING, 0, ERR_BAD_ARGUMENT },
        { p.c_str(), &info, RTOBJINFO_ADD_NOTHING, 3, ERR_BAD_ARGUMENT },
        { p.c_str(), &info, RTOBJINFO_ADD_NOTHING, RTPATH_QUERY_NO_SYMLINKS, ERR_BAD_ARGUMENT },
        { p.c_str(), &info, RTOBJINFO_ADD_NOTHING, RTPATH_QUERY_ON_LINK | RTPATH_QUERY_NO_SYMLINKS, 0 },
    };
    for (const Case &c : cases)
        EXPECT_EQ(RTPathQueryInfo(c.path, c.info, c.kind, c.flags), c.rc)
            << (c.path ? c.path : "(null)") << " kind " << c.kind << " flags " << c.flags;
}

TEST_F(DirTest, QueryInfoOfObjectNamespace)
{
    RTOBJINFO info;
    // The root of the object namespace.
    ASSERT_EQ(RTPathQueryInfo("\\\\:kelpnt:\\", &info, RTOBJINFO_ADD_UNIX, RTPATH_QUERY_FOLLOW_LINK), 0);
    EXPECT_EQ(info.mode, 0x001041FFu);
    EXPECT_EQ(info.size, 0u);
    // 1601 lies outside what nanoseconds since 1970 can hold; the value wraps like the NT arithmetic.
    EXPECT_EQ(info.birthTime, (int64_t)(UINT64_C(0) - UINT64_C(11644473600000000000)));
    EXPECT_EQ(info.add.unixAttr.uid, RTOBJINFO_NO_ID);

    // A name that the object namespace does not know.
    EXPECT_EQ(RTPathQueryInfo("\\\\:kelpnt:\\Device\\NoSuchDevice", &info, RTOBJINFO_ADD_UNIX,
                              RTPATH_QUERY_FOLLOW_LINK), ERR_FILE_NOT_FOUND);
}

TEST_F(DirTest, ObjectDirectoryEntries_WineCannotListObjectDirectories)
{
    // Wine's NtQueryDirectoryObject answers STATUS_NOT_IMPLEMENTED, and its
    // NtQueryFullAttributesFile answers STATUS_BAD_DEVICE_TYPE for names that are not files.
    if (fstest::UnderWine())
        GTEST_SKIP() << "wine cannot enumerate object directories";
    const uint32_t kinds[] = { RTOBJINFO_ADD_NOTHING, RTOBJINFO_ADD_UNIX };
    for (uint32_t kind : kinds)
    {
        RTOBJINFO info;
        ASSERT_EQ(RTPathQueryInfo("\\\\:kelpnt:\\", &info, kind, RTPATH_QUERY_FOLLOW_LINK), 0) << kind;
        EXPECT_EQ(info.mode, 0x001041FFu) << kind;
        ASSERT_EQ(RTPathQueryInfo("\\\\:kelpnt:\\Device", &info, kind, RTPATH_QUERY_FOLLOW_LINK), 0) << kind;
        EXPECT_EQ(info.mode, 0x001041FFu) << kind;
    }
}

TEST_F(DirTest, DeepTreeBeyondPlainPathLength)
{
    std::string dir = root_;
    std::vector<std::string> levels;
    while (dir.size() < 320)
    {
        dir += "\\level-with-a-long-name-" + std::to_string(levels.size());
        ASSERT_EQ(RTDirCreate(dir.c_str(), 0700, 0), 0) << dir.size();
        levels.push_back(dir);
    }
    std::string const file = dir + "\\payload.bin";
    ASSERT_GT(file.size(), 300u);

    RTFILE h;
    ASSERT_EQ(RTFileOpen(&h, file.c_str(), 0x1C000322), 0);
    std::string data(70000, '\0');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (char)(i % 253);
    ASSERT_EQ(RTFileWrite(h, data.data(), (uint32_t)data.size(), nullptr), 0);
    EXPECT_EQ(RTFileClose(h), 0);

    ASSERT_EQ(RTFileOpen(&h, file.c_str(), 0x721), 0);
    std::string back(data.size(), '\0');
    ASSERT_EQ(RTFileRead(h, &back[0], (uint32_t)back.size(), nullptr), 0);
    EXPECT_EQ(back, data);
    EXPECT_EQ(RTFileClose(h), 0);

    RTOBJINFO info;
    ASSERT_EQ(RTPathQueryInfo(file.c_str(), &info, RTOBJINFO_ADD_UNIX, RTPATH_QUERY_FOLLOW_LINK), 0);
    EXPECT_EQ(info.size, data.size());
    ASSERT_EQ(RTPathQueryInfo(file.c_str(), &info, RTOBJINFO_ADD_NOTHING, RTPATH_QUERY_FOLLOW_LINK), 0);
    EXPECT_EQ(info.size, data.size());
    EXPECT_TRUE(RTFileExists(file.c_str()));
    EXPECT_TRUE(RTDirExists(dir.c_str()));

    RTDIR hDir;
    ASSERT_EQ(RTDirOpen(&hDir, dir.c_str()), 0);
    EXPECT_EQ(RTDirClose(hDir), 0);

    char templ[1024];
    std::string const t = dir + "\\tmpXXXXXX";
    std::memcpy(templ, t.c_str(), t.size() + 1);
    ASSERT_EQ(RTDirCreateTemp(templ, 0700), 0);
    EXPECT_TRUE(RTDirExists(templ));
    EXPECT_EQ(RTDirRemove(templ), 0);

    EXPECT_EQ(RTFileDelete(file.c_str()), 0);
    for (size_t i = levels.size(); i-- > 0;)
        ASSERT_EQ(RTDirRemove(levels[i].c_str()), 0) << levels[i].size();
    EXPECT_EQ(fstest::EntryCount(root_), 0);
}

TEST(DirTemplate, FindRunTable)
{
    struct Case { const char *templ; int rc; size_t start, cch; };
    const Case cases[] =
    {
        { "C:\\tmp\\XXXXXXXXXXXXXXXXXXXXXXXX", 0, 7, 24 },
        { "C:\\tmp\\fileXXX.tmp", 0, 11, 3 },
        { "C:\\tmp\\fileXXXXX.tmp", 0, 11, 5 },
        { "C:\\tmp\\XXX.tmp", 0, 7, 3 },
        { "C:\\tmp\\fileXX.tmp", ERR_BAD_ARGUMENT, 0, 0 },
        { "C:\\tmp\\fileX", 0, 11, 1 },
        { "XXXX", 0, 0, 4 },
        { "", ERR_BAD_ARGUMENT, 0, 0 },
        { "C:\\XXX\\file.tmp", ERR_BAD_ARGUMENT, 0, 0 },   // only the final component counts
        { "C:\\tmp\\", ERR_BAD_ARGUMENT, 0, 0 },
        { "XXX", 0, 0, 3 },
        { "a.XXXb", 0, 2, 3 },
        { "abc", ERR_BAD_ARGUMENT, 0, 0 },
    };
    for (const Case &c : cases)
    {
        size_t start = 99, cch = 99;
        EXPECT_EQ(RTPathTemplateFindRun(c.templ, &start, &cch), c.rc) << c.templ;
        if (c.rc == 0)
        {
            EXPECT_EQ(start, c.start) << c.templ;
            EXPECT_EQ(cch, c.cch) << c.templ;
        }
    }
}

bool AllFromAlphabet(const char *s, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (!((s[i] >= '0' && s[i] <= '9') || (s[i] >= 'a' && s[i] <= 'z')))
            return false;
    return true;
}

TEST_F(DirTest, UniqueDirectoriesFromTemplates)
{
    std::string const base = root_ + "\\";
    std::set<std::string> names;
    for (int i = 0; i < 2; i++)
    {
        char templ[512];
        std::string const t = base + std::string(24, 'X');
        std::memcpy(templ, t.c_str(), t.size() + 1);
        ASSERT_EQ(RTDirCreateTemp(templ, 0700), 0);
        ASSERT_EQ(std::strlen(templ), t.size());
        EXPECT_EQ(std::string(templ, base.size()), base);
        EXPECT_TRUE(AllFromAlphabet(templ + base.size(), 24)) << templ;
        EXPECT_TRUE(RTDirExists(templ));
        names.insert(templ);
    }
    EXPECT_EQ(names.size(), 2u);

    char bad[512];
    std::string const t = base + "dirXX.tmp";
    std::memcpy(bad, t.c_str(), t.size() + 1);
    EXPECT_EQ(RTDirCreateTemp(bad, 0700), ERR_BAD_ARGUMENT);
    EXPECT_EQ(bad[0], '\0');

    // Another failure than a name clash ends the attempts and empties the template.
    std::string const u = base + "missing\\XXXX";
    std::memcpy(bad, u.c_str(), u.size() + 1);
    EXPECT_EQ(RTDirCreateTemp(bad, 0700), ERR_PATH_NOT_FOUND);
    EXPECT_EQ(bad[0], '\0');
    EXPECT_EQ(fstest::EntryCount(root_), 2);
}

TEST_F(DirTest, UniqueFilesFromTemplates)
{
    std::string const t = root_ + "\\pkgXXX.msi";
    char templ[512];
    std::memcpy(templ, t.c_str(), t.size() + 1);
    RTFILE h = (RTFILE)(intptr_t)0x1234;
    EXPECT_EQ(RTFileCreateTemp(&h, templ, 0x1C000322), ERR_INVALID_FLAGS);
    EXPECT_EQ(h, RTFILE_NIL);
    EXPECT_EQ(std::string(templ), t);

    ASSERT_EQ(RTFileCreateTemp(&h, templ, 0x1C000222), 0);
    size_t const runAt = root_.size() + 4;
    EXPECT_TRUE(AllFromAlphabet(templ + runAt, 3)) << templ;
    EXPECT_EQ(std::string(templ + runAt + 3), ".msi");
    EXPECT_TRUE(RTFileIsValid(h));
    EXPECT_EQ(RTFileWrite(h, "data", 4, nullptr), 0);
    EXPECT_EQ(RTFileClose(h), 0);
    EXPECT_TRUE(RTFileExists(templ));

    std::string const bad = root_ + "\\pkgXX.msi";
    std::memcpy(templ, bad.c_str(), bad.size() + 1);
    EXPECT_EQ(RTFileCreateTemp(&h, templ, 0x1C000222), ERR_BAD_ARGUMENT);
    EXPECT_EQ(templ[0], '\0');
    EXPECT_EQ(h, RTFILE_NIL);
    EXPECT_EQ(fstest::EntryCount(root_), 1);

    EXPECT_EQ(RTFileCreateTemp(&h, nullptr, 0x1C000222), ERR_INVALID_POINTER);
    EXPECT_EQ(RTFileCreateTemp(nullptr, templ, 0x1C000222), ERR_INVALID_POINTER);
    EXPECT_EQ(RTDirCreateTemp(nullptr, 0700), ERR_INVALID_POINTER);
}

TEST(DirRandom, ParkMillerAndRange)
{
    EXPECT_EQ(RTRandParkMillerNext(0), 343173863u);     // 20080806 * 16807 mod (2^31 - 1)
    EXPECT_EQ(RTRandParkMillerNext(1), 16807u);
    EXPECT_EQ(RTRandParkMillerNext(2147483646u), 2147466840u);
    std::set<uint32_t> seen;
    for (int i = 0; i < 2000; i++)
    {
        uint32_t const v = RTRandU32Range(0, 35);
        ASSERT_LE(v, 35u);
        seen.insert(v);
    }
    // Every character of the alphabet shows up in that many draws.
    EXPECT_EQ(seen.size(), 36u);
    for (int i = 0; i < 100; i++)
    {
        uint32_t const v = RTRandU32Range(10, 12);
        ASSERT_GE(v, 10u);
        ASSERT_LE(v, 12u);
    }
}

} // namespace
