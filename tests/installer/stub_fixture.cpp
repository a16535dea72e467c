#include "stub_fixture.h"

#include <windows.h>

#include <cstring>

namespace plomtest {

std::wstring TestProgramDir()
{
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L"\\/"));
}

std::wstring StubExe()
{
    return TestProgramDir() + L"\\PlomStub.exe";
}

std::string PackageBytes(size_t size, unsigned seed)
{
    std::string data(size, '\0');
    uint32_t x = 0x9E3779B9u * (seed + 1);
    for (size_t i = 0; i < size; i++)
    {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[i] = (char)(x >> 24);
    }
    return data;
}

namespace {

const char *ArchWord(uint32_t arch)
{
    switch (arch)
    {
        case 1: return "any";
        case 2: return "x86";
        case 3: return "amd64";
        default: return nullptr;
    }
}

} // namespace

bool MakeBundle(const std::wstring &out, const std::vector<TestPackage> &packages, const std::wstring &workDir,
                std::string *error, int manifestCount)
{
    std::vector<std::wstring> args = { L"--stub", StubExe(), L"--output", out };
    for (size_t i = 0; i < packages.size(); i++)
    {
        const TestPackage &p = packages[i];
        std::wstring const file = workDir + L"\\package" + std::to_wstring(i) + L"-" + Utf8ToWide(p.fileName);
        if (!WriteWholeFile(file, p.data))
        {
            if (error)
                *error = "cannot write " + WideToUtf8(file);
            return false;
        }
        const char *word = ArchWord(p.arch);
        args.insert(args.end(), { L"--package", file, L"--arch", word ? Utf8ToWide(word) : std::to_wstring(p.arch),
                                  L"--name", Utf8ToWide(p.fileName) });
        if (p.noPayload)
            args.push_back(L"--no-payload");
    }
    if (manifestCount >= 0)
        args.insert(args.end(), { L"--manifest-count", std::to_wstring(manifestCount) });
    ProcessResult r = RunProcessArgs(PLOM_BUNDLE_EXE, args);
    if (!r.started || r.exitCode != 0)
    {
        if (error)
            *error = "bundle builder failed: " + r.err;
        return false;
    }
    return true;
}

std::vector<std::pair<std::wstring, std::wstring>> TempEnv(const std::wstring &dir)
{
    return { { L"KELP_TMPDIR", L"" }, { L"TMP", dir }, { L"TEMP", dir } };
}

ProcessResult RunStub(const std::wstring &exe, const std::vector<std::wstring> &args, const std::wstring &tmpDir,
                      std::vector<std::pair<std::wstring, std::wstring>> extraEnv)
{
    ProcessOptions options;
    options.env = TempEnv(tmpDir);
    options.env.insert(options.env.end(), extraEnv.begin(), extraEnv.end());
    options.workDir = tmpDir;
    return RunProcessArgs(exe, args, options);
}

std::string ProgramName(const std::wstring &exe)
{
    return WideToUtf8(exe.substr(exe.find_last_of(L"\\/") + 1));
}

} // namespace plomtest
