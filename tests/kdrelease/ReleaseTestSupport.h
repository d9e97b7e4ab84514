#pragma once
// Support for kdrelease's tests on both platforms: a fresh folder below the
// system's temporary folder, and kdrelease run in this process against a
// fixed clock.
#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// 2026-06-01T12:00:00Z.
std::chrono::system_clock::time_point FixedNow();

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The UTF-8 path of an entry below the folder.
    std::string operator/(std::string_view relative) const;
    // Writes a file (and its folders) below the folder; its UTF-8 path.
    std::string Add(std::string_view relative, std::string_view bytes) const;

private:
    std::filesystem::path path_;
};

struct ReleaseRun {
    int code = -1;
    std::string out;
    std::string err;
};
ReleaseRun RunKdrelease(const std::vector<std::string>& arguments,
                        std::chrono::system_clock::time_point now = FixedNow());

// The key after "PublicKey=" in kdrelease's output.
std::string PublicKeyIn(const std::string& output);
std::string ReadText(const std::string& path);
bool Exists(const std::string& path);
