// Arbitrary bytes as a settings file: what the reader makes of them must be written
// and read back unchanged, and so must the record loaded from them; saving the record
// into the file leaves every other section as it was.
#include "settings/SettingsFile.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

bool IsSettingsSection(std::string_view name) {
    if (name.size() != SettingsSection.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i] >= 'a' && name[i] <= 'z' ? static_cast<char>(name[i] - 32) : name[i];
        if (c != SettingsSection[i])
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const TSettingsFileModel model = TSettingsFileModel::Parse(bytes);
    const std::string written = model.Serialize();
    const TSettingsFileModel reread = TSettingsFileModel::Parse(written);
    Require(reread == model);
    Require(reread.Serialize() == written);

    TMeterSettings loaded;
    QString error;
    if (!RestoreSettings(model, loaded, error))
        return 0; // a value too long for its field: refused whole
    TSettingsFileModel saved = model;
    // Every byte a file holds is a character a file can store again.
    Require(StoreSettings(saved, loaded, error));
    const TSettingsFileModel savedReread = TSettingsFileModel::Parse(saved.Serialize());
    Require(savedReread == saved);
    TMeterSettings reloaded;
    Require(RestoreSettings(savedReread, reloaded, error) && reloaded == loaded);

    // Only the last settings section changes; without one, a new one is appended.
    const auto& before = model.Sections();
    const auto& after = saved.Sections();
    size_t target = before.size();
    for (size_t i = 0; i < before.size(); ++i)
        if (IsSettingsSection(before[i].Name))
            target = i;
    Require(after.size() == before.size() + (target == before.size() ? 1 : 0));
    for (size_t i = 0; i < before.size(); ++i)
        if (i != target)
            Require(after[i] == before[i]);
    return 0;
}
