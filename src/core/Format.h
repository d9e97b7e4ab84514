#pragma once
// Fills the "%s" placeholders of a fixed message format in order. Arguments are
// inserted as they are, never interpreted, so a path holding "%s" is harmless.
// Platform-free.
#include <initializer_list>
#include <string>
#include <string_view>

std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args);
