// Writes keys Section\<prefix>0 .. <prefix>N-1 into a settings file through
// the settings store, one fresh store per write as the agent does, so that a
// test can run several writers against the same file at once.
// Usage: agent_cfg_writer FILE PREFIX COUNT
#include "agent/uAppConfig.h"

#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    const int count = std::atoi(argv[3]);
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        TAppCfgIni config;
        config.Open(argv[1]);
        if (!config.WriteInteger(std::string("Writers\\") + argv[2] + std::to_string(i), i))
            ++failures;
    }
    return failures;
}
