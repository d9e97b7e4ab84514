#pragma once
// UTF-8 inside the programs, UTF-16 at the system's edge. Names the system
// hands us (registry values, files) may hold an unpaired surrogate, which no
// UTF-8 can say; such a code unit is kept in its three-byte generalised form,
// so a name read and written back is exactly the name that was there.
// Platform-free: allocates only the returned strings. The per-character steps
// (DecodeUtf8At, EncodeUtf8, DecodeUtf16At, EncodeUtf16) allocate nothing and
// live in a file of their own, so a program may use them alone.
#include <cstddef>
#include <string>
#include <string_view>

// One character decoded from UTF-8 text.
struct Utf8Char {
    char32_t code = 0;       // U+FFFD when the bytes are no character
    std::size_t length = 1;  // bytes taken, at least one
    bool valid = false;      // strict UTF-8: shortest form, no surrogate, at most U+10FFFF
    bool loneSurrogate = false;  // the generalised form of an unpaired surrogate
};

// The character at `at` (< text.size()). A byte that starts no well-formed
// sequence is taken alone; a truncated sequence takes the bytes it has.
Utf8Char DecodeUtf8At(std::string_view text, std::size_t at);

// The UTF-8 of one code point (the generalised form for a surrogate,
// U+FFFD above U+10FFFF); returns the bytes written, 1 to 4.
std::size_t EncodeUtf8(char32_t code, char out[4]);

// The code point at `at` (< text.size()) of UTF-16 text, moving `at` past
// it; an unpaired surrogate is returned as it stands.
char32_t DecodeUtf16At(std::u16string_view text, std::size_t& at);

// The UTF-16 of one code point (U+FFFD above U+10FFFF); returns the units
// written, 1 or 2.
std::size_t EncodeUtf16(char32_t code, char16_t out[2]);

// Whether the text is strict UTF-8 (what publishers' editors write).
bool IsValidUtf8(std::string_view text);

// Appends a code point as UTF-8; a surrogate is written in its generalised
// form, anything above U+10FFFF as U+FFFD.
void AppendUtf8(std::string& out, char32_t code);

// UTF-16 to UTF-8; unpaired surrogates are kept (see above).
std::string Utf8FromUtf16(std::u16string_view text);
// UTF-8 to UTF-16: the inverse of Utf8FromUtf16. Bytes that are no character
// become U+FFFD each, so the result is defined for any input.
std::u16string Utf16FromUtf8(std::string_view text);

// Bytes of the longest start of the text that ends between characters and
// holds at most `units` UTF-16 code units as Utf16FromUtf8 counts them: a
// field limited in characters is cut there, never inside a character.
std::size_t Utf8PrefixLength(std::string_view text, std::size_t units);
