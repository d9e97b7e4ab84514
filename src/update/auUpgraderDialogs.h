#pragma once
// The engine's own dialogs: the ask-to-upgrade dialog, the error box and the
// password dialog, all with wide texts so every language of the message
// table shows whatever the system's code page. The engine calls them through
// TauUpgraderPrompts, which tests replace with answers of their own.
// Main thread only; each call is modal and returns the user's answer.

#include <functional>
#include <string>

// The page about the release behind the ask dialog's More Info button.
// Preload starts loading it while the question is open; Show shows it.
// Either may be empty: without Show the button does nothing.
struct TauMoreInfo {
    std::function<void(const std::string& url)> Preload;
    std::function<void(const std::string& url)> Show;
};

struct TauUpgraderPrompts {
    // The ask-to-upgrade dialog: true for Yes, false for Later. The release
    // message is markup from the network, shown as untrusted; the page is
    // preloaded and offered only when moreInfoURL is not empty.
    std::function<bool(const std::string& upgradeMsg, const std::string& moreInfoURL, const TauMoreInfo& moreInfo)>
        AskUpgrade;
    // An error box with this text.
    std::function<void(const std::wstring& text)> ShowError;
    // The password dialog: true for OK, with the two texts as entered.
    std::function<bool(const std::wstring& text, std::string& username, std::string& password)> AskPassword;
    // Starts the browser with an address already checked and quoted.
    std::function<void(const std::string& quotedURL)> OpenBrowser;
    // The what's-new window, when the program has one: preloads and shows the
    // page of MoreInfoURL. Without ShowInfo, More Info opens the page in the
    // browser through the engine's OpenURL.
    std::function<void(const std::string& url)> PreloadInfo;
    std::function<void(const std::string& url)> ShowInfo;
};

// The real dialogs and the shell.
TauUpgraderPrompts DefaultUpgraderPrompts();
