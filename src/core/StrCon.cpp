#include "StrCon.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr auto npos = std::string_view::npos;

unsigned char Byte(char c)
{
    return static_cast<unsigned char>(c);
}

bool SameUpper(char a, char b)
{
    return UpperChar(a) == UpperChar(b);
}

// An empty sub is never found, so callers walking occurrences always advance.
size_t FindFrom(std::string_view sub, std::string_view text, size_t from, bool ignoreCase = false)
{
    if (sub.empty() || from > text.size())
        return npos;
    if (!ignoreCase)
        return text.find(sub, from);
    const auto hit = std::search(text.begin() + from, text.end(), sub.begin(), sub.end(), SameUpper);
    return hit == text.end() ? npos : static_cast<size_t>(hit - text.begin());
}

size_t FindLast(std::string_view sub, std::string_view text, bool ignoreCase = false)
{
    if (sub.empty())
        return npos;
    if (!ignoreCase)
        return text.rfind(sub);
    const auto hit = std::find_end(text.begin(), text.end(), sub.begin(), sub.end(), SameUpper);
    return hit == text.end() ? npos : static_cast<size_t>(hit - text.begin());
}

// Start 0 (and anything below 1) is the beginning; start n is index n - 1.
size_t StartIndex(int start)
{
    return start <= 1 ? 0 : static_cast<size_t>(start) - 1;
}

int ToPos(size_t index)
{
    return index == npos ? 0 : static_cast<int>(index + 1);
}

size_t FindFirstIn(const CharSet& set, std::string_view text)
{
    const auto hit = std::find_if(text.begin(), text.end(), [&set](char c) { return InSet(set, c); });
    return hit == text.end() ? npos : static_cast<size_t>(hit - text.begin());
}

size_t FindLastIn(const CharSet& set, std::string_view text)
{
    for (size_t i = text.size(); i > 0; --i)
        if (InSet(set, text[i - 1]))
            return i - 1;
    return npos;
}

std::string After(std::string_view text, size_t index, size_t length)
{
    return index == npos ? std::string() : std::string(text.substr(index + length));
}

std::string Before(std::string_view text, size_t index)
{
    return std::string(text.substr(0, index));
}

// Whether text, trimmed and collapsed on spaces, begins with prefix. Reads no
// further than the prefix needs, so walking a long list stays linear.
bool CollapsedStartsWith(std::string_view text, std::string_view prefix)
{
    size_t i = text.find_first_not_of(' ');
    for (char want : prefix) {
        if (i >= text.size())
            return false;
        if (text[i] == ' ') {
            const size_t next = text.find_first_not_of(' ', i);
            if (next == npos)
                return false;
            i = next - 1;
        }
        if (text[i] != want)
            return false;
        ++i;
    }
    return true;
}

// Moves the front of text up to the separator into token, after dropping
// a leading separator.
template <class FindSeparator>
void TakeToken(std::string& text, std::string& token, bool leadingSep, size_t sepLength, FindSeparator find)
{
    if (leadingSep) {
        if (const size_t sep = find(text); sep != npos)
            text.erase(0, sep + sepLength);
    }
    token = text.substr(0, find(text));
    text.erase(0, token.size());
}

}  // namespace

char UpperChar(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperText(std::string_view text)
{
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), UpperChar);
    return upper;
}

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), SameUpper);
}

CharSet MakeCharSet(std::string_view chars)
{
    CharSet set;
    for (char c : chars)
        set.set(Byte(c));
    return set;
}

bool InSet(const CharSet& set, char c)
{
    return set.test(Byte(c));
}

int PosFrom(std::string_view sub, std::string_view text, bool ignoreCase, int start)
{
    return ToPos(FindFrom(sub, text, StartIndex(start), ignoreCase));
}

int LastPos(std::string_view sub, std::string_view text, bool ignoreCase)
{
    return ToPos(FindLast(sub, text, ignoreCase));
}

std::string TextBefore(std::string_view sub, std::string_view text, int start)
{
    return Before(text, FindFrom(sub, text, StartIndex(start)));
}

std::string TextAfter(std::string_view sub, std::string_view text, int start)
{
    return After(text, FindFrom(sub, text, StartIndex(start)), sub.size());
}

std::string TextBeforeNth(std::string_view sub, std::string_view text, int n)
{
    size_t found = FindFrom(sub, text, 0);
    for (int i = 2; i <= n && found != npos; ++i)
        found = FindFrom(sub, text, found + 1);
    return Before(text, found);
}

std::string TextAfterLast(std::string_view sub, std::string_view text)
{
    return After(text, FindLast(sub, text), sub.size());
}

char FirstChar(std::string_view text)
{
    return text.empty() ? '\0' : text.front();
}

std::string TrimCollapse(std::string_view text, char c)
{
    std::string result;
    result.reserve(text.size());
    bool pending = false;
    for (char ch : text) {
        if (ch == c) {
            pending = !result.empty();
            continue;
        }
        if (pending)
            result += c;
        pending = false;
        result += ch;
    }
    return result;
}

std::string TrimUpTo(std::string_view text, char c)
{
    const auto keep = [limit = Byte(c)](char ch) { return Byte(ch) > limit; };
    const auto first = std::find_if(text.begin(), text.end(), keep);
    const auto last = std::find_if(text.rbegin(), std::make_reverse_iterator(first), keep).base();
    return std::string(first, last);
}

bool SameTextCollapsed(std::string_view a, std::string_view b, char c)
{
    if (c == '\0')
        return SameText(a, b);
    return SameText(TrimCollapse(a, c), TrimCollapse(b, c));
}

bool StartsWith(std::string_view prefix, std::string_view text, char c)
{
    if (c == '\0')
        return text.starts_with(prefix);
    return std::string_view(TrimCollapse(text, c)).starts_with(TrimCollapse(prefix, c));
}

int CountOf(std::string_view text, const CharSet& set)
{
    return static_cast<int>(std::count_if(text.begin(), text.end(), [&set](char c) { return InSet(set, c); }));
}

std::string RemoveChars(std::string_view text, const CharSet& set)
{
    std::string result;
    std::copy_if(text.begin(), text.end(), std::back_inserter(result), [&set](char c) { return !InSet(set, c); });
    return result;
}

std::string RemoveChar(std::string_view text, char c)
{
    std::string result(text);
    std::erase(result, c);
    return result;
}

std::string ReplaceChars(std::string_view text, const CharSet& set, char c)
{
    std::string result(text);
    std::replace_if(result.begin(), result.end(), [&set](char ch) { return InSet(set, ch); }, c);
    return result;
}

// The whole rest of the text is kept after every match; texts longer than
// 64 KB are not cut.
std::string ReplaceText(std::string_view oldText, std::string_view newText, std::string_view text,
                        bool caseSensitive)
{
    std::string result;
    size_t from = 0;
    for (size_t hit; (hit = FindFrom(oldText, text, from, !caseSensitive)) != npos; from = hit + oldText.size()) {
        result.append(text.substr(from, hit - from));
        result.append(newText);
    }
    result.append(text.substr(from));
    return result;
}

std::string ReplaceAll(std::string_view oldText, std::string_view newText, std::string_view text)
{
    return ReplaceText(oldText, newText, text, /*caseSensitive=*/true);
}

// Removing the leftmost occurrence again and again is the same as building
// the result left to right and cutting sub whenever the result ends in it:
// what is already built never holds an occurrence, so the one at its end is
// the leftmost. Linear passes instead of one rescan per removal.
std::string RemoveAll(std::string_view sub, std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        result += c;
        if (!sub.empty() && std::string_view(result).ends_with(sub))
            result.resize(result.size() - sub.size());
    }
    return result;
}

std::string RemovePrefix(std::string_view prefix, std::string_view text)
{
    return std::string(text.starts_with(prefix) ? text.substr(prefix.size()) : text);
}

std::string DropLastIn(const CharSet& set, std::string_view text)
{
    if (!text.empty() && InSet(set, text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

std::string DropFirstIn(const CharSet& set, std::string_view text)
{
    if (!text.empty() && InSet(set, text.front()))
        text.remove_prefix(1);
    return std::string(text);
}

bool HasChar(char c, std::string_view text)
{
    return text.find(c) != npos;
}

std::string TextBeforeAnyOf(const CharSet& set, std::string_view text)
{
    return Before(text, FindFirstIn(set, text));
}

std::string TextAfterAnyOf(const CharSet& set, std::string_view text)
{
    return After(text, FindFirstIn(set, text), 1);
}

std::string TextAfterLastOf(const CharSet& set, std::string_view text)
{
    return After(text, FindLastIn(set, text), 1);
}

std::string AddBackslash(std::string_view text)
{
    std::string result(text);
    if (!result.empty() && result.back() != '\\')
        result += '\\';
    return result;
}

std::string FolderOfPath(std::string_view path)
{
    const std::size_t end = path.find_last_of("\\:");
    return end == std::string_view::npos ? std::string() : std::string(path.substr(0, end + 1));
}

std::string RemoveBackslash(std::string_view text)
{
    if (text.ends_with('\\'))
        text.remove_suffix(1);
    return std::string(text);
}

// The raw text is checked for a leading separator too: a separator holding a
// space never leads the space-trimmed text, and the walk would stand still.
void NextToken(std::string_view separator, std::string& text, std::string& token)
{
    const bool leading = CollapsedStartsWith(text, separator) || text.starts_with(separator);
    TakeToken(text, token, leading, separator.size(),
              [separator](std::string_view rest) { return FindFrom(separator, rest, 0); });
}

void NextTokenAnyOf(const CharSet& set, std::string& text, std::string& token)
{
    const size_t first = text.find_first_not_of(' ');
    const bool leading = (first != npos && InSet(set, text[first])) || (!text.empty() && InSet(set, text.front()));
    TakeToken(text, token, leading, 1, [&set](std::string_view rest) { return FindFirstIn(set, rest); });
}

std::string HexOfBytes(std::string_view bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        text += digits[static_cast<unsigned char>(c) >> 4];
        text += digits[static_cast<unsigned char>(c) & 15];
    }
    return text;
}

std::optional<std::string> BytesOfHex(std::string_view text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigitValue(text[i]), low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes += static_cast<char>(high * 16 + low);
    }
    return bytes;
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
