#pragma once
// Texts of the platform's transfer status notifications, as handed to
// OnStatusChange. Platform-free: no <windows.h> here.

#include <cstddef>
#include <string>

// "Resolving name", "Connected", ... ; "Unknown status" for a code not listed.
const char* StatusChangeText(unsigned long code);

// The new address of a redirect notification: the text of the status
// information up to its terminating zero, never reading past `size` bytes.
std::string RedirectTarget(const void* info, std::size_t size);
