#pragma once
// Writing a module's binary resource to a file, as a program does when it
// hands over to a helper program it carries.
#include <windows.h>

#include <string>

// Writes the complete data of the resource (name and type as the resource
// script gives them, UTF-8 or MAKEINTRESOURCE numbers) to a new file at the
// UTF-8 path: never over a file that is already there (a planted one stays
// untouched), others may only read it meanwhile, attribute temporary. Returns
// false, with a file it created removed, when the resource is missing, the
// file exists or cannot be created or written completely; GetLastError then
// tells why.
bool WriteResourceToFile(HMODULE module, const char* name, const char* type, const std::string& path);
