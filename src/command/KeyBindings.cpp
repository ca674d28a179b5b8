#include "command/KeyBindings.h"

#include "core/engine/RuntimeState.h"
#include "core/engine/TriggerDispatch.h"
#include "core/storage/GroupFiles.h"

#include <filesystem>
#include <map>
#include <set>

namespace quindel {

std::string swayBindings(const std::string& userFilesFolder,
                         const std::function<std::string(int virtualKey)>& keysymName,
                         const std::string& command) {
    // The groups that use each key, by code.
    std::map<int, std::set<std::string>> keys;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(userFilesFolder, error)) {
        const std::string fileName = entry.path().filename().string();
        const std::optional<std::string> group = groupNameOfFile(fileName);
        std::error_code typeError;
        if (!group || !entry.is_regular_file(typeError))
            continue;
        RuntimeState state;
        state.userFilesFolder = userFilesFolder;
        state.groupFile = fileName;
        loadGroupFile(state);
        loadNextPrevTriggers(state);
        for (const ActionRecord& record : state.actionTable)
            if (record.triggerKind == 1 && keyCodeFromTrigger(record.triggerCode) != 0)
                keys[keyCodeFromTrigger(record.triggerCode)].insert(*group);
        for (const std::string* code : {&state.nextTriggerCode, &state.prevTriggerCode})
            if (keyCodeFromTrigger(*code) != 0)
                keys[keyCodeFromTrigger(*code)].insert(*group);
    }
    std::string text = "# Quindel: the key triggers of the groups in " + userFilesFolder + "\n";
    for (const auto& [code, groups] : keys) {
        const std::string name = keysymName(code);
        if (name.empty()) {
            text += "# no key of this keymap has the code " + std::to_string(code) + " (group";
            for (const std::string& group : groups)
                text += " \"" + group + "\"";
            text += ")\n";
            continue;
        }
        text += "bindsym --no-repeat " + name + " exec " + command + " --trigger " +
                std::to_string(code) + "\n";
    }
    return text;
}

} // namespace quindel
