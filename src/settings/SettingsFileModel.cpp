#include "settings/SettingsFileModel.h"

#include <algorithm>

namespace {

bool IsTrimmed(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7F;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsTrimmed(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsTrimmed(s.back()))
        s.remove_suffix(1);
    return s;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

// The key of a line, or nothing for a line without "=".
std::optional<std::string_view> KeyOf(std::string_view line) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return line.substr(0, eq);
}

std::string OneLine(std::string_view text) {
    std::string out(text);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return out;
}

template <typename Sections> auto LastSection(Sections& sections, std::string_view name) {
    return std::find_if(sections.rbegin(), sections.rend(),
                        [&](const auto& s) { return SameText(s.Name, name); });
}

} // namespace

TSettingsFileModel TSettingsFileModel::Parse(std::string_view bytes) {
    TSettingsFileModel model;
    size_t pos = 0;
    while (pos < bytes.size()) {
        const size_t end = bytes.find_first_of("\r\n", pos);
        const std::string_view raw =
            bytes.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? bytes.size() : end + 1;
        // A CR LF pair leaves an empty piece between CR and LF; empty lines are dropped.
        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            model.FSections.push_back({std::string(Trim(line.substr(1, line.size() - 2))), {}});
            continue;
        }
        if (model.FSections.empty())
            continue;
        std::string kept;
        if (const auto key = KeyOf(line)) {
            kept = Trim(*key);
            kept += '=';
            kept += Trim(line.substr(key->size() + 1));
        } else {
            kept = line;
        }
        model.FSections.back().Lines.push_back(std::move(kept));
    }
    return model;
}

std::string TSettingsFileModel::Serialize() const {
    std::string out;
    for (const TSection& section : FSections) {
        out += '[';
        out += section.Name;
        out += "]\r\n";
        for (const std::string& line : section.Lines) {
            out += line;
            out += "\r\n";
        }
        out += "\r\n";
    }
    return out;
}

std::optional<std::string> TSettingsFileModel::Value(std::string_view section,
                                                     std::string_view key) const {
    const auto s = LastSection(FSections, section);
    if (s == FSections.rend())
        return std::nullopt;
    for (auto line = s->Lines.rbegin(); line != s->Lines.rend(); ++line) {
        const auto lineKey = KeyOf(*line);
        if (lineKey && SameText(*lineKey, key))
            return line->substr(lineKey->size() + 1);
    }
    return std::nullopt;
}

void TSettingsFileModel::SetValue(std::string_view section, std::string_view key,
                                  std::string_view value) {
    auto s = LastSection(FSections, section);
    TSection* target = nullptr;
    if (s == FSections.rend()) {
        FSections.push_back({OneLine(section), {}});
        target = &FSections.back();
    } else {
        target = &*s;
    }
    std::string line = OneLine(key);
    line += '=';
    line += OneLine(value);
    for (auto it = target->Lines.rbegin(); it != target->Lines.rend(); ++it) {
        const auto lineKey = KeyOf(*it);
        if (lineKey && SameText(*lineKey, key)) {
            *it = std::move(line);
            return;
        }
    }
    target->Lines.push_back(std::move(line));
}
