#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quindel {

struct RuntimeState;

// The file name of the group called groupName: "gruppo-" + groupName + ".ini".
std::string groupFileNameOf(const std::string& groupName);
// The group name of a program-folder file when the file is a group file: the name without
// its "gruppo-" prefix and its four-character extension. Names too short to hold both are
// not group files.
std::optional<std::string> groupNameOfFile(const std::string& fileName);
// The group names of the group files in folder, sorted by name ignoring letter case.
std::vector<std::string> listGroupNames(const std::string& folder);
// True when a group name can be part of a file name in the user's files folder: no folder
// separators and no control characters.
bool isValidGroupName(const std::string& name);

// Loading a group is always loadGroupFile, loadNextPrevTriggers, buildSequenceTable.
void loadGroupFile(RuntimeState& state);
void sortActionsByOrder(RuntimeState& state);
void loadNextPrevTriggers(RuntimeState& state);
void buildSequenceTable(RuntimeState& state);

// Writes state.groupFile from the runtime tables, replacing the old file atomically.
// False (and the old file untouched) when the file could not be written, or could not be
// read now or when it was last loaded.
bool saveGroupFile(RuntimeState& state);

// The group file named in the settings ("nomefile"), as the name of the file in the user's
// files folder: a name stored as Windows-1252 bytes comes back as those bytes.
std::string readGroupFileSetting(RuntimeState& state);

// True when path names an ordinary file whose name matches fileNameOf(path), ignoring case.
bool fileExists(const std::string& path);
// The text after the last "/" or "\" of path; the whole text when it holds neither.
std::string fileNameOf(const std::string& path);

} // namespace quindel
