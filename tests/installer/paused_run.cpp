#include "paused_run.h"

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

} // namespace

PausedRunResult RunPausedAtDllLoad(const std::wstring &exe, const std::wstring &cmdLine,
                                   const std::vector<std::pair<std::wstring, std::wstring>> &env,
                                   const std::wstring &outputDir, const std::wstring &dllFileName,
                                   const std::function<void()> &atPause)
{
    PausedRunResult result;
    std::wstring const outPath = outputDir + L"\\paused-stdout.txt";
    std::wstring const errPath = outputDir + L"\\paused-stderr.txt";
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
                                    DEBUG_ONLY_THIS_PROCESS | CREATE_UNICODE_ENVIRONMENT, envBlock.data(), nullptr,
                                    &si, &pi) != FALSE;
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (!result.started)
        return result;

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
                if (!result.paused && EndsWithFileName(LoadedDllName(ev.u.LoadDll, pi.hProcess), dllFileName))
                {
                    result.paused = true;
                    atPause();
                }
                if (ev.u.LoadDll.hFile)
                    CloseHandle(ev.u.LoadDll.hFile);
                break;
            case EXCEPTION_DEBUG_EVENT:
                if (ev.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT && !sawInitialBreakpoint)
                    sawInitialBreakpoint = true;
                else
                    status = DBG_EXCEPTION_NOT_HANDLED;
                break;
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
