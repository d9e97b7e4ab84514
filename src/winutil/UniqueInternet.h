#pragma once
// WinInet handles, owned (see UniqueHandle.h).
#include "winutil/UniqueHandle.h"

#include <windows.h>
#include <wininet.h>

// The status callback is cleared first, so that closing never calls back into
// an object that may already be gone.
struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type invalid() { return nullptr; }
    static void close(Type h)
    {
        InternetSetStatusCallback(h, nullptr);
        InternetCloseHandle(h);
    }
};

using UniqueInternet = UniqueHandle<InternetHandleTraits>;
