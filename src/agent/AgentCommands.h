#pragma once
// kdAgent.exe's two commands, for the product's uninstaller and for support.
// Each runs on the program's one thread, shows no window, writes UTF-8 text
// to the standard output it inherited (or the parent's console, attached for
// the writing) once it has let the store lock go, all at once, and ends the
// program with its exit code.
//   /list     the stores of the watched locations, StoreListing.h's lines; 0.
//   /restore  asks the running agents of the user (the processes of the
//             agent's image with the user's token) to quit (UM_QUIT on this
//             desktop, their quit event, AgentQuitEvent.h, in other sessions)
//             and waits for them, bounded; while one cannot be asked or does
//             not end it restores nothing, names its process id and exits 1;
//             then under the store lock writes every stored item back where
//             it came from under its own name (Run values with their type,
//             Startup files moved back, Task Manager's choices back), drops
//             the agent's own item and removes the stores, then, still under
//             the lock, asks an agent started meanwhile too. 0 only when no
//             store is left; running it again finishes what a cut-short run
//             left. The machine's locations need an elevated run: without
//             one they are left, and the output says so (exit 1).
#include <optional>
#include <string>
#include <vector>

// The exit code of the command the program's arguments (ProgramArguments,
// the program's own path first) name; nothing when they name none (the agent
// then runs as usual).
std::optional<int> RunAgentCommand(const std::vector<std::string>& arguments);
