#include <gtest/gtest.h>

#include <sys/stat.h>

#include "StorageTestSupport.h"
#include "engine/RuntimeState.h"
#include "storage/Cini.h"
#include "storage/IniDocument.h"
#include "storage/Settings.h"
#include "storage/gestioneFileIni.h"

using namespace quindel;

namespace {

Cini iniAt(const TempFolder& folder, const std::string& file, const std::string& section) {
    Cini ini;
    ini.FileName(folder.file(file));
    ini.ApplicationKey(section);
    return ini;
}

} // namespace

TEST(IniDocument, FindsSectionsAndKeysWhateverTheirCaseQuotesAndBlanks) {
    const IniDocument doc = IniDocument::parse("top=ignored\r\n"
                                               "[ Tasto-001 ]\r\n"
                                               "  TASTO  =  65  \r\n"
                                               "descrizione = \"  Apri \" \r\n"
                                               "single='x'\n"
                                               "lonely=\"\r"
                                               "eq=a=b\r\n"
                                               "; tasto=comment\r\n"
                                               "[other]\r\n"
                                               "tasto=99");
    EXPECT_EQ(doc.get("tasto-001", "tasto"), "65");
    EXPECT_EQ(doc.get("TASTO-001", "Descrizione"), "  Apri ");
    EXPECT_EQ(doc.get("tasto-001", "single"), "x");
    EXPECT_EQ(doc.get("tasto-001", "lonely"), "\"");
    EXPECT_EQ(doc.get("tasto-001", "eq"), "a=b");
    EXPECT_EQ(doc.get("other", "tasto"), "99");
    EXPECT_EQ(doc.get("tasto-001", "top"), std::nullopt);
    EXPECT_EQ(doc.get("missing", "tasto"), std::nullopt);
    EXPECT_EQ(doc.get("other", "missing"), std::nullopt);
}

TEST(IniDocument, KeepsUntouchedLinesByteForByte) {
    const std::string original = "; comment\n[a]\rx = 1 \r\n\r\n[b]\r\ny=2";
    IniDocument doc = IniDocument::parse(original);
    EXPECT_EQ(doc.serialize(), original);
    doc.set("A", "X", "7");
    EXPECT_EQ(doc.serialize(), "; comment\n[a]\rx =7\r\n\r\n[b]\r\ny=2");
}

TEST(IniDocument, AddsKeysAtTheEndOfTheirSectionAndNewSectionsAtTheEnd) {
    IniDocument doc = IniDocument::parse("[a]\r\nx=1\r\n\r\n[b]\r\ny=2");
    doc.set("a", "z", "3");
    doc.set("b", "w", "4");
    doc.set("c", "v", "5");
    EXPECT_EQ(doc.serialize(), "[a]\r\nx=1\r\nz=3\r\n\r\n[b]\r\ny=2\r\nw=4\r\n[c]\r\nv=5\r\n");
}

TEST(IniDocument, ValuesCannotBreakTheLineStructure) {
    IniDocument doc;
    doc.set("main", "nome", "a\r\n[tasto-001]\r\ntasto=65");
    EXPECT_EQ(doc.serialize(), "[main]\r\nnome=a[tasto-001]tasto=65\r\n");
    EXPECT_EQ(doc.get("tasto-001", "tasto"), std::nullopt);
}

TEST(IniDocument, ReadsWindows1252AndKeepsTheFileInIt) {
    const std::string original = "[tasto-001]\r\ndescrizione=Citt\xe0 perch\xe8\r\nx=\x80\x81\r\n";
    IniDocument doc = IniDocument::parse(original);
    EXPECT_EQ(doc.encoding(), IniDocument::Encoding::Windows1252);
    EXPECT_EQ(doc.get("tasto-001", "descrizione"), "Citt\u00e0 perch\u00e8");
    EXPECT_EQ(doc.get("tasto-001", "x"), "\u20ac\u0081");
    EXPECT_EQ(doc.serialize(), original);

    doc.set("tasto-001", "nuovo", "pi\u00f9 \u20ac");
    EXPECT_EQ(doc.serialize(), original + "nuovo=pi\xf9 \x80\r\n");

    // A value Windows-1252 cannot hold turns the whole file into UTF-8, text unchanged.
    doc.set("tasto-001", "nuovo", "\u65e5");
    EXPECT_EQ(doc.serialize(), "[tasto-001]\r\ndescrizione=Citt\u00e0 perch\u00e8\r\n"
                               "x=\u20ac\u0081\r\nnuovo=\u65e5\r\n");
    EXPECT_EQ(IniDocument::parse(doc.serialize()).get("TASTO-001", "x"), "\u20ac\u0081");
}

TEST(IniDocument, Utf8FilesStayUtf8AndKeepTheirByteOrderMark) {
    IniDocument doc = IniDocument::parse("\xEF\xBB\xBF[main]\r\nnome=caff\u00e8\r\n");
    EXPECT_EQ(doc.encoding(), IniDocument::Encoding::Utf8);
    EXPECT_EQ(doc.get("main", "nome"), "caff\u00e8");
    doc.set("main", "nome", "t\u00e8");
    EXPECT_EQ(doc.serialize(), "\xEF\xBB\xBF[main]\r\nnome=t\u00e8\r\n");
}

TEST(DeliverValue, CutsAt999CharactersTrimsLeadingSpacesAndDropsControls) {
    EXPECT_EQ(deliverValue(std::string(1200, 'x')), std::string(999, 'x'));
    // Characters, not bytes: a two-byte letter counts once and is never split.
    std::string accents;
    for (int i = 0; i < 1000; ++i)
        accents += "\u00e8";
    EXPECT_EQ(deliverValue(accents), accents.substr(0, 999 * 2));
    EXPECT_EQ(deliverValue("due\tparole"), "dueparole");
    EXPECT_EQ(deliverValue("   a b  "), "a b  ");
    EXPECT_EQ(deliverValue(" \tx"), "x");
    EXPECT_EQ(deliverValue(""), "");
}

TEST(Cini, TrimsNamesAndReadsDefaultsForMissingFilesSectionsAndKeys) {
    TempFolder folder;
    Cini ini;
    ini.FileName("  " + folder.file("a.ini") + "  ");
    ini.ApplicationKey("  sezione ");
    EXPECT_EQ(ini.FileName(), folder.file("a.ini"));
    EXPECT_EQ(ini.ApplicationKey(), "sezione");
    EXPECT_EQ(ini.GetValue("k", "  predefinito"), "predefinito");

    folder.write("a.ini", "[sezione]\r\nvuoto=\r\nk=\"v\"\r\n");
    EXPECT_EQ(ini.GetValue("vuoto", "d"), "");
    EXPECT_EQ(ini.GetValue("K", "d"), "v");
    ini.ApplicationKey("altra");
    EXPECT_EQ(ini.GetValue("k", "d"), "d");
}

TEST(Cini, SetValueCreatesTheFileThenEditsItWithoutCaching) {
    TempFolder folder;
    Cini ini = iniAt(folder, "a.ini", "uno");
    ASSERT_TRUE(ini.SetValue("k", "1"));
    ASSERT_TRUE(ini.SetValue("j", "2"));
    ini.ApplicationKey("due");
    ASSERT_TRUE(ini.SetValue("k", "3"));
    EXPECT_EQ(folder.read("a.ini"), "[uno]\r\nk=1\r\nj=2\r\n[due]\r\nk=3\r\n");
    folder.write("a.ini", "[due]\nk=changed by hand\n");
    EXPECT_EQ(ini.GetValue("k", ""), "changed by hand");
}

TEST(Cini, WriteKeepsPermissionsAndFollowsSymbolicLinks) {
    TempFolder folder;
    folder.write("real.ini", "[s]\r\nk=1\r\n");
    ASSERT_EQ(::chmod(folder.file("real.ini").c_str(), 0640), 0);
    std::filesystem::create_symlink(folder.file("real.ini"), folder.file("link.ini"));
    Cini ini = iniAt(folder, "link.ini", "s");
    ASSERT_TRUE(ini.SetValue("k", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder.file("link.ini")));
    EXPECT_EQ(folder.read("real.ini"), "[s]\r\nk=2\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(folder.file("real.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// Tests run as root, where permissions do not stop a write. The failures here are real ones
// that root meets too: the name is taken by a folder, the folder does not exist, or the file
// size limit of the process stops the write part-way as a full disk would.
TEST(Cini, FailedWritesLeaveTheOldFileAndNoTemporaryFile) {
    TempFolder folder;
    std::filesystem::create_directory(folder.file("dir.ini"));
    Cini onFolder = iniAt(folder, "dir.ini", "s");
    EXPECT_FALSE(onFolder.SetValue("k", "v"));
    EXPECT_EQ(onFolder.GetValue("k", "d"), "d");
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("dir.ini")));

    Cini noFolder = iniAt(folder, "missing/a.ini", "s");
    EXPECT_FALSE(noFolder.SetValue("k", "v"));

    const std::string old = "[s]\r\nk=old\r\n";
    folder.write("a.ini", old);
    Cini ini = iniAt(folder, "a.ini", "s");
    bool written = true;
    {
        FileSizeLimit limit(64);
        written = ini.SetValue("k", std::string(200, 'n'));
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(folder.read("a.ini"), old);
    EXPECT_EQ(folder.listing(), "a.ini\ndir.ini\n");
}

TEST(gestioneFileIni, PointsTheSharedObjectAtAFileForOneCallOnly) {
    TempFolder folder;
    RuntimeState state;
    state.programFolder = folder.path();
    EXPECT_TRUE(writeIniValue(state, "gruppo-x.ini", "main", "nome", "x"));
    ASSERT_TRUE(state.settingsIni);
    EXPECT_EQ(state.settingsIni->FileName(), folder.file("quindel.ini"));
    EXPECT_EQ(folder.read("gruppo-x.ini"), "[main]\r\nnome=x\r\n");

    folder.write("quindel.ini", "[main]\r\nnome=settings\r\n");
    EXPECT_EQ(readIniValue(state, "gruppo-x.ini", "MAIN", "Nome"), "x");
    EXPECT_EQ(readSetting(state, "main", "nome"), "settings");
    EXPECT_EQ(readIniValue(state, "gruppo-none.ini", "main", "nome"), "");
}

TEST(gestioneFileIni, FirstRunWritesFontThenLanguage) {
    TempFolder folder;
    RuntimeState state;
    state.programFolder = folder.path();
    bindSettingsIni(state);
    EXPECT_EQ(readLeadingNumber(readSetting(state, kGeneralSection, kLanguageKey), 0, 255), 0);
    EXPECT_TRUE(writeSetting(state, kGeneralSection, kFontKey, "1"));
    EXPECT_TRUE(writeSetting(state, kGeneralSection, kLanguageKey, numberForm(1)));
    EXPECT_EQ(readSetting(state, kMidiSection, kMidiInputKey), "");
    EXPECT_EQ(readSetting(state, kGroupSection, kGroupFileKey), "");
    EXPECT_EQ(folder.read("quindel.ini"), "[generale]\r\nfont=1\r\nlingua= 1\r\n");
}
