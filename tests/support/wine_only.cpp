#include "support/wine_only.h"
#include "support/temp_dir.h"

#include <windows.h>

#include <shellapi.h>

#include <cctype>
#include <cstdio>
#include <cstring>

namespace plomtest {

bool IsWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool Wine32BitLoaderIsEmulated()
{
    if (sizeof(void *) != 4 || !IsWine())
        return false;
    // wine's 32-bit loader is a 32-bit Linux program: it runs emulated exactly when the
    // host has qemu's user emulation registered for 32-bit x86 programs, and natively
    // (fast) otherwise. The host's /proc shows through wine's Z: drive.
    static int const emulated = [] {
        FILE *f = _wfopen(L"Z:\\proc\\sys\\fs\\binfmt_misc\\qemu-i386", L"r");
        if (!f)
            return 0;
        char line[16] = {};
        bool const enabled = fgets(line, sizeof(line), f) && strncmp(line, "enabled", 7) == 0;
        fclose(f);
        return enabled ? 1 : 0;
    }();
    return emulated != 0;
}

namespace wine {

namespace {

const wchar_t kDebugKey[] = L"Software\\Wine\\Debug";

bool ReadString(HKEY root, const std::wstring &key, const wchar_t *name, std::wstring &value)
{
    wchar_t buf[4096];
    DWORD size = sizeof(buf), type = 0;
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, &type, buf, &size) != ERROR_SUCCESS)
        return false;
    value = buf;
    return true;
}

bool WriteString(HKEY root, const std::wstring &key, const wchar_t *name, const std::wstring &value)
{
    HKEY h;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr) != ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExW(h, name, 0, REG_SZ, (const BYTE *)value.c_str(),
                            (DWORD)((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    return r == ERROR_SUCCESS;
}

void Restore(HKEY root, const std::wstring &key, const wchar_t *name, bool had, const std::wstring &old)
{
    if (had) {
        WriteString(root, key, name, old);
        return;
    }
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, &h) == ERROR_SUCCESS) {
        RegDeleteValueW(h, name);
        RegCloseKey(h);
    }
}

// Reads one L"..." string as wine's debugstr_w writes it, starting at the L.
bool ParseDebugString(const std::string &s, size_t &pos, std::wstring &out, bool &truncated)
{
    out.clear();
    truncated = false;
    if (s.compare(pos, 2, "L\"") != 0)
        return false;
    pos += 2;
    while (pos < s.size() && s[pos] != '"') {
        char c = s[pos++];
        if (c != '\\') {
            out.push_back((wchar_t)(unsigned char)c);
            continue;
        }
        if (pos >= s.size())
            return false;
        char e = s[pos++];
        switch (e) {
        case 'n': out.push_back(L'\n'); break;
        case 'r': out.push_back(L'\r'); break;
        case 't': out.push_back(L'\t'); break;
        default:
            // Other characters as four hex digits (\00e9); \" and \\ stand for themselves.
            if (std::isxdigit((unsigned char)e) && pos + 3 <= s.size()) {
                out.push_back((wchar_t)std::stoul(s.substr(pos - 1, 4), nullptr, 16));
                pos += 3;
                break;
            }
            out.push_back((wchar_t)(unsigned char)e);
            break;
        }
    }
    if (pos >= s.size())
        return false;
    pos++; // closing quote
    if (s.compare(pos, 3, "...") == 0) {
        truncated = true;
        pos += 3;
    }
    return true;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// "0024:" (thread id in hex) followed by a trace class or a relay word.
bool IsTraceLine(const std::string &line)
{
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 8)
        return false;
    for (size_t i = 0; i < colon; i++)
        if (!std::isxdigit((unsigned char)line[i]))
            return false;
    static const char *const kinds[] = {"trace:", "fixme:", "err:", "warn:", "Call ", "Ret ", "CALL ", "RET "};
    for (const char *k : kinds)
        if (line.compare(colon + 1, std::strlen(k), k) == 0)
            return true;
    return false;
}

const wchar_t kLaunchMarker[] = L"--plomtest-wine-launch";

std::string Hex(const std::string &s)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string Unhex(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i + 1 < s.size(); i += 2)
        out.push_back((char)std::stoi(s.substr(i, 2), nullptr, 16));
    return out;
}

// What the launcher is to run, as fields separated by zero bytes: exe, command line,
// working directory, timeout, standard input, then name and value of each variable.
std::string EncodeLaunch(const std::wstring &exe, const std::wstring &cmdLine, const ProcessOptions &o)
{
    std::vector<std::string> fields = {WideToUtf8(exe), WideToUtf8(cmdLine), WideToUtf8(o.workDir),
                                       std::to_string(o.timeoutMs), o.stdinData};
    for (const auto &e : o.env) {
        fields.push_back(WideToUtf8(e.first));
        fields.push_back(WideToUtf8(e.second));
    }
    std::string launch;
    for (const std::string &f : fields) {
        launch += f;
        launch.push_back('\0');
    }
    return Hex(launch);
}

void DecodeLaunch(const std::string &hex, std::wstring &exe, std::wstring &cmdLine, ProcessOptions &o)
{
    std::string launch = Unhex(hex);
    std::vector<std::string> f;
    size_t start = 0;
    for (size_t i = 0; i < launch.size(); i++)
        if (launch[i] == '\0') {
            f.push_back(launch.substr(start, i - start));
            start = i + 1;
        }
    if (f.size() < 5)
        return;
    exe = Utf8ToWide(f[0]);
    cmdLine = Utf8ToWide(f[1]);
    o.workDir = Utf8ToWide(f[2]);
    o.timeoutMs = std::stoul(f[3]);
    o.stdinData = f[4];
    for (size_t i = 5; i + 1 < f.size(); i += 2)
        o.env.push_back({Utf8ToWide(f[i]), Utf8ToWide(f[i + 1])});
}

// The launcher side of RunTraced: the test program started with the marker runs the
// requested program, writes what happened next to the result prefix and ends.
struct LauncherHook {
    LauncherHook()
    {
        int argc = 0;
        wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
        if (!argv || argc != 4 || std::wstring(argv[1]) != kLaunchMarker) {
            LocalFree(argv);
            return;
        }
        std::wstring exe, cmdLine, prefix = argv[3];
        ProcessOptions options;
        DecodeLaunch(WideToUtf8(argv[2]), exe, cmdLine, options);
        ProcessResult r = RunProcess(exe, cmdLine, options);
        WriteWholeFile(prefix + L".out", r.out);
        WriteWholeFile(prefix + L".err", r.err);
        WriteWholeFile(prefix + L".status", std::to_string(r.started) + " " + std::to_string(r.startError)
                       + " " + std::to_string(r.timedOut) + " " + std::to_string(r.exitCode));
        ExitProcess(0);
    }
} launcherHook;

} // namespace

ProcessResult RunTraced(const std::wstring &exe, const std::wstring &cmdLine,
                        const std::wstring &channels, const ProcessOptions &options,
                        std::string &trace)
{
    ProcessResult result;
    trace.clear();
    typedef LONG(WINAPI * SpawnFn)(char *const argv[], int wait);
    typedef char *(CDECL * UnixNameFn)(LPCWSTR);
    auto spawn = (SpawnFn)(void *)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp");
    auto unixName = (UnixNameFn)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    TempDir dir(L"traced");
    if (!spawn || !unixName || !dir.ok())
        return result;
    std::wstring prefix = dir.file(L"run");
    char *traceUnix = unixName((prefix + L".trace").c_str());
    if (!traceUnix)
        return result;
    std::string tracePath = traceUnix;
    HeapFree(GetProcessHeap(), 0, traceUnix);

    ProcessOptions childOptions = options;
    childOptions.env.push_back({L"WINEDEBUG", channels});
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string selfUtf8 = WideToUtf8(self), launch = EncodeLaunch(exe, cmdLine, childOptions),
                prefixUtf8 = WideToUtf8(prefix);
    // The launcher itself stays quiet; only its child gets the channels.
    std::string script = "WINEDEBUG=-all exec \"${WINELOADER:-/usr/lib/wine/wine64}\" \"$1\" "
                         "--plomtest-wine-launch \"$2\" \"$3\" </dev/null >/dev/null 2>\"$4\"";
    char *argv[] = {(char *)"/bin/sh", (char *)"-c", &script[0], (char *)"sh", &selfUtf8[0],
                    &launch[0], &prefixUtf8[0], &tracePath[0], nullptr};
    spawn(argv, 1);

    std::string status;
    if (!ReadWholeFile(prefix + L".status", status))
        return result;
    unsigned started = 0, timedOut = 0;
    unsigned long startError = 0, exitCode = 0;
    if (sscanf(status.c_str(), "%u %lu %u %lu", &started, &startError, &timedOut, &exitCode) != 4)
        return result;
    result.started = started != 0;
    result.startError = startError;
    result.timedOut = timedOut != 0;
    result.exitCode = exitCode;
    ReadWholeFile(prefix + L".out", result.out);
    ReadWholeFile(prefix + L".err", result.err);
    ReadWholeFile(prefix + L".trace", trace);
    return result;
}

bool RunningUnderWine()
{
    return IsWine();
}

AppVersionOverride::AppVersionOverride(const std::wstring &exeName, const std::wstring &version)
    : key_(L"Software\\Wine\\AppDefaults\\" + exeName)
{
    hadValue_ = ReadString(HKEY_CURRENT_USER, key_, L"Version", oldValue_);
    ok_ = WriteString(HKEY_CURRENT_USER, key_, L"Version", version);
}

AppVersionOverride::~AppVersionOverride()
{
    Restore(HKEY_CURRENT_USER, key_, L"Version", hadValue_, oldValue_);
}

PreferFoundDlls::PreferFoundDlls(const std::wstring &exeName, const std::vector<std::wstring> &names)
    : key_(L"Software\\Wine\\AppDefaults\\" + exeName + L"\\DllOverrides"), names_(names)
{
    for (const std::wstring &name : names_)
    {
        std::wstring old;
        hadValue_.push_back(ReadString(HKEY_CURRENT_USER, key_, name.c_str(), old));
        oldValue_.push_back(old);
        ok_ = WriteString(HKEY_CURRENT_USER, key_, name.c_str(), L"native,builtin") && ok_;
    }
}

PreferFoundDlls::~PreferFoundDlls()
{
    for (size_t i = 0; i < names_.size(); i++)
        Restore(HKEY_CURRENT_USER, key_, names_[i].c_str(), hadValue_[i], oldValue_[i]);
}

RelayInclude::RelayInclude(const std::wstring &functions)
{
    hadValue_ = ReadString(HKEY_CURRENT_USER, kDebugKey, L"RelayInclude", oldValue_);
    std::wstring value = functions;
    if (hadValue_ && !oldValue_.empty())
        value = oldValue_ + L";" + functions;
    ok_ = WriteString(HKEY_CURRENT_USER, kDebugKey, L"RelayInclude", value);
}

RelayInclude::~RelayInclude()
{
    Restore(HKEY_CURRENT_USER, kDebugKey, L"RelayInclude", hadValue_, oldValue_);
}

std::vector<MessageBoxCall> ParseMessageBoxCalls(const std::string &trace)
{
    std::vector<MessageBoxCall> calls;
    for (const std::string &line : Lines(trace)) {
        size_t at = line.find(":Call user32.MessageBoxW(");
        if (at == std::string::npos)
            continue;
        // Arguments: owner, text, title, style; strings as "<address> L"..."".
        size_t pos = line.find(',', at);
        MessageBoxCall call;
        std::wstring *fields[] = {&call.text, &call.title};
        bool good = pos != std::string::npos;
        for (std::wstring *f : fields) {
            if (!good)
                break;
            size_t l = line.find("L\"", pos);
            size_t comma = line.find(',', pos + 1);
            bool truncated = false;
            if (l == std::string::npos || (comma != std::string::npos && comma < l)) {
                f->clear(); // a null pointer is printed without a string
                pos = comma;
                good = comma != std::string::npos;
                continue;
            }
            pos = l;
            good = ParseDebugString(line, pos, *f, truncated);
            call.truncated |= truncated;
            pos = line.find(',', pos);
            good = good && pos != std::string::npos;
        }
        if (!good)
            continue;
        call.style = std::stoul(line.substr(pos + 1), nullptr, 16);
        calls.push_back(call);
    }
    return calls;
}

std::vector<std::wstring> ParseLoadedModules(const std::string &trace)
{
    std::vector<std::wstring> modules;
    for (const std::string &line : Lines(trace)) {
        size_t at = line.find(":trace:loaddll:");
        if (at == std::string::npos)
            continue;
        size_t l = line.find("Loaded L\"", at);
        if (l == std::string::npos)
            continue;
        size_t pos = l + 7;
        std::wstring path;
        bool truncated;
        if (ParseDebugString(line, pos, path, truncated))
            modules.push_back(path);
    }
    return modules;
}

std::string StripTraceLines(const std::string &text)
{
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        size_t next = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(start, next - start);
        if (!IsTraceLine(line))
            out += line;
        start = next;
    }
    return out;
}

} // namespace wine
} // namespace plomtest

// GoogleTest hands every failure and skip message to OutputDebugStringA as well. Wine's
// 32-bit kernel32 raises an exception there and catches it again, and the 32-bit loader
// under qemu user emulation dies while unwinding it ("Unhandled illegal instruction" in
// kernel32), which ended 32-bit test runs at their first skipped test. The import slot
// that GoogleTest calls through is taken over here: in that one setting the message is
// dropped (it has been printed already), everywhere else it goes on to Windows.
namespace {

void WINAPI TestOutputDebugStringA(LPCSTR text)
{
    if (plomtest::Wine32BitLoaderIsEmulated())
        return;
    typedef void (WINAPI *PFNOUTPUTDEBUGSTRINGA)(LPCSTR);
    static PFNOUTPUTDEBUGSTRINGA const real = (PFNOUTPUTDEBUGSTRINGA)(void *)GetProcAddress(
        GetModuleHandleW(L"kernel32.dll"), "OutputDebugStringA");
    if (real)
        real(text);
}

} // namespace

#if defined(__i386__)
# define PLOMTEST_IMP_OUTPUTDEBUGSTRINGA "__imp__OutputDebugStringA@4"
#else
# define PLOMTEST_IMP_OUTPUTDEBUGSTRINGA "__imp_OutputDebugStringA"
#endif
extern "C" void (WINAPI *plomtestImpOutputDebugStringA)(LPCSTR)
    __asm__(PLOMTEST_IMP_OUTPUTDEBUGSTRINGA);
void (WINAPI *plomtestImpOutputDebugStringA)(LPCSTR) = TestOutputDebugStringA;
