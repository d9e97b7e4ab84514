// The program entry of kdrelease: the arguments as UTF-8 (from the wide
// command line on Windows, so every file name arrives whole), then the
// sub-command.
#include "kdrelease/ReleaseCommands.h"

#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include "winutil/WideText.h"

#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    // Names and messages are printed as UTF-8.
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(Utf8FromWide(argv[i]));
    return RunRelease(arguments, std::cout, std::cerr, std::chrono::system_clock::now());
}
#else
int main(int argc, char** argv)
{
    return RunRelease(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr,
                      std::chrono::system_clock::now());
}
#endif
