#include "auUpgraderTexts.h"

#include <windows.h>

namespace {

TauAutoUpgraderLanguage selectedLanguage = wlAuto;
unsigned blockStart = UpgraderBlockStart(wlEnglish);

}  // namespace

void SelectUpgraderLanguage(TauAutoUpgraderLanguage language)
{
    selectedLanguage = language;
    const TauAutoUpgraderLanguage resolved =
        language == wlAuto ? LanguageFromLangId(GetSystemDefaultLangID()) : language;
    blockStart = UpgraderBlockStart(resolved);
}

TauAutoUpgraderLanguage SelectedUpgraderLanguage()
{
    return selectedLanguage;
}

unsigned UpgraderBlock()
{
    return blockStart;
}

std::wstring ResourceTextW(unsigned id)
{
    // A zero buffer size hands back the resource itself with its exact
    // length, so no text is ever cut to fit a buffer.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text)
        return {};
    return std::wstring(text, static_cast<std::size_t>(length));
}

std::wstring UpgraderText(unsigned index)
{
    return ResourceTextW(blockStart + index);
}

std::wstring UpgraderText(unsigned index, std::initializer_list<std::wstring_view> args)
{
    const std::wstring pattern = UpgraderText(index);
    std::wstring text;
    auto next = args.begin();
    for (std::size_t at = 0; at < pattern.size(); ++at) {
        if (pattern[at] != L'%' || at + 1 == pattern.size()) {
            text += pattern[at];
            continue;
        }
        const wchar_t kind = pattern[++at];
        if (kind == L's' && next != args.end())
            text += *next++;
        else if (kind == L'%')
            text += L'%';
        else if (kind != L's')
            text.append({L'%', kind});
    }
    return text;
}
