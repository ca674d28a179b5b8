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
    GroupTest() {
        state.programFolder = folder.path();
        state.groupFile = "gruppo-prova.ini";
    }
    void load() {
        loadGroupFile(state);
        loadNextPrevTriggers(state);
        buildSequenceTable(state);
    }
    std::string descriptions(const std::vector<ActionRecord>& table) const {
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
    state.prevTriggerCode = "0";
    state.actionTable = {action("65", 1, 10, -7, 0, "Apri"),
                         action("3D90", 2, 0, 2147483647, 1, "  Play \u00e8")};
    ASSERT_TRUE(saveGroupFile(state));
    EXPECT_EQ(folder.read(state.groupFile),
              "[main]\r\nnome=prova\r\n"
              "[tasto-next]\r\nordine=1\r\ntasto=3C90\r\ntipo=1\r\n"
              "[tasto-prev]\r\nordine=1\r\ntasto=0\r\ntipo=1\r\n"
              "[tasto-001]\r\nnome chiave=tasto-001\r\nordine= 1\r\ntasto=65\r\ntipo= 1\r\n"
              "xx= 10\r\nyy=-7\r\nsequenza= 0\r\ndescrizione=Apri\r\n"
              "[tasto-002]\r\nnome chiave=tasto-002\r\nordine= 2\r\ntasto=3D90\r\ntipo= 2\r\n"
              "xx= 0\r\nyy= 2147483647\r\nsequenza= 1\r\ndescrizione=  Play \u00e8\r\n");
    EXPECT_EQ(folder.listing(), "gruppo-prova.ini\n");
}

TEST_F(GroupTest, SaveEqualsWritingKeyByKeyIntoAnEmptyFile) {
    state.nextTriggerCode = "";
    state.prevTriggerCode = "40";
    state.actionTable = {action("1", 1, -1, -2, 3, "\"quoted\""), action("2", 1, 5, 6, 0, "")};
    ASSERT_TRUE(saveGroupFile(state));
    const std::string k = "gruppo-keys.ini";
    writeIniValue(state, k, "main", "nome", "");
    for (const char* s : {"tasto-next", "tasto-prev"}) {
        writeIniValue(state, k, s, "ordine", "1");
        writeIniValue(state, k, s, "tasto", s[6] == 'n' ? "" : "40");
        writeIniValue(state, k, s, "tipo", "1");
    }
    const std::string s1 = "tasto-001", s2 = "tasto-002";
    for (const auto& [s, r] : {std::pair{s1, state.actionTable[0]}, {s2, state.actionTable[1]}}) {
        writeIniValue(state, k, s, "nome chiave", s);
        writeIniValue(state, k, s, "ordine", numberForm(s == s1 ? 1 : 2));
        writeIniValue(state, k, s, "tasto", r.triggerCode);
        writeIniValue(state, k, s, "tipo", numberForm(r.triggerKind));
        writeIniValue(state, k, s, "xx", numberForm(r.clickX));
        writeIniValue(state, k, s, "yy", numberForm(r.clickY));
        writeIniValue(state, k, s, "sequenza", numberForm(r.sequencePos));
        writeIniValue(state, k, s, "descrizione", r.description);
    }
    EXPECT_EQ(folder.read(state.groupFile), folder.read(k));
}

TEST_F(GroupTest, RoundTripRenumbersAndKeepsEverythingElse) {
    folder.write(state.groupFile, "[main]\r\nnome=prova\r\n");
    state.nextTriggerCode = "3C90";
    state.prevTriggerCode = "1E90";
    state.actionTable = {action("65", 1, 10, -7, 2, "  Apri"), action("3C90", 2, -5, 9, 1, "b"),
                         action("66", 1, INT32_MIN, INT32_MAX, 0, "c \u00e8")};
    ASSERT_TRUE(saveGroupFile(state));
    std::vector<ActionRecord> expected = state.actionTable;
    for (size_t i = 0; i < expected.size(); ++i) {
        expected[i].order = static_cast<int16_t>(i + 1);
        expected[i].entryName = "tasto-00" + std::to_string(i + 1);
    }
    expected[0].description = "Apri";
    state = RuntimeState{};
    state.programFolder = folder.path();
    state.groupFile = "gruppo-prova.ini";
    load();
    EXPECT_EQ(state.actionCount, 3);
    EXPECT_EQ(state.actionTable, expected);
    EXPECT_EQ(state.nextTriggerCode, "3C90");
    EXPECT_EQ(state.prevTriggerCode, "1E90");
    EXPECT_EQ(descriptions(state.sequenceTable), "b/2/1 Apri/1/2 ");
    EXPECT_EQ(readIniValue(state, state.groupFile, "main", "nome"), "prova");
}

TEST_F(GroupTest, EmptyGroupSavesThreeSectionsAndMissingFileLoadsEmpty) {
    state.actionTable = {action("65", 1, 0, 0, 1, "old")};
    state.groupFile = "gruppo-none.ini";
    load();
    EXPECT_EQ(state.actionCount, 0);
    EXPECT_TRUE(state.actionTable.empty());
    EXPECT_TRUE(state.sequenceTable.empty());
    EXPECT_EQ(state.nextTriggerCode, "0");
    EXPECT_EQ(state.prevTriggerCode, "0");
    ASSERT_TRUE(saveGroupFile(state));
    EXPECT_EQ(folder.read(state.groupFile), "[main]\r\nnome=\r\n"
                                            "[tasto-next]\r\nordine=1\r\ntasto=0\r\ntipo=1\r\n"
                                            "[tasto-prev]\r\nordine=1\r\ntasto=0\r\ntipo=1\r\n");
}

TEST_F(GroupTest, HandEditedFilesLoad) {
    folder.write(state.groupFile, "[TASTO-002]\r"
                                  "Tasto = \"65\"\r"
                                  "ORDINE=  3 \r"
                                  "xx=&H1F\r"
                                  "yy=99999999999\r"
                                  "tipo=2.5\r"
                                  "sequenza=  2.5\r"
                                  "nome chiave='tasto-002'\r"
                                  "descrizione=Citt\xe0\tvecchia\r"
                                  "[tasto-003]\n"
                                  "ordine=1\n"
                                  "descrizione=no trigger, skipped\n"
                                  "[tasto-005]\n"
                                  "tasto=3C90\n"
                                  "ordine=-40000\n"
                                  "tipo=3.5\n"
                                  "xx=-1 2\n"
                                  "sequenza=x\n"
                                  "[tasto-101]\r\n"
                                  "tasto=70\r\n"
                                  "[tasto-next]\r\n"
                                  "tasto=  \r\n");
    load();
    ASSERT_EQ(state.actionCount, 2);
    // entryName, description, order, triggerCode, triggerKind, clickX, clickY, sequencePos
    EXPECT_EQ(state.actionTable[0], (ActionRecord{"", "", 1, "3C90", 4, -12, 0, 0}));
    EXPECT_EQ(state.actionTable[1],
              (ActionRecord{"tasto-002", "Citt\u00e0vecchia", 2, "65", 2, 31, INT32_MAX, 2}));
    EXPECT_EQ(state.nextTriggerCode, "0");
    EXPECT_EQ(state.prevTriggerCode, "0");
    EXPECT_EQ(descriptions(state.sequenceTable), "Citt\u00e0vecchia/2/1 ");
}

TEST_F(GroupTest, ExchangeSortIsNotStable) {
    folder.write(state.groupFile, "[tasto-001]\ntasto=1\nordine=2\ndescrizione=A\n"
                                  "[tasto-002]\ntasto=2\nordine=2\ndescrizione=B\n"
                                  "[tasto-003]\ntasto=3\nordine=1\ndescrizione=C\n");
    load();
    EXPECT_EQ(descriptions(state.actionTable), "C/1/0 B/2/0 A/3/0 ");
    folder.write(state.groupFile, "[tasto-001]\ntasto=1\nordine=30\ndescrizione=A\n"
                                  "[tasto-002]\ntasto=2\nordine=-5\ndescrizione=B\n"
                                  "[tasto-003]\ntasto=3\nordine=20\ndescrizione=C\n");
    load();
    EXPECT_EQ(descriptions(state.actionTable), "B/1/0 C/2/0 A/3/0 ");
}

TEST_F(GroupTest, SequenceHoldsRenumberedCopiesInSequenceOrder) {
    state.actionTable = {action("1", 1, 0, 0, 0, "a"), action("2", 1, 0, 0, 3, "b"),
                         action("3", 1, 0, 0, 0, "c"), action("4", 1, 0, 0, 1, "d"),
                         action("5", 1, 0, 0, 3, "e")};
    for (size_t i = 0; i < state.actionTable.size(); ++i)
        state.actionTable[i].order = static_cast<int16_t>(i + 1);
    buildSequenceTable(state);
    EXPECT_EQ(state.sequenceCount, 3);
    EXPECT_EQ(descriptions(state.sequenceTable), "d/4/1 b/2/2 e/5/3 ");
    EXPECT_EQ(state.actionTable[1].sequencePos, 3);
    EXPECT_EQ(state.actionTable[3].sequencePos, 1);
}

TEST_F(GroupTest, FailedSaveKeepsTheOldFile) {
    const std::string old = "[main]\r\nnome=prova\r\n[tasto-001]\r\ntasto=65\r\n";
    folder.write(state.groupFile, old);
    state.actionTable = {action("65", 1, 1, 2, 0, std::string(300, 'd'))};
    bool saved1 = true;
    {
        FileSizeLimit limit(100);
        saved1 = saveGroupFile(state);
    }
    EXPECT_FALSE(saved1);
    EXPECT_EQ(folder.read(state.groupFile), old);

    std::filesystem::create_directory(folder.file("gruppo-dir.ini"));
    state.groupFile = "gruppo-dir.ini";
    EXPECT_FALSE(saveGroupFile(state));
    state.groupFile = "";
    EXPECT_FALSE(saveGroupFile(state));
    EXPECT_EQ(folder.listing(), "gruppo-dir.ini\ngruppo-prova.ini\n");
}

TEST(GroupFiles, FileNameOfAndFileExists) {
    EXPECT_EQ(fileNameOf("a/b\\c.ini"), "c.ini");
    EXPECT_EQ(fileNameOf("a\\b/c.ini"), "c.ini");
    EXPECT_EQ(fileNameOf("c.ini"), "c.ini");
    EXPECT_EQ(fileNameOf(""), "");
    EXPECT_EQ(fileNameOf("dir/"), "");

    TempFolder folder;
    folder.write("gruppo-Prova.ini", "");
    folder.write(".gruppo-hidden.ini", "");
    std::filesystem::create_directory(folder.file("gruppo-dir.ini"));
    EXPECT_TRUE(fileExists(folder.file("gruppo-Prova.ini")));
    EXPECT_TRUE(fileExists(folder.file("GRUPPO-prova.INI")));
    EXPECT_FALSE(fileExists(folder.file("gruppo-prova")));
    EXPECT_FALSE(fileExists(folder.file("gruppo-*.ini")));
    EXPECT_FALSE(fileExists(folder.file("gruppo-Prov?.ini")));
    EXPECT_FALSE(fileExists(folder.file(".gruppo-hidden.ini")));
    EXPECT_FALSE(fileExists(folder.file("gruppo-dir.ini")));
    EXPECT_FALSE(fileExists(folder.file("missing/gruppo-Prova.ini")));
    EXPECT_FALSE(fileExists(folder.path() + "/"));

    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    EXPECT_TRUE(fileExists("gruppo-prova.ini"));
    std::filesystem::current_path(cwd);
}
