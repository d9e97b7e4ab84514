#pragma once
// Addresses the engine hands to the browser or names in its messages.
// Platform-free: no <windows.h> here.

#include <optional>
#include <string>
#include <string_view>

// The address as the browser gets it: "http://" put in front when it names no
// scheme, then accepted only for http, https and ftp, and enclosed in double
// quotes. Nothing for any other scheme or for an address holding a quote or a
// control character, which could otherwise smuggle arguments to the browser.
std::optional<std::string> BrowserAddress(std::string_view url);

// The address the what's-new page may load: an http or https address (the
// scheme in any case) naming a host, returned as given. Nothing for any other
// scheme, for an address without one (a "\\host\share" path), for a host
// that starts with a slash or backslash, or for an address holding a blank,
// a quote or a control character.
std::optional<std::string> WebPageAddress(std::string_view url);

// Whether an address names a host over https (the scheme in any case): what
// a transfer's final address must be for a release that no signature covers.
bool IsHttpsAddress(std::string_view url);

// The host part of an address: after "://" (or from the start) up to the
// first "/", ":", "?", "#" or the end; user information before "@" dropped.
std::string HostOfURL(std::string_view url);
