#pragma once
// Conversion of system-code-page text for the shell's and COM's wide-character
// interfaces.
#include <string>
#include <string_view>

std::wstring WideFromAnsi(std::string_view text);
