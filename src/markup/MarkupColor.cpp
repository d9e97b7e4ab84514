#include "MarkupColor.h"

#include "core/StrCon.h"

#include <string>

namespace {

struct NamedColor {
    std::string_view name;
    TColor value;
};

constexpr NamedColor kNamedColors[] = {
    {"clred", clRed},
    {"clblack", clBlack},
    {"clblue", clBlue},
    {"clgreen", clGreen},
    {"claqua", clAqua},
    {"clyellow", clYellow},
    {"clfuchsia", clFuchsia},
    {"clwhite", clWhite},
    {"cllime", clLime},
    {"clsilver", clSilver},
    {"clgray", clGray},
    {"clolive", clOlive},
    {"clnavy", clNavy},
    {"clpurple", clPurple},
    {"clteal", clTeal},
    {"clmaroon", clMaroon},
    {"clbackground", SystemColor(1)},
    {"clactivecaption", SystemColor(2)},
    {"clinactivecaption", SystemColor(3)},
    {"clmenu", SystemColor(4)},
    {"clwindow", SystemColor(5)},
    {"clwindowframe", SystemColor(6)},
    {"clmenutext", SystemColor(7)},
    {"clwindowtext", SystemColor(8)},
    {"clcaptiontext", SystemColor(9)},
    {"clactiveborder", SystemColor(10)},
    {"clinactiveborder", SystemColor(11)},
    {"clappworkspace", SystemColor(12)},
    {"clhighlight", SystemColor(13)},
    {"clhighlighttext", SystemColor(14)},
    {"clbtnface", SystemColor(15)},
    {"clbtnshadow", SystemColor(16)},
    {"clgraytext", SystemColor(17)},
    {"clbtntext", SystemColor(18)},
    {"clinactivecaptiontext", SystemColor(19)},
    {"clbtnhighlight", SystemColor(20)},
    {"cl3ddkshadow", SystemColor(21)},
    {"cl3dlight", SystemColor(22)},
    {"clinfotext", SystemColor(23)},
    {"clinfobk", SystemColor(24)},
};

long long DigitValue(char c)
{
    const int code = static_cast<unsigned char>(c);
    return code < 'A' ? code - 48 : code - 55;
}

// Characters at 0-based index and index + 1; 0 when the pair is incomplete.
long long PairValue(std::string_view text, std::size_t index)
{
    if (index + 1 >= text.size())
        return 0;
    return 16 * DigitValue(text[index]) + DigitValue(text[index + 1]);
}

} // namespace

TColor ParseHTMLColor(std::string_view text)
{
    if (!text.empty() && text.front() == '#') {
        const long long value = PairValue(text, 1) + PairValue(text, 3) * 256 + PairValue(text, 5) * 65536;
        return static_cast<TColor>(value);
    }
    for (const NamedColor& named : kNamedColors)
        if (SameText(named.name, text))
            return named.value;
    return clBlack;
}
