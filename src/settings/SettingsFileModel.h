// An INI-style settings file held in memory while it is read or written: sections in
// file order, each with its lines in order. Section names and keys compare without
// regard to (ASCII) case; text is kept as bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TSettingsFileModel {
public:
    struct TSection {
        std::string Name;
        std::vector<std::string> Lines;
        bool operator==(const TSection&) const = default;
    };

    // Reads a whole file. Lines may end in CR LF, LF or CR; each is trimmed, empty lines
    // and comment lines (";") are dropped, and so are lines before the first section.
    // "key = value" is kept as "key=value"; a line without "=" is kept as it stands.
    static TSettingsFileModel Parse(std::string_view bytes);

    // Each section as "[name]", its lines, then one empty line; every line ends in CR LF.
    std::string Serialize() const;

    // The value of the key in the section; the last section of that name and the last
    // matching line count. Lines without "=" never match.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;

    // Replaces the key's last line in the section's last occurrence, or appends the line
    // (and the section, if there is none). Line breaks in the value become blanks so a
    // value can never add lines or sections to the file.
    void SetValue(std::string_view section, std::string_view key, std::string_view value);

    const std::vector<TSection>& Sections() const { return FSections; }

    bool operator==(const TSettingsFileModel&) const = default;

private:
    std::vector<TSection> FSections;
};
