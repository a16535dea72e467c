#include "support/wine_only.h"

#include <windows.h>

#include <sstream>

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

std::pair<std::wstring, std::wstring> EnableMessageBoxTrace()
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Debug", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS)
    {
        static const wchar_t include[] = L"user32.MessageBoxW;user32.MessageBoxA";
        RegSetValueExW(key, L"RelayInclude", 0, REG_SZ, (const BYTE *)include, sizeof(include));
        RegCloseKey(key);
    }
    return { L"WINEDEBUG", L"+relay" };
}

namespace {

// Reads one traced string argument starting at the opening quote; undoes wine's escapes.
bool ReadTracedString(const std::string &line, size_t &pos, std::string &out)
{
    if (pos >= line.size() || line[pos] != '"')
        return false;
    for (pos++; pos < line.size(); pos++)
    {
        char c = line[pos];
        if (c == '"')
        {
            pos++;
            return true;
        }
        if (c != '\\' || pos + 1 >= line.size())
        {
            out += c;
            continue;
        }
        c = line[++pos];
        switch (c)
        {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'x':
            {
                // \xHHHH: a UTF-16 unit (or a byte for 8-bit strings).
                size_t n = 0;
                unsigned value = 0;
                while (n < 4 && pos + 1 < line.size() && isxdigit((unsigned char)line[pos + 1]))
                {
                    char h = line[++pos];
                    value = value * 16 + (isdigit((unsigned char)h) ? h - '0' : (tolower(h) - 'a' + 10));
                    n++;
                }
                wchar_t w = (wchar_t)value;
                char buf[8];
                int len = WideCharToMultiByte(CP_UTF8, 0, &w, 1, buf, sizeof(buf), nullptr, nullptr);
                out.append(buf, len > 0 ? len : 0);
                break;
            }
            default: out += c; break;
        }
    }
    return false;
}

// Skips to the next string argument: past the hex pointer and the L prefix.
bool NextString(const std::string &line, size_t &pos, std::string &out)
{
    size_t q = line.find('"', pos);
    if (q == std::string::npos)
        return false;
    pos = q;
    return ReadTracedString(line, pos, out);
}

} // namespace

std::vector<MessageBoxCall> ParseMessageBoxTrace(const std::string &err)
{
    std::vector<MessageBoxCall> calls;
    std::istringstream in(err);
    std::string line;
    while (std::getline(in, line))
    {
        for (const char *fn : { "MessageBoxW", "MessageBoxA" })
        {
            std::string const marker = std::string("Call user32.") + fn + "(";
            size_t pos = line.find(marker);
            if (pos == std::string::npos)
                continue;
            pos += marker.size();
            MessageBoxCall call;
            call.function = fn;
            if (!NextString(line, pos, call.text) || !NextString(line, pos, call.title))
                continue;
            size_t comma = line.find(',', pos);
            if (comma != std::string::npos)
                call.style = strtoul(line.c_str() + comma + 1, nullptr, 16);
            calls.push_back(call);
        }
    }
    return calls;
}

std::string StripWineNoise(const std::string &err)
{
    std::istringstream in(err);
    std::string line, out;
    while (std::getline(in, line, '\n'))
    {
        bool const trace = line.find("Call user32.") != std::string::npos
                        || line.find("Ret  user32.") != std::string::npos
                        || line.find("no driver could be loaded") != std::string::npos
                        || line.find("Make sure that your X server") != std::string::npos
                        || line.find("explorer.exe") != std::string::npos
                        || line.find("err:") != std::string::npos
                        || line.find("fixme:") != std::string::npos;
        if (!trace)
            out += line + "\n";
    }
    if (!err.empty() && err.back() != '\n' && !out.empty())
        out.pop_back();
    return out;
}

} // namespace plomtest
