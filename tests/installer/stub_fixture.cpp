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

const WORD LangEnUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

bool UpdateRcData(HANDLE update, const std::wstring &name, const void *data, DWORD size)
{
    return UpdateResourceW(update, MAKEINTRESOURCEW(10), name.c_str(), LangEnUs, const_cast<void *>(data), size) != FALSE;
}

std::wstring Numbered(const wchar_t *prefix, size_t i)
{
    wchar_t buf[32];
    swprintf(buf, 32, L"%ls%02u", prefix, (unsigned)i);
    return buf;
}

} // namespace

bool MakeBundle(const std::wstring &out, const std::vector<TestPackage> &packages, std::string *error)
{
    if (!CopyFileW(StubExe().c_str(), out.c_str(), FALSE))
    {
        if (error)
            *error = "copying the stub failed";
        return false;
    }
    HANDLE update = BeginUpdateResourceW(out.c_str(), FALSE);
    if (!update)
    {
        if (error)
            *error = "BeginUpdateResourceW failed";
        return false;
    }
    bool ok = true;
    unsigned char manifest[16] = {};
    memcpy(manifest, "PlomInstV1", 10);
    manifest[15] = (unsigned char)packages.size();
    ok = ok && UpdateRcData(update, L"MANIFEST", manifest, sizeof(manifest));
    for (size_t i = 0; i < packages.size() && ok; i++)
    {
        unsigned char header[256] = {};
        uint32_t const arch = packages[i].arch;
        memcpy(header, &arch, 4);
        std::string const payload = "BIN_" + std::string(i < 10 ? "0" : "") + std::to_string(i);
        std::string const resName = packages[i].resourceName.empty() ? payload : packages[i].resourceName;
        memcpy(header + 4, resName.c_str(), resName.size());
        memcpy(header + 32, packages[i].fileName.c_str(), packages[i].fileName.size());
        ok = UpdateRcData(update, Numbered(L"HDR_", i), header, sizeof(header))
          && UpdateRcData(update, Numbered(L"BIN_", i), packages[i].data.data(), (DWORD)packages[i].data.size());
    }
    if (!EndUpdateResourceW(update, !ok) || !ok)
    {
        if (error)
            *error = "updating the resources failed";
        return false;
    }
    return true;
}

bool SetManifestCount(const std::wstring &exe, uint8_t count)
{
    unsigned char manifest[16] = {};
    memcpy(manifest, "PlomInstV1", 10);
    manifest[15] = count;
    HANDLE update = BeginUpdateResourceW(exe.c_str(), FALSE);
    if (!update)
        return false;
    bool ok = UpdateRcData(update, L"MANIFEST", manifest, sizeof(manifest));
    return EndUpdateResourceW(update, !ok) && ok;
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
