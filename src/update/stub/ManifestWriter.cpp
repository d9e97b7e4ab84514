#include "update/stub/ManifestWriter.h"

std::string ManifestText(const ProductProcess& product, const std::string& updater,
                         const std::vector<ManifestEntry>& files)
{
    if (!IsPlainFileName(updater))
        return {};
    static constexpr char Hex[] = "0123456789abcdef";
    std::string text = std::string(ManifestHeader) + "\n";
    if (product.id != 0)
        text += "product\t" + std::to_string(product.id) + "\t" + std::to_string(product.creationTime) + "\n";
    text += "updater\t" + updater + "\n";
    for (const ManifestEntry& file : files) {
        if (!IsPlainFileName(file.name) || file.sha256.size() != 32)
            return {};
        text += file.keep ? "keep\t" : "file\t";
        for (const unsigned char byte : file.sha256) {
            text += Hex[byte >> 4];
            text += Hex[byte & 15];
        }
        text += "\t" + file.name + "\n";
    }
    return text + "end\t" + std::to_string(files.size()) + "\n";
}
