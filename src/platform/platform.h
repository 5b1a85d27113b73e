// The Windows file API calls the programs make by name: on Windows the
// system's own; elsewhere declared here and implemented by platform_posix.cpp
// with the same behaviour. Everything else the programs need from the system
// is in system.h.
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

#include <cstdint>

typedef int BOOL;
typedef uint32_t DWORD;
typedef void* HANDLE;

#define TRUE 1
#define FALSE 0

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u

#define NO_ERROR 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_FILE_EXISTS 80u
#define ERROR_FILE_TOO_LARGE 223u

// Share mode 0: no other open of the file, here or elsewhere, until it is
// closed; FILE_SHARE_READ: readers only.
HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, void* security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
DWORD GetFileSize(HANDLE file, DWORD* sizeHigh);
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written,
               void* overlapped);
BOOL CloseHandle(HANDLE object);
BOOL CopyFileA(const char* existingPath, const char* newPath, BOOL failIfExists);
BOOL SetFileAttributesA(const char* path, DWORD attributes);
DWORD GetLastError();

// Only '/' separates, and only '/' roots a path.
constexpr bool kWindowsPaths = false;

#endif
