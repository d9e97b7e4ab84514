#pragma once
// Small text operations on single-byte strings in the system code page.
// Positions are 1-based with 0 for "not found"; a start of 0 means "from the
// beginning" and a position found from a later start is still reported as a
// position in the whole text. Every byte is classified as unsigned char, so
// bytes 0x80..0xFF are ordinary characters, never control codes.
// The collection is stateless, so its operations are free functions.
// Platform-free: no <windows.h> here.

#include <bitset>
#include <optional>
#include <string>
#include <string_view>

using CharSet = std::bitset<256>;

CharSet MakeCharSet(std::string_view chars);
bool InSet(const CharSet& set, char c);

int PosFrom(std::string_view sub, std::string_view text, bool ignoreCase = false, int start = 0);
int LastPos(std::string_view sub, std::string_view text, bool ignoreCase = false);
std::string TextBefore(std::string_view sub, std::string_view text, int start = 0);
std::string TextAfter(std::string_view sub, std::string_view text, int start = 0);
std::string TextBeforeNth(std::string_view sub, std::string_view text, int n);
std::string TextAfterLast(std::string_view sub, std::string_view text);
char FirstChar(std::string_view text);
std::string TrimCollapse(std::string_view text, char c);
std::string TrimUpTo(std::string_view text, char c);
bool SameTextCollapsed(std::string_view a, std::string_view b, char c);
bool StartsWith(std::string_view prefix, std::string_view text, char c = '\0');
int CountOf(std::string_view text, const CharSet& set);
std::string RemoveChars(std::string_view text, const CharSet& set);
std::string RemoveChar(std::string_view text, char c);
std::string ReplaceChars(std::string_view text, const CharSet& set, char c);
std::string ReplaceText(std::string_view oldText, std::string_view newText, std::string_view text,
                        bool caseSensitive);
std::string ReplaceAll(std::string_view oldText, std::string_view newText, std::string_view text);
std::string RemoveAll(std::string_view sub, std::string_view text);
std::string RemovePrefix(std::string_view prefix, std::string_view text);
std::string DropLastIn(const CharSet& set, std::string_view text);
std::string DropFirstIn(const CharSet& set, std::string_view text);
bool HasChar(char c, std::string_view text);
std::string TextBeforeAnyOf(const CharSet& set, std::string_view text);
std::string TextAfterAnyOf(const CharSet& set, std::string_view text);
std::string TextAfterLastOf(const CharSet& set, std::string_view text);
std::string AddBackslash(std::string_view text);
std::string RemoveBackslash(std::string_view text);
// The folder part of a path with its closing "\" (or the ":" of a drive);
// empty when the path names no folder.
std::string FolderOfPath(std::string_view path);
// Walks a separated list: each call moves the next item of `text` into
// `token`; an empty token once the text is used up.
void NextToken(std::string_view separator, std::string& text, std::string& token);
void NextTokenAnyOf(const CharSet& set, std::string& text, std::string& token);

// Locale-independent case helpers shared by the case-insensitive operations.
char UpperChar(char c);
std::string UpperText(std::string_view text);
bool SameText(std::string_view a, std::string_view b);
// The value of a hexadecimal digit of either case; -1 for any other byte.
int HexDigitValue(char c);
// Each byte as two lower-case hexadecimal digits, high digit first.
std::string HexOfBytes(std::string_view bytes);
// The bytes of such a text, digits of either case; nothing when it is not one.
std::optional<std::string> BytesOfHex(std::string_view text);
