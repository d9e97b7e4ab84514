#pragma once
// The one place where text crosses between the programs' UTF-8 and the
// system's UTF-16 ("W") interfaces. Names survive the round trip exactly,
// unpaired surrogates included (core/Utf8.h).
#include <string>
#include <string_view>

std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);
// A zero-terminated wide text; null gives the empty text.
std::string Utf8FromWide(const wchar_t* text);

// System-code-page text (files written by older versions, the shell's and
// COM's narrow answers) for the wide interfaces.
std::wstring WideFromAnsi(std::string_view text);

// Text a publisher wrote (the release message of an information file) as
// UTF-8: strict UTF-8 as it stands, what every editor writes today; after a
// UTF-8 byte-order mark, which is dropped, UTF-8 whatever follows (bytes that
// are no character become U+FFFD); anything else, as older files are, in the
// system's code page.
std::string Utf8FromPublisherText(std::string_view text);
