#include "MessageFilter.h"

#include "winutil/RuntimeLink.h"

#include <stdexcept>

std::vector<UINT> MessagesFromLowerIntegrity()
{
    return {RegisterWindowMessageW(L"TaskbarCreated")};
}

TMessageFilter AllowShellMessages(HWND window)
{
    using FilterExFn = BOOL WINAPI(HWND, UINT, DWORD, void*);
    using FilterFn = BOOL WINAPI(UINT, DWORD);
    constexpr DWORD kAllow = 1;  // MSGFLT_ALLOW, and MSGFLT_ADD for the older call
    const std::vector<UINT> messages = MessagesFromLowerIntegrity();
    bool allowed = true;
    try {
        const auto filterEx = BindFunctionAs<FilterExFn>("user32.dll", "ChangeWindowMessageFilterEx");
        for (const UINT message : messages)
            allowed = filterEx(window, message, kAllow, nullptr) && allowed;
        return allowed ? TMessageFilter::mfAllowed : TMessageFilter::mfFailed;
    } catch (const std::runtime_error&) {
    }
    try {
        const auto filter = BindFunctionAs<FilterFn>("user32.dll", "ChangeWindowMessageFilter");
        for (const UINT message : messages)
            allowed = filter(message, kAllow) && allowed;
        return allowed ? TMessageFilter::mfAllowed : TMessageFilter::mfFailed;
    } catch (const std::runtime_error&) {
        // Before Vista nothing filters messages.
        return TMessageFilter::mfUnavailable;
    }
}
