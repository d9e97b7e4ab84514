#include "ErrorText.h"

#include "core/StrCon.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

std::string ErrorText(DWORD code)
{
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    HMODULE source = nullptr;
    if (code >= 12000 && code < 13000) {
        source = GetModuleHandleW(L"wininet.dll");
        if (source)
            flags = (flags & ~FORMAT_MESSAGE_FROM_SYSTEM) | FORMAT_MESSAGE_FROM_HMODULE;
    }
    UniqueLocalMemory buffer;
    const DWORD length = FormatMessageW(flags, source, code, 0, reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
    std::string text = length ? Utf8FromWide(std::wstring_view(static_cast<const wchar_t*>(buffer.get()), length))
                              : "error " + std::to_string(code);
    return TrimUpTo(text, ' ');
}

std::string ErrorMessage(const std::string& context, DWORD code)
{
    return context + ": " + ErrorText(code) + " (" + std::to_string(code) + ")";
}

EWin32Error::EWin32Error(const std::string& context, DWORD code)
    : std::runtime_error(ErrorMessage(context, code)), code_(code)
{
}
