#pragma once
// Fills the "%s" placeholders of a fixed message format in order. Arguments are
// inserted as they are, never interpreted, so a path holding "%s" is harmless.
// Platform-free.
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args);

// Decimal digits of `value`, zero-padded to `width` as "%0*lld" pads them (a
// sign counts toward the width). Keeps the C library's formatter, tens of
// kilobytes, out of the programs that only ever print numbers.
std::string PaddedDecimal(long long value, std::size_t width = 0);

// Upper-case hex digits of `value`, zero-padded to `width` as "%0*llX" pads them.
std::string PaddedHex(unsigned long long value, std::size_t width = 0);
