#include "platform/wayland/KWinFakeInputAccess.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quindel {

namespace {

namespace fs = std::filesystem;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The user's folder (or HOME's default) and then the colon-separated system ones (or their
// default), absolute ones only.
std::vector<std::string> xdgFolders(const char* homeName, const char* homeDefault,
                                    const char* listName, const char* listDefault) {
    std::vector<std::string> folders;
    std::string home = environment(homeName);
    if (home.empty() || home[0] != '/')
        home = environment("HOME") + homeDefault;
    folders.push_back(home);
    std::string list = environment(listName);
    std::istringstream items(list.empty() ? listDefault : list);
    for (std::string item; std::getline(items, item, ':');)
        if (!item.empty() && item[0] == '/')
            folders.push_back(item);
    return folders;
}

// Whether the entry's Exec names program (its first word, quotes taken off) and its
// X-KDE-Wayland-Interfaces list the fake input.
bool entryAllows(const fs::path& entry, const std::string& program) {
    std::ifstream in(entry);
    bool names = false, allows = false;
    std::error_code error;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Exec=", 0) == 0) {
            std::string first = line.substr(5);
            if (!first.empty() && first[0] == '"')
                first = first.substr(1, first.find('"', 1) - 1);
            else
                first = first.substr(0, first.find(' '));
            names = fs::equivalent(first, program, error);
        } else if (line.rfind("X-KDE-Wayland-Interfaces=", 0) == 0) {
            allows = (line + ",").find("org_kde_kwin_fake_input,") != std::string::npos ||
                     (line + ";").find("org_kde_kwin_fake_input;") != std::string::npos;
        }
    }
    return names && allows;
}

} // namespace

DesktopFolders desktopFoldersOfSession() {
    return {environment("XDG_MENU_PREFIX"),
            xdgFolders("XDG_CONFIG_HOME", "/.config", "XDG_CONFIG_DIRS", "/etc/xdg"),
            xdgFolders("XDG_DATA_HOME", "/.local/share", "XDG_DATA_DIRS",
                       "/usr/local/share:/usr/share")};
}

std::string kwinFakeInputRefusal(const std::string& program, const DesktopFolders& folders) {
    const std::string menu = "menus/" + folders.menuPrefix + "applications.menu";
    bool menuFound = false;
    for (const std::string& folder : folders.configDirs)
        menuFound = menuFound || fs::exists(fs::path(folder) / menu);
    const std::string lead = "KWin offers its fake input, the way to click on KDE Plasma, only "
                             "to programs whose desktop entry the applications menu lists: ";
    if (!menuFound)
        return lead + "this session has no menu file " + menu + " (XDG_MENU_PREFIX is \"" +
               folders.menuPrefix +
               "\"). A Plasma session sets XDG_MENU_PREFIX=plasma-, and plasma-workspace "
               "installs /etc/xdg/menus/plasma-applications.menu.";
    std::string searched;
    for (const std::string& folder : folders.dataDirs) {
        const fs::path applications = fs::path(folder) / "applications";
        std::error_code error;
        for (const auto& item : fs::directory_iterator(applications, error))
            if (item.path().extension() == ".desktop" && entryAllows(item.path(), program))
                return "KWin did not offer its fake input to " + program + ", although " +
                       item.path().string() + " names it with X-KDE-Wayland-Interfaces=" +
                       "org_kde_kwin_fake_input and the menu " + menu + " is there.";
        searched += (searched.empty() ? "" : ", ") + applications.string();
    }
    return lead + "no desktop entry in " + searched + " names " + program +
           " with the line X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input. Copy quindel.desktop "
           "from the program folder to ~/.local/share/applications and start Quindel again.";
}

} // namespace quindel
