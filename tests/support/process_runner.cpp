#include "support/process_runner.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwctype>

namespace plomtest {
namespace {

// One end of an overlapped pipe read or written by the parent while the child runs.
struct PipeEnd {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED ov{};
    bool pending = false;
    bool done = false;
    char buf[4096];
};

void ClosePipeEnd(PipeEnd &p)
{
    if (p.pending) {
        CancelIo(p.pipe);
        DWORD n;
        GetOverlappedResult(p.pipe, &p.ov, &n, TRUE);
        p.pending = false;
    }
    if (p.pipe != INVALID_HANDLE_VALUE)
        CloseHandle(p.pipe);
    if (p.event)
        CloseHandle(p.event);
    p.pipe = INVALID_HANDLE_VALUE;
    p.event = nullptr;
}

// A named pipe is used instead of CreatePipe because only named pipes can be read with
// overlapped I/O, which lets one thread drain stdout and stderr without deadlock.
bool MakePipe(bool parentReads, PipeEnd &parent, HANDLE &child)
{
    static std::atomic<unsigned> counter{0};
    wchar_t name[128];
    wsprintfW(name, L"\\\\.\\pipe\\plomtest-%lu-%lu-%u", GetCurrentProcessId(),
              GetTickCount(), counter++);
    parent.pipe = CreateNamedPipeW(name,
        (parentReads ? PIPE_ACCESS_INBOUND : PIPE_ACCESS_OUTBOUND) | FILE_FLAG_OVERLAPPED
            | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
    if (parent.pipe == INVALID_HANDLE_VALUE)
        return false;
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    child = CreateFileW(name, parentReads ? GENERIC_WRITE : GENERIC_READ, 0, &sa,
                        OPEN_EXISTING, 0, nullptr);
    if (child == INVALID_HANDLE_VALUE) {
        ClosePipeEnd(parent);
        return false;
    }
    parent.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return parent.event != nullptr;
}

// Starts the next read; data that arrives at once is appended right away.
void StartRead(PipeEnd &p, std::string &sink)
{
    while (!p.done && !p.pending) {
        ResetEvent(p.event);
        p.ov = OVERLAPPED{};
        p.ov.hEvent = p.event;
        DWORD n = 0;
        if (ReadFile(p.pipe, p.buf, sizeof(p.buf), &n, &p.ov)) {
            sink.append(p.buf, n);
            continue;
        }
        DWORD e = GetLastError();
        if (e == ERROR_IO_PENDING)
            p.pending = true;
        else
            p.done = true; // ERROR_BROKEN_PIPE: the writer closed its end
    }
}

void FinishRead(PipeEnd &p, std::string &sink)
{
    DWORD n = 0;
    p.pending = false;
    if (GetOverlappedResult(p.pipe, &p.ov, &n, FALSE))
        sink.append(p.buf, n);
    else if (GetLastError() != ERROR_MORE_DATA)
        p.done = true;
    else
        sink.append(p.buf, n);
}

void StartWrite(PipeEnd &p, const std::string &data, size_t &offset)
{
    while (!p.done && !p.pending) {
        if (offset >= data.size()) {
            // Closing our end gives the child end-of-file.
            CloseHandle(p.pipe);
            p.pipe = INVALID_HANDLE_VALUE;
            p.done = true;
            return;
        }
        ResetEvent(p.event);
        p.ov = OVERLAPPED{};
        p.ov.hEvent = p.event;
        DWORD chunk = (DWORD)std::min<size_t>(data.size() - offset, 65536);
        DWORD n = 0;
        if (WriteFile(p.pipe, data.data() + offset, chunk, &n, &p.ov)) {
            offset += n;
            continue;
        }
        if (GetLastError() == ERROR_IO_PENDING)
            p.pending = true;
        else
            p.done = true; // the child closed its standard input
    }
}

void FinishWrite(PipeEnd &p, size_t &offset)
{
    DWORD n = 0;
    p.pending = false;
    if (GetOverlappedResult(p.pipe, &p.ov, &n, FALSE))
        offset += n;
    else
        p.done = true;
}

bool NameEquals(const std::wstring &a, const std::wstring &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::towupper(a[i]) != std::towupper(b[i]))
            return false;
    return true;
}

// The test's environment with the requested changes, as a CREATE_UNICODE_ENVIRONMENT block.
std::wstring BuildEnvironment(const std::vector<std::pair<std::wstring, std::wstring>> &changes)
{
    std::vector<std::wstring> vars;
    wchar_t *block = GetEnvironmentStringsW();
    for (const wchar_t *p = block; p && *p; p += wcslen(p) + 1)
        vars.emplace_back(p);
    if (block)
        FreeEnvironmentStringsW(block);
    for (const auto &change : changes) {
        auto same = [&](const std::wstring &v) {
            // Entries such as "=C:=C:\dir" start with '=': the name runs to the second '='.
            size_t eq = v.find(L'=', 1);
            return eq != std::wstring::npos && NameEquals(v.substr(0, eq), change.first);
        };
        vars.erase(std::remove_if(vars.begin(), vars.end(), same), vars.end());
        if (!change.second.empty())
            vars.push_back(change.first + L"=" + change.second);
    }
    std::wstring out;
    for (const auto &v : vars) {
        out += v;
        out.push_back(L'\0');
    }
    out.push_back(L'\0');
    return out;
}

} // namespace

std::wstring Utf8ToWide(const std::string &s)
{
    if (s.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], n);
    return w;
}

std::string WideToUtf8(const std::wstring &w)
{
    if (w.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

std::string NormalizeNewlines(const std::string &s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')
            continue;
        out.push_back(s[i]);
    }
    return out;
}

std::wstring QuoteArg(const std::wstring &arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            backslashes++;
            continue;
        }
        if (c == L'"')
            out.append(backslashes * 2 + 1, L'\\');
        else
            out.append(backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    // Backslashes before the closing quote are doubled so they stay literal.
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

std::wstring BuildCommandLine(const std::wstring &exe, const std::vector<std::wstring> &args)
{
    std::wstring cmd = QuoteArg(exe);
    for (const auto &a : args) {
        cmd.push_back(L' ');
        cmd += QuoteArg(a);
    }
    return cmd;
}

ProcessResult RunProcess(const std::wstring &exe, const std::wstring &cmdLine,
                         const ProcessOptions &options)
{
    ProcessResult result;
    PipeEnd out, err, in;
    HANDLE childOut = INVALID_HANDLE_VALUE, childErr = INVALID_HANDLE_VALUE;
    HANDLE childIn = INVALID_HANDLE_VALUE;
    bool feedInput = !options.stdinData.empty();

    bool ok = MakePipe(true, out, childOut) && MakePipe(true, err, childErr);
    if (ok && feedInput) {
        ok = MakePipe(false, in, childIn);
    } else if (ok) {
        SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
        childIn = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                              OPEN_EXISTING, 0, nullptr);
        ok = childIn != INVALID_HANDLE_VALUE;
    }

    PROCESS_INFORMATION pi{};
    if (ok) {
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = childIn;
        si.hStdOutput = childOut;
        si.hStdError = childErr;
        std::wstring cmd = cmdLine; // CreateProcessW may write into the command line
        std::wstring env = BuildEnvironment(options.env);
        ok = CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE,
                            CREATE_UNICODE_ENVIRONMENT, &env[0],
                            options.workDir.empty() ? nullptr : options.workDir.c_str(),
                            &si, &pi) != FALSE;
    }
    if (!ok)
        result.startError = GetLastError();
    // Only the child may hold the write ends, or the reads would never see end-of-file.
    for (HANDLE h : {childOut, childErr, childIn})
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    if (!ok) {
        ClosePipeEnd(out);
        ClosePipeEnd(err);
        ClosePipeEnd(in);
        return result;
    }
    result.started = true;
    CloseHandle(pi.hThread);

    if (!feedInput)
        in.done = true;
    size_t inOffset = 0;
    DWORD start = GetTickCount();
    bool exited = false;
    DWORD exitedAt = 0;
    for (;;) {
        StartRead(out, result.out);
        StartRead(err, result.err);
        if (!in.done)
            StartWrite(in, options.stdinData, inOffset);
        if (out.done && err.done && exited)
            break;
        // A grandchild that inherited the pipes may keep them open after the child ended;
        // a short grace period collects the child's last output without waiting for it.
        if (exited && GetTickCount() - exitedAt > 5000)
            break;

        HANDLE waits[4];
        DWORD count = 0;
        if (!exited)
            waits[count++] = pi.hProcess;
        if (out.pending)
            waits[count++] = out.event;
        if (err.pending)
            waits[count++] = err.event;
        if (in.pending)
            waits[count++] = in.event;
        DWORD elapsed = GetTickCount() - start;
        DWORD wait = 0;
        if (exited)
            wait = 250;
        else if (elapsed < options.timeoutMs)
            wait = options.timeoutMs - elapsed;
        DWORD r = count ? WaitForMultipleObjects(count, waits, FALSE, wait) : WAIT_TIMEOUT;
        if (r == WAIT_TIMEOUT && !exited) {
            result.timedOut = true;
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 30000);
            exited = true;
            exitedAt = GetTickCount();
            continue;
        }
        if (!exited && WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
            exited = true;
            exitedAt = GetTickCount();
        }
        if (out.pending && WaitForSingleObject(out.event, 0) == WAIT_OBJECT_0)
            FinishRead(out, result.out);
        if (err.pending && WaitForSingleObject(err.event, 0) == WAIT_OBJECT_0)
            FinishRead(err, result.err);
        if (in.pending && WaitForSingleObject(in.event, 0) == WAIT_OBJECT_0)
            FinishWrite(in, inOffset);
    }

    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    result.exitCode = code;
    CloseHandle(pi.hProcess);
    ClosePipeEnd(out);
    ClosePipeEnd(err);
    ClosePipeEnd(in);
    return result;
}

ProcessResult RunProcess(const std::string &exeUtf8, const std::string &cmdLineUtf8,
                         const ProcessOptions &options)
{
    return RunProcess(Utf8ToWide(exeUtf8), Utf8ToWide(cmdLineUtf8), options);
}

ProcessResult RunProcessArgs(const std::wstring &exe, const std::vector<std::wstring> &args,
                             const ProcessOptions &options)
{
    return RunProcess(exe, BuildCommandLine(exe, args), options);
}

} // namespace plomtest
