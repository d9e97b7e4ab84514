#pragma once
// The text of an INI file held line by line, so that changing one key
// rewrites only that key's line and keeps everything else as it was:
// comments, lines it does not understand and the keys other programs wrote.
// Section and key names compare without regard to case; values are read
// without their surrounding blanks, as the system's profile services do.
// Platform-free: no <windows.h> here.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Larger settings files are refused rather than parsed.
inline constexpr std::size_t kMaxIniFileSize = 1024 * 1024;

class IniDocument {
public:
    static IniDocument Parse(std::string_view text);

    // The whole file, every line ended by CR LF.
    std::string Text() const;

    // The first value of that name in the first section of that name that
    // holds it; nothing when absent.
    std::optional<std::string> Get(std::string_view section, std::string_view name) const;
    // Changes the key in place, or adds it at the end of its section, or adds
    // the section at the end. False, and nothing changed, for names or values
    // that one INI line cannot hold (line breaks, NUL, "]" in a section,
    // "=" in a name, an empty name).
    bool Set(std::string_view section, std::string_view name, std::string_view value);
    static bool CanHold(std::string_view section, std::string_view name, std::string_view value);

private:
    enum class Kind { Other, Section, Key };
    struct Line {
        std::string raw;
        Kind kind = Kind::Other;
        std::string name;  // section or key name, trimmed
    };

    static Line Classify(std::string raw);
    static std::string KeyLine(std::string_view name, std::string_view value);
    std::size_t SectionEnd(std::size_t header) const;

    std::vector<Line> lines_;
};

// An integer as a settings file holds it: decimal with an optional sign, or
// hexadecimal after "$" or "0x"; surrounding blanks allowed. False for
// anything else and for values outside 32 bits.
bool ParseIniInteger(std::string_view text, std::int32_t& value);

// A settings key path split into its section and name.
struct KeyPath {
    std::string section;
    std::string name;
};

// Spaces are removed; one trailing and one leading "\" or "/" are dropped; the
// section is the text up to the first separator, the name the rest with every
// further separator turned into "." ("Default" when empty). Nothing for an
// empty path or an empty section.
std::optional<KeyPath> SplitKeyPath(std::string_view path);
