// Prints what this process sees of the system, one fact a line, for tests
// that change Wine's reported version (it is read when a process starts).
// With "restore N" or "setup N" it restores or takes over location N instead,
// for tests that stop it partway (the stores' step halts) and cut the power
// or change the disk there. With "log FILE NAME N" it appends the lines
// "NAME 0" .. "NAME N-1" to the log FILE, one at a time, for tests that run
// several writers of one log at once.
#include "common/LogFile.h"
#include "common/SystemFacts.h"
#include "startup/uStartupMgr.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    const bool setup = argc == 3 && std::strcmp(argv[1], "setup") == 0;
    if (setup || (argc == 3 && std::strcmp(argv[1], "restore") == 0)) {
        try {
            const auto mgr = CreateStartupMgr(static_cast<std::uint8_t>(std::atoi(argv[2])));
            return (setup ? mgr->SetupItems() : mgr->RestoreItems()) ? 0 : 1;
        } catch (const std::exception& e) {
            std::printf("%s\n", e.what());
            return 2;
        }
    }
    if (argc == 5 && std::strcmp(argv[1], "log") == 0) {
        for (int i = 0; i < std::atoi(argv[4]); ++i)
            AppendLogFile(argv[2], std::string(argv[3]) + " " + std::to_string(i));
        return 0;
    }
    std::printf("%u\n%d\n%s\n%s\n", static_cast<unsigned>(GetWindowsKind()), IsVersion51OrLater() ? 1 : 0,
                GetStpDesc(AllUsersStartupFolder).Path.c_str(), GetStpDesc(UserStartupFolder).Path.c_str());
    return 0;
}
