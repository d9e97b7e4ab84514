// Writes keys Section\<prefix>0 .. <prefix>N-1 into a settings file through
// the settings store, one fresh store per write as the agent does, so that a
// test can run several writers against the same file at once.
// Usage: agent_cfg_writer FILE PREFIX COUNT
#include "agent/uAppConfig.h"
#include "common/Environment.h"

#include <cstdlib>
#include <string>

int main()
{
    const std::vector<std::string> arguments = ProgramArguments();
    if (arguments.size() != 4)
        return 2;
    const int count = std::atoi(arguments[3].c_str());
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        TAppCfgIni config;
        config.Open(arguments[1]);
        if (!config.WriteInteger("Writers\\" + arguments[2] + std::to_string(i), i))
            ++failures;
    }
    return failures;
}
