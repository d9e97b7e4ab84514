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
    std::string bytes(Sha256Size, '\0');
    for (std::size_t i = 0; i < Sha256Size; ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[i] = static_cast<char>(high * 16 + low);
    }
    return bytes;
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

TauReleaseSizes ReleaseSizes(const TauInfoFileText& info)
{
    TauReleaseSizes result;
    for (auto& [url, text] : info.FileSizes()) {
        if (text.empty()) {
            result.files.emplace_back(std::move(url), std::nullopt);
            continue;
        }
        if (text.size() > 19 || !std::all_of(text.begin(), text.end(), IsDecimalDigit))
            return {"the signed size of " + url + " is not a decimal number", {}};
        result.files.emplace_back(std::move(url), std::stoull(text));
    }
    return result;
}
