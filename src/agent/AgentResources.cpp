#include "AgentResources.h"

#include "winutil/WideText.h"

#include <windows.h>

std::string LoadResourceString(unsigned id)
{
    // With no buffer the wide call hands out the string in the loaded resource itself.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&text), 0);
    return length > 0 && text ? Utf8FromWide(std::wstring_view(text, static_cast<std::size_t>(length))) : std::string();
}
