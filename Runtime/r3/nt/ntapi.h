// NT native API pieces that the compiler's headers leave out, for the Windows-bound half of
// the runtime. Imported from ntdll.
#pragma once

#include <windows.h>
#include <winternl.h>

#ifndef STATUS_OBJECT_NAME_INVALID
# define STATUS_OBJECT_NAME_INVALID   ((NTSTATUS)0xC0000033L)
#endif
#ifndef STATUS_OBJECT_TYPE_MISMATCH
# define STATUS_OBJECT_TYPE_MISMATCH  ((NTSTATUS)0xC0000024L)
#endif
#ifndef STATUS_OBJECT_NAME_NOT_FOUND
# define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034L)
#endif
// Declared as DWORD in winnt.h; comparisons with NTSTATUS values need the signed form.
#define KELP_STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)

#ifndef DIRECTORY_QUERY
# define DIRECTORY_QUERY               0x0001
# define DIRECTORY_TRAVERSE            0x0002
# define DIRECTORY_CREATE_OBJECT       0x0004
# define DIRECTORY_CREATE_SUBDIRECTORY 0x0008
# define DIRECTORY_ALL_ACCESS          (STANDARD_RIGHTS_REQUIRED | 0xF)
#endif

#ifndef OBJ_CASE_INSENSITIVE
# define OBJ_CASE_INSENSITIVE 0x00000040L
#endif

extern "C" {
NTSTATUS NTAPI NtOpenDirectoryObject(PHANDLE DirectoryHandle, ACCESS_MASK DesiredAccess,
                                     POBJECT_ATTRIBUTES ObjectAttributes);
}

// The process environment block, read from the thread block's fixed slot.
inline BYTE const *rtNtCurrentPeb()
{
    BYTE const *peb;
#if defined(__x86_64__)
    __asm__("movq %%gs:0x60, %0" : "=r"(peb));
#else
    __asm__("movl %%fs:0x30, %0" : "=r"(peb));
#endif
    return peb;
}

// The Windows major version as the loader wrote it into the process environment block.
// The compiler's PEB record hides the field, so it is read at its fixed offset.
inline ULONG rtNtPebOsMajorVersion()
{
#if defined(__x86_64__)
    return *(ULONG const *)(rtNtCurrentPeb() + 0x118);
#else
    return *(ULONG const *)(rtNtCurrentPeb() + 0xA4);
#endif
}

// File and directory queries.
#define KELP_STATUS_MORE_ENTRIES       ((NTSTATUS)0x00000105L)
#define KELP_STATUS_BUFFER_OVERFLOW    ((NTSTATUS)0x80000005L)
#define KELP_STATUS_NO_MORE_FILES      ((NTSTATUS)0x80000006L)
#define KELP_STATUS_NO_MORE_ENTRIES    ((NTSTATUS)0x8000001AL)
#define KELP_STATUS_NO_SUCH_FILE       ((NTSTATUS)0xC000000FL)
#define KELP_STATUS_ACCESS_DENIED      ((NTSTATUS)0xC0000022L)
#define KELP_STATUS_SHARING_VIOLATION  ((NTSTATUS)0xC0000043L)
#define KELP_STATUS_INVALID_OPTION     ((NTSTATUS)0xC00000F7L)

// One entry of NtQueryDirectoryObject's result; an entry with an empty name ends the array.
struct KELP_OBJECT_DIRECTORY_INFORMATION
{
    UNICODE_STRING Name;
    UNICODE_STRING TypeName;
};

extern "C" {
NTSTATUS NTAPI NtQueryFullAttributesFile(POBJECT_ATTRIBUTES ObjectAttributes,
                                         PFILE_NETWORK_OPEN_INFORMATION FileInformation);
NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine,
                                    PVOID ApcContext, PIO_STATUS_BLOCK IoStatusBlock,
                                    PVOID FileInformation, ULONG Length,
                                    FILE_INFORMATION_CLASS FileInformationClass,
                                    BOOLEAN ReturnSingleEntry, PUNICODE_STRING FileName,
                                    BOOLEAN RestartScan);
NTSTATUS NTAPI NtQueryDirectoryObject(HANDLE DirectoryHandle, PVOID Buffer, ULONG Length,
                                      BOOLEAN ReturnSingleEntry, BOOLEAN RestartScan,
                                      PULONG Context, PULONG ReturnLength);
}

inline ULONG rtNtPebOsMinorVersion()
{
#if defined(__x86_64__)
    return *(ULONG const *)(rtNtCurrentPeb() + 0x11C);
#else
    return *(ULONG const *)(rtNtCurrentPeb() + 0xA8);
#endif
}
