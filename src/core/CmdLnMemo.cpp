#include "core/CmdLnMemo.h"

#include <algorithm>
#include <string_view>

namespace {

// A part of dots (and blanks) alone is a step the system takes by the text
// ("C:\missing\..\app.exe" is "C:\app.exe").
bool HasDotStep(const std::string& path)
{
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find_first_of("\\/", start), path.size());
        const std::string_view part(path.data() + start, end - start);
        if (!part.empty() && part.find_first_not_of(". ") == std::string_view::npos)
            return true;
        start = end + 1;
    }
    return false;
}

// The folder part of an absolute drive path with at least one name below
// the drive's root ("C:\Tools" of "C:\Tools\app.exe"); empty otherwise.
// Either slash separates, as it does for the system.
std::string FolderToAsk(const std::string& path)
{
    const bool drivePath = path.size() > 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    if (!drivePath || HasDotStep(path))
        return {};
    const std::size_t separator = path.find_last_of("\\/");
    if (separator <= 2 || separator + 1 == path.size())
        return {};
    return path.substr(0, separator);
}

// The system drops a blank that ends a whole path ("C:\Windows\cmd.exe "
// finds cmd.exe) but keeps one that ends a part with more after it, and it
// makes no folder of such a name: nothing is found below "...\cmd.exe " of
// "...\cmd.exe /c a", however often the arguments change. Asking would cost
// a search of the whole folder on file systems that compare names without
// case by reading the folder.
bool EndsInBlank(const std::string& folder)
{
    return !folder.empty() && folder.back() == ' ';
}

} // namespace

bool MemoCmdLnSystem::Exists(const std::string& path) const
{
    if (const auto known = exists_.find(path); known != exists_.end())
        return known->second;
    const std::string folder = FolderToAsk(path);
    bool exists = false;
    if (folder.empty() || (!EndsInBlank(folder) && Exists(folder))) {
        ++asked_;
        exists = system_.Exists(path);
    }
    exists_.emplace(path, exists);
    return exists;
}

std::string MemoCmdLnSystem::Remembered(Answers& answers, const std::string& question,
                                        std::string (CmdLnSystem::*ask)(const std::string&) const) const
{
    if (const auto known = answers.find(question); known != answers.end())
        return known->second;
    ++asked_;
    return answers.emplace(question, (system_.*ask)(question)).first->second;
}

std::string MemoCmdLnSystem::FullPath(const std::string& path) const
{
    return Remembered(fullPaths_, path, &CmdLnSystem::FullPath);
}

std::string MemoCmdLnSystem::FindProgramFor(const std::string& file) const
{
    return Remembered(programs_, file, &CmdLnSystem::FindProgramFor);
}

std::string MemoCmdLnSystem::LongForm(const std::string& path) const
{
    return Remembered(longForms_, path, &CmdLnSystem::LongForm);
}

std::string MemoCmdLnSystem::ExpandEnvVars(const std::string& text) const
{
    return Remembered(expanded_, text, &CmdLnSystem::ExpandEnvVars);
}

std::string MemoCmdLnSystem::GetEnvVar(const std::string& name) const
{
    return Remembered(variables_, name, &CmdLnSystem::GetEnvVar);
}
