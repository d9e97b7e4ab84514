#pragma once
// The updater's log: what a silent run could not show (a refused release, an
// install that failed or was rolled back). Lines go to the debugger output and
// to "freshet.log" in the user's local application data folder
// (Keldora\freshet.log); the environment variable KDUPDATER_LOG names another
// file instead (the tests' seam).
#include <string>

std::string UpdaterLogFile();
void LogUpdater(const std::string& line);
