// The tool's only door to the operating system: the Windows file API subset
// it calls. On Windows this is the system's own; elsewhere it is declared
// here and implemented by platform_posix.cpp with the same behaviour.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Level names are paths of this system: '\' and '/' both separate, and a
// drive letter roots a path.
constexpr bool kWindowsPaths = true;

#else

#include <cstddef>
#include <cstdint>

typedef int BOOL;
typedef uint32_t DWORD;
typedef void* HANDLE;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef size_t SIZE_T;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
// Reserved identifiers, but the system's own names, as <windows.h> has them.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef struct _OVERLAPPED* LPOVERLAPPED;
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

#define WINAPI
#define TRUE 1
#define FALSE 0

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

#define MEM_COMMIT 0x00001000u
#define MEM_RESERVE 0x00002000u
#define MEM_RELEASE 0x00008000u
#define PAGE_READWRITE 0x04u

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
// With OPEN_EXISTING, opens a folder too: a handle to flush its entries with.
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u

#define NO_ERROR 0u
#define ERROR_INVALID_FUNCTION 1u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_WRITE_PROTECT 19u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_DISK_FULL 112u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_FILE_TOO_LARGE 223u
#define ERROR_IO_DEVICE 1117u
#define ERROR_CANT_RESOLVE_FILENAME 1921u

#define ERROR_ALREADY_EXISTS 183u
#define ERROR_INVALID_ADDRESS 487u
#define ERROR_FILE_INVALID 1006u

#define PAGE_READONLY 0x02u
#define FILE_MAP_READ 0x0004u
#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define CTRL_C_EVENT 0u
#define CTRL_BREAK_EVENT 1u
#define CTRL_CLOSE_EVENT 2u
#define CTRL_LOGOFF_EVENT 5u
#define CTRL_SHUTDOWN_EVENT 6u
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define STD_ERROR_HANDLE ((DWORD)-12)

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                          HANDLE templateFile);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                     LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                      LPOVERLAPPED overlapped);
BOOL WINAPI CloseHandle(HANDLE object);
// Puts what was written through a handle open for writing on the disk; for a
// folder, the names created, renamed or deleted in it.
BOOL WINAPI FlushFileBuffers(HANDLE file);
BOOL WINAPI CopyFileA(LPCSTR existingPath, LPCSTR newPath, BOOL failIfExists);
BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes);
DWORD WINAPI GetLastError(void);
BOOL WINAPI MoveFileExA(LPCSTR existingPath, LPCSTR newPath, DWORD flags);
BOOL WINAPI DeleteFileA(LPCSTR path);
// Read-only mappings of a whole open file: protect PAGE_READONLY, sizes 0.
// Both give NULL on failure; an empty file can't be mapped.
HANDLE WINAPI CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES security,
                                 DWORD protect, DWORD maxSizeHigh, DWORD maxSizeLow,
                                 LPCSTR name);
LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh,
                            DWORD offsetLow, SIZE_T bytes);
BOOL WINAPI UnmapViewOfFile(LPCVOID address);
HANDLE WINAPI GetStdHandle(DWORD which);
// Succeeds only for a handle that is a console (a terminal).
BOOL WINAPI GetConsoleMode(HANDLE console, LPDWORD mode);
// Console control events: Ctrl+C, Ctrl+Break, the console closed, logoff,
// shutdown. A handler that returns TRUE keeps the process from ending; one
// handler at a time. Here the events are the signals SIGINT, SIGQUIT, SIGHUP
// and SIGTERM: while the handler is registered they are held, and those that
// came meanwhile reach it on the calling thread when it is removed.
typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD event);
BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);
void WINAPI Sleep(DWORD milliseconds);
// Fresh zeroed pages at an address of the system's choosing (address null,
// MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE); released whole by VirtualFree
// with size 0 and MEM_RELEASE.
LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType,
                           DWORD protect);
BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD freeType);

// Only '/' separates, and only '/' roots a path.
constexpr bool kWindowsPaths = false;

#endif
