#include "update/stub/StubRecords.h"
#include "update/stub/StubRules.h"
#include "FuzzRequire.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <set>
#include <string>

namespace {

class SetProbe : public FileProbe {
public:
    std::set<std::string> files;
    bool FileExists(std::string_view path) const override { return files.count(std::string(path)) != 0; }
};

bool Inside(std::string_view part, std::string_view whole)
{
    return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

void CheckCommand(std::string_view arguments, const SetProbe& probe)
{
    StubCommand command;
    const StubParse result = ParseStubCommand(arguments, probe, command);
    if (result == StubParse::empty || result == StubParse::malformed)
        return;
    const std::string_view program = command.program;
    Require(!program.empty() && Inside(program, arguments), "the program is part of the arguments");
    const bool quoted = arguments.find_first_not_of(" \t") != std::string_view::npos &&
                        arguments[arguments.find_first_not_of(" \t")] == '"';
    Require(quoted || (!IsBlank(program.front()) && !IsBlank(program.back())), "an unquoted program has no outer blanks");
    Require(!FolderOf(program).empty() && FolderOf(program).size() < program.size(), "the program lies in a folder");
    Require(probe.FileExists(program) == (result == StubParse::ok), "ok exactly when the program exists");
    Require(Inside(command.params, arguments), "the parameters are part of the arguments");
}

void CheckTargets(FuzzedDataProvider& data)
{
    const bool setupMode = data.ConsumeBool();
    TargetNamer namer(setupMode, data.ConsumeBool());
    int special = 0;
    while (data.remaining_bytes() > 0) {
        const std::string target = data.ConsumeRandomLengthString(64);
        if (!IsPlainFileName(target))
            continue;
        Require(target.find_first_of("\\/:") == std::string_view::npos && target != "." && target != "..",
                "a plain name has no separator");
        if (namer.Role(target, data.ConsumeBool()) != TargetRole::file)
            ++special;
        Require(setupMode || special == 0, "only setup mode singles out an executable");
        Require(special <= 1, "at most one executable is singled out");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    SetProbe probe;
    const int files = data.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < files; ++i)
        probe.files.insert(data.ConsumeRandomLengthString(48));
    const std::string commandLine = data.ConsumeRandomLengthString(256);
    const std::string_view arguments = StubArgumentText(commandLine);
    Require(Inside(arguments, commandLine) &&
                (arguments.empty() || arguments.data() + arguments.size() == commandLine.data() + commandLine.size()),
            "the arguments end the command line");
    CheckCommand(arguments, probe);
    CheckCommand(commandLine, probe);
    // The files the probe knows are likely program paths: try them with a restart argument.
    for (const std::string& file : probe.files)
        CheckCommand(file + " +" + commandLine, probe);
    CheckTargets(data);
    return 0;
}
