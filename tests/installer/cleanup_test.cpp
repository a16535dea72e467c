// The cleanup list on real files: what RunCleanup deletes, what it keeps, and which
// records it leaves behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include <kelp/init.h>

#include "PlomStub.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"

using namespace plomtest;

namespace {

class CleanupTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { ASSERT_EQ(RTR3Init(0, nullptr, 4), 0); }

    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        silent = true;
        InitCleanupList();
    }
    void TearDown() override { FreeCleanupRecords(); }

    std::string U8(const std::wstring &path) { return WideToUtf8(path); }

    CleanupRecord *AddDir(const std::wstring &path, bool open)
    {
        CleanupRecord *record = AddCleanupRecord(U8(path).c_str(), false);
        if (record && open)
            EXPECT_EQ(RTDirOpen(&record->handle.dir, record->path), 0);
        return record;
    }

    CleanupRecord *AddFile(const std::wstring &path, int32_t packageIndex, bool open)
    {
        CleanupRecord *record = AddCleanupRecord(U8(path).c_str(), true);
        if (record)
        {
            record->packageIndex = packageIndex;
            if (open)
                EXPECT_EQ(RTFileOpen(&record->handle.file, record->path,
                                     RTFILE_OPEN_READ | RTFILE_OPEN_DENY_WRITE | RTFILE_OPEN_EXISTING), 0);
        }
        return record;
    }

    TempDir dir{ L"cleanup" };
};

TEST_F(CleanupTest, RecordsAreNewestFirstAndFoundByPackage)
{
    EXPECT_TRUE(IsCleanupListEmpty());
    CleanupRecord *d = AddCleanupRecord("C:\\x", false);
    CleanupRecord *a = AddCleanupRecord("C:\\x\\a", true);
    CleanupRecord *b = AddCleanupRecord("C:\\x\\b", true);
    ASSERT_TRUE(d && a && b);
    EXPECT_EQ(d->packageIndex, -1);
    EXPECT_EQ(a->handle.file, RTFILE_NIL);
    EXPECT_EQ(d->handle.dir, nullptr);
    EXPECT_FALSE(d->keep);
    EXPECT_STREQ(b->path, "C:\\x\\b");
    a->packageIndex = 0;
    b->packageIndex = 0;
    EXPECT_EQ(cleanupList.next, b);
    EXPECT_EQ(b->next, a);
    EXPECT_EQ(a->next, d);
    // The newest record of a package wins, as the search starts at the front.
    EXPECT_EQ(FindCleanupRecordForPackage(0), b);
    EXPECT_EQ(FindCleanupRecordForPackage(1), nullptr);
    FreeCleanupRecords();
    EXPECT_TRUE(IsCleanupListEmpty());
}

TEST_F(CleanupTest, NormalRunDeletesFilesThenTheDirectory)
{
    std::wstring const ext = dir.file(L"ext");
    ASSERT_TRUE(CreateDirectoryW(ext.c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(ext + L"\\p0.cab", "zero"));
    ASSERT_TRUE(WriteWholeFile(ext + L"\\p1.cab", "one"));
    AddDir(ext, true);
    AddFile(ext + L"\\p0.cab", 0, true);
    AddFile(ext + L"\\p1.cab", 1, true);
    // A file that is already gone counts as deleted.
    AddFile(ext + L"\\gone.cab", 2, false);

    RunCleanup(U8(ext).c_str());
    EXPECT_TRUE(IsCleanupListEmpty());
    EXPECT_FALSE(PathExists(ext));
}

TEST_F(CleanupTest, DirectoryThatExistedBeforeIsKept)
{
    std::wstring const ext = dir.file(L"mine");
    ASSERT_TRUE(CreateDirectoryW(ext.c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(ext + L"\\p0.cab", "zero"));
    AddDir(ext, true)->keep = true;
    AddFile(ext + L"\\p0.cab", 0, true);

    RunCleanup(nullptr);
    EXPECT_TRUE(IsCleanupListEmpty());
    EXPECT_TRUE(IsDirectory(ext));
    std::vector<std::wstring> names;
    ASSERT_TRUE(ListDirectory(ext, names));
    EXPECT_TRUE(names.empty());
}

TEST_F(CleanupTest, KeptFileIsClosedButNotDeleted)
{
    std::wstring const file = dir.file(L"kept.cab");
    ASSERT_TRUE(WriteWholeFile(file, "data"));
    CleanupRecord *record = AddFile(file, 0, true);
    record->keep = true;
    RunCleanup(nullptr);
    EXPECT_TRUE(IsCleanupListEmpty());
    EXPECT_TRUE(PathExists(file));
    // The handle is closed: the file can be opened for writing now.
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
}

TEST_F(CleanupTest, EmptyListWithoutDirectoryReturns)
{
    RunCleanup(nullptr);
    EXPECT_TRUE(IsCleanupListEmpty());
}

} // namespace
