#include "core/storage/GroupFiles.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <limits>
#include <sys/stat.h>
#include <utility>

#include "core/engine/RuntimeState.h"
#include "core/storage/IniDocument.h"
#include "core/storage/Settings.h"
#include "core/storage/SettingsAccess.h"

namespace quindel {

namespace {

constexpr const char* kGroupPrefix = "gruppo-";
constexpr std::size_t kGroupPrefixLength = 7;
constexpr std::size_t kGroupExtensionLength = 4; // ".ini"
constexpr const char* kGroupExtension = ".ini";

// ASCII-only lower case, so that the order does not depend on the locale.
int compareIgnoringCase(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
        const int ca = lower(static_cast<unsigned char>(a[i]));
        const int cb = lower(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string actionSection(size_t number) {
    char name[32];
    std::snprintf(name, sizeof name, "tasto-%03zu", number);
    return name;
}

std::string groupPath(const RuntimeState& state) {
    return trimSpaces(state.userFilesFolder + "/" + state.groupFile);
}

// The group file read once; every value is then looked up as a single read of it would
// deliver it, which is what reading key by key from an unchanged file gives. A file that is
// there but cannot be read gives an empty document and is remembered as unread.
IniDocument readGroupDocument(RuntimeState& state) {
    bindSettingsIni(state);
    IniDocument doc;
    state.groupFileUnread = !loadIniFile(groupPath(state), doc);
    return doc;
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

template <typename T> T leadingNumber(const std::string& text) {
    return static_cast<T>(
        readLeadingNumber(text, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

// The exchange sort of the loaders: not stable, equal keys end up where the exchanges leave
// them.
template <typename Key> void exchangeSort(std::vector<ActionRecord>& table, Key key) {
    for (size_t i = 0; i < table.size(); ++i)
        for (size_t j = i + 1; j < table.size(); ++j)
            if (key(table[j]) < key(table[i]))
                std::swap(table[i], table[j]);
}

} // namespace

std::string groupFileNameOf(const std::string& groupName) {
    return kGroupPrefix + groupName + kGroupExtension;
}

std::optional<std::string> groupNameOfFile(const std::string& fileName) {
    if (fileName.size() < kGroupPrefixLength + kGroupExtensionLength ||
        fileName.compare(0, kGroupPrefixLength, kGroupPrefix) != 0)
        return std::nullopt;
    return fileName.substr(kGroupPrefixLength,
                           fileName.size() - kGroupPrefixLength - kGroupExtensionLength);
}

std::vector<std::string> listGroupNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec)
        return names;
    for (const std::filesystem::directory_entry& entry : it) {
        std::error_code typeError;
        if (!entry.is_regular_file(typeError))
            continue;
        if (auto name = groupNameOfFile(entry.path().filename().string()))
            names.push_back(std::move(*name));
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int c = compareIgnoringCase(a, b);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

bool isValidGroupName(const std::string& name) {
    return std::none_of(name.begin(), name.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c == '/' || c == '\\' || c < 32 || c == 127;
    });
}

void loadGroupFile(RuntimeState& state) {
    const IniDocument doc = readGroupDocument(state);
    state.actionTable.clear();
    state.actionTable.reserve(kMaxActions);
    state.actionCount = 0;
    for (int i = 1; i <= kMaxActions; ++i) {
        const std::string s = actionSection(static_cast<size_t>(i));
        std::string code = readDelivered(doc, s, "tasto", "");
        if (code.empty())
            continue;
        ActionRecord record;
        record.triggerCode = std::move(code);
        record.order = leadingNumber<int16_t>(readDelivered(doc, s, "ordine", ""));
        record.triggerKind = leadingNumber<uint8_t>(readDelivered(doc, s, "tipo", ""));
        record.clickX = leadingNumber<int32_t>(readDelivered(doc, s, "xx", ""));
        record.clickY = leadingNumber<int32_t>(readDelivered(doc, s, "yy", ""));
        record.entryName = readDelivered(doc, s, "nome chiave", "");
        record.description = readDelivered(doc, s, "descrizione", "");
        record.sequencePos =
            static_cast<uint8_t>(readWholeNumber(readDelivered(doc, s, "sequenza", ""), 0, 255));
        state.actionTable.push_back(std::move(record));
        ++state.actionCount;
    }
    sortActionsByOrder(state);
}

void sortActionsByOrder(RuntimeState& state) {
    exchangeSort(state.actionTable, [](const ActionRecord& r) { return r.order; });
    for (size_t i = 0; i < state.actionTable.size(); ++i)
        state.actionTable[i].order = static_cast<int16_t>(i + 1);
}

void loadNextPrevTriggers(RuntimeState& state) {
    const IniDocument doc = readGroupDocument(state);
    // Kept as text, so a MIDI code such as "3C90" comes back as it was saved.
    state.nextTriggerCode = readDelivered(doc, "tasto-next", "tasto", "");
    state.prevTriggerCode = readDelivered(doc, "tasto-prev", "tasto", "");
    if (state.nextTriggerCode.empty())
        state.nextTriggerCode = "0";
    if (state.prevTriggerCode.empty())
        state.prevTriggerCode = "0";
}

void buildSequenceTable(RuntimeState& state) {
    state.sequenceTable.clear();
    state.sequenceTable.reserve(state.actionTable.size());
    for (const ActionRecord& record : state.actionTable)
        if (record.sequencePos > 0)
            state.sequenceTable.push_back(record);
    state.sequenceCount = static_cast<int16_t>(state.sequenceTable.size());
    exchangeSort(state.sequenceTable, [](const ActionRecord& r) { return r.sequencePos; });
    for (size_t i = 0; i < state.sequenceTable.size(); ++i)
        state.sequenceTable[i].sequencePos = static_cast<uint8_t>(i + 1);
}

bool saveGroupFile(RuntimeState& state) {
    // A group that could not be read, when it was loaded or now, is never replaced: the tables
    // or its name would come from an empty file.
    if (state.groupFileUnread)
        return false;
    IniDocument old;
    bindSettingsIni(state);
    if (!loadIniFile(groupPath(state), old))
        return false;
    const std::string name = readDelivered(old, "main", "nome", "");
    // The new content is built as writing it key by key into an empty file would leave it,
    // then put in place in one step: a failure part-way never loses the saved group.
    IniDocument doc;
    doc.set("main", "nome", name);
    for (const auto& [section, code] : {std::pair{"tasto-next", &state.nextTriggerCode},
                                        std::pair{"tasto-prev", &state.prevTriggerCode}}) {
        doc.set(section, "ordine", "1");
        doc.set(section, "tasto", *code);
        doc.set(section, "tipo", "1");
    }
    for (size_t i = 0; i < state.actionTable.size(); ++i) {
        const ActionRecord& record = state.actionTable[i];
        const std::string s = actionSection(i + 1);
        doc.set(s, "nome chiave", s);
        doc.set(s, "ordine", numberForm(static_cast<long long>(i + 1)));
        doc.set(s, "tasto", record.triggerCode);
        doc.set(s, "tipo", numberForm(record.triggerKind));
        doc.set(s, "xx", numberForm(record.clickX));
        doc.set(s, "yy", numberForm(record.clickY));
        doc.set(s, "sequenza", numberForm(record.sequencePos));
        doc.set(s, "descrizione", record.description);
    }
    return replaceFileAtomically(groupPath(state), doc.serialize());
}

std::string readGroupFileSetting(RuntimeState& state) {
    const std::string name = readSetting(state, kGroupSection, kGroupFileKey);
    // A settings file that is not UTF-8 is read as Windows-1252 text. The text names the group
    // file when its name was turned into UTF-8 on the way from Windows; a name that kept its
    // Windows-1252 bytes is named by the bytes stored.
    std::string bytes;
    if (!isRegularFile(state.userFilesFolder + "/" + name) && utf8ToWindows1252(name, bytes) &&
        isRegularFile(state.userFilesFolder + "/" + bytes))
        return bytes;
    return name;
}

bool fileExists(const std::string& path) {
    const std::string name = fileNameOf(path);
    if (name.empty() || name.find_first_of("*?") != std::string::npos)
        return false;
    const size_t cut = path.size() - name.size();
    std::string folder = cut == 0 ? "." : path.substr(0, cut);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return false;
    auto sameIgnoringCase = [](const std::string& a, const char* b) {
        size_t i = 0;
        for (; i < a.size() && b[i] != '\0'; ++i) {
            char x = a[i], y = b[i];
            if (x >= 'A' && x <= 'Z')
                x = static_cast<char>(x - 'A' + 'a');
            if (y >= 'A' && y <= 'Z')
                y = static_cast<char>(y - 'A' + 'a');
            if (x != y)
                return false;
        }
        return i == a.size() && b[i] == '\0';
    };
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        // Hidden files (a leading dot) and anything that is not an ordinary file never count.
        if (entry->d_name[0] == '.' || !sameIgnoringCase(name, entry->d_name))
            continue;
        struct stat st {};
        if (::stat((folder + "/" + entry->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

std::string fileNameOf(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

} // namespace quindel
