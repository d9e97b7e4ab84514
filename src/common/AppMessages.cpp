#include "AppMessages.h"

#include "common/Environment.h"
#include "core/Format.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"

#include <exception>

namespace {

ErrorHandler& CurrentHandler()
{
    static ErrorHandler handler;
    return handler;
}

std::string& Title()
{
    static std::string title;
    return title;
}

int FirstButton(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return IDYES;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    case MB_RETRYCANCEL:
        return IDRETRY;
    default:
        return IDOK;
    }
}

std::string OneLine(const std::string& text)
{
    std::string line;
    for (const char c : text) {
        if (c == '\r')
            line += "\\r";
        else if (c == '\n')
            line += "\\n";
        else
            line += c;
    }
    return line;
}

} // namespace

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type)
{
    const std::string log = GetEnvVar("KDAGENT_MESSAGE_LOG");
    if (log.empty())
        return MessageBoxW(owner, WideFromUtf8(text).c_str(), WideFromUtf8(caption).c_str(), type);
    AppendToFile(log, caption + '|' + PaddedHex(type) + '|' + OneLine(text) + '\n');
    return FirstButton(type);
}

void SetErrorHandler(ErrorHandler handler)
{
    CurrentHandler() = std::move(handler);
}

void SetApplicationTitle(const std::string& title)
{
    Title() = title;
}

const std::string& ApplicationTitle()
{
    return Title();
}

void HandleCurrentException() noexcept
{
    try {
        const std::string message = CurrentExceptionText();
        if (CurrentHandler())
            CurrentHandler()(message);
        else
            ShowMessageBox(nullptr, message, Title(), MB_OK | MB_ICONERROR);
    } catch (...) {
        // Nothing is left to report a failure of the report to.
    }
}

void HandleException(const std::exception_ptr& error) noexcept
{
    try {
        std::rethrow_exception(error);
    } catch (...) {
        HandleCurrentException();
    }
}

std::string CurrentExceptionText()
{
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}
