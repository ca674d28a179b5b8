#pragma once

#include <string>

namespace quindel {

// The folder of the running executable (read from /proc/self/exe): its data files lie there
// (fonts, flag pictures, manuals), and so do the user's files of a copy that may write there.
// The working directory when the system cannot tell.
std::string programFolder();

// Where the settings file and the group files live. A program folder the user may write to
// keeps them beside the program, so a copied folder stays portable. An installed program's
// folder is read-only: then they live in the per-user folder, which is made (mode 0700, with
// any missing parents) when it is not there yet. Nothing is ever moved or copied between the
// two. When the per-user folder cannot be made the program still runs on it: reads find no
// files and writes fail, as on any unwritable folder.
std::string chooseUserFilesFolder(const std::string& programFolder);
// The folder that chooseUserFilesFolder chooses, without making it.
std::string userFilesFolderFor(const std::string& programFolder);

// Whether the current user may create files in folder. The owner's write bit is the folder's
// read-only mark and binds root too, as for the files themselves.
bool mayCreateFilesIn(const std::string& folder);

// The per-user folder: xdgConfigHome + "/quindel", or home + "/.config/quindel" when
// xdgConfigHome is unset, empty or relative; empty when neither gives an absolute path.
std::string perUserFolder(const char* xdgConfigHome, const char* home);

} // namespace quindel
