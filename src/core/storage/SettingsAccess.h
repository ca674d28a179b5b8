#pragma once

#include <string>

namespace quindel {

struct RuntimeState;

// The settings file's name, in the user's files folder.
inline constexpr const char* kSettingsFileName = "quindel.ini";

// Creates state.settingsIni if needed and binds it to the settings file in the user's files
// folder.
void bindSettingsIni(RuntimeState& state);

// Reads / writes one key of a bare-named file in the user's files folder. settingsIni points at
// that file for the call only and is pointed back at the settings file before returning.
std::string readIniValue(RuntimeState& state, const std::string& file, const std::string& section,
                         const std::string& key);
bool writeIniValue(RuntimeState& state, const std::string& file, const std::string& section,
                   const std::string& key, const std::string& value);

// Reads / writes one key of the settings file (whatever settingsIni.FileName holds).
std::string readSetting(RuntimeState& state, const std::string& section, const std::string& key);
bool writeSetting(RuntimeState& state, const std::string& section, const std::string& key,
                  const std::string& value);

} // namespace quindel
