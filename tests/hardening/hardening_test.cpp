// The installer against a hostile machine: libraries planted where a careless program
// would load them, other programs that try to change a package while it is installed,
// runs that fail half-way, and extraction directories beyond the classic path limit.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "box_run.h"
#include "install_fixture.h"
#include "plom_test_packages.h"
#include "support/wine_only.h"

using namespace plomtest;

namespace {

const std::wstring FilesProduct = PLOM_TEST_MSI_FILES_PRODUCT_CODE;
const std::wstring TamperProduct = TAMPER_PRODUCT_CODE;
// What silent runs add to the machine's stores (the timestamp CA on Windows before 10).
const std::pair<const wchar_t *, const wchar_t *> AddedCertificates[] = {
    { L"TrustedPublisher", PLOM_CERT_PUBLISHER1_SHA1 },
    { L"TrustedPublisher", PLOM_CERT_PUBLISHER2_SHA1 },
    { L"Root", PLOM_CERT_TIMESTAMP_CA_SHA1 },
};

const std::vector<std::wstring> NoCertificates = { L"--no-silent-cert", L"--no-install-timestamp-ca" };

std::wstring Helper(const std::wstring &name)
{
    return std::wstring(HELPER_DIR) + L"\\" + name;
}

std::string Text(unsigned long exitCode, const std::string &out, const std::string &err)
{
    return "exit " + std::to_string(exitCode) + "\nstdout:\n" + out + "\nstderr:\n" + err;
}

std::string Text(const ProcessResult &r)
{
    return Text(r.exitCode, r.out, r.err);
}

std::vector<std::wstring> Args(std::vector<std::wstring> first, const std::vector<std::wstring> &more = {})
{
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

std::vector<std::wstring> Entries(const std::wstring &dir)
{
    std::vector<std::wstring> names;
    ListDirectory(dir, names);
    return names;
}

std::string Names(const std::vector<std::wstring> &names)
{
    std::string text;
    for (const std::wstring &n : names)
        text += " '" + WideToUtf8(n) + "'";
    return text.empty() ? " (none)" : text;
}

// Paths beyond MAX_PATH, for the test's own file operations.
std::wstring Long(const std::wstring &path)
{
    return L"\\\\?\\" + path;
}

std::string PackageBytes(const std::wstring &package)
{
    std::string data;
    EXPECT_TRUE(ReadWholeFile(package, data)) << WideToUtf8(package);
    return data;
}

// Every test that installs starts and ends without its products and the publisher
// certificates that silent runs add.
class HardeningInstall : public ::testing::Test
{
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        for (const std::wstring *p : { &FilesProduct, &TamperProduct })
            ASSERT_TRUE(RemoveProduct(*p)) << WideToUtf8(*p);
        for (const auto &c : AddedCertificates)
            ASSERT_TRUE(DeleteCertificates(c.first, c.second)) << WideToUtf8(c.second);
    }
};

// Planted libraries: under the name of every library the installer binds, and of some that
// Windows and the system libraries load on their own, beside the executable and in the
// current directory.
const std::vector<std::wstring> PlantedNames = {
    L"msi", L"crypt32", L"user32", L"shell32", L"ws2_32", L"wsock32", L"comctl32",
    L"version", L"cryptbase", L"dwmapi", L"uxtheme", L"imm32", L"msasn1", L"cabinet",
};

struct PlantedWorld
{
    TempDir root{ L"plomplant" };
    std::wstring app, cwd, temp, markers;

    bool Prepare()
    {
        if (!root.ok())
            return false;
        app = root.file(L"app");
        cwd = root.file(L"cwd");
        temp = root.file(L"temp");
        markers = root.file(L"markers");
        for (const std::wstring *d : { &app, &cwd, &temp, &markers })
            if (!CreateDirectoryW(d->c_str(), nullptr))
                return false;
        for (const std::wstring *d : { &app, &cwd })
            for (const std::wstring &name : PlantedNames)
                if (!CopyFileW(Helper(L"planted_dll.dll").c_str(), (*d + L"\\" + name + L".dll").c_str(), FALSE))
                    return false;
        return true;
    }

    std::vector<std::pair<std::wstring, std::wstring>> Env() const
    {
        return { { L"KELP_TMPDIR", L"" }, { L"TMP", temp }, { L"TEMP", temp },
                 { L"PLOM_PLANTED_MARKERS", markers } };
    }

    ProcessOptions Options() const
    {
        ProcessOptions options;
        options.env = Env();
        options.workDir = cwd;
        return options;
    }

    // Which planted copies were loaded, and by whom; the markers are removed.
    std::string TakeMarkers()
    {
        std::string found;
        for (const std::wstring &name : Entries(markers))
        {
            std::string loader;
            ReadWholeFile(markers + L"\\" + name, loader);
            found += WideToUtf8(name) + " by "
                   + WideToUtf8(std::wstring((const wchar_t *)loader.data(), loader.size() / sizeof(wchar_t))) + "\n";
            DeleteFileW((markers + L"\\" + name).c_str());
        }
        return found;
    }
};

TEST_F(HardeningInstall, PlantedLibrariesAreNeverLoaded)
{
    PlantedWorld world;
    ASSERT_TRUE(world.Prepare());

    // A program that loads by plain name finds the planted copies: the markers work.
    // Under wine the planted files must win over the built-in libraries, as they would on
    // Windows.
    bool const wine = wine::RunningUnderWine();
    std::vector<std::unique_ptr<wine::PreferFoundDlls>> overrides;
    for (const wchar_t *exe : { L"plant-naive.exe", L"plant-setup.exe", L"plant-broken-setup.exe" })
        if (wine)
        {
            overrides.emplace_back(new wine::PreferFoundDlls(exe, PlantedNames));
            ASSERT_TRUE(overrides.back()->ok());
        }
    std::wstring const naive = world.app + L"\\plant-naive.exe";
    ASSERT_TRUE(CopyFileW(Helper(L"naive_loader.exe").c_str(), naive.c_str(), FALSE));
    ProcessResult control = RunProcessArgs(naive, { L"msi.dll", L"version.dll", L"uxtheme.dll" }, world.Options());
    ASSERT_TRUE(control.started);
    std::string const controlMarkers = world.TakeMarkers();
    for (const char *name : { "app-msi.dll.loaded", "app-version.dll.loaded", "app-uxtheme.dll.loaded" })
        ASSERT_NE(std::string::npos, controlMarkers.find(name)) << "planting is not effective here:\n" << controlMarkers << Text(control);

    // A custom directory makes the full run use the shell as well; an interactive failure
    // shows a message box.
    ASSERT_TRUE(CreateDirectoryW((world.app + L"\\.custom").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(world.app + L"\\.custom\\custom.txt", "custom"));
    std::wstring const setup = world.app + L"\\plant-setup.exe";
    std::wstring const broken = world.app + L"\\plant-broken-setup.exe";
    ASSERT_TRUE(CopyFileW(BuiltBundle(L"files").c_str(), setup.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(BuiltBundle(L"second-payload-missing").c_str(), broken.c_str(), FALSE));

    struct Run
    {
        const char *name;
        std::wstring exe;
        std::vector<std::wstring> args;
        bool interactive;
        unsigned long exitCode;
    } const runs[] = {
        { "full run", setup, { L"--silent" }, false, 0 },
        { "extract run", setup, { L"--silent", L"--extract", L"--path", world.root.file(L"extracted") }, false, 0 },
        { "silent error run", broken, Args({ L"--silent" }, NoCertificates), false, 1 },
        { "interactive error run", broken, { L"--extract", L"--path", world.root.file(L"broken") }, true, 1 },
    };
    for (const Run &run : runs)
    {
        SCOPED_TRACE(run.name);
        unsigned long exitCode;
        std::string out, err;
        if (run.interactive)
        {
            // The run inherits the test's current directory.
            wchar_t own[MAX_PATH];
            DWORD const ownLength = GetCurrentDirectoryW(MAX_PATH, own);
            ASSERT_TRUE(ownLength > 0 && ownLength < MAX_PATH);
            ASSERT_TRUE(SetCurrentDirectoryW(world.cwd.c_str()));
            BoxRunResult r = RunCatchingMessageBoxes(run.exe, BuildCommandLine(run.exe, run.args), world.Env(),
                                                     world.root.path());
            SetCurrentDirectoryW(own);
            ASSERT_TRUE(r.started);
            EXPECT_EQ(1u, r.boxes.size()) << "the failure is shown once";
            exitCode = r.exitCode;
            out = r.out;
            err = r.err;
        }
        else
        {
            ProcessResult r = RunProcessArgs(run.exe, run.args, world.Options());
            ASSERT_TRUE(r.started);
            exitCode = r.exitCode;
            out = r.out;
            err = r.err;
        }
        EXPECT_EQ(run.exitCode, exitCode) << Text(exitCode, out, err);
        EXPECT_EQ("", world.TakeMarkers()) << Text(exitCode, out, err);
    }
    EXPECT_TRUE(IsProductInstalled(FilesProduct)) << "the full run did not install";
}

// While the installer service works on an extracted package (its custom action waits for
// the test), nobody can change the package, replace it, or move it away; reading works.
TEST_F(HardeningInstall, PackageCannotBeChangedWhileItIsInstalled)
{
    BundleRun run;
    ASSERT_TRUE(run.Prepare(BuiltBundle(L"tamper"), L"tamper-setup.exe"));
    std::wstring const suffix = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
    std::wstring const readyName = L"PlomTamperReady-" + suffix;
    std::wstring const goName = L"PlomTamperGo-" + suffix;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, goName.c_str());
    HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(ready && go && finished);

    ProcessResult r;
    std::thread installer([&] {
        r = run.Run(Args({ L"--silent", L"--msi-prop", L"PLOMWAITER", Helper(L"ca_waiter.exe"), L"--msi-prop",
                           L"PLOMREADY", readyName, L"--msi-prop", L"PLOMGO", goName },
                         NoCertificates));
        SetEvent(finished);
    });

    HANDLE waitFor[] = { ready, finished };
    DWORD const woken = WaitForMultipleObjects(2, waitFor, FALSE, 15 * 60 * 1000);
    std::wstring package;
    if (woken == WAIT_OBJECT_0)
    {
        // The installer service keeps files of its own there meanwhile.
        std::vector<std::wstring> dirs;
        for (const std::wstring &name : run.Leftovers())
            if (IsDirectory(run.temp + L"\\" + name))
                dirs.push_back(name);
        EXPECT_EQ(1u, dirs.size()) << Names(run.Leftovers());
        std::vector<std::wstring> files = dirs.size() == 1 ? Entries(run.temp + L"\\" + dirs[0]) : dirs;
        EXPECT_EQ(1u, files.size()) << Names(files);
        if (dirs.size() == 1 && files.size() == 1)
            package = run.temp + L"\\" + dirs[0] + L"\\" + files[0];
    }
    else
        ADD_FAILURE() << "the custom action was not reached";

    if (!package.empty())
    {
        std::string const original = PackageBytes(TAMPER_MSI);
        std::wstring const decoy = run.dir.file(L"decoy.msi");
        // No ASSERT before the installer is let go: the thread must be joined.
        EXPECT_TRUE(WriteWholeFile(decoy, "not the package"));
        std::wstring const link = run.dir.file(L"link.msi");
        auto canOpen = [](const std::wstring &path, DWORD access) {
            HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
            if (h == INVALID_HANDLE_VALUE)
                return false;
            CloseHandle(h);
            return true;
        };
        struct Attempt
        {
            const char *name;
            std::function<bool()> act;   // true when the change went through
        } const attempts[] = {
            { "open for writing", [&] { return canOpen(package, GENERIC_WRITE); } },
            { "open for appending", [&] { return canOpen(package, FILE_APPEND_DATA); } },
            { "open for deleting", [&] { return canOpen(package, DELETE); } },
            { "delete", [&] { return DeleteFileW(package.c_str()) != FALSE; } },
            { "rename", [&] { return MoveFileExW(package.c_str(), (package + L".moved").c_str(), 0) != FALSE; } },
            { "replace by another file",
              [&] { return MoveFileExW(decoy.c_str(), package.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE; } },
            { "write through a new hard link",
              [&] {
                  bool const linked = CreateHardLinkW(link.c_str(), package.c_str(), nullptr) != FALSE;
                  bool const written = linked && canOpen(link, GENERIC_WRITE);
                  if (linked)
                      DeleteFileW(link.c_str());
                  return written;
              } },
        };
        for (const Attempt &a : attempts)
        {
            EXPECT_FALSE(a.act()) << a.name << " succeeded";
            std::string now;
            EXPECT_TRUE(ReadWholeFile(package, now)) << "reading failed after: " << a.name;
            EXPECT_TRUE(now == original) << "the package changed after: " << a.name;
        }
    }

    SetEvent(go);
    installer.join();
    CloseHandle(ready);
    CloseHandle(go);
    CloseHandle(finished);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(0u, r.exitCode) << Text(r);
    EXPECT_TRUE(IsProductInstalled(TamperProduct));
    EXPECT_TRUE(run.Leftovers().empty()) << Names(run.Leftovers());
}

// A directory path of more than 300 characters: 12 components of 30.
std::wstring DeepDirectory(const TempDir &root)
{
    std::wstring path = root.path();
    for (int i = 0; i < 12; i++)
    {
        path += L"\\" + std::wstring(29, (wchar_t)(L'a' + i)) + std::to_wstring(i % 10);
        if (!CreateDirectoryW(Long(path).c_str(), nullptr))
            return L"";
    }
    return path;
}

TEST_F(HardeningInstall, ExtractionDirectoryDeeperThanThePathLimit)
{
    BundleRun run;
    ASSERT_TRUE(run.Prepare(BuiltBundle(L"files"), L"deep-setup.exe"));
    std::wstring const deep = DeepDirectory(run.dir);
    ASSERT_FALSE(deep.empty());
    ASSERT_GT(deep.size(), 300u);

    ProcessResult r = run.Run({ L"--silent", L"--extract", L"--path", deep });
    ASSERT_TRUE(r.started);
    EXPECT_EQ(0u, r.exitCode) << Text(r);
    EXPECT_EQ("Files were extracted to: " + WideToUtf8(deep) + "\n", NormalizeNewlines(r.out));
    std::wstring const msiName = std::wstring(PLOM_TEST_MSI_FILES).substr(std::wstring(PLOM_TEST_MSI_FILES).find_last_of(L'\\') + 1);
    std::string extracted;
    EXPECT_TRUE(ReadWholeFile(Long(deep + L"\\" + msiName), extracted));
    EXPECT_TRUE(extracted == PackageBytes(PLOM_TEST_MSI_FILES)) << "the extracted package differs";

    // A directory of its own below it, for a full run, which removes it again.
    std::wstring const fresh = deep + L"\\install";
    r = run.Run(Args({ L"--silent", L"--path", fresh }, NoCertificates));
    ASSERT_TRUE(r.started);
    EXPECT_EQ(0u, r.exitCode) << Text(r);
    EXPECT_TRUE(IsProductInstalled(FilesProduct));
    EXPECT_FALSE(PathExists(Long(fresh)));
    EXPECT_TRUE(run.Leftovers().empty()) << Names(run.Leftovers());
    EXPECT_TRUE(RemoveTree(Long(run.dir.path())));
}

// Runs that fail after they started to put files on disk: what they leave in the
// temporary directory (and in a --path directory) is only what they keep on purpose.
struct FailureCase
{
    const char *name;
    const wchar_t *bundle;
    // Prepares the world; returns extra arguments.
    std::function<std::vector<std::wstring>(BundleRun &)> prepare;
    const char *error;   // expected in standard error
    // Checks what is left (temporary directory and anything the case prepared).
    std::function<void(BundleRun &)> check;
    std::function<void()> after;
};

void ExpectTempEmpty(BundleRun &run)
{
    EXPECT_TRUE(run.Leftovers().empty()) << Names(run.Leftovers());
}

class LeftoversTest : public ::testing::Test {};

TEST_F(LeftoversTest, FailedRunsRemoveWhatTheyExtracted)
{
    std::wstring deepParent;
    FailureCase const cases[] = {
        { "payload of the second package missing", L"second-payload-missing",
          [](BundleRun &) { return std::vector<std::wstring>(); },
          "Error extracting package #1 (second.cab)", ExpectTempEmpty, nullptr },
        { "two packages under one name", L"same-name-twice",
          [](BundleRun &) { return std::vector<std::wstring>(); },
          "Error extracting package #1 (same.cab)", ExpectTempEmpty, nullptr },
        { "package name taken by a directory in an existing --path", L"two-cabs",
          [](BundleRun &run) {
              std::wstring const dir = run.dir.file(L"existing");
              EXPECT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
              EXPECT_TRUE(CreateDirectoryW((dir + L"\\second.cab").c_str(), nullptr));
              return std::vector<std::wstring>{ L"--path", dir };
          },
          "Error extracting package #1 (second.cab)",
          [](BundleRun &run) {
              ExpectTempEmpty(run);
              EXPECT_EQ(std::vector<std::wstring>{ L"second.cab" }, Entries(run.dir.file(L"existing")));
          },
          nullptr },
        { "--path names a file", L"cab",
          [](BundleRun &run) {
              EXPECT_TRUE(WriteWholeFile(run.dir.file(L"afile"), "mine"));
              return std::vector<std::wstring>{ L"--path", run.dir.file(L"afile") };
          },
          "Failed to create extraction path",
          [](BundleRun &run) {
              ExpectTempEmpty(run);
              std::string data;
              EXPECT_TRUE(ReadWholeFile(run.dir.file(L"afile"), data));
              EXPECT_EQ("mine", data);
          },
          nullptr },
        { "package path too long for a deep --path", L"long-name",
          [&](BundleRun &run) {
              // About 3950 characters: the directory fits, the package's 200 more do not.
              deepParent = run.dir.path();
              while (deepParent.size() + 2 < 3950)
              {
                  size_t const length = std::min<size_t>(200, 3950 - deepParent.size() - 1);
                  if (!CreateDirectoryW(Long(deepParent += L"\\" + std::wstring(length, L'd')).c_str(), nullptr))
                      ADD_FAILURE() << "cannot create " << deepParent.size() << " characters deep";
              }
              return std::vector<std::wstring>{ L"--path", deepParent + L"\\new" };
          },
          "Internal error: Build extraction file name failed",
          [&](BundleRun &run) {
              ExpectTempEmpty(run);
              EXPECT_FALSE(PathExists(Long(deepParent + L"\\new"))) << "the created directory stays";
              EXPECT_TRUE(RemoveTree(Long(run.dir.path())));
          },
          nullptr },
        { "custom files cannot be copied", L"cab",
          [](BundleRun &run) {
              // The copy would have to replace a file of the same name with a directory.
              std::wstring const custom = run.dir.file(L".custom");
              EXPECT_TRUE(CreateDirectoryW(custom.c_str(), nullptr));
              EXPECT_TRUE(WriteWholeFile(custom + L"\\a.txt", "a"));
              std::wstring const dir = run.dir.file(L"existing");
              EXPECT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
              EXPECT_TRUE(WriteWholeFile(dir + L"\\.custom", "mine"));
              return std::vector<std::wstring>{ L"--path", dir };
          },
          // The shell refuses, or (wine's) copies the file over it and the directory
          // cannot be opened.
          ".custom",
          [](BundleRun &run) {
              ExpectTempEmpty(run);
              EXPECT_EQ(std::vector<std::wstring>{ L".custom" }, Entries(run.dir.file(L"existing")));
          },
          nullptr },
    };
    for (const FailureCase &c : cases)
    {
        SCOPED_TRACE(c.name);
        BundleRun run;
        ASSERT_TRUE(run.Prepare(BuiltBundle(c.bundle), L"failing-setup.exe"));
        std::vector<std::wstring> const extra = c.prepare(run);
        ProcessResult r = run.Run(Args(Args({ L"--silent" }, NoCertificates), extra));
        if (c.after)
            c.after();
        ASSERT_TRUE(r.started);
        EXPECT_EQ(1u, r.exitCode) << Text(r);
        EXPECT_NE(std::string::npos, r.err.find(c.error)) << Text(r);
        c.check(run);
    }
}

} // namespace
