#include "updater/UpdaterLog.h"

#include "common/LogFile.h"
#include "core/StrCon.h"
#include "startup/uStartupMgr.h"
#include "winutil/WideText.h"

#include <windows.h>
#include <shlobj.h>

std::string UpdaterLogFile()
{
    wchar_t named[MAX_PATH + 1] = {};
    const DWORD length = GetEnvironmentVariableW(L"KDUPDATER_LOG", named, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH)
        return Utf8FromWide(named);
    const std::string local = GetSpecialFolderPath(CSIDL_LOCAL_APPDATA);
    return local.empty() ? std::string() : AddBackslash(local) + "Keldora\\freshet.log";
}

void LogUpdater(const std::string& line)
{
    OutputDebugStringW(WideFromUtf8("freshet: " + line + "\n").c_str());
    AppendLogFile(UpdaterLogFile(), line);
}
