#include "update/auResume.h"

#include "core/StrCon.h"
#include "update/auSignedInfo.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::string_view Header = "keldora-resume 1\n";
constexpr std::array<std::string_view, 4> Fields = {"url", "sha256", "validator", "length"};

bool IsOneLine(std::string_view text)
{
    return !text.empty() &&
           std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 32; });
}

std::optional<std::uint64_t> Length(std::string_view text)
{
    if (text.empty() || text.size() > 19 || text[0] == '0' ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::stoull(std::string(text));
}

}  // namespace

std::string ResumeRecordText(const TauResumeRecord& record)
{
    if (!IsOneLine(record.url) || !IsOneLine(record.validator) || record.sha256.size() != Sha256Size ||
        record.length == 0)
        return {};
    const std::array<std::string, 4> values = {record.url, HexOfBytes(record.sha256), record.validator,
                                               std::to_string(record.length)};
    std::string text(Header);
    for (std::size_t i = 0; i < Fields.size(); ++i)
        text += std::string(Fields[i]) + "\t" + values[i] + "\n";
    return text + "end\n";
}

std::optional<TauResumeRecord> ParseResumeRecord(std::string_view text)
{
    if (!text.starts_with(Header))
        return std::nullopt;
    text.remove_prefix(Header.size());
    std::array<std::string_view, 4> values;
    for (std::size_t i = 0; i < Fields.size(); ++i) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos)
            return std::nullopt;
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (!line.starts_with(Fields[i]) || line.size() <= Fields[i].size() || line[Fields[i].size()] != '\t')
            return std::nullopt;
        values[i] = line.substr(Fields[i].size() + 1);
        if (!IsOneLine(values[i]))
            return std::nullopt;
    }
    const auto digest = DecodeSha256Hex(values[1]);
    const auto length = Length(values[3]);
    if (text != "end\n" || !digest || !length)
        return std::nullopt;
    return TauResumeRecord{std::string(values[0]), *digest, std::string(values[2]), *length};
}
