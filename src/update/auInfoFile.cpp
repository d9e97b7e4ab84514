#include "auInfoFile.h"

#include <algorithm>

namespace {

constexpr std::string_view NumberedStems[] = {"url", "sha256_", "size_", "zurl_", "zsha256_", "zsize_", "patch_"};
// A patch key numbers both its file and the patch: "patch_<file>_<patch>".
constexpr std::string_view TwiceNumberedStem = "patch_";

char LowerAscii(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + ('a' - 'A')) : c;
}

std::string Lowered(std::string_view text)
{
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), LowerAscii);
    return lowered;
}

bool IsDigit(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= '0' && byte <= '9';
}

}  // namespace

TauInfoFileText::TauInfoFileText(std::string_view text)
    : text_(text.substr(0, Limit)), lowered_(Lowered(text_))
{
    for (std::size_t at = lowered_.find('#'); at != std::string::npos; at = lowered_.find('#', at + 1)) {
        for (std::string_view stem : NumberedStems) {
            if (lowered_.compare(at + 1, stem.size(), stem) != 0)
                continue;
            std::size_t end = at + 1 + stem.size();
            while (end < lowered_.size() && IsDigit(lowered_[end]))
                ++end;
            if (stem == TwiceNumberedStem && end < lowered_.size() && lowered_[end] == '_') {
                ++end;
                while (end < lowered_.size() && IsDigit(lowered_[end]))
                    ++end;
            }
            if (end < lowered_.size() && lowered_[end] == '=')
                numberedKeys_.emplace(lowered_.substr(at + 1, end - at - 1), end + 1);
        }
    }
}

std::size_t TauInfoFileText::ValueStart(std::string_view key) const
{
    const std::string pattern = "#" + Lowered(key) + "=";
    const std::size_t at = lowered_.find(pattern);
    return at == std::string::npos ? at : at + pattern.size();
}

std::string TauInfoFileText::Value(std::string_view key) const
{
    return LineAt(ValueStart(key));
}

std::string TauInfoFileText::LineAt(std::size_t start) const
{
    if (start == std::string::npos)
        return {};
    const auto end = std::find_if(text_.begin() + static_cast<std::ptrdiff_t>(start), text_.end(),
                                  [](char c) { return static_cast<unsigned char>(c) < 32; });
    return std::string(text_.begin() + static_cast<std::ptrdiff_t>(start), end);
}

std::string TauInfoFileText::Block(std::string_view key) const
{
    const std::size_t start = ValueStart(key);
    if (start == std::string::npos || start >= text_.size() || text_[start] != '{')
        return {};
    const std::size_t end = text_.find('}', start + 1);
    return text_.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

std::string TauInfoFileText::NumberedValue(const std::string& key) const
{
    const auto found = numberedKeys_.find(key);
    return found == numberedKeys_.end() ? std::string() : LineAt(found->second);
}

std::vector<std::pair<std::string, std::string>> TauInfoFileText::NumberedFiles() const
{
    std::vector<std::pair<std::string, std::string>> files;
    for (const char* number : {"", "0"}) {
        std::string value = NumberedValue(std::string("url") + number);
        if (!value.empty())
            files.emplace_back(std::move(value), number);
    }
    for (std::size_t n = files.size() + 1;; ++n) {
        std::string number = std::to_string(n);
        std::string value = NumberedValue("url" + number);
        if (value.empty())
            return files;
        files.emplace_back(std::move(value), std::move(number));
    }
}

std::vector<std::string> TauInfoFileText::FileList() const
{
    std::vector<std::string> files;
    for (auto& [url, number] : NumberedFiles())
        files.push_back(std::move(url));
    return files;
}

std::string TauInfoFileText::FileValue(std::string_view stem, const std::string& number) const
{
    return number.empty() ? Value(stem) : NumberedValue(std::string(stem) + "_" + number);
}

std::string TauInfoFileText::PatchValue(const std::string& number, std::size_t patch) const
{
    return NumberedValue(std::string(TwiceNumberedStem) + (number.empty() ? "" : number + "_") + std::to_string(patch));
}

std::vector<std::pair<std::string, std::string>> TauInfoFileText::FileDigests() const
{
    std::vector<std::pair<std::string, std::string>> files = NumberedFiles();
    for (auto& [url, number] : files)
        number = FileValue("sha256", number);
    return files;
}

std::vector<std::pair<std::string, std::string>> TauInfoFileText::FileSizes() const
{
    std::vector<std::pair<std::string, std::string>> files = NumberedFiles();
    for (auto& [url, number] : files)
        number = FileValue("size", number);
    return files;
}

TacUpgradeMethod TauInfoFileText::Method() const
{
    const std::string method = Value("method");
    if (method.empty())
        return umSelfUpgrade;
    if (method[0] == '1')
        return umUseExternalSetup;
    if (method[0] == '2')
        return umRedirectToURL;
    return umSelfUpgrade;
}
