#pragma once
// The fixed version block of a file's version resource (path UTF-8).
#include <windows.h>

#include <optional>
#include <string>

std::optional<VS_FIXEDFILEINFO> ReadFixedVersion(const std::string& file);
