#include "auUpgraderTexts.h"

#include "winutil/WideText.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <string_view>

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

namespace {

// One conversion "%[flags][width][.precision]d|f" of `value`.
std::wstring FormatNumber(wchar_t kind, int precision, double value)
{
    if (kind == L'f') {
        wchar_t text[64];
        _snwprintf(text, 64, L"%.*f", precision < 0 ? 6 : std::min(precision, 20), value);
        text[63] = 0;
        return text;
    }
    const double clamped = std::fmax(-9.0e18, std::fmin(9.0e18, std::trunc(value)));
    const long long number = static_cast<long long>(clamped);
    std::wstring digits = WideFromUtf8(std::to_string(number < 0 ? -number : number));
    if (precision > static_cast<int>(digits.size()))
        digits.insert(0, static_cast<std::size_t>(std::min(precision, 20)) - digits.size(), L'0');
    return number < 0 ? L"-" + digits : digits;
}

}  // namespace

std::wstring UpgraderNumbers(unsigned index, std::initializer_list<double> values)
{
    const std::wstring pattern = UpgraderText(index);
    std::wstring text;
    auto next = values.begin();
    for (std::size_t at = 0; at < pattern.size(); ++at) {
        if (pattern[at] != L'%' || at + 1 == pattern.size()) {
            text += pattern[at];
            continue;
        }
        std::size_t end = at + 1;
        int precision = -1;
        while (end < pattern.size() && std::iswdigit(pattern[end]))
            ++end;
        if (end < pattern.size() && pattern[end] == L'.') {
            precision = 0;
            while (++end < pattern.size() && std::iswdigit(pattern[end]))
                precision = std::min(precision * 10 + (pattern[end] - L'0'), 99);
        }
        const wchar_t kind = end < pattern.size() ? pattern[end] : L'\0';
        if ((kind == L'd' || kind == L'f') && next != values.end()) {
            text += FormatNumber(kind, precision, *next++);
            at = end;
        } else if (kind == L'%' && end == at + 1) {
            text += L'%';
            at = end;
        } else {
            text += pattern[at];
        }
    }
    return text;
}
