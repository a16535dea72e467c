#include "support/wine_only.h"

#include <windows.h>

namespace plomtest {

bool IsWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool WineSetAppVersion(const std::wstring &exeName, const std::wstring &version)
{
    std::wstring const keyName = L"Software\\Wine\\AppDefaults\\" + exeName;
    if (version.empty())
    {
        HKEY key;
        LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, keyName.c_str(), 0, KEY_SET_VALUE, &key);
        if (rc == ERROR_FILE_NOT_FOUND)
            return true;
        if (rc != ERROR_SUCCESS)
            return false;
        rc = RegDeleteValueW(key, L"Version");
        RegCloseKey(key);
        return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
    }
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, keyName.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG const rc = RegSetValueExW(key, L"Version", 0, REG_SZ, (const BYTE *)version.c_str(),
                                   (DWORD)((version.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

} // namespace plomtest
