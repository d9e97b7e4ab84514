#include "MemoryCmdLnSystem.h"

#include "core/StrCon.h"

#include <vector>

namespace {

bool IsLetter(char c)
{
    const auto lower = static_cast<unsigned char>(c | 0x20);
    return lower >= 'a' && lower <= 'z';
}

bool HasDrive(std::string_view p)
{
    return p.size() >= 2 && IsLetter(p[0]) && p[1] == ':';
}

// "\\?\" and "\\.\" in front of a drive path name the same file.
bool HasDevicePrefix(std::string_view p)
{
    return p.size() >= 4 && p.substr(0, 2) == "\\\\" && (p[2] == '?' || p[2] == '.') && p[3] == '\\';
}

std::string Key(std::string_view full)
{
    return UpperText(HasDevicePrefix(full) ? full.substr(4) : full);
}

std::string ParentOf(std::string_view full)
{
    const std::size_t slash = full.rfind('\\');
    return std::string(full.substr(0, slash == std::string_view::npos ? 0 : slash));
}

std::string NameOf(std::string_view full)
{
    const std::size_t slash = full.rfind('\\');
    return std::string(slash == std::string_view::npos ? full : full.substr(slash + 1));
}

bool HasWildcards(std::string_view name)
{
    return name.find_first_of("*?") != std::string_view::npos;
}

bool HasExtension(std::string_view name)
{
    return NameOf(name).find('.') != std::string::npos;
}

bool IsProgramName(std::string_view name)
{
    const std::string ext = TextAfterLast(".", NameOf(name));
    for (const char* program : {"exe", "com", "bat", "cmd", "pif"})
        if (SameText(ext, program))
            return true;
    return false;
}

// "*" any run of characters, "?" one character, without regard to case.
bool GlobMatch(std::string_view pattern, std::string_view name)
{
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::string_view::npos;
    std::size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || UpperChar(pattern[p]) == UpperChar(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::string JoinComponents(std::string_view rest)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find('\\', start);
        if (end == std::string_view::npos)
            end = rest.size();
        const std::string_view part = rest.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.emplace_back(part);
        }
        start = end + 1;
    }
    std::string joined;
    for (const std::string& part : parts)
        joined += "\\" + part;
    return joined;
}

}  // namespace

MemoryCmdLnSystem::MemoryCmdLnSystem(std::string currentFolder) : current_(std::move(currentFolder))
{
    AddFolder(current_);
}

void MemoryCmdLnSystem::AddFolder(std::string_view path)
{
    std::string full = FullPath(std::string(path));
    while (full.size() > 2 && !entries_.count(Key(full))) {
        entries_[Key(full)] = Entry{full, true};
        full = ParentOf(full);
    }
}

void MemoryCmdLnSystem::AddFile(std::string_view path)
{
    const std::string full = FullPath(std::string(path));
    AddFolder(ParentOf(full));
    entries_[Key(full)] = Entry{full, false};
}

void MemoryCmdLnSystem::SetEnv(std::string_view name, std::string_view value)
{
    env_[UpperText(name)] = std::string(value);
}

void MemoryCmdLnSystem::AddAppPath(std::string_view name, std::string_view program)
{
    appPaths_[UpperText(name)] = std::string(program);
}

const MemoryCmdLnSystem::Entry* MemoryCmdLnSystem::Find(const std::string& path) const
{
    const auto it = entries_.find(Key(FullPath(path)));
    return it == entries_.end() ? nullptr : &it->second;
}

bool MemoryCmdLnSystem::AnyMatch(const std::string& full) const
{
    const std::string parent = Key(ParentOf(full));
    const std::string pattern = NameOf(full);
    for (const auto& [key, entry] : entries_)
        if (Key(ParentOf(entry.path)) == parent && GlobMatch(pattern, NameOf(entry.path)))
            return true;
    return false;
}

bool MemoryCmdLnSystem::Exists(const std::string& path) const
{
    if (path.empty() || path.back() == '\\' || path.back() == '/')
        return false;
    const std::string full = FullPath(path);
    if (HasWildcards(NameOf(full)))
        return AnyMatch(full);
    return Find(full) != nullptr;
}

std::string MemoryCmdLnSystem::FullPath(const std::string& path) const
{
    const std::string p = ReplaceChars(path, MakeCharSet("/"), '\\');
    if (HasDevicePrefix(p))
        return p;
    const bool trailing = !p.empty() && p.back() == '\\';
    std::string full;
    if (p.substr(0, 2) == "\\\\")
        full = "\\" + JoinComponents(p.substr(2));
    else if (HasDrive(p) && p.substr(2, 1) == "\\")
        full = p.substr(0, 2) + JoinComponents(p.substr(2));
    else if (HasDrive(p))
        full = p.substr(0, 2) + JoinComponents(current_.substr(2) + "\\" + p.substr(2));
    else if (!p.empty() && p[0] == '\\')
        full = current_.substr(0, 2) + JoinComponents(p);
    else
        full = current_.substr(0, 2) + JoinComponents(current_.substr(2) + "\\" + p);
    if (HasDrive(full) && full.size() == 2)
        full += '\\';
    else if (trailing)
        full += '\\';
    return full;
}

std::string MemoryCmdLnSystem::SearchFolders(const std::string& name) const
{
    std::vector<std::string> folders{current_};
    std::string path = GetEnvVar("PATH");
    std::string folder;
    for (NextToken(";", path, folder); !folder.empty(); NextToken(";", path, folder))
        folders.push_back(folder);
    for (const std::string& f : folders)
        if (Find(AddBackslash(f) + name))
            return AddBackslash(f) + name;
    return {};
}

std::string MemoryCmdLnSystem::FindProgramFor(const std::string& file) const
{
    if (file.empty())
        return {};
    const std::string name = HasExtension(file) ? file : file + ".exe";
    const bool located = file.find_first_of("\\:") != std::string::npos;
    const std::string found = located ? (Find(name) ? FullPath(name) : std::string()) : SearchFolders(name);
    if (!found.empty()) {
        const Entry* entry = Find(found);
        return !entry->folder && IsProgramName(found) ? found : std::string();
    }
    const auto app = appPaths_.find(UpperText(file));
    return located || app == appPaths_.end() ? std::string() : app->second;
}

std::string MemoryCmdLnSystem::LongForm(const std::string& path) const
{
    if (HasWildcards(NameOf(path)))
        return path;
    const Entry* entry = Find(path);
    return entry ? entry->path : path;
}

std::string MemoryCmdLnSystem::ExpandEnvVars(const std::string& text) const
{
    std::string result;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t open = text.find('%', i);
        const std::size_t close = open == std::string::npos ? open : text.find('%', open + 1);
        if (close == std::string::npos) {
            result.append(text, i);
            break;
        }
        result.append(text, i, open - i);
        const auto value = env_.find(UpperText(std::string_view(text).substr(open + 1, close - open - 1)));
        if (value == env_.end() || close == open + 1) {
            result.append(text, open, close - open);
            i = close;
        } else {
            result += value->second;
            i = close + 1;
        }
    }
    return result;
}

std::string MemoryCmdLnSystem::GetEnvVar(const std::string& name) const
{
    const auto it = env_.find(UpperText(name));
    return it == env_.end() ? std::string() : it->second;
}
