#pragma once
// Commands of the host (Linux) run from a Wine test through the host's shell,
// and the host paths of the files they are given.
#include <string>

// Runs a shell command line of the host with its output going to a file in
// `folder` (a Windows path ending in "\", on a drive the host sees) and
// returns that output; throws when the command fails or does not end.
std::string HostOutput(const std::string& folder, const std::string& command);

// The host path of a path on Wine's drive Z:.
std::string HostPath(const std::string& windowsPath);
