#include "ReleaseTestSupport.h"

#include "kdrelease/ReleaseCommands.h"
#include "kdrelease/ReleaseFiles.h"

#include <atomic>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

std::chrono::system_clock::time_point FixedNow()
{
    using namespace std::chrono;
    return sys_days{year{2026} / June / 1} + hours{12};
}

TempFolder::TempFolder()
{
    static std::atomic<int> count{0};
    const auto unique = std::to_string(std::random_device{}()) + "-" + std::to_string(++count);
    path_ = fs::temp_directory_path() / ("kdrelease-test-" + unique);
    fs::create_directories(path_);
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempFolder::operator/(std::string_view relative) const
{
    return Utf8OfPath((path_ / PathOfUtf8(relative)).make_preferred());
}

std::string TempFolder::Add(std::string_view relative, std::string_view bytes) const
{
    const fs::path path = path_ / PathOfUtf8(relative);
    fs::create_directories(path.parent_path());
    WriteReleaseFile(path, bytes, /*replace=*/true);
    return Utf8OfPath(path);
}

ReleaseRun RunKdrelease(const std::vector<std::string>& arguments, std::chrono::system_clock::time_point now)
{
    std::ostringstream out, err;
    ReleaseRun run;
    run.code = RunRelease(arguments, out, err, now);
    run.out = out.str();
    run.err = err.str();
    return run;
}

std::string PublicKeyIn(const std::string& output)
{
    const std::size_t at = output.find("PublicKey=");
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + 10;
    return output.substr(start, output.find_first_of("\r\n", start) - start);
}

std::string ReadText(const std::string& path)
{
    return ReadFileBytes(PathOfUtf8(path));
}

bool Exists(const std::string& path)
{
    std::error_code ignored;
    return fs::exists(PathOfUtf8(path), ignored);
}
