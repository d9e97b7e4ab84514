#include "ReleaseFiles.h"

#include "kdrelease/ReleaseCrypto.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

std::string LowerAscii(std::string_view text)
{
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; });
    return lowered;
}

namespace {

ReleaseFile HashFile(const fs::path& path, std::string name)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ReleaseError("cannot read " + Utf8OfPath(path));
    Sha256 hash;
    ReleaseFile file{std::move(name), 0, {}, {}};
    std::vector<char> block(1 << 20);
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
        hash.Update(block.data(), static_cast<std::size_t>(in.gcount()));
        file.size += static_cast<std::uint64_t>(in.gcount());
    }
    if (in.bad())
        throw ReleaseError("cannot read " + Utf8OfPath(path));
    file.sha256 = hash.Finish();
    return file;
}

}  // namespace

fs::path PathOfUtf8(std::string_view text)
{
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8OfPath(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

bool IsInFolder(const fs::path& file, const fs::path& folder)
{
    std::error_code error;
    return fs::equivalent(file.parent_path().empty() ? fs::path(".") : file.parent_path(), folder, error);
}

std::string ReadFileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ReleaseError("cannot read " + Utf8OfPath(path));
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteReleaseFile(const fs::path& path, std::string_view bytes, bool replace, bool privateFile)
{
    std::error_code error;
    if (!replace && fs::exists(path, error))
        throw ReleaseError(Utf8OfPath(path) + " already exists; --force replaces it");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out && privateFile)
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, error);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw ReleaseError("cannot write " + Utf8OfPath(path));
}

ReleaseFolder ReadReleaseFolder(const fs::path& folder, const std::vector<std::string>& skip)
{
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error)
        throw ReleaseError("cannot read the folder " + Utf8OfPath(folder) + ": " + error.message());
    ReleaseFolder result;
    std::vector<std::pair<std::string, fs::path>> names;
    for (const fs::directory_entry& entry : entries) {
        const std::string name = Utf8OfPath(entry.path().filename());
        if (std::any_of(skip.begin(), skip.end(),
                        [&](const std::string& other) { return LowerAscii(name) == LowerAscii(other); }))
            continue;
        if (entry.is_directory(error))
            result.problems.push_back(name + ": a folder; the updater installs the files of one folder only");
        else
            names.emplace_back(name, entry.path());
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> lowered;
    for (const auto& [name, path] : names)
        lowered.push_back(LowerAscii(name));
    std::sort(lowered.begin(), lowered.end());
    for (auto same = std::adjacent_find(lowered.begin(), lowered.end()); same != lowered.end();
         same = std::adjacent_find(same + 1, lowered.end()))
        result.problems.push_back(*same + ": two names that differ only in case are one file on Windows");
    for (const auto& [name, path] : names)
        result.files.push_back(HashFile(path, name));
    return result;
}
