#include "storage/gestioneFileIni.h"

#include "engine/RuntimeState.h"

namespace quindel {

namespace {

std::string settingsPath(const RuntimeState& state) {
    return state.programFolder + "/" + kSettingsFileName;
}

// Creates settingsIni on first use, already pointing at the settings file.
Cini& ensureSettingsIni(RuntimeState& state) {
    if (!state.settingsIni) {
        state.settingsIni = std::make_unique<Cini>();
        state.settingsIni->FileName(settingsPath(state));
    }
    return *state.settingsIni;
}

} // namespace

void bindSettingsIni(RuntimeState& state) {
    ensureSettingsIni(state).FileName(settingsPath(state));
}

std::string readIniValue(RuntimeState& state, const std::string& file, const std::string& section,
                         const std::string& key) {
    Cini& ini = ensureSettingsIni(state);
    ini.FileName(state.programFolder + "/" + file);
    ini.ApplicationKey(section);
    std::string value = ini.GetValue(key, "");
    ini.FileName(settingsPath(state));
    return value;
}

bool writeIniValue(RuntimeState& state, const std::string& file, const std::string& section,
                   const std::string& key, const std::string& value) {
    Cini& ini = ensureSettingsIni(state);
    ini.FileName(state.programFolder + "/" + file);
    ini.ApplicationKey(section);
    bool written = ini.SetValue(key, value);
    ini.FileName(settingsPath(state));
    return written;
}

std::string readSetting(RuntimeState& state, const std::string& section, const std::string& key) {
    Cini& ini = ensureSettingsIni(state);
    ini.ApplicationKey(section);
    return ini.GetValue(key, "");
}

bool writeSetting(RuntimeState& state, const std::string& section, const std::string& key,
                  const std::string& value) {
    Cini& ini = ensureSettingsIni(state);
    ini.ApplicationKey(section);
    return ini.SetValue(key, value);
}

} // namespace quindel
