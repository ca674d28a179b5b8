#include "core/storage/SettingsAccess.h"

#include "core/engine/RuntimeState.h"

namespace quindel {

namespace {

std::string settingsPath(const RuntimeState& state) {
    return state.userFilesFolder + "/" + kSettingsFileName;
}

// Creates settingsIni on first use, already pointing at the settings file.
IniFile& ensureSettingsIni(RuntimeState& state) {
    if (!state.settingsIni) {
        state.settingsIni = std::make_unique<IniFile>();
        state.settingsIni->setFileName(settingsPath(state));
    }
    return *state.settingsIni;
}

} // namespace

void bindSettingsIni(RuntimeState& state) {
    ensureSettingsIni(state).setFileName(settingsPath(state));
}

std::string readIniValue(RuntimeState& state, const std::string& file, const std::string& section,
                         const std::string& key) {
    IniFile& ini = ensureSettingsIni(state);
    ini.setFileName(state.userFilesFolder + "/" + file);
    ini.setSection(section);
    std::string value = ini.value(key, "");
    ini.setFileName(settingsPath(state));
    return value;
}

bool writeIniValue(RuntimeState& state, const std::string& file, const std::string& section,
                   const std::string& key, const std::string& value) {
    IniFile& ini = ensureSettingsIni(state);
    ini.setFileName(state.userFilesFolder + "/" + file);
    ini.setSection(section);
    bool written = ini.setValue(key, value);
    ini.setFileName(settingsPath(state));
    return written;
}

std::string readSetting(RuntimeState& state, const std::string& section, const std::string& key) {
    IniFile& ini = ensureSettingsIni(state);
    ini.setSection(section);
    return ini.value(key, "");
}

bool writeSetting(RuntimeState& state, const std::string& section, const std::string& key,
                  const std::string& value) {
    IniFile& ini = ensureSettingsIni(state);
    ini.setSection(section);
    return ini.setValue(key, value);
}

} // namespace quindel
