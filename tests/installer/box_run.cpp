#include "box_run.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <map>

namespace plomtest {

namespace {

std::wstring Lower(std::wstring s)
{
    for (wchar_t &c : s)
        c = (wchar_t)std::towlower(c);
    return s;
}

std::vector<wchar_t> BuildEnvironment(const std::vector<std::pair<std::wstring, std::wstring>> &env)
{
    std::map<std::wstring, std::wstring> vars;   // lower-case name -> "Name=value"
    wchar_t *block = GetEnvironmentStringsW();
    for (const wchar_t *p = block; *p; p += wcslen(p) + 1)
    {
        std::wstring entry = p;
        size_t eq = entry.find(L'=', 1);
        if (eq == std::wstring::npos)
            continue;
        vars[Lower(entry.substr(0, eq))] = entry;
    }
    FreeEnvironmentStringsW(block);
    for (const auto &kv : env)
    {
        if (kv.second.empty())
            vars.erase(Lower(kv.first));
        else
            vars[Lower(kv.first)] = kv.first + L"=" + kv.second;
    }
    std::vector<wchar_t> out;
    for (const auto &kv : vars)
    {
        out.insert(out.end(), kv.second.begin(), kv.second.end());
        out.push_back(0);
    }
    out.push_back(0);
    return out;
}

HANDLE CreateInheritableFile(const std::wstring &path)
{
    SECURITY_ATTRIBUTES sa = { sizeof(sa), nullptr, TRUE };
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ReadFileText(const std::wstring &path)
{
    std::string data;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return data;
    char buf[4096];
    DWORD got;
    while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got)
        data.append(buf, got);
    CloseHandle(h);
    return data;
}

// The file name of a DLL that the debuggee has just mapped.
std::wstring LoadedDllName(const LOAD_DLL_DEBUG_INFO &info, HANDLE process)
{
    wchar_t path[MAX_PATH * 2];
    if (info.hFile && GetFinalPathNameByHandleW(info.hFile, path, MAX_PATH * 2, 0))
        return path;
    void *remote = nullptr;
    SIZE_T got = 0;
    if (info.lpImageName && ReadProcessMemory(process, info.lpImageName, &remote, sizeof(remote), &got) && remote)
    {
        wchar_t name[MAX_PATH] = {};
        if (info.fUnicode && ReadProcessMemory(process, remote, name, sizeof(name) - sizeof(wchar_t), &got))
            return name;
    }
    return std::wstring();
}

bool EndsWithFileName(const std::wstring &path, const std::wstring &fileName)
{
    std::wstring const p = Lower(path), f = Lower(fileName);
    if (p.size() < f.size() || p.compare(p.size() - f.size(), f.size(), f) != 0)
        return false;
    return p.size() == f.size() || p[p.size() - f.size() - 1] == L'\\' || p[p.size() - f.size() - 1] == L'/';
}

std::string ReadRemoteString(HANDLE process, uintptr_t address, bool wide)
{
    std::string out;
    if (!address)
        return out;
    if (wide)
    {
        std::wstring w;
        for (uintptr_t p = address; w.size() < 65536; p += 2)
        {
            wchar_t c;
            SIZE_T got;
            if (!ReadProcessMemory(process, (const void *)p, &c, 2, &got) || c == 0)
                break;
            w += c;
        }
        int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
        out.resize(n > 0 ? n : 0);
        if (n > 0)
            WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &out[0], n, nullptr, nullptr);
        return out;
    }
    for (uintptr_t p = address; out.size() < 65536; p++)
    {
        char c;
        SIZE_T got;
        if (!ReadProcessMemory(process, (const void *)p, &c, 1, &got) || c == 0)
            break;
        out += c;
    }
    return out;
}

struct Breakpoint
{
    uintptr_t   address = 0;
    const char *function = nullptr;
    bool        wide = false;
};

// Puts a breakpoint on each message box function of the user32.dll just mapped at base.
// The functions lie at the same offsets as in this process's own copy of the library.
void SetMessageBoxBreakpoints(HANDLE process, uintptr_t base, std::vector<Breakpoint> &breakpoints)
{
    HMODULE own = LoadLibraryW(L"user32.dll");
    for (const char *fn : { "MessageBoxW", "MessageBoxA" })
    {
        uintptr_t const rva = (uintptr_t)GetProcAddress(own, fn) - (uintptr_t)own;
        Breakpoint bp;
        bp.address = base + rva;
        bp.function = fn;
        bp.wide = fn[10] == 'W';
        unsigned char const int3 = 0xCC;
        SIZE_T done;
        if (WriteProcessMemory(process, (void *)bp.address, &int3, 1, &done))
        {
            FlushInstructionCache(process, (void *)bp.address, 1);
            breakpoints.push_back(bp);
        }
    }
}

// Records the call whose breakpoint the thread has hit, then returns from it with IDOK
// as if the user had clicked: the function's own code never runs.
bool CatchMessageBox(HANDLE process, DWORD threadId, const Breakpoint &bp, MessageBoxCall &call)
{
    HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, threadId);
    if (!thread)
        return false;
    CONTEXT ctx = {};
    ctx.ContextFlags = CONTEXT_FULL;
    bool ok = GetThreadContext(thread, &ctx) != FALSE;
    if (ok)
    {
        uintptr_t args[4] = {};
        uintptr_t returnAddress = 0;
        SIZE_T got;
#ifdef _WIN64
        args[0] = ctx.Rcx; args[1] = ctx.Rdx; args[2] = ctx.R8; args[3] = ctx.R9;
        ok = ReadProcessMemory(process, (const void *)ctx.Rsp, &returnAddress, sizeof(returnAddress), &got);
        ctx.Rip = returnAddress;
        ctx.Rsp += 8;
        ctx.Rax = IDOK;
#else
        uint32_t frame[5] = {};
        ok = ReadProcessMemory(process, (const void *)(uintptr_t)ctx.Esp, frame, sizeof(frame), &got);
        returnAddress = frame[0];
        for (int i = 0; i < 4; i++)
            args[i] = frame[i + 1];
        ctx.Eip = (DWORD)returnAddress;
        ctx.Esp += sizeof(frame);   // stdcall: the callee pops its four arguments
        ctx.Eax = IDOK;
#endif
        call.function = bp.function;
        call.desktopOwner = (HWND)args[0] == GetDesktopWindow();
        call.text = ReadRemoteString(process, args[1], bp.wide);
        call.title = ReadRemoteString(process, args[2], bp.wide);
        call.style = (unsigned long)args[3];
        ok = ok && SetThreadContext(thread, &ctx);
    }
    CloseHandle(thread);
    return ok;
}

} // namespace

BoxRunResult RunCatchingMessageBoxes(const std::wstring &exe, const std::wstring &cmdLine,
                                     const std::vector<std::pair<std::wstring, std::wstring>> &env,
                                     const std::wstring &outputDir,
                                     const std::function<void(size_t, const MessageBoxCall &)> &onBox)
{
    BoxRunResult result;
    std::wstring const outPath = outputDir + L"\\boxrun-stdout.txt";
    std::wstring const errPath = outputDir + L"\\boxrun-stderr.txt";
    HANDLE out = CreateInheritableFile(outPath);
    HANDLE err = CreateInheritableFile(errPath);
    SECURITY_ATTRIBUTES sa = { sizeof(sa), nullptr, TRUE };
    HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> envBlock = BuildEnvironment(env);
    std::vector<wchar_t> cmd(cmdLine.begin(), cmdLine.end());
    cmd.push_back(0);
    result.started = CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE,
                                    DEBUG_ONLY_THIS_PROCESS | CREATE_UNICODE_ENVIRONMENT | DETACHED_PROCESS, envBlock.data(), nullptr,
                                    &si, &pi) != FALSE;
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (!result.started)
        return result;

    std::vector<Breakpoint> breakpoints;
    bool sawInitialBreakpoint = false;
    for (;;)
    {
        DEBUG_EVENT ev;
        // A safety net against a hung child, not a measurement.
        if (!WaitForDebugEvent(&ev, 10 * 60 * 1000))
        {
            result.timedOut = true;
            TerminateProcess(pi.hProcess, 0xDEAD);
            break;
        }
        DWORD status = DBG_CONTINUE;
        switch (ev.dwDebugEventCode)
        {
            case CREATE_PROCESS_DEBUG_EVENT:
                if (ev.u.CreateProcessInfo.hFile)
                    CloseHandle(ev.u.CreateProcessInfo.hFile);
                break;
            case LOAD_DLL_DEBUG_EVENT:
                result.loadedDlls.push_back(LoadedDllName(ev.u.LoadDll, pi.hProcess));
                if (breakpoints.empty() && EndsWithFileName(result.loadedDlls.back(), L"user32.dll"))
                    SetMessageBoxBreakpoints(pi.hProcess, (uintptr_t)ev.u.LoadDll.lpBaseOfDll, breakpoints);
                if (ev.u.LoadDll.hFile)
                    CloseHandle(ev.u.LoadDll.hFile);
                break;
            case EXCEPTION_DEBUG_EVENT:
            {
                const EXCEPTION_RECORD &rec = ev.u.Exception.ExceptionRecord;
                const Breakpoint *hit = nullptr;
                for (const Breakpoint &bp : breakpoints)
                    if (rec.ExceptionCode == EXCEPTION_BREAKPOINT && (uintptr_t)rec.ExceptionAddress == bp.address)
                        hit = &bp;
                MessageBoxCall call;
                if (hit && CatchMessageBox(pi.hProcess, ev.dwThreadId, *hit, call))
                {
                    result.boxes.push_back(call);
                    if (onBox)
                        onBox(result.boxes.size() - 1, call);
                }
                else if (rec.ExceptionCode == EXCEPTION_BREAKPOINT && !sawInitialBreakpoint)
                    sawInitialBreakpoint = true;
                else
                    status = DBG_EXCEPTION_NOT_HANDLED;
                break;
            }
            default:
                break;
        }
        if (ev.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT)
        {
            result.exitCode = ev.u.ExitProcess.dwExitCode;
            ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, DBG_CONTINUE);
            break;
        }
        ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
    }
    WaitForSingleObject(pi.hProcess, 60 * 1000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    result.out = ReadFileText(outPath);
    result.err = ReadFileText(errPath);
    DeleteFileW(outPath.c_str());
    DeleteFileW(errPath.c_str());
    return result;
}

} // namespace plomtest
