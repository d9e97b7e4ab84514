#include "core/FileNameRule.h"

bool IsBareFileName(std::string_view name)
{
    if (name.empty() || name.back() == '.' || name.back() == ' ')
        return false;
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 32 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
            return false;
    }
    return true;
}
