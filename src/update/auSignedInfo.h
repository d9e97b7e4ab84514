#pragma once
// Publisher signatures of the upgrade information file and SHA-256 digests of
// release files: the text forms, decoded here, checked by the platform's
// cryptography elsewhere. Platform-free: no <windows.h> here.
//
// A signed information file ends with one line "#signature=" followed by the
// base64 (RFC 4648, padded, on one line) of the DER ECDSA-Sig-Value that
// `openssl dgst -sha256 -sign` writes for a P-256 key. The signed text is
// every byte before that line; the line itself may end in LF, CR LF or the
// end of the file, and nothing may follow it. Each release file has its
// SHA-256 as 64 hexadecimal digits under the digest key TauInfoFileText
// names. The publisher's public key is the base64 of its DER
// SubjectPublicKeyInfo, as `openssl pkey -pubout -outform DER` writes it.
//
// Every function accepts any bytes: text that is not exactly the form above
// is a failure, never a partial result.

#include "update/auInfoFile.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr std::size_t Sha256Size = 32;
// Each of X, Y, r and s of a P-256 key or signature.
constexpr std::size_t P256FieldSize = 32;

// Strict base64: the standard alphabet, padding to a multiple of 4, nothing
// else (no blanks, no line breaks), unused bits zero.
std::optional<std::string> DecodeBase64(std::string_view text);
// Exactly 64 hexadecimal digits of either case: the 32 bytes.
std::optional<std::string> DecodeSha256Hex(std::string_view text);
// A DER ECDSA-Sig-Value (SEQUENCE of the two INTEGERs r and s) as r || s,
// each big-endian in 32 bytes: the form the platform verifies.
std::optional<std::string> EcdsaSignatureToRS(std::string_view der);
// A DER SubjectPublicKeyInfo of an uncompressed P-256 key as X || Y.
std::optional<std::string> P256PublicKeyXY(std::string_view spki);
// The inverse: the DER SubjectPublicKeyInfo of the key X || Y (64 bytes).
std::string P256PublicKeyDer(std::string_view xy);
// The publisher key as written in update.ini (base64 of the DER
// SubjectPublicKeyInfo) as X || Y.
std::optional<std::string> PublisherKeyXY(std::string_view keyText);

// update.ini's PublicKey may list up to PublisherKeyLimit keys separated by
// single blanks (blanks before and after the list do not count), so a
// publisher can move installed copies to a new key: a file signed by any of
// them is the publisher's. `failure` says why the list cannot be used (no
// key, too many, an empty key between two blanks, one that is no P-256
// key); `keys` (each X || Y, in list order) is then empty.
inline constexpr std::size_t PublisherKeyLimit = 3;
struct TauPublisherKeys {
    std::string failure;
    std::vector<std::string> keys;
};
TauPublisherKeys PublisherKeysXY(std::string_view keyList);

// A signed information file taken apart; `failure` says why it cannot be
// checked, and the other fields are then empty.
struct TauSignedInfo {
    std::string failure;
    std::string signedText;
    std::string signature;  // r || s
};
TauSignedInfo SplitSignedInfo(std::string_view text);

// The decoded digest of every listed file, in list order; `failure` names the
// first file without a well-formed one, and `files` is then empty.
struct TauReleaseDigests {
    std::string failure;
    std::vector<std::pair<std::string, std::string>> files;  // address, 32 bytes
};
TauReleaseDigests ReleaseDigests(const TauInfoFileText& info);
// The same for a file no signature covers: a file without a digest is
// left out, a digest that is there must be well formed.
TauReleaseDigests GivenDigests(const TauInfoFileText& info);

// The signed size of every listed file in bytes, in list order, none where
// the file's size key is missing or empty; `failure` names the first file whose size is not
// a decimal number of at most 19 digits, and `files` is then empty.
struct TauReleaseSizes {
    std::string failure;
    std::vector<std::pair<std::string, std::optional<std::uint64_t>>> files;  // address, size
};
TauReleaseSizes ReleaseSizes(const TauInfoFileText& info);

// The cheaper ways to a release file that a publisher may offer beside its
// whole file, each with its own digest and size, read from the signed text
// (the information file's text for a release no key covers):
//   #zurl=, #zsha256=, #zsize=      the file compressed (numbered as #sha256:
//                                   _0 for #url0=, _N for #urlN=)
//   #patch_J=, #patch_0_J=, ...     SOURCE PATCH SIZE ADDRESS, separated by one
//                                   blank: a one-hop patch (J from 1) from the
//                                   installed file of SHA-256 SOURCE, itself of
//                                   SHA-256 PATCH and SIZE bytes
// A road whose keys are not all there or not well formed is left out, and
// `notes` says why: the whole file stays the way in.
inline constexpr std::size_t PatchLimit = 8;
struct TauCompressedForm {
    std::string url;
    std::string sha256;  // 32 bytes
    std::uint64_t size = 0;
};
struct TauPatch {
    std::string url;
    std::string sourceSha256;  // 32 bytes: the installed file it applies to
    std::string sha256;        // 32 bytes: the patch itself
    std::uint64_t size = 0;
};
struct TauFileRoads {
    std::string url;  // the whole file's address
    std::optional<TauCompressedForm> compressed;
    std::vector<TauPatch> patches;  // at most PatchLimit, in key order
};
struct TauReleaseRoads {
    std::vector<TauFileRoads> files;  // every listed file, in list order
    std::vector<std::string> notes;
};
TauReleaseRoads ReleaseRoads(const TauInfoFileText& info);
