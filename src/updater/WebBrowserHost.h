#pragma once
// The platform's web browser control hosted in a window without any ActiveX
// framework: a hand-written container site (client site, in-place site and
// frame) activates the control in place in the parent window and sizes it.
// Only two of the control's services are used: navigating to an address and
// reading the location it holds. Runs on the parent window's thread, which
// must be in a single-threaded COM apartment.
#include <windows.h>
#include <exdisp.h>
#include <ole2.h>

#include "winutil/UniqueShell.h"

#include <memory>
#include <stdexcept>
#include <string>

// A failed request to the browser control, with its result code.
class EOleError : public std::runtime_error {
public:
    EOleError(const std::string& what, HRESULT result);
    HRESULT Result() const { return result_; }

private:
    HRESULT result_;
};

class TWebBrowser {
public:
    // Creates and activates the control inside `parent` at `bounds`; a
    // failure raises EOleError.
    TWebBrowser(HWND parent, const RECT& bounds);
    ~TWebBrowser();
    TWebBrowser(const TWebBrowser&) = delete;
    TWebBrowser& operator=(const TWebBrowser&) = delete;

    void SetBounds(const RECT& bounds);
    // Starts loading the page; an error result from the control raises EOleError.
    void Navigate(const std::wstring& address);
    // The address of the page the control holds; empty when it holds none.
    std::wstring LocationURL() const;

private:
    class Site;

    HWND parent_;
    std::unique_ptr<Site> site_;
    UniqueCom<IOleObject> object_;
    UniqueCom<IWebBrowser2> browser_;
};
