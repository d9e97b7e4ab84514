#include "auSignedInfo.h"

#include "core/StrCon.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::string_view SignatureKey = "#signature=";

// The DER SubjectPublicKeyInfo of a P-256 key up to the uncompressed point:
// SEQUENCE { SEQUENCE { id-ecPublicKey, prime256v1 }, BIT STRING { 04 ...
constexpr unsigned char P256KeyPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                           0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                           0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

int Base64Digit(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 'A' && byte <= 'Z')
        return byte - 'A';
    if (byte >= 'a' && byte <= 'z')
        return byte - 'a' + 26;
    if (byte >= '0' && byte <= '9')
        return byte - '0' + 52;
    if (byte == '+')
        return 62;
    if (byte == '/')
        return 63;
    return -1;
}

bool IsDecimalDigit(char c)
{
    return c >= '0' && c <= '9';
}

char LowerAscii(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + ('a' - 'A')) : c;
}

// Reads one DER INTEGER holding a positive number of at most 32 bytes from the
// front of `der` into `out` (right-aligned); false for anything else,
// including a number not in its shortest form.
bool ReadField(std::string_view& der, char* out)
{
    if (der.size() < 2 || der[0] != 0x02)
        return false;
    const auto length = static_cast<unsigned char>(der[1]);
    if (length == 0 || length > P256FieldSize + 1 || der.size() < 2u + length)
        return false;
    std::string_view value = der.substr(2, length);
    der.remove_prefix(2u + length);
    if (static_cast<unsigned char>(value[0]) & 0x80)
        return false;
    if (value[0] == 0 && value.size() > 1) {
        if (!(static_cast<unsigned char>(value[1]) & 0x80))
            return false;
        value.remove_prefix(1);
    }
    if (value.size() > P256FieldSize)
        return false;
    std::fill(out, out + P256FieldSize, '\0');
    std::copy(value.begin(), value.end(), out + (P256FieldSize - value.size()));
    return std::any_of(value.begin(), value.end(), [](char c) { return c != 0; });
}

}  // namespace

std::optional<std::string> DecodeBase64(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    const std::size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    unsigned bits = 0;
    int pending = 0;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const int digit = Base64Digit(text[i]);
        if (digit < 0)
            return std::nullopt;
        bits = ((bits << 6) | static_cast<unsigned>(digit)) & 0xFFFFFF;
        pending += 6;
        if (pending >= 8) {
            pending -= 8;
            bytes.push_back(static_cast<char>((bits >> pending) & 0xFF));
        }
    }
    // One encoding per byte string: the bits past the last byte must be zero.
    if ((bits & ((1u << pending) - 1)) != 0)
        return std::nullopt;
    return bytes;
}

std::optional<std::string> DecodeSha256Hex(std::string_view text)
{
    if (text.size() != 2 * Sha256Size)
        return std::nullopt;
    return BytesOfHex(text);
}

std::optional<std::string> EcdsaSignatureToRS(std::string_view der)
{
    // Two INTEGERs of at most 35 bytes each keep the length in its short form.
    if (der.size() < 2 || der[0] != 0x30 || (static_cast<unsigned char>(der[1]) & 0x80) ||
        static_cast<std::size_t>(static_cast<unsigned char>(der[1])) != der.size() - 2)
        return std::nullopt;
    der.remove_prefix(2);
    std::string rs(2 * P256FieldSize, '\0');
    if (!ReadField(der, rs.data()) || !ReadField(der, rs.data() + P256FieldSize) || !der.empty())
        return std::nullopt;
    return rs;
}

std::optional<std::string> P256PublicKeyXY(std::string_view spki)
{
    const std::string_view prefix(reinterpret_cast<const char*>(P256KeyPrefix), sizeof P256KeyPrefix);
    if (spki.size() != prefix.size() + 2 * P256FieldSize || !spki.starts_with(prefix))
        return std::nullopt;
    return std::string(spki.substr(prefix.size()));
}

std::string P256PublicKeyDer(std::string_view xy)
{
    return std::string(reinterpret_cast<const char*>(P256KeyPrefix), sizeof P256KeyPrefix) + std::string(xy);
}

std::optional<std::string> PublisherKeyXY(std::string_view keyText)
{
    const auto der = DecodeBase64(keyText);
    return der ? P256PublicKeyXY(*der) : std::nullopt;
}

TauPublisherKeys PublisherKeysXY(std::string_view keyList)
{
    const std::size_t first = keyList.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {"the publisher key (PublicKey) is empty", {}};
    keyList = keyList.substr(first, keyList.find_last_not_of(" \t") + 1 - first);
    TauPublisherKeys result;
    for (std::size_t start = 0;;) {
        const std::size_t end = keyList.find(' ', start);
        const std::string_view part = keyList.substr(start, end == std::string_view::npos ? end : end - start);
        const std::string number = std::to_string(result.keys.size() + 1);
        if (part.empty())
            return {"the publisher keys (PublicKey) hold an empty key between two blanks", {}};
        if (result.keys.size() == PublisherKeyLimit)
            return {"the publisher keys (PublicKey) list more than " + std::to_string(PublisherKeyLimit) + " keys", {}};
        auto key = PublisherKeyXY(part);
        const bool alone = start == 0 && end == std::string_view::npos;
        if (!key)
            return {"the publisher key" + (alone ? std::string() : " " + number + " of PublicKey") +
                        " is not the base64 of a P-256 public key (DER SubjectPublicKeyInfo)",
                    {}};
        result.keys.push_back(std::move(*key));
        if (end == std::string_view::npos)
            return result;
        start = end + 1;
    }
}

TauSignedInfo SplitSignedInfo(std::string_view text)
{
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), LowerAscii);
    const std::size_t at = lowered.rfind(SignatureKey);
    if (at == std::string::npos)
        return {"the information file is not signed (no #signature= line)", {}, {}};
    if (at != 0 && text[at - 1] != '\n')
        return {"the #signature= line of the information file does not start a line", {}, {}};
    const std::size_t start = at + SignatureKey.size();
    const auto end = std::find_if(text.begin() + static_cast<std::ptrdiff_t>(start), text.end(),
                                  [](char c) { return static_cast<unsigned char>(c) < 32; });
    const std::string_view rest = text.substr(static_cast<std::size_t>(end - text.begin()));
    if (!rest.empty() && rest != "\n" && rest != "\r\n")
        return {"the #signature= line is not the last line of the information file", {}, {}};
    const auto der = DecodeBase64(text.substr(start, static_cast<std::size_t>(end - text.begin()) - start));
    if (!der)
        return {"the signature of the information file is not base64", {}, {}};
    auto rs = EcdsaSignatureToRS(*der);
    if (!rs)
        return {"the signature of the information file is no P-256 ECDSA signature", {}, {}};
    return {{}, std::string(text.substr(0, at)), std::move(*rs)};
}

namespace {

TauReleaseDigests DigestsOf(const TauInfoFileText& info, bool required)
{
    TauReleaseDigests result;
    for (auto& [url, text] : info.FileDigests()) {
        if (text.empty() && !required)
            continue;
        if (text.empty())
            return {"the information file gives no SHA-256 digest for " + url, {}};
        auto digest = DecodeSha256Hex(text);
        if (!digest)
            return {"the SHA-256 digest of " + url + " is not 64 hexadecimal digits", {}};
        result.files.emplace_back(std::move(url), std::move(*digest));
    }
    return result;
}

} // namespace

TauReleaseDigests ReleaseDigests(const TauInfoFileText& info)
{
    return DigestsOf(info, /*required=*/true);
}

TauReleaseDigests GivenDigests(const TauInfoFileText& info)
{
    return DigestsOf(info, /*required=*/false);
}

namespace {

std::optional<std::uint64_t> DecimalSize(std::string_view text)
{
    if (text.empty() || text.size() > 19 || !std::all_of(text.begin(), text.end(), IsDecimalDigit))
        return std::nullopt;
    return std::stoull(std::string(text));
}

// Addresses are taken as written; one with a blank or nothing at all is no address.
bool IsAddress(std::string_view url)
{
    return !url.empty() && url.find(' ') == std::string_view::npos;
}

std::optional<TauCompressedForm> CompressedForm(const TauInfoFileText& info, const std::string& number,
                                                const std::string& url, std::vector<std::string>& notes)
{
    TauCompressedForm form{info.FileValue("zurl", number), {}, 0};
    const std::string digest = info.FileValue("zsha256", number);
    const std::string size = info.FileValue("zsize", number);
    if (form.url.empty() && digest.empty() && size.empty())
        return std::nullopt;
    const auto bytes = DecodeSha256Hex(digest);
    const auto count = DecimalSize(size);
    if (!IsAddress(form.url) || !bytes || !count) {
        notes.push_back("the compressed form of " + url + " is left out: it needs an address, a SHA-256 digest of 64 "
                        "hexadecimal digits and a decimal size");
        return std::nullopt;
    }
    form.sha256 = *bytes;
    form.size = *count;
    return form;
}

// "SOURCE PATCH SIZE ADDRESS", one blank between each.
std::optional<TauPatch> ParsePatch(std::string_view value)
{
    std::string_view fields[3];
    for (std::string_view& field : fields) {
        const std::size_t blank = value.find(' ');
        if (blank == std::string_view::npos)
            return std::nullopt;
        field = value.substr(0, blank);
        value.remove_prefix(blank + 1);
    }
    const auto source = DecodeSha256Hex(fields[0]);
    const auto digest = DecodeSha256Hex(fields[1]);
    const auto size = DecimalSize(fields[2]);
    if (!source || !digest || !size || !IsAddress(value))
        return std::nullopt;
    return TauPatch{std::string(value), *source, *digest, *size};
}

}  // namespace

TauReleaseSizes ReleaseSizes(const TauInfoFileText& info)
{
    TauReleaseSizes result;
    for (auto& [url, text] : info.FileSizes()) {
        if (text.empty()) {
            result.files.emplace_back(std::move(url), std::nullopt);
            continue;
        }
        const auto size = DecimalSize(text);
        if (!size)
            return {"the signed size of " + url + " is not a decimal number", {}};
        result.files.emplace_back(std::move(url), *size);
    }
    return result;
}

TauReleaseRoads ReleaseRoads(const TauInfoFileText& info)
{
    TauReleaseRoads result;
    for (auto& [url, number] : info.NumberedFiles()) {
        TauFileRoads roads{url, CompressedForm(info, number, url, result.notes), {}};
        for (std::size_t j = 1; j <= PatchLimit; ++j) {
            const std::string value = info.PatchValue(number, j);
            if (value.empty())
                break;
            if (auto patch = ParsePatch(value))
                roads.patches.push_back(std::move(*patch));
            else
                result.notes.push_back("patch " + std::to_string(j) + " of " + url +
                                       " is left out: it is not SOURCE-SHA256 PATCH-SHA256 SIZE ADDRESS");
        }
        result.files.push_back(std::move(roads));
    }
    return result;
}
