#pragma once
// The engine's own dialogs: the ask-to-upgrade dialog, the error box and the
// password dialog, all with wide texts so every language of the message
// table shows whatever the system's code page. The engine calls them through
// TauUpgraderPrompts, which tests replace with answers of their own.
// Main thread only; each call is modal and returns the user's answer.

#include <functional>
#include <string>

struct TauUpgraderPrompts {
    // The ask-to-upgrade dialog: true for Yes, false for Later.
    std::function<bool(const std::string& upgradeMsg, const std::string& moreInfoURL)> AskUpgrade;
    // An error box with this text.
    std::function<void(const std::wstring& text)> ShowError;
    // The password dialog: true for OK, with the two texts as entered.
    std::function<bool(const std::wstring& text, std::string& username, std::string& password)> AskPassword;
    // Starts the browser with an address already checked and quoted.
    std::function<void(const std::string& quotedURL)> OpenBrowser;
};

// The real dialogs and the shell.
TauUpgraderPrompts DefaultUpgraderPrompts();
