#pragma once

#include <string>
#include <vector>

namespace quindel {

// KWin offers its fake input only to a program whose desktop entry, as the applications menu
// lists it, names the program's executable and carries the line
// X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input. KWin 6 finds the entries through the menu
// file that XDG_MENU_PREFIX names: plasma-applications.menu in a Plasma session, which
// plasma-workspace installs in /etc/xdg/menus.

// The folders that KWin searches, in its order.
struct DesktopFolders {
    std::string menuPrefix;              // XDG_MENU_PREFIX
    std::vector<std::string> configDirs; // XDG_CONFIG_HOME, then XDG_CONFIG_DIRS
    std::vector<std::string> dataDirs;   // XDG_DATA_HOME, then XDG_DATA_DIRS
};
DesktopFolders desktopFoldersOfSession();

// Why KWin offered no fake input to program (an absolute path): the menu file or the entry it
// did not find, or, where both are there, that the entry names the program.
std::string kwinFakeInputRefusal(const std::string& program, const DesktopFolders& folders);

} // namespace quindel
