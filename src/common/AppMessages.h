#pragma once
// Message boxes and the program's general error handling, shared by the
// agent and the updater.
//
// Texts are UTF-8; boxes are shown through the wide ("W") functions.
//
// Test seam: when the environment variable KDAGENT_MESSAGE_LOG names a file,
// no box is shown; each message is appended to that file as one UTF-8 line
// "<caption>|<type in hex>|<text with CR and LF written as \r and \n>" and
// answered with the box's first button (OK, Yes, Abort, Retry). Nothing else
// changes, so a test sees exactly what a user would have been asked.
#include <windows.h>

#include <exception>
#include <functional>
#include <string>

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);

// What a window procedure, timer callback or WinMain does with an exception
// it must not let pass. The default shows the message in an error box
// titled with the application title.
using ErrorHandler = std::function<void(const std::string& message)>;
void SetErrorHandler(ErrorHandler handler);
void SetApplicationTitle(const std::string& title);
const std::string& ApplicationTitle();
// Call only inside a catch block; never raises.
void HandleCurrentException() noexcept;
// The text of the exception being handled ("Unknown error" for one that is
// no std::exception). Call only inside a catch block.
std::string CurrentExceptionText();
// The same for an exception carried out of its catch block (another thread's).
void HandleException(const std::exception_ptr& error) noexcept;
