#pragma once
// A publisher who signs information files with the host's openssl, as the
// README tells: a P-256 key pair made by openssl, in a folder of its own
// beside the test program, removed at the end.
#include <string>

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
