#pragma once
// The program's environment variables and arguments, whatever their length.
#include <string>
#include <string_view>
#include <vector>

// Value of an environment variable, whatever its length; empty when it is not set.
std::string GetEnvVar(std::string_view name);
// %NAME% references expanded; the text unchanged when expansion fails.
std::string ExpandEnvVars(std::string_view text);
// The program's arguments as the system splits its command line, the
// program's own name first.
std::vector<std::string> ProgramArguments();
