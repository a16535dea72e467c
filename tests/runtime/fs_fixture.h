// A fresh directory under %TEMP% for each file-system test, removed with everything in it
// afterwards (also trees too deep for plain Win32 paths).
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace fstest
{

inline std::wstring Utf8ToWide(const std::string &s)
{
    if (s.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], n);
    return w;
}

inline std::string WideToUtf8(const std::wstring &w)
{
    if (w.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

// The "\\?\" form of an absolute drive path, so that deep trees can be checked and removed.
inline std::wstring LongForm(const std::string &path)
{
    return L"\\\\?\\" + Utf8ToWide(path);
}

inline DWORD Attributes(const std::string &path)
{
    return GetFileAttributesW(LongForm(path).c_str());
}

inline bool Exists(const std::string &path)
{
    return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

inline void RemoveTree(const std::wstring &longPath)
{
    DWORD attrs = GetFileAttributesW(longPath.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return;
    if (attrs & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(longPath.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY))
    {
        DeleteFileW(longPath.c_str());
        return;
    }
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((longPath + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE)
    {
        do
        {
            std::wstring name = fd.cFileName;
            if (name != L"." && name != L"..")
                RemoveTree(longPath + L"\\" + name);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(longPath.c_str());
}

// Counts the entries of a directory (without "." and "..").
inline int EntryCount(const std::string &dir)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((LongForm(dir) + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    int n = 0;
    do
    {
        std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..")
            n++;
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return n;
}

// Wine exports this from its ntdll; Windows does not. Used only to skip checks of
// behaviour that wine does not have, each named for it.
inline bool UnderWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class TempDirTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t base[MAX_PATH + 1];
        DWORD n = GetTempPathW(MAX_PATH + 1, base);
        ASSERT_TRUE(n > 0 && n <= MAX_PATH);
        wchar_t full[MAX_PATH + 1];
        ASSERT_NE(GetLongPathNameW(base, full, MAX_PATH + 1), 0u);
        std::wstring dir = full;
        if (!dir.empty() && dir.back() == L'\\')
            dir.pop_back();
        static unsigned counter;
        for (int attempt = 0; attempt < 100 && root_.empty(); attempt++)
        {
            wchar_t name[64];
            wsprintfW(name, L"\\kelpfs-%lu-%u", GetCurrentProcessId(), counter++);
            std::wstring candidate = dir + name;
            if (CreateDirectoryW(candidate.c_str(), nullptr))
                root_ = WideToUtf8(candidate);
        }
        ASSERT_FALSE(root_.empty());
    }

    void TearDown() override
    {
        if (!root_.empty())
            RemoveTree(LongForm(root_));
    }

    std::string Path(const std::string &name) const { return root_ + "\\" + name; }

    // Writes a file with the given bytes through Windows directly.
    void MakeFile(const std::string &name, const std::string &content)
    {
        HANDLE h = CreateFileW(LongForm(Path(name)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(h, content.data(), (DWORD)content.size(), &written, nullptr));
        CloseHandle(h);
    }

    std::string root_;
};

} // namespace fstest
