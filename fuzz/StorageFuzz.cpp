// Feeds one input as an INI file, a group file and a settings file through the storage code.
// Besides crashes it checks two properties of the INI model: an unedited file is written back
// byte for byte, and a value just set is the value read.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "core/engine/RuntimeState.h"
#include "core/storage/GroupFiles.h"
#include "core/storage/IniDocument.h"
#include "core/storage/Settings.h"
#include "core/storage/SettingsAccess.h"

using namespace quindel;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// A folder for the files of one run, removed when the run ends normally.
struct ScratchFolder {
    std::string path;
    ScratchFolder() {
        path = (std::filesystem::temp_directory_path() / "quindel-fuzz-XXXXXX").string();
        check(::mkdtemp(path.data()) != nullptr);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

const std::string& scratchFolder() {
    static const ScratchFolder folder;
    return folder.path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    IniDocument doc = IniDocument::parse(bytes);
    check(doc.serialize() == bytes);
    doc.set("tasto-001", "tasto", "42");
    check(doc.get("TASTO-001", "tasto") == "42");
    check(IniDocument::parse(doc.serialize()).get("tasto-001", "Tasto") == "42");
    readLeadingNumber(std::string(bytes), INT32_MIN, INT32_MAX);
    readWholeNumber(std::string(bytes), 0, 255);

    RuntimeState state;
    state.userFilesFolder = scratchFolder();
    state.groupFile = "gruppo-fuzz.ini";
    std::ofstream(state.userFilesFolder + "/gruppo-fuzz.ini", std::ios::binary) << bytes;
    std::ofstream(state.userFilesFolder + "/quindel.ini", std::ios::binary) << bytes;

    loadGroupFile(state);
    loadNextPrevTriggers(state);
    buildSequenceTable(state);
    check(state.actionCount >= 0 && state.actionCount <= kMaxActions);
    check(state.sequenceTable.size() <= state.actionTable.size());
    for (size_t i = 0; i < state.actionTable.size(); ++i)
        check(state.actionTable[i].order == static_cast<int16_t>(i + 1));

    bindSettingsIni(state);
    readLeadingNumber(readSetting(state, kGeneralSection, kLanguageKey), 0, 255);
    readLeadingNumber(readSetting(state, kMidiSection, kMidiInputKey), INT16_MIN, INT16_MAX);
    readSetting(state, kGroupSection, kGroupFileKey);
    check(writeSetting(state, kGeneralSection, kLanguageKey, numberForm(2)));
    check(readSetting(state, kGeneralSection, kLanguageKey) == "2");

    check(saveGroupFile(state));
    const std::vector<ActionRecord> loaded = state.actionTable;
    loadGroupFile(state);
    check(state.actionTable.size() <= loaded.size());
    return 0;
}
