#pragma once

#include <cstdint>
#include <string>

namespace quindel {

// Every caption, prompt and message that changes with the interface language. All slots are
// empty until the first fill.
struct LanguageTexts {
    std::string startCaption;
    std::string stopCaption;
    std::string assignKeysCaption;
    std::string midiConfigCaption;
    std::string descriptionLabel;
    std::string sequenceLabel;
    std::string flagImageFile;
    std::string selectDeviceMessage;
    std::string noDeviceMessage;
    std::string selectDeviceLabel;
    std::string okCaption;
    std::string cancelCaption;
    std::string confirmCaption;
    std::string repeatCaption;
    std::string keyboardKeyTitle;
    std::string midiCommandTitle;
    std::string assignActionsTitle;
    std::string actionsLabel;
    std::string newCaption;
    std::string assignNewKeyCaption;
    std::string deleteCaption;
    std::string upCaption;
    std::string downCaption;
    std::string nextCaption;
    std::string previousCaption;
    std::string configurationNamePrompt;
    std::string configurationExistsMessage;
    std::string actionDescriptionPrompt;
    std::string clickPointMessage;
    std::string aboutText;
    std::string homePageCaption;
    std::string homePageUrl; // a page in the program folder, relative to it
    std::string helpOnlineCaption;
    std::string helpPageUrl; // a page in the program folder, relative to it
    std::string invalidNameMessage;
    std::string saveFailedMessage;
    std::string tooManyActionsMessage;

    // Names, guidance and help texts.
    std::string noTriggerName;          // a next or prev trigger of "0"
    std::string keyboardEntryCaption;   // the PC keyboard in the device list
    std::string keyCaptureInstruction;  // one line over the key capture
    std::string midiCaptureInstruction; // one line over the MIDI capture
    std::string noInputChosenMessage;   // Start without an input source
    std::string pageNotOpenedMessage;   // followed by the page's file path
    std::string aboutTitle;
    // Shown on the main window while started when the chosen MIDI device is not there.
    std::string deviceMissingCaption;
    // The edit dialog of one action, and the question asked before unsaved edits are left.
    std::string editActionTitle;
    std::string editDescriptionLabel;
    std::string editTriggerLabel;
    std::string editPointLabel;
    std::string captureAgainCaption;
    std::string saveChangesQuestion;
    std::string userFilesCaption;      // the About window's line before the user's files folder
    std::string noClickMessage;        // Start where the desktop offers no way to click
    std::string keysNotWatchedMessage; // Start on the PC keyboard where keys cannot be watched
    std::string clickFailedMessage;    // a click the desktop did not take, in the lower display
    std::string keysTakenMessage;      // + the keys that other shortcuts have, in the lower display
    std::string xwaylandMessage; // Start or a click point on the X server of a Wayland desktop
    std::string noPointCaptureMessage; // a click point where the desktop offers no way to take one
};

inline constexpr uint8_t kItalian = 1;
inline constexpr uint8_t kEnglish = 2;

// Fills every slot with the texts of languageIndex (1 Italian, 2 English); any other value
// leaves every slot as it was.
void loadLanguageTexts(LanguageTexts& texts, uint8_t languageIndex);

// The one-line messages of the command line (`quindel --trigger CODE`, a second start).
// Where a message names something, it ends in ": " and the caller appends it.
struct CommandLineTexts {
    std::string notRunning;         // no Quindel listens
    std::string stopped;            // the trigger was dropped
    std::string malformed;          // + the text given
    std::string noStep;             // + "next" or "prev"
    std::string noAnswer;           // it listens but did not answer in time
    std::string unreachable;        // + the system's reason
    std::string unknownArgument;    // + the argument, then the usage line
    std::string usage;              // the accepted arguments
    std::string alreadyRunning;     // a second start, which brought the first to the front
    std::string channelUnavailable; // at start: + the reason; the program runs on
    std::string queueFull;          // the trigger was dropped: too many wait
    std::string runningUnreachable; // a second start, refused: + the reason
    std::string noLock;             // a start, refused: + the folder and the reason
    std::string bindingsDesktops;   // --print-bindings for a desktop it does not know
    std::string defaultKeymap;      // no keymap from the compositor: + the reason
};

// The command-line messages of languageIndex; English for any value but Italian.
CommandLineTexts commandLineTexts(uint8_t languageIndex);

} // namespace quindel
