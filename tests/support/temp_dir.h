// A uniquely named directory under %TEMP% for one test, removed with everything in it
// when the object goes away.
#pragma once

#include <string>
#include <vector>

namespace plomtest {

class TempDir {
public:
    // prefix becomes the start of the directory's name.
    explicit TempDir(const std::wstring &prefix = L"plomtest");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    bool ok() const { return !path_.empty(); }
    const std::wstring &path() const { return path_; }   // no trailing backslash
    std::string pathUtf8() const;
    std::wstring file(const std::wstring &name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Deletes a file or a whole directory tree (read-only attributes cleared first).
// Returns true when nothing remains.
bool RemoveTree(const std::wstring &path);

bool PathExists(const std::wstring &path);
bool IsDirectory(const std::wstring &path);
bool ReadWholeFile(const std::wstring &path, std::string &data);
bool WriteWholeFile(const std::wstring &path, const std::string &data);
// Names of the entries directly in a directory, without "." and "..", sorted.
bool ListDirectory(const std::wstring &path, std::vector<std::wstring> &names);

} // namespace plomtest
