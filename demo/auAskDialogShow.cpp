// Shows the engine's ask-to-upgrade dialog for screenshots: in the language
// with the given ordinal, with the release message read from a file as the
// engine reads it (markup, UTF-8 or in the system code page), answered
// "Later" after the given seconds.
// Usage: auAskDialogShow LANGUAGE-ORDINAL MESSAGE-FILE SECONDS
#include "update/auUpgraderDialogs.h"
#include "update/auUpgraderTexts.h"
#include "winutil/WideText.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

BOOL CALLBACK AnswerLater(HWND window, LPARAM)
{
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (IsWindowVisible(window) && lstrcmpW(className, L"#32770") == 0)
        PostMessageW(window, WM_COMMAND, IDNO, 0);
    return TRUE;
}

void CALLBACK Later(HWND, UINT, UINT_PTR, DWORD)
{
    EnumThreadWindows(GetCurrentThreadId(), AnswerLater, 0);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: auAskDialogShow LANGUAGE-ORDINAL MESSAGE-FILE SECONDS\n");
        return 2;
    }
    std::ifstream file(argv[2], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "auAskDialogShow: cannot read %s\n", argv[2]);
        return 1;
    }
    std::ostringstream message;
    message << file.rdbuf();
    SelectUpgraderLanguage(static_cast<TauAutoUpgraderLanguage>(std::atoi(argv[1])));
    SetTimer(nullptr, 0, static_cast<UINT>(std::atoi(argv[3])) * 1000, Later);
    const bool yes = DefaultUpgraderPrompts().AskUpgrade(Utf8FromPublisherText(message.str()),
                                                         "http://example.com/whatsnew.html", {});
    std::printf("%s\n", yes ? "yes" : "later");
    return 0;
}
