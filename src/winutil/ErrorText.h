#pragma once
// Turns a Windows error code into text so that every failure message reads
// "context: text (code)". WinInet's 12xxx codes come from wininet.dll's table.
#include <windows.h>

#include <stdexcept>
#include <string>

std::string ErrorText(DWORD code);
std::string ErrorMessage(const std::string& context, DWORD code);

// A Windows call failed; the message is ErrorMessage's.
class EWin32Error : public std::runtime_error {
public:
    EWin32Error(const std::string& context, DWORD code);
    explicit EWin32Error(const std::string& message) : std::runtime_error(message), code_(0) {}
    DWORD code() const { return code_; }

private:
    DWORD code_;
};
