#include "Settings.h"

long TSettings::ReadInteger(std::string_view section, std::string_view key) const
{
    return file_.ReadInteger(section, key, 0);
}

bool TSettings::WriteInteger(std::string_view section, std::string_view key, long value) const
{
    return file_.WriteInteger(section, key, value);
}
