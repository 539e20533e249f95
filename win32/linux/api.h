// Our layer's declarations of the calls, with Windows' types and values.
#pragma once

#include <cstdint>

typedef void* HANDLE;
typedef std::uint32_t DWORD;
typedef int BOOL;
typedef const char* LPCSTR;
typedef void* LPSECURITY_ATTRIBUTES;

#define __stdcall
#define WINAPI
#define TRUE 1
#define FALSE 0

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259u
#define INVALID_HANDLE_VALUE ((HANDLE)(std::intptr_t)-1)
#define DUPLICATE_SAME_ACCESS 0x00000002u

#define ERROR_SUCCESS 0u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_NOT_OWNER 288u
#define ERROR_ALREADY_EXISTS 183u

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
BOOL ReleaseMutex(HANDLE mutex);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
BOOL CloseHandle(HANDLE object);
BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, HANDLE* target,
                     DWORD access, BOOL inherit, DWORD options);
HANDLE GetCurrentProcess();

std::uintptr_t _beginthreadex(void* security, unsigned stackSize,
                              unsigned(__stdcall* start)(void*), void* argument,
                              unsigned flags, unsigned* threadId);
BOOL TerminateThread(HANDLE thread, DWORD exitCode);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
void Sleep(DWORD milliseconds);

DWORD GetLastError();
void SetLastError(DWORD error);

char* _itoa(int value, char* buffer, int radix);
