#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "core/text/LanguageTexts.h"
#include "core/storage/IniFile.h"

namespace quindel {

// One assigned action: a trigger plus the screen point that it clicks.
struct ActionRecord {
    std::string entryName;   // "tasto-NNN", the record's section in the group file
    std::string description; // shown on the main window when the action fires
    int16_t order = 0;       // position in the action list
    std::string triggerCode; // decimal virtual-key code, or four-character MIDI code
    uint8_t triggerKind = 0; // 1 = PC keyboard key, 2 = MIDI command
    int32_t clickX = 0;      // screen pixels from the left edge of the primary screen
    int32_t clickY = 0;      // screen pixels from the top edge
    uint8_t sequencePos = 0; // 0 = not in the sequence, n = place in the sequence

    bool operator==(const ActionRecord&) const = default;
};

// Values of midiInputDevice and inputMode.
inline constexpr int16_t kNoInputDevice = 0;
inline constexpr int16_t kKeyboardDevice = 99;
inline constexpr uint8_t kKeyboardMode = 1;
inline constexpr uint8_t kMidiMode = 2;
inline constexpr int kMaxActions = 100;

// The process-wide state shared by the trigger engine, the loaders, the editor and the
// windows. Created once at start-up and handed around by reference; tests make a fresh one.
// Tables count their records from 1 in the user's terms: record k lives at index k - 1.
struct RuntimeState {
    std::vector<ActionRecord> actionTable;
    int16_t actionCount = 0;
    std::vector<ActionRecord> sequenceTable;
    int16_t sequenceCount = 0;
    int16_t currentStep = 0;
    std::string nextTriggerCode = "0";
    std::string prevTriggerCode = "0";
    int16_t midiInputDevice = kNoInputDevice;
    // The name of the chosen MIDI input device; empty when none is stored (older settings
    // files), and then midiInputDevice alone says which device it is.
    std::string midiInputName;
    uint8_t inputMode = kMidiMode;
    std::string lastMidiCommand;
    // Codes from `quindel --trigger`, oldest first, each for a tick of its own (see
    // takeCommandTrigger); emptied at Start and Stop.
    std::deque<std::string> commandQueue;
    bool isRunning = false;
    uint8_t languageIndex = 0;
    std::string capturedTriggerCode;
    std::string groupFile;
    // True when the last load found groupFile but could not read it: the tables do not hold
    // what the file holds, so saving them over it would lose the group.
    bool groupFileUnread = false;

    // The INI object bound to the settings file; created on first use.
    std::unique_ptr<IniFile> settingsIni;
    // The folder of the executable, its fonts, flag pictures and manuals (no trailing "/").
    std::string programFolder;
    // The folder of the settings file and the group files (no trailing "/"): the program
    // folder, or the per-user folder when the program folder is read-only
    // (chooseUserFilesFolder).
    std::string userFilesFolder;
    // The localised text slots of the current language.
    LanguageTexts texts;

    // inputMode always follows midiInputDevice: the keyboard entry gives 1, anything else 2.
    void setInputDevice(int16_t device) {
        midiInputDevice = device;
        inputMode = device == kKeyboardDevice ? kKeyboardMode : kMidiMode;
    }
};

} // namespace quindel
