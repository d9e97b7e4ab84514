#pragma once
// Job-object services, bound at run time on first use (they raise the binding
// errors of RuntimeLink when the system lacks them).
#include <windows.h>

HANDLE BoundCreateJobObjectW(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name);
BOOL BoundAssignProcessToJobObject(HANDLE job, HANDLE process);
BOOL BoundSetInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS infoClass, LPVOID info, DWORD length);
