// The extraction reference: the least a program can do to put an embedded package on disk
// and check it. Finds its RCDATA resource 1, writes it to the file named on the command
// line with one WriteFile, reads it back in 64 KiB blocks comparing each with the
// resource, and deletes the file. Exit code 0 when all went well.
#include <windows.h>

#include <string.h>

namespace {

enum : DWORD { BLOCK = 64 * 1024 };

int Fail(const char *what)
{
    DWORD written;
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD len = 0;
    while (what[len])
        len++;
    WriteFile(err, what, len, &written, nullptr);
    WriteFile(err, "\r\n", 2, &written, nullptr);
    return 1;
}

int Run(int argc, wchar_t **argv)
{
    if (argc < 2)
        return Fail("usage: extract-ref FILE");
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(10));
    HGLOBAL loaded = res ? LoadResource(nullptr, res) : nullptr;
    const BYTE *data = loaded ? (const BYTE *)LockResource(loaded) : nullptr;
    DWORD const size = res ? SizeofResource(nullptr, res) : 0;
    if (!data || !size)
        return Fail("no payload resource");

    HANDLE out = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return Fail("cannot create the file");
    DWORD written = 0;
    BOOL ok = WriteFile(out, data, size, &written, nullptr) && written == size;
    CloseHandle(out);
    if (!ok)
        return Fail("write failed");

    HANDLE in = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        return Fail("cannot open the file again");
    static BYTE block[BLOCK];
    DWORD offset = 0;
    for (;;)
    {
        DWORD got = 0;
        if (!ReadFile(in, block, BLOCK, &got, nullptr))
        {
            ok = FALSE;
            break;
        }
        if (!got)
            break;
        if (offset + got > size || memcmp(block, data + offset, got) != 0)
        {
            ok = FALSE;
            break;
        }
        offset += got;
    }
    CloseHandle(in);
    DeleteFileW(argv[1]);
    if (!ok || offset != size)
        return Fail("read back differs");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    return Run(argc, argv);
}
