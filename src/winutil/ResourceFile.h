#pragma once
// Writing a module's binary resource to a file, as a program does when it
// hands over to a helper program it carries.
#include <windows.h>

#include <string>

// Writes the complete data of the resource (name and type as the resource
// script gives them, UTF-8 or MAKEINTRESOURCE numbers) to a file created anew
// at path (UTF-8): write access, others may read and write, attribute temporary. Returns false, with the file removed,
// when the resource is missing or the file cannot be created or written
// completely; GetLastError then tells why.
bool WriteResourceToFile(HMODULE module, const char* name, const char* type, const std::string& path);
