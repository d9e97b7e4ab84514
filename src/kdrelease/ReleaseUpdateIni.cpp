#include "ReleaseUpdateIni.h"

#include "core/Utf8.h"
#include "update/auSignedInfo.h"

#include <algorithm>

namespace {

constexpr std::string_view Blanks = " \t";

std::string_view Trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(Blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(Blanks) + 1 - first);
}

// Profile files are read as UTF-16 LE when they start with its mark.
std::string IniAsUtf8(std::string_view text)
{
    if (!text.starts_with("\xFF\xFE"))
        return std::string(text);
    std::u16string units;
    for (std::size_t at = 2; at + 1 < text.size(); at += 2)
        units += static_cast<char16_t>(static_cast<unsigned char>(text[at]) |
                                       (static_cast<unsigned char>(text[at + 1]) << 8));
    return Utf8FromUtf16(units);
}

// Sections, keys and file names compare as the system compares them, ASCII
// letters in any case.
bool SameName(std::string_view a, std::string_view b)
{
    return SameProductName(a, b);
}

bool NamesAFile(std::string_view name, const std::vector<std::string>& files)
{
    return std::any_of(files.begin(), files.end(), [&](const std::string& file) { return SameName(file, name); });
}

std::string KeyProblem(const UpdateIniCheck& check, const std::optional<std::string>& publicKey)
{
    if (!publicKey || publicKey->empty())
        return "update.ini holds no PublicKey: installed copies would take only releases that come over https, "
               "and none signed with the key";
    const TauPublisherKeys keys = PublisherKeysXY(*publicKey);
    if (!keys.failure.empty())
        return "update.ini: " + keys.failure + "; installed copies would refuse every release";
    if (std::find(keys.keys.begin(), keys.keys.end(), check.signingKey) == keys.keys.end())
        return "update.ini's PublicKey does not list the key this release is signed with: installed copies could "
               "never take a release signed with it again";
    return {};
}

}  // namespace

std::optional<std::string> UpdateIniValue(std::string_view iniText, std::string_view key)
{
    const std::string text = IniAsUtf8(iniText);
    bool inSection = false;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line = Trimmed(std::string_view(text).substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line = Trimmed(line.substr(0, line.size() - 1));
        if (line.starts_with("[")) {
            const std::size_t close = line.find(']');
            inSection = close != std::string_view::npos && SameName(Trimmed(line.substr(1, close - 1)), "UpdateInfo");
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inSection || line.starts_with(";") || equals == std::string_view::npos ||
            !SameName(Trimmed(line.substr(0, equals)), key))
            continue;
        std::string_view value = Trimmed(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        return std::string(value);
    }
    return std::nullopt;
}

std::vector<std::string> UpdateIniProblems(const UpdateIniCheck& check)
{
    if (!check.iniText)
        return {"the release holds no update.ini: installed copies would keep the Version they have and be offered "
                "this release again at every start"};
    const std::string& ini = *check.iniText;
    std::vector<std::string> problems;
    const auto add = [&](std::string problem) {
        if (!problem.empty())
            problems.push_back(std::move(problem));
    };
    const auto version = UpdateIniValue(ini, "Version");
    if (version.value_or("") != check.version)
        add("update.ini says Version=" + version.value_or("") + ", not the signed version " + check.version +
            ": installed copies would be offered this release again at every start");
    add(KeyProblem(check, UpdateIniValue(ini, "PublicKey")));
    const auto product = UpdateIniValue(ini, "Product");
    if (!product || !SameProductName(*product, check.product))
        add("update.ini says Product=" + product.value_or("") + ", not the signed product " + check.product +
            ": installed copies would refuse every later release");
    if (const auto unverified = UpdateIniValue(ini, "AllowUnverifiedUpdates"); unverified && !unverified->empty())
        add("update.ini holds AllowUnverifiedUpdates=" + *unverified +
            ", which is for test servers only: remove it, or installed copies may take releases nobody signed");
    const auto process = UpdateIniValue(ini, "ProcessName");
    if (!process || process->empty())
        add("update.ini names no ProcessName: the updater would start nothing after an update");
    else if (!NamesAFile(*process, check.files) && !NamesAFile(*process, check.installed))
        add("update.ini's ProcessName=" + *process +
            " is no file of the release (name files installed copies already hold with --installed-files)");
    return problems;
}

std::vector<std::string> InstalledFileNames(std::string_view list)
{
    std::vector<std::string> names;
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find(',', start);
        if (end == std::string_view::npos)
            end = list.size();
        if (const std::string_view name = Trimmed(list.substr(start, end - start)); !name.empty())
            names.emplace_back(name);
        start = end + 1;
    }
    return names;
}

std::optional<std::string> WithPublicKeys(std::string_view iniText, std::string_view keys)
{
    if (iniText.starts_with("\xFF\xFE"))
        return std::nullopt;
    const std::string eol = iniText.find("\r\n") != std::string_view::npos || iniText.empty() ? "\r\n" : "\n";
    const std::string line = "PublicKey=" + std::string(keys);
    std::string out;
    bool inSection = false;
    bool done = false;
    for (std::size_t start = 0; start < iniText.size();) {
        std::size_t end = iniText.find('\n', start);
        end = end == std::string_view::npos ? iniText.size() : end + 1;
        const std::string_view whole = iniText.substr(start, end - start);
        start = end;
        std::string_view text = Trimmed(whole.substr(0, whole.find_first_of("\r\n")));
        const std::string_view ending = whole.substr(std::min(whole.size(), whole.find_first_of("\r\n")));
        if (text.starts_with("[")) {
            const std::size_t close = text.find(']');
            inSection = close != std::string_view::npos && SameName(Trimmed(text.substr(1, close - 1)), "UpdateInfo");
            out += whole;
            if (inSection && !done) {
                out += (ending.empty() ? eol : "") + line + eol;
                done = true;
            }
            continue;
        }
        const std::size_t equals = text.find('=');
        if (inSection && !text.starts_with(";") && equals != std::string_view::npos &&
            SameName(Trimmed(text.substr(0, equals)), "PublicKey"))
            continue;
        out += whole;
    }
    if (!done) {
        if (!out.empty() && out.back() != '\n')
            out += eol;
        out += "[UpdateInfo]" + eol + line + eol;
    }
    return out;
}
