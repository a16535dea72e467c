#include "support/probes.h"

#include <windows.h>

namespace plomtest {

std::wstring ProbePath(const std::wstring &name)
{
    wchar_t self[MAX_PATH];
    DWORD cwc = GetModuleFileNameW(nullptr, self, MAX_PATH);
    while (cwc && self[cwc - 1] != L'\\' && self[cwc - 1] != L'/')
        cwc--;
    return std::wstring(self, cwc) + L"probes\\" + name;
}

std::string ProbePathUtf8(const std::wstring &name)
{
    std::wstring const path = ProbePath(name);
    int const cb = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(cb > 0 ? cb - 1 : 0, '\0');
    if (cb > 1)
        WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, &result[0], cb, nullptr, nullptr);
    return result;
}

} // namespace plomtest
