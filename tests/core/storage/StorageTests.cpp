#include <gtest/gtest.h>

#include "core/engine/RuntimeState.h"
#include "core/storage/IniFile.h"
#include "core/storage/GroupFiles.h"
#include "core/storage/IniDocument.h"
#include "core/storage/Settings.h"
#include "core/storage/SettingsAccess.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <tuple>

using namespace quindel;

namespace {

// A fresh folder under the system's temporary folder, removed with everything in it.
struct TempFolder {
    std::string path = (std::filesystem::temp_directory_path() / "quindel-XXXXXX").string();
    std::error_code ignored;
    TempFolder() { ::mkdtemp(path.data()); }
    ~TempFolder() { std::filesystem::remove_all(path, ignored); }
    std::string file(const std::string& name) const { return path + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(file(name), std::ios::binary) << bytes;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(file(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::set<std::string> listing() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path))
            names.insert(entry.path().filename().string());
        return names;
    }
};

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

IniFile iniAt(const TempFolder& folder, const std::string& file, const std::string& section) {
    IniFile ini;
    ini.setFileName(folder.file(file));
    ini.setSection(section);
    return ini;
}

struct Storage : ::testing::Test {
    TempFolder folder;
    RuntimeState state;
    Storage() { reset(); }
    void reset() {
        state = RuntimeState{};
        state.programFolder = folder.path;
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

TEST(IniDocument, FindsKeysWhateverTheirCaseQuotesAndBlanksAndEditsOnlyTheirLines) {
    IniDocument doc = IniDocument::parse(
        "top=ignored\r\n[ Tasto-001 ]\r\n  TASTO  =  65  \r\ndescrizione = \"  Apri \" \r\n"
        "single='x'\nlonely=\"\req=a=b\r\n; tasto=comment\r\n[other]\r\ntasto=99");
    EXPECT_EQ(doc.get("tasto-001", "tasto"), "65");
    EXPECT_EQ(doc.get("TASTO-001", "Descrizione"), "  Apri ");
    EXPECT_EQ(doc.get("tasto-001", "single"), "x");
    EXPECT_EQ(doc.get("tasto-001", "lonely"), "\"");
    EXPECT_EQ(doc.get("tasto-001", "eq"), "a=b");
    EXPECT_EQ(doc.get("other", "tasto"), "99");
    EXPECT_EQ(doc.get("tasto-001", "top"), std::nullopt);
    EXPECT_EQ(doc.get("missing", "tasto"), std::nullopt);
    EXPECT_EQ(doc.get("other", "missing"), std::nullopt);

    // Edits touch only their lines, and values cannot break the line structure.
    const std::string original = "; comment\n[a]\rx = 1 \r\n\r\n[b]\r\ny=2";
    doc = IniDocument::parse(original);
    EXPECT_EQ(doc.serialize(), original);
    doc.set("A", "X", "7");
    doc.set("a", "z", "3");
    doc.set("b", "w", "4");
    doc.set("c", "v", "a\r\n[tasto-001]\r\ntasto=65");
    EXPECT_EQ(doc.serialize(), "; comment\n[a]\rx =7\r\nz=3\r\n\r\n[b]\r\ny=2\r\nw=4\r\n"
                               "[c]\r\nv=a[tasto-001]tasto=65\r\n");
    EXPECT_EQ(doc.get("tasto-001", "tasto"), std::nullopt);
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

    IniDocument utf8 = IniDocument::parse("\xEF\xBB\xBF[main]\r\nnome=caff\u00e8\r\n");
    EXPECT_EQ(utf8.encoding(), IniDocument::Encoding::Utf8);
    utf8.set("main", "nome", "t\u00e8");
    EXPECT_EQ(utf8.serialize(), "\xEF\xBB\xBF[main]\r\nnome=t\u00e8\r\n");
}

TEST(DeliverValue, CutsAt999CharactersTrimsLeadingSpacesAndDropsControls) {
    EXPECT_EQ(deliverValue(std::string(1200, 'x')), std::string(999, 'x'));
    // Characters, not bytes: a two-byte letter counts once and is never split.
    std::string accents;
    for (int i = 0; i < 1000; ++i)
        accents += "\u00e8";
    EXPECT_EQ(deliverValue(accents), accents.substr(0, 999 * 2));
    EXPECT_EQ(deliverValue("due\tparole") + deliverValue("   a b  ") + deliverValue(" \tx"),
              "dueparolea b  x");
}

TEST(Numbers, LeadingAndWholeNumbersRoundHalvesToEvenAndClampAndTheFormPadsWithABlank) {
    using Case = std::pair<const char*, long long>;
    const Case leading[] = {
        {" 1", 1},    {" 1 2", 12}, {"\t-\n3 4", -34}, {"+5", 5},   {"12abc", 12},   {"abc", 0},
        {"", 0},      {"-", 0},     {".", 0},          {".5", 0},   {".51", 1},      {"1.49", 1},
        {"&H1F", 31}, {"&h1f", 31}, {"&O17", 15},      {"&H", 0},   {"&H1G", 1},     {"&O8", 0},
        {"-&H1F", 0}, {"1D2", 100}, {"1e2", 100},      {"1E-2", 0}, {"1E+3x", 1000}, {"2E", 2},
        {"2E+", 2},   {"3D 1", 30}, {"1,5", 1},        {"0x10", 0}, {"\r5", 0},      {"007", 7},
        {"2.5", 2},   {"3.5", 4},   {"-2.5", -2},      {"0.5", 0},  {"2.500001", 3},
    };
    for (const auto& [text, value] : leading)
        EXPECT_EQ(readLeadingNumber(text, INT32_MIN, INT32_MAX), value) << '"' << text << '"';
    EXPECT_EQ(readLeadingNumber("1E400", INT32_MIN, INT32_MAX), INT32_MAX);
    EXPECT_EQ(readLeadingNumber("-40000", -32768, 32767), -32768);
    EXPECT_EQ(readLeadingNumber(std::string(400, '9'), LLONG_MIN, LLONG_MAX), LLONG_MAX);
    EXPECT_EQ(readLeadingNumber("&H" + std::string(300, 'F'), 0, 255), 255);
    // The whole text must be a number.
    const Case whole[] = {
        {"3", 3},  {" 3", 3},   {"3 ", 3},    {"\t3\t", 3}, {"2.5", 2},     {"3.5", 4},
        {"+1", 1}, {"1E1", 10}, {"&H1F", 31}, {"", 0},      {" ", 0},       {"abc", 0},
        {"3x", 0}, {"1 2", 0},  {"-1", 0},    {"300", 255}, {"1E400", 255}, {"-1D400", 0},
    };
    for (const auto& [text, value] : whole)
        EXPECT_EQ(readWholeNumber(text, 0, 255), value) << '"' << text << '"';
    EXPECT_EQ(numberForm(0) + numberForm(-7) + numberForm(LLONG_MIN), " 0-7-9223372036854775808");
}

TEST_F(Storage, CiniTrimsNamesReadsDefaultsAndWritesWithoutCaching) {
    IniFile ini;
    ini.setFileName("  " + folder.file("a.ini") + "  ");
    ini.setSection("  uno ");
    EXPECT_EQ(ini.value("k", "  predefinito"), "predefinito");
    ASSERT_TRUE(ini.setValue("k", "1") && ini.setValue("j", "2"));
    ini.setSection("due");
    EXPECT_EQ(ini.value("k", "d"), "d");
    ASSERT_TRUE(ini.setValue("k", "3"));
    EXPECT_EQ(folder.read("a.ini"), "[uno]\r\nk=1\r\nj=2\r\n[due]\r\nk=3\r\n");
    // Only the first copy of a section counts: a key of a later copy reads as missing and is
    // written into the first copy.
    const std::string byHand = "[due]\nvuoto=\nK=\"changed by hand\"\n";
    folder.write("a.ini", byHand + "[tre]\nt=1\n[DUE]\nb=2\n");
    EXPECT_EQ(ini.value("k", ""), "changed by hand");
    EXPECT_EQ(ini.value("vuoto", "d") + ini.value("b", "d"), "d");
    ASSERT_TRUE(ini.setValue("b", "new"));
    EXPECT_EQ(folder.read("a.ini"), byHand + "b=new\r\n[tre]\nt=1\n[DUE]\nb=2\n");
}

TEST_F(Storage, CiniWriteReplacesTheFileKeepingItsModeAndLinkOrFailsLeavingItWhole) {
    folder.write("real.ini", "[s]\r\nk=1\r\n");
    std::filesystem::permissions(folder.file("real.ini"), std::filesystem::perms(0640));
    std::filesystem::create_symlink(folder.file("real.ini"), folder.file("link.ini"));
    ASSERT_TRUE(iniAt(folder, "link.ini", "s").setValue("k", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder.file("link.ini")));
    EXPECT_EQ(folder.read("real.ini"), "[s]\r\nk=2\r\n");
    EXPECT_EQ(std::filesystem::status(folder.file("real.ini")).permissions(),
              std::filesystem::perms(0640));
    // A file whose owner took away their own write permission stays as it is, for root too.
    for (const char* name : {"real.ini", "link.ini"})
        for (const int mode : {0444, 0464}) {
            std::filesystem::permissions(folder.file("real.ini"), std::filesystem::perms(mode));
            EXPECT_FALSE(iniAt(folder, name, "s").setValue("k", "3")) << name << mode;
        }
    EXPECT_EQ(folder.read("real.ini"), "[s]\r\nk=2\r\n");
    // Failures that bind root too: a folder of that name, a missing folder, a full disk.
    std::filesystem::create_directory(folder.file("dir.ini"));
    IniFile onFolder = iniAt(folder, "dir.ini", "s");
    EXPECT_FALSE(onFolder.setValue("k", "v"));
    EXPECT_EQ(onFolder.value("k", "d"), "d");
    EXPECT_FALSE(iniAt(folder, "missing/a.ini", "s").setValue("k", "v"));

    const std::string old = "[s]\r\nk=old\r\n";
    folder.write("a.ini", old);
    IniFile ini = iniAt(folder, "a.ini", "s");
    EXPECT_FALSE(withFileSizeLimit(64, [&] { return ini.setValue("k", std::string(200, 'n')); }));
    EXPECT_EQ(folder.read("a.ini"), old);
    EXPECT_EQ(folder.listing(),
              (std::set<std::string>{"a.ini", "dir.ini", "link.ini", "real.ini"}));
}

TEST_F(Storage, IniValuesPointTheSharedObjectAtAFileForOneCallOnly) {
    EXPECT_TRUE(writeIniValue(state, "gruppo-x.ini", "main", "nome", "x"));
    ASSERT_TRUE(state.settingsIni);
    EXPECT_EQ(state.settingsIni->fileName(), folder.file("quindel.ini"));
    EXPECT_EQ(folder.read("gruppo-x.ini"), "[main]\r\nnome=x\r\n");
    folder.write("quindel.ini", "[main]\r\nnome=settings\r\n");
    EXPECT_EQ(readIniValue(state, "gruppo-x.ini", "MAIN", "Nome"), "x");
    EXPECT_EQ(readSetting(state, "main", "nome"), "settings");
    EXPECT_EQ(readIniValue(state, "gruppo-none.ini", "main", "nome"), "");
}

TEST_F(Storage, SettingsFirstRunWritesFontThenLanguage) {
    bindSettingsIni(state);
    EXPECT_EQ(readLeadingNumber(readSetting(state, kGeneralSection, kLanguageKey), 0, 255), 0);
    EXPECT_TRUE(writeSetting(state, kGeneralSection, kFontKey, "1") &&
                writeSetting(state, kGeneralSection, kLanguageKey, numberForm(1)));
    EXPECT_EQ(readSetting(state, kMidiSection, kMidiInputKey), "");
    EXPECT_EQ(readSetting(state, kGroupSection, kGroupFileKey), "");
    EXPECT_TRUE(immediateResponse(readSetting(state, kGeneralSection, kImmediateResponseKey)));
    EXPECT_EQ(folder.read("quindel.ini"), "[generale]\r\nfont=1\r\nlingua= 1\r\n");
    // Only a stored 0 turns immediate response off.
    for (const auto& [stored, immediate] : {std::pair{" 0", false},
                                            {"0", false},
                                            {"0 ", false},
                                            {"", true},
                                            {" 1", true},
                                            {"00", true},
                                            {"no", true}})
        EXPECT_EQ(immediateResponse(stored), immediate) << '"' << stored << '"';
}

TEST_F(Storage, SavedGroupFileHasExactlyTheseBytes) {
    folder.write(state.groupFile, "[main]\r\nnome=prova\r\n[mano]\r\nextra=perso\r\n");
    state.nextTriggerCode = "3C90";
    state.prevTriggerCode = "";
    state.actionTable = {action("65", 1, 10, -7, 0, "\"Apri\""),
                         action("3D90", 2, 0, 2147483647, 1, "  Play \u00e8")};
    ASSERT_TRUE(saveGroupFile(state));
    EXPECT_EQ(folder.read(state.groupFile),
              "[main]\r\nnome=prova\r\n"
              "[tasto-next]\r\nordine=1\r\ntasto=3C90\r\ntipo=1\r\n"
              "[tasto-prev]\r\nordine=1\r\ntasto=\r\ntipo=1\r\n"
              "[tasto-001]\r\nnome chiave=tasto-001\r\nordine= 1\r\ntasto=65\r\ntipo= 1\r\n"
              "xx= 10\r\nyy=-7\r\nsequenza= 0\r\ndescrizione=\"Apri\"\r\n"
              "[tasto-002]\r\nnome chiave=tasto-002\r\nordine= 2\r\ntasto=3D90\r\ntipo= 2\r\n"
              "xx= 0\r\nyy= 2147483647\r\nsequenza= 1\r\ndescrizione=  Play \u00e8\r\n");
    EXPECT_EQ(folder.listing(), std::set<std::string>{"gruppo-prova.ini"});
}

TEST_F(Storage, RoundTripRenumbersAndKeepsEverythingElse) {
    folder.write(state.groupFile, "[main]\r\nnome=prova\r\n");
    state.nextTriggerCode = "3C90";
    state.prevTriggerCode = "1E90";
    state.actionTable = {action("65", 1, 10, -7, 5, "  Apri"), action("3C90", 2, -5, 9, 3, "b"),
                         action("66", 1, INT32_MIN, INT32_MAX, 0, "c \u00e8")};
    ASSERT_TRUE(saveGroupFile(state));
    const std::vector<ActionRecord> expected = {
        {"tasto-001", "Apri", 1, "65", 1, 10, -7, 5},
        {"tasto-002", "b", 2, "3C90", 2, -5, 9, 3},
        {"tasto-003", "c \u00e8", 3, "66", 1, INT32_MIN, INT32_MAX, 0}};
    reset();
    load();
    EXPECT_EQ(state.actionCount, 3);
    EXPECT_EQ(state.actionTable, expected);
    EXPECT_EQ(state.nextTriggerCode + "/" + state.prevTriggerCode, "3C90/1E90");
    EXPECT_EQ(descriptions(state.sequenceTable), "b/2/1 Apri/1/2 ");
    EXPECT_EQ(readIniValue(state, state.groupFile, "main", "nome"), "prova");
}

TEST_F(Storage, MissingFileLoadsEmptyAndEmptyGroupSavesThreeSections) {
    state.actionTable = state.sequenceTable = {action("65", 1, 0, 0, 1, "old")};
    load();
    EXPECT_EQ(std::tuple(state.actionCount, state.actionTable.size(), state.sequenceTable.size(),
                         state.nextTriggerCode + state.prevTriggerCode),
              std::tuple(0, 0u, 0u, "00"));
    ASSERT_TRUE(saveGroupFile(state));
    EXPECT_EQ(folder.read(state.groupFile), "[main]\r\nnome=\r\n"
                                            "[tasto-next]\r\nordine=1\r\ntasto=0\r\ntipo=1\r\n"
                                            "[tasto-prev]\r\nordine=1\r\ntasto=0\r\ntipo=1\r\n");
}

TEST_F(Storage, HandEditedFilesLoad) {
    folder.write(state.groupFile,
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
}

TEST_F(Storage, ExchangeSortIsNotStable) {
    folder.write(state.groupFile, "[tasto-001]\ntasto=1\nordine=2\ndescrizione=A\n"
                                  "[tasto-002]\ntasto=2\nordine=2\ndescrizione=B\n"
                                  "[tasto-003]\ntasto=3\nordine=1\ndescrizione=C\n");
    load();
    EXPECT_EQ(descriptions(state.actionTable), "C/1/0 B/2/0 A/3/0 ");
}

TEST_F(Storage, SaveKeepsTheOldFileWhenItFailsMayNotWriteOrCouldNotRead) {
    const std::string old = "[main]\r\nnome=prova\r\n[tasto-001]\r\ntasto=65\r\n";
    const std::string path = folder.file(state.groupFile);
    folder.write(state.groupFile, old);
    state.actionTable = {action("65", 1, 1, 2, 0, std::string(300, 'd'))};
    EXPECT_FALSE(withFileSizeLimit(100, [&] { return saveGroupFile(state); }));
    EXPECT_EQ(folder.read(state.groupFile), old);
    std::filesystem::permissions(path, std::filesystem::perms(0444)); // read-only, for root too
    EXPECT_FALSE(saveGroupFile(state));
    EXPECT_EQ(folder.read(state.groupFile), old);

    // A group that could not be read loads empty and is not saved over, not even once it is
    // readable again. Nobody reads a FIFO as a file; root reads a file without read permission.
    for (const bool fifo : {true, false}) {
        std::filesystem::remove(path);
        if (fifo)
            ::mkfifo(path.c_str(), 0644);
        else
            folder.write(state.groupFile, old), ::chmod(path.c_str(), 0200);
        load();
        const bool read = !fifo && ::geteuid() == 0;
        EXPECT_EQ(state.actionCount, read ? 1 : 0) << fifo;
        std::filesystem::remove(path);
        folder.write(state.groupFile, old);
        EXPECT_EQ(saveGroupFile(state), read) << fifo;
        EXPECT_EQ(folder.read(state.groupFile) == old, !read) << fifo;
    }

    std::filesystem::create_directory(folder.file("gruppo-dir.ini"));
    state.groupFile = "gruppo-dir.ini";
    EXPECT_FALSE(saveGroupFile(state));
    state.groupFile = "";
    EXPECT_FALSE(saveGroupFile(state));
    EXPECT_EQ(folder.listing(), (std::set<std::string>{"gruppo-dir.ini", "gruppo-prova.ini"}));
}

TEST_F(Storage, AGroupFileNameThatIsNotUtf8IsStoredAsItsBytesAndLoadsAtTheNextStart) {
    const std::string raw = "gruppo-Citt\xe0.ini", text = "gruppo-Citt\u00e0.ini";
    folder.write(raw, "[tasto-001]\r\ntasto=65\r\n");
    // {settings file before, name stored}: the bytes are stored unless the file marks itself
    // UTF-8 or holds text that Windows-1252 lacks; either way the name read back names the file.
    const std::pair<std::string, std::string> cases[] = {{"", raw},
                                                         {"[generale]\r\nx=\xe8\r\n", raw},
                                                         {"[generale]\r\nx=\u65e5\r\n", text},
                                                         {"\xEF\xBB\xBF[generale]\r\n", text}};
    for (const auto& [before, stored] : cases) {
        reset();
        folder.write("quindel.ini", before);
        ASSERT_TRUE(writeSetting(state, kGroupSection, kGroupFileKey, raw));
        EXPECT_NE(folder.read("quindel.ini").find("nomefile=" + stored + "\r\n"),
                  std::string::npos);
        state.groupFile = readGroupFileSetting(state);
        load();
        EXPECT_EQ(state.groupFile + std::to_string(state.actionCount), raw + "1") << before;
    }
    // A settings file made on Windows, whose group's file name became UTF-8 on the way.
    std::filesystem::rename(folder.file(raw), folder.file(text));
    folder.write("quindel.ini", "[file tasti]\r\nnomefile=" + raw + "\r\n");
    EXPECT_EQ(readGroupFileSetting(state), text);
}

TEST_F(Storage, FileNameOfAndFileExists) {
    for (const char* path : {"a/b\\c.ini", "a\\b/c.ini", "c.ini"})
        EXPECT_EQ(fileNameOf(path), "c.ini") << path;
    EXPECT_EQ(fileNameOf("") + fileNameOf("dir/"), "");

    folder.write("gruppo-Prova.ini", "");
    folder.write(".gruppo-hidden.ini", "");
    std::filesystem::create_directory(folder.file("gruppo-dir.ini"));
    EXPECT_TRUE(fileExists(folder.file("GRUPPO-prova.INI")));
    for (const char* name :
         {"gruppo-prova", "gruppo-*.ini", "gruppo-Prov?.ini", ".gruppo-hidden.ini",
          "gruppo-dir.ini", "missing/gruppo-Prova.ini", ""})
        EXPECT_FALSE(fileExists(folder.file(name))) << name;

    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(folder.path);
    EXPECT_TRUE(fileExists("gruppo-prova.ini"));
    std::filesystem::current_path(cwd);
}
