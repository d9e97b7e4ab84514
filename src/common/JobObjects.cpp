#include "JobObjects.h"

#include "winutil/RuntimeLink.h"

HANDLE BoundCreateJobObjectW(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name)
{
    static auto* fn = BindFunctionAs<HANDLE WINAPI(LPSECURITY_ATTRIBUTES, LPCWSTR)>("kernel32.dll", "CreateJobObjectW");
    return fn(attributes, name);
}

BOOL BoundAssignProcessToJobObject(HANDLE job, HANDLE process)
{
    static auto* fn = BindFunctionAs<BOOL WINAPI(HANDLE, HANDLE)>("kernel32.dll", "AssignProcessToJobObject");
    return fn(job, process);
}

BOOL BoundSetInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS infoClass, LPVOID info, DWORD length)
{
    static auto* fn = BindFunctionAs<BOOL WINAPI(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD)>(
        "kernel32.dll", "SetInformationJobObject");
    return fn(job, infoClass, info, length);
}
