#pragma once
// Host programs the Wine tests need (openssl through the host's shell), and a
// publisher who signs information files with them as the README tells.
#include <string>

// Runs a shell command line of the host with its output going to a file in
// `folder` (a Windows path ending in "\", on a drive the host sees) and
// returns that output; throws when the command fails or does not end.
std::string HostOutput(const std::string& folder, const std::string& command);

// A publisher with a P-256 key pair made by openssl, in a folder of its own
// beside the test program, removed at the end.
class Publisher {
public:
    explicit Publisher(const std::string& name);
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // The line for PublicKey= of update.ini.
    std::string PublicKey() const;
    // Base64 of the DER signature of the text.
    std::string Signature(const std::string& text) const;
    // The text with its signature line appended.
    std::string Signed(const std::string& text) const { return text + "#signature=" + Signature(text) + "\r\n"; }
    // The 64 hexadecimal digits of the SHA-256 of a file.
    std::string Digest(const std::string& path) const;

private:
    std::string Key() const;

    std::string folder_;
};
