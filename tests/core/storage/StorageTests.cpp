#include <gtest/gtest.h>

#include "core/engine/RuntimeState.h"
#include "core/storage/IniFile.h"
#include "core/storage/GroupFiles.h"
#include "core/storage/IniDocument.h"
#include "core/storage/Settings.h"
#include "core/storage/SettingsAccess.h"
#include "core/storage/UserFilesFolder.h"

#include <sys/resource.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

using namespace quindel;

namespace {

// f's result, got while writes past `bytes` fail as on a full disk (unlike modes, binds root).
template <typename F> auto withFileSizeLimit(rlim_t bytes, F f) {
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{bytes, saved.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    const auto result = f();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    return result;
}

// What f returns (0 when all went well), run in a child process as the unprivileged user nobody
// to whom the folder is handed first: root reads every file whatever its mode.
template <typename F> int asUnprivilegedUser(const std::string& folder, F f) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 &&
            (::chown(folder.c_str(), 65534, 65534) != 0 || ::setgroups(0, nullptr) != 0 ||
             ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(100);
        ::_exit(f());
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A fresh program folder under the system's temporary folder, removed with everything in it.
struct Storage : ::testing::Test {
    std::string folder = (std::filesystem::temp_directory_path() / "quindel-XXXXXX").string();
    std::error_code ignored;
    RuntimeState state;
    Storage() { ::mkdtemp(folder.data()), reset(); }
    ~Storage() override { std::filesystem::remove_all(folder, ignored); }

    std::string file(const std::string& name) const { return folder + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(file(name), std::ios::binary) << bytes;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(file(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::set<std::string> listing() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.insert(entry.path().filename().string());
        return names;
    }
    // An IniFile on one section of a file here; blanks around both names are ignored.
    IniFile ini(const std::string& name, const std::string& section) const {
        IniFile ini;
        ini.setFileName("  " + file(name) + " ");
        ini.setSection(" " + section + "  ");
        return ini;
    }
    void reset() {
        state = RuntimeState{};
        state.userFilesFolder = folder;
        state.groupFile = "gruppo-prova.ini";
    }
    void load() {
        loadGroupFile(state);
        loadNextPrevTriggers(state);
        buildSequenceTable(state);
    }
    static std::string descriptions(const std::vector<ActionRecord>& table) {
        std::string out;
        for (const ActionRecord& r : table)
            out += r.description + "/" + std::to_string(r.order) + "/" +
                   std::to_string(r.sequencePos) + " ";
        return out;
    }
};

// A record whose order and entry name a save must not write out.
ActionRecord action(std::string code, uint8_t kind, int32_t x, int32_t y, uint8_t seq,
                    std::string description) {
    return {"tasto-099", std::move(description), 77, std::move(code), kind, x, y, seq};
}

} // namespace

// Names are found whatever their case; only the first copy of a section counts, for
// reads and for writes; a value cannot break the line structure.
TEST(IniDocument, FirstCopyOfASectionCountsAndValuesStayOnTheirLine) {
    IniDocument doc = IniDocument::parse("[due]\nk=1\n[tre]\n[DUE]\nb=2\n");
    EXPECT_EQ(doc.get("Due", "K").value_or("") + doc.get("due", "b").value_or("<none>"), "1<none>");
    doc.set("DUE", "b", "new\r\n[tre]\r\nc=3");
    EXPECT_EQ(doc.serialize(), "[due]\nk=1\nb=new[tre]c=3\r\n[tre]\n[DUE]\nb=2\n");
    EXPECT_EQ(doc.get("tre", "c"), std::nullopt);
}

TEST(IniDocument, ReadsWindows1252AndKeepsTheFileInIt) {
    const std::string original = "[tasto-001]\r\ndescrizione=Citt\xe0 perch\xe8\r\nx=\x80\x81\r\n";
    IniDocument doc = IniDocument::parse(original);
    EXPECT_EQ(doc.encoding(), IniDocument::Encoding::Windows1252);
    EXPECT_EQ(doc.get("tasto-001", "descrizione"), "Citt\u00e0 perch\u00e8");
    EXPECT_EQ(doc.get("tasto-001", "x"), "\u20ac\u0081");

    doc.set("tasto-001", "nuovo", "pi\u00f9 \u20ac");
    EXPECT_EQ(doc.serialize(), original + "nuovo=pi\xf9 \x80\r\n");
    // A value Windows-1252 cannot hold turns the whole file into UTF-8, text unchanged.
    doc.set("tasto-001", "nuovo", "\u65e5");
    EXPECT_EQ(doc.serialize(), "[tasto-001]\r\ndescrizione=Citt\u00e0 perch\u00e8\r\n"
                               "x=\u20ac\u0081\r\nnuovo=\u65e5\r\n");
}

TEST(Numbers, LeadingAndWholeNumbersRoundHalvesToEvenAndClamp) {
    using Case = std::pair<const char*, long long>;
    const Case leading[] = {
        {" 1 2", 12},    {"\t-\n3 4", -34}, {"+5", 5},
        {"12abc", 12},   {"-", 0},          {".5", 0},
        {".51", 1},      {"3.5", 4},        {"-2.5", -2},
        {"2.500001", 3}, {"&h1f", 31},      {"&O17", 15},
        {"&H1G", 1},     {"-&H1F", 0},      {"1D2", 100},
        {"1E-2", 0},     {"1E+3x", 1000},   {"2E+", 2},
        {"3D 1", 30},    {"\r5", 0},        {"1E400", INT32_MAX},
    };
    for (const auto& [text, value] : leading)
        EXPECT_EQ(readLeadingNumber(text, INT32_MIN, INT32_MAX), value) << '"' << text << '"';
    EXPECT_EQ(readLeadingNumber(std::string(400, '9'), LLONG_MIN, LLONG_MAX), LLONG_MAX);
    EXPECT_EQ(readLeadingNumber("&H" + std::string(300, 'F'), 0, 255), 255);
    const Case whole[] = {{"\t3\t", 3}, {"3.5", 4}, {"", 0},      {"3x", 0}, // the whole text
                          {"1 2", 0},   {"-1", 0},  {"300", 255}, {"1E400", 255}};
    for (const auto& [text, value] : whole)
        EXPECT_EQ(readWholeNumber(text, 0, 255), value) << '"' << text << '"';
}

TEST_F(Storage, IniFileWriteReplacesTheFileKeepingItsModeAndLinkOrFailsLeavingItWhole) {
    write("real.ini", "[s]\r\nk=1\r\n");
    std::filesystem::permissions(file("real.ini"), std::filesystem::perms(0640));
    std::filesystem::create_symlink(file("real.ini"), file("link.ini"));
    ASSERT_TRUE(ini("link.ini", "s").setValue("k", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(file("link.ini")));
    EXPECT_EQ(read("real.ini"), "[s]\r\nk=2\r\n");
    EXPECT_EQ(std::filesystem::status(file("real.ini")).permissions(),
              std::filesystem::perms(0640));
    // A file whose owner took away their own write permission stays as it is, for root too.
    for (const char* name : {"real.ini", "link.ini"})
        for (const int mode : {0444, 0464}) {
            std::filesystem::permissions(file("real.ini"), std::filesystem::perms(mode));
            EXPECT_FALSE(ini(name, "s").setValue("k", "3")) << name << mode;
        }
    EXPECT_EQ(read("real.ini"), "[s]\r\nk=2\r\n");
    // Failures that bind root too: a folder of that name, a missing folder, a full disk.
    std::filesystem::create_directory(file("dir.ini"));
    EXPECT_FALSE(ini("dir.ini", "s").setValue("k", "v"));
    EXPECT_FALSE(ini("missing/a.ini", "s").setValue("k", "v"));
    write("a.ini", "[s]\r\nk=old\r\n");
    EXPECT_FALSE(withFileSizeLimit(
        64, [&] { return ini("a.ini", "s").setValue("k", std::string(99, 'n')); }));
    EXPECT_EQ(read("a.ini"), "[s]\r\nk=old\r\n");
    EXPECT_EQ(listing(), (std::set<std::string>{"a.ini", "dir.ini", "link.ini", "real.ini"}));

    // The temporary file lies beside the target, whatever the working folder: one that was
    // removed, or one on another file system.
    const auto workingFolder = std::filesystem::current_path();
    for (const std::string& elsewhere : {file("gone"), std::string("/dev/shm/quindel-cwd")}) {
        std::filesystem::create_directory(elsewhere);
        std::filesystem::current_path(elsewhere);
        if (elsewhere == file("gone"))
            std::filesystem::remove(elsewhere);
        EXPECT_TRUE(ini("a.ini", "s").setValue("k", elsewhere)) << elsewhere;
        EXPECT_TRUE(!std::filesystem::exists(elsewhere) || std::filesystem::is_empty(elsewhere));
        std::filesystem::current_path(workingFolder);
        std::filesystem::remove(elsewhere, ignored);
    }
    EXPECT_EQ(read("a.ini"), "[s]\r\nk=/dev/shm/quindel-cwd\r\n");
    EXPECT_EQ(listing().size(), 4u);
}

TEST_F(Storage, SettingsAndOtherFilesThroughTheSharedObject) {
    // Another file is read or written for one call only; the shared object then names the
    // settings file again.
    EXPECT_TRUE(writeIniValue(state, "gruppo-x.ini", "main", "nome", "x"));
    EXPECT_EQ(readIniValue(state, "gruppo-x.ini", "MAIN", "Nome") +
                  readIniValue(state, "gruppo-none.ini", "main", "nome"),
              "x");
    EXPECT_TRUE(writeSetting(state, kGeneralSection, kLanguageKey, numberForm(1)));
    EXPECT_EQ(read("gruppo-x.ini") + read("quindel.ini"),
              "[main]\r\nnome=x\r\n[generale]\r\nlingua= 1\r\n");
    // The chosen device's name reads back as it was, quotes and blanks at its end included.
    for (const std::string name : {"Pads:out", "\"Pads\" ", "'x'", "Città 20:0", ""}) {
        state.setInputDevice(3), state.midiInputName = name;
        writeInputSource(state);
        reset(), bindSettingsIni(state), readInputSource(state);
        EXPECT_EQ(std::pair(state.midiInputDevice, state.midiInputName),
                  std::pair(int16_t(3), name));
    }
}

TEST_F(Storage, SavedGroupHasExactlyTheseBytesAndLoadsBackRenumbered) {
    // The group's name is kept; every other section is written anew.
    write(state.groupFile, "[main]\r\nnome=prova\r\n[mano]\r\nextra=perso\r\n");
    state.nextTriggerCode = "3C90";
    state.prevTriggerCode = "";
    state.actionTable = {action("65", 1, INT32_MIN, -7, 2, "\"Apri\""),
                         action("3D90", 2, 0, INT32_MAX, 1, "  Play \u00e8")};
    ASSERT_TRUE(saveGroupFile(state));
    EXPECT_EQ(read(state.groupFile),
              "[main]\r\nnome=prova\r\n"
              "[tasto-next]\r\nordine=1\r\ntasto=3C90\r\ntipo=1\r\n"
              "[tasto-prev]\r\nordine=1\r\ntasto=\r\ntipo=1\r\n"
              "[tasto-001]\r\nnome chiave=tasto-001\r\nordine= 1\r\ntasto=65\r\ntipo= 1\r\n"
              "xx=-2147483648\r\nyy=-7\r\nsequenza= 2\r\ndescrizione=\"Apri\"\r\n"
              "[tasto-002]\r\nnome chiave=tasto-002\r\nordine= 2\r\ntasto=3D90\r\ntipo= 2\r\n"
              "xx= 0\r\nyy= 2147483647\r\nsequenza= 1\r\ndescrizione=  Play \u00e8\r\n");
    EXPECT_EQ(listing(), std::set<std::string>{"gruppo-prova.ini"});
    reset();
    load();
    const std::vector<ActionRecord> expected = {
        {"tasto-001", "Apri", 1, "65", 1, INT32_MIN, -7, 2},
        {"tasto-002", "Play \u00e8", 2, "3D90", 2, 0, INT32_MAX, 1}};
    EXPECT_EQ(state.actionCount, 2);
    EXPECT_EQ(state.actionTable, expected);
    EXPECT_EQ(state.nextTriggerCode + "/" + state.prevTriggerCode, "3C90/0");
    EXPECT_EQ(descriptions(state.sequenceTable), "Play \u00e8/2/1 Apri/1/2 ");
}

TEST_F(Storage, HandEditedFilesLoad) {
    write(state.groupFile,
          "[TASTO-002]\rTasto = \"65\"\rORDINE=  3 \rxx=&H1F\ryy=99999999999\rtipo=2.5\r"
          "sequenza=  2.5\rnome chiave='tasto-002'\rdescrizione=Citt\xe0\tvecchia\r"
          "[tasto-003]\nordine=1\ndescrizione=no trigger, skipped\n"
          "[tasto-005]\ntasto=3C90\nordine=-40000\ntipo=3.5\nxx=-1 2\nsequenza=x\n"
          "[Tasto-003]\ntasto=67\n[tasto-101]\r\ntasto=70\r\n[tasto-next]\r\ntasto=  \r\n");
    load();
    ASSERT_EQ(state.actionCount, 2);
    // entryName, description, order, triggerCode, triggerKind, clickX, clickY, sequencePos
    EXPECT_EQ(state.actionTable[0], (ActionRecord{"", "", 1, "3C90", 4, -12, 0, 0}));
    EXPECT_EQ(state.actionTable[1],
              (ActionRecord{"tasto-002", "Citt\u00e0vecchia", 2, "65", 2, 31, INT32_MAX, 2}));
    EXPECT_EQ(state.nextTriggerCode + state.prevTriggerCode, "00");
    EXPECT_EQ(descriptions(state.sequenceTable), "Citt\u00e0vecchia/2/1 ");

    // Equal "ordine" and equal "sequenza": the exchange of the first later record that is
    // smaller decides, so A B C with orders 2 2 1 load as C B A, and the sequence follows.
    write(state.groupFile, "[tasto-001]\r\ntasto=1\r\nordine=2\r\nsequenza=1\r\ndescrizione=A\r\n"
                           "[tasto-002]\r\ntasto=2\r\nordine=2\r\nsequenza=2\r\ndescrizione=B\r\n"
                           "[tasto-003]\r\ntasto=3\r\nordine=1\r\nsequenza=2\r\ndescrizione=C\r\n");
    load();
    EXPECT_EQ(descriptions(state.actionTable), "C/1/2 B/2/2 A/3/1 ");
    EXPECT_EQ(descriptions(state.sequenceTable), "A/3/1 B/2/2 C/1/3 ");

    // Four equal "ordine" and four equal "sequenza" values keep the order of the file.
    std::string four;
    for (const char name : std::string("ABCD"))
        four += "[tasto-00" + std::to_string(name - 'A' + 1) +
                "]\ntasto=1\nordine=5\nsequenza=3\ndescrizione=" + name + "\n";
    write(state.groupFile, four);
    load();
    EXPECT_EQ(descriptions(state.actionTable), "A/1/3 B/2/3 C/3/3 D/4/3 ");
    EXPECT_EQ(descriptions(state.sequenceTable), "A/1/1 B/2/2 C/3/3 D/4/4 ");
}

TEST_F(Storage, SaveKeepsTheOldFileWhenItFailsMayNotWriteOrCouldNotRead) {
    const std::string old = "[main]\r\nnome=prova\r\n[tasto-001]\r\ntasto=65\r\n";
    const std::string path = file(state.groupFile);
    write(state.groupFile, old);
    state.actionTable = {action("65", 1, 1, 2, 0, "d")};
    // A replacement that fails fails the save (IniFileWrite... tries the ways it can fail).
    std::filesystem::permissions(path, std::filesystem::perms(0444)); // read-only, for root too
    EXPECT_FALSE(saveGroupFile(state));
    EXPECT_EQ(read(state.groupFile), old);

    // A group that could not be read, at the load (a FIFO, no read permission) or only at the
    // save, is not saved over; one unreadable at the load not even once it is readable again.
    enum When { FifoAtLoad = 1, UnreadableAtLoad, UnreadableAtSave };
    for (const When when : {FifoAtLoad, UnreadableAtLoad, UnreadableAtSave}) {
        const int failedStep = asUnprivilegedUser(folder, [&] {
            std::filesystem::remove(path);
            if (when == FifoAtLoad)
                ::mkfifo(path.c_str(), 0644);
            else
                write(state.groupFile, old),
                    ::chmod(path.c_str(), when == UnreadableAtLoad ? 0200 : 0644);
            load();
            if (state.actionTable.size() != (when == UnreadableAtSave ? 1u : 0u))
                return 1; // the old table went, or the file was read
            if (when == UnreadableAtSave)
                ::chmod(path.c_str(), 0200);
            else
                std::filesystem::remove(path), write(state.groupFile, old);
            if (saveGroupFile(state))
                return 2;
            ::chmod(path.c_str(), 0644);
            return read(state.groupFile) == old ? 0 : 3;
        });
        EXPECT_EQ(failedStep, 0) << "case " << when;
    }

    state.groupFile = ""; // no group chosen
    EXPECT_FALSE(saveGroupFile(state));
    EXPECT_EQ(listing(), std::set<std::string>{"gruppo-prova.ini"});
}

// Settings and groups stay beside a program the user may write to; beside a read-only one
// (for root too) they go to the per-user folder, made private with its missing parents.
TEST_F(Storage, UserFilesFolderIsTheProgramFolderWhenWritableElseAPrivatePerUserFolder) {
    for (const char* xdg : {static_cast<const char*>(nullptr), "", "x"})
        EXPECT_EQ(perUserFolder(xdg, "/h"), "/h/.config/quindel") << (xdg ? xdg : "unset");
    EXPECT_EQ(perUserFolder(nullptr, "h"), "");
    EXPECT_EQ(chooseUserFilesFolder(folder), folder);
    const std::string program = file("program"), config = file("a/b");
    std::filesystem::create_directory(program);
    ::chmod(program.c_str(), 0555);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    EXPECT_EQ(chooseUserFilesFolder(program), config + "/quindel");
    ::unsetenv("XDG_CONFIG_HOME");
    struct stat st {};
    for (const std::string& made : {file("a"), config, config + "/quindel"})
        EXPECT_TRUE(::stat(made.c_str(), &st) == 0 && (st.st_mode & 07777) == 0700) << made;
}

TEST_F(Storage, AGroupFileNameThatIsNotUtf8IsStoredAsItsBytesAndLoadsAtTheNextStart) {
    const std::string raw = "gruppo-Citt\xe0.ini", text = "gruppo-Citt\u00e0.ini";
    write(raw, "[tasto-001]\r\ntasto=65\r\n");
    // {settings file before, name stored}: the bytes are stored unless the file marks itself
    // UTF-8 or holds text that Windows-1252 lacks; either way the name read back names the file.
    const std::pair<std::string, std::string> cases[] = {{"", raw},
                                                         {"[generale]\r\nx=\xe8\r\n", raw},
                                                         {"[generale]\r\nx=\u65e5\r\n", text},
                                                         {"\xEF\xBB\xBF[generale]\r\n", text}};
    for (const auto& [before, stored] : cases) {
        reset();
        write("quindel.ini", before);
        ASSERT_TRUE(writeSetting(state, kGroupSection, kGroupFileKey, raw));
        EXPECT_NE(read("quindel.ini").find("nomefile=" + stored + "\r\n"), std::string::npos);
        state.groupFile = readGroupFileSetting(state);
        load();
        EXPECT_EQ(state.groupFile + std::to_string(state.actionCount), raw + "1") << before;
    }
    // A settings file made on Windows, whose group's file name became UTF-8 on the way.
    std::filesystem::rename(file(raw), file(text));
    write("quindel.ini", "[file tasti]\r\nnomefile=" + raw + "\r\n");
    EXPECT_EQ(readGroupFileSetting(state), text);
}
