#include "support/temp_dir.h"
#include "support/process_runner.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

namespace plomtest {

TempDir::TempDir(const std::wstring &prefix)
{
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, base);
    if (n == 0 || n > MAX_PATH)
        return;
    std::wstring dir(base, n);
    if (!dir.empty() && dir.back() == L'\\')
        dir.pop_back();
    for (int attempt = 0; attempt < 100; attempt++) {
        wchar_t name[96];
        wsprintfW(name, L"\\%s-%lu-%u-%lu", prefix.c_str(), GetCurrentProcessId(), counter++,
                  GetTickCount());
        std::wstring candidate = dir + name;
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return;
    }
}

TempDir::~TempDir()
{
    if (!path_.empty())
        RemoveTree(path_);
}

std::string TempDir::pathUtf8() const
{
    return WideToUtf8(path_);
}

bool RemoveTree(const std::wstring &path)
{
    DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return true;
    if (attrs & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY) || (attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (attrs & FILE_ATTRIBUTE_DIRECTORY)
            return RemoveDirectoryW(path.c_str()) != FALSE;
        return DeleteFileW(path.c_str()) != FALSE;
    }
    std::vector<std::wstring> names;
    ListDirectory(path, names);
    for (const auto &name : names)
        RemoveTree(path + L"\\" + name);
    return RemoveDirectoryW(path.c_str()) != FALSE;
}

bool PathExists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::wstring &path)
{
    DWORD attrs = GetFileAttributesW(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadWholeFile(const std::wstring &path, std::string &data)
{
    data.clear();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE
                           | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(h, &size) != FALSE;
    if (ok) {
        data.resize((size_t)size.QuadPart);
        size_t done = 0;
        while (ok && done < data.size()) {
            DWORD chunk = (DWORD)std::min<size_t>(data.size() - done, 1 << 24), n = 0;
            ok = ReadFile(h, &data[done], chunk, &n, nullptr) && n > 0;
            done += n;
        }
    }
    CloseHandle(h);
    return ok;
}

bool WriteWholeFile(const std::wstring &path, const std::string &data)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < data.size()) {
        DWORD chunk = (DWORD)std::min<size_t>(data.size() - done, 1 << 24), n = 0;
        ok = WriteFile(h, data.data() + done, chunk, &n, nullptr) && n == chunk;
        done += n;
    }
    ok = CloseHandle(h) && ok;
    return ok;
}

bool ListDirectory(const std::wstring &path, std::vector<std::wstring> &names)
{
    names.clear();
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        std::wstring n = fd.cFileName;
        if (n != L"." && n != L"..")
            names.push_back(n);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return true;
}

} // namespace plomtest
