// Prints what this process sees of the system, one fact a line, for tests
// that change Wine's reported version (it is read when a process starts).
#include "common/Utils.h"
#include "startup/uStartupMgr.h"

#include <cstdio>

int main()
{
    std::printf("%u\n%d\n%s\n%s\n", static_cast<unsigned>(GetWindowsKind()), IsVersion51OrLater() ? 1 : 0,
                GetStpDesc(AllUsersStartupFolder).Path.c_str(), GetStpDesc(UserStartupFolder).Path.c_str());
    return 0;
}
