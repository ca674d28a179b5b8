#include <gtest/gtest.h>

#include "StorageTestSupport.h"
#include "engine/RuntimeState.h"
#include "storage/GroupFiles.h"
#include "storage/Settings.h"
#include "storage/gestioneFileIni.h"

using namespace quindel;

namespace {

struct GroupTest : ::testing::Test {
    TempFolder folder;
    RuntimeState state;
    GroupTest() { reset(); }
    void reset() {
        state = RuntimeState{};
        state.programFolder = folder.path();
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

TEST_F(GroupTest, SavedFileHasExactlyTheseBytes) {
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
    EXPECT_EQ(folder.listing(), "gruppo-prova.ini\n");
}

TEST_F(GroupTest, RoundTripRenumbersAndKeepsEverythingElse) {
    folder.write(state.groupFile, "[main]\r\nnome=prova\r\n");
    state.nextTriggerCode = "3C90";
    state.prevTriggerCode = "1E90";
    state.actionTable = {action("65", 1, 10, -7, 5, "  Apri"), action("3C90", 2, -5, 9, 3, "b"),
                         action("66", 1, INT32_MIN, INT32_MAX, 0, "c \u00e8")};
    ASSERT_TRUE(saveGroupFile(state));
    std::vector<ActionRecord> expected = state.actionTable;
    for (size_t i = 0; i < expected.size(); ++i) {
        expected[i].order = static_cast<int16_t>(i + 1);
        expected[i].entryName = "tasto-00" + std::to_string(i + 1);
    }
    expected[0].description = "Apri";
    reset();
    load();
    EXPECT_EQ(state.actionCount, 3);
    EXPECT_EQ(state.actionTable, expected);
    EXPECT_EQ(state.nextTriggerCode, "3C90");
    EXPECT_EQ(state.prevTriggerCode, "1E90");
    EXPECT_EQ(descriptions(state.sequenceTable), "b/2/1 Apri/1/2 ");
    EXPECT_EQ(readIniValue(state, state.groupFile, "main", "nome"), "prova");
}

TEST_F(GroupTest, MissingFileLoadsEmptyAndEmptyGroupSavesThreeSections) {
    state.actionTable = state.sequenceTable = {action("65", 1, 0, 0, 1, "old")};
    load();
    EXPECT_EQ(state.actionCount, 0);
    EXPECT_TRUE(state.actionTable.empty());
    EXPECT_TRUE(state.sequenceTable.empty());
    EXPECT_EQ(state.nextTriggerCode + state.prevTriggerCode, "00");
    ASSERT_TRUE(saveGroupFile(state));
    EXPECT_EQ(folder.read(state.groupFile), "[main]\r\nnome=\r\n"
                                            "[tasto-next]\r\nordine=1\r\ntasto=0\r\ntipo=1\r\n"
                                            "[tasto-prev]\r\nordine=1\r\ntasto=0\r\ntipo=1\r\n");
}

TEST_F(GroupTest, HandEditedFilesLoad) {
    folder.write(state.groupFile,
                 "[TASTO-002]\rTasto = \"65\"\rORDINE=  3 \rxx=&H1F\ryy=99999999999\rtipo=2.5\r"
                 "sequenza=  2.5\rnome chiave='tasto-002'\rdescrizione=Citt\xe0\tvecchia\r"
                 "[tasto-003]\nordine=1\ndescrizione=no trigger, skipped\n"
                 "[tasto-005]\ntasto=3C90\nordine=-40000\ntipo=3.5\nxx=-1 2\nsequenza=x\n"
                 "[tasto-101]\r\ntasto=70\r\n[tasto-next]\r\ntasto=  \r\n");
    load();
    ASSERT_EQ(state.actionCount, 2);
    // entryName, description, order, triggerCode, triggerKind, clickX, clickY, sequencePos
    EXPECT_EQ(state.actionTable[0], (ActionRecord{"", "", 1, "3C90", 4, -12, 0, 0}));
    EXPECT_EQ(state.actionTable[1],
              (ActionRecord{"tasto-002", "Citt\u00e0vecchia", 2, "65", 2, 31, INT32_MAX, 2}));
    EXPECT_EQ(state.nextTriggerCode + state.prevTriggerCode, "00");
    EXPECT_EQ(descriptions(state.sequenceTable), "Citt\u00e0vecchia/2/1 ");
}

TEST_F(GroupTest, ExchangeSortIsNotStable) {
    folder.write(state.groupFile, "[tasto-001]\ntasto=1\nordine=2\ndescrizione=A\n"
                                  "[tasto-002]\ntasto=2\nordine=2\ndescrizione=B\n"
                                  "[tasto-003]\ntasto=3\nordine=1\ndescrizione=C\n");
    load();
    EXPECT_EQ(descriptions(state.actionTable), "C/1/0 B/2/0 A/3/0 ");
}

TEST_F(GroupTest, FailedSaveKeepsTheOldFile) {
    const std::string old = "[main]\r\nnome=prova\r\n[tasto-001]\r\ntasto=65\r\n";
    folder.write(state.groupFile, old);
    state.actionTable = {action("65", 1, 1, 2, 0, std::string(300, 'd'))};
    EXPECT_FALSE(FileSizeLimit::during(100, [&] { return saveGroupFile(state); }));
    EXPECT_EQ(folder.read(state.groupFile), old);

    std::filesystem::create_directory(folder.file("gruppo-dir.ini"));
    state.groupFile = "gruppo-dir.ini";
    EXPECT_FALSE(saveGroupFile(state));
    state.groupFile = "";
    EXPECT_FALSE(saveGroupFile(state));
    EXPECT_EQ(folder.listing(), "gruppo-dir.ini\ngruppo-prova.ini\n");
}

TEST(GroupFiles, FileNameOfAndFileExists) {
    for (const auto& [path, name] : {std::pair{"a/b\\c.ini", "c.ini"},
                                     {"a\\b/c.ini", "c.ini"},
                                     {"c.ini", "c.ini"},
                                     {"", ""},
                                     {"dir/", ""}})
        EXPECT_EQ(fileNameOf(path), name) << path;

    TempFolder folder;
    folder.write("gruppo-Prova.ini", "");
    folder.write(".gruppo-hidden.ini", "");
    std::filesystem::create_directory(folder.file("gruppo-dir.ini"));
    EXPECT_TRUE(fileExists(folder.file("GRUPPO-prova.INI")));
    for (const char* name :
         {"gruppo-prova", "gruppo-*.ini", "gruppo-Prov?.ini", ".gruppo-hidden.ini",
          "gruppo-dir.ini", "missing/gruppo-Prova.ini", ""})
        EXPECT_FALSE(fileExists(folder.file(name))) << name;

    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    EXPECT_TRUE(fileExists("gruppo-prova.ini"));
    std::filesystem::current_path(cwd);
}
