#include "core/storage/UserFilesFolder.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quindel {

namespace {

bool isAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

// The home folder when HOME is not set: the one the user database names.
const char* homeOfUser() {
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr ? user->pw_dir : nullptr;
}

// Makes folder and its missing parents, each mode 0700; an existing folder keeps its mode.
void makePrivateFolder(const std::string& folder) {
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        if (::mkdir(folder.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST)
            return;
        if (slash == std::string::npos)
            return;
    }
}

} // namespace

std::string programFolder() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        return exe.parent_path().lexically_normal().string();
    return std::filesystem::current_path(error).lexically_normal().string();
}

bool mayCreateFilesIn(const std::string& folder) {
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) != 0 &&
           ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string perUserFolder(const char* xdgConfigHome, const char* home) {
    if (isAbsolute(xdgConfigHome))
        return std::string(xdgConfigHome) + "/quindel";
    if (isAbsolute(home))
        return std::string(home) + "/.config/quindel";
    return {};
}

std::string userFilesFolderFor(const std::string& programFolder) {
    if (mayCreateFilesIn(programFolder))
        return programFolder;
    const char* home = std::getenv("HOME");
    std::string folder =
        perUserFolder(std::getenv("XDG_CONFIG_HOME"), isAbsolute(home) ? home : homeOfUser());
    // Nowhere else to go: reads and writes meet the read-only folder.
    return folder.empty() ? programFolder : folder;
}

std::string chooseUserFilesFolder(const std::string& programFolder) {
    std::string folder = userFilesFolderFor(programFolder);
    if (folder != programFolder)
        makePrivateFolder(folder);
    return folder;
}

} // namespace quindel
