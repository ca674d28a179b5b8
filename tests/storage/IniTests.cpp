#include <gtest/gtest.h>

#include <climits>

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
    const IniDocument doc = IniDocument::parse(
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
}

TEST(IniDocument, EditsTouchOnlyTheirLinesAndValuesCannotBreakTheLineStructure) {
    const std::string original = "; comment\n[a]\rx = 1 \r\n\r\n[b]\r\ny=2";
    IniDocument doc = IniDocument::parse(original);
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
    EXPECT_EQ(doc.serialize(), original);

    doc.set("tasto-001", "nuovo", "pi\u00f9 \u20ac");
    EXPECT_EQ(doc.serialize(), original + "nuovo=pi\xf9 \x80\r\n");
    // A value Windows-1252 cannot hold turns the whole file into UTF-8, text unchanged.
    doc.set("tasto-001", "nuovo", "\u65e5");
    EXPECT_EQ(doc.serialize(), "[tasto-001]\r\ndescrizione=Citt\u00e0 perch\u00e8\r\n"
                               "x=\u20ac\u0081\r\nnuovo=\u65e5\r\n");

    IniDocument utf8 = IniDocument::parse("\xEF\xBB\xBF[main]\r\nnome=caff\u00e8\r\n");
    EXPECT_EQ(utf8.encoding(), IniDocument::Encoding::Utf8);
    EXPECT_EQ(utf8.get("main", "nome"), "caff\u00e8");
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
    EXPECT_EQ(deliverValue("due\tparole"), "dueparole");
    EXPECT_EQ(deliverValue("   a b  "), "a b  ");
    EXPECT_EQ(deliverValue(" \tx"), "x");
}

TEST(NumberForm, BlankBeforeZeroAndPositivesMinusBeforeNegatives) {
    EXPECT_EQ(numberForm(0), " 0");
    EXPECT_EQ(numberForm(-7), "-7");
    EXPECT_EQ(numberForm(LLONG_MIN), "-9223372036854775808");
}

TEST(ReadLeadingNumber, ReadsTheNumberAtTheStartIgnoringBlanks) {
    const struct {
        const char* text;
        long long value;
    } cases[] = {
        {" 1", 1},    {" 1 2", 12}, {"\t-\n3 4", -34}, {"+5", 5},   {"12abc", 12},   {"abc", 0},
        {"", 0},      {"-", 0},     {".", 0},          {".5", 0},   {".51", 1},      {"1.49", 1},
        {"&H1F", 31}, {"&h1f", 31}, {"&O17", 15},      {"&H", 0},   {"&H1G", 1},     {"&O8", 0},
        {"-&H1F", 0}, {"1D2", 100}, {"1e2", 100},      {"1E-2", 0}, {"1E+3x", 1000}, {"2E", 2},
        {"2E+", 2},   {"3D 1", 30}, {"1,5", 1},        {"0x10", 0}, {"\r5", 0},      {"007", 7},
    };
    for (const auto& c : cases)
        EXPECT_EQ(readLeadingNumber(c.text, INT32_MIN, INT32_MAX), c.value) << '"' << c.text << '"';
}

TEST(ReadLeadingNumber, RoundsHalvesToEvenAndClampsToTheRange) {
    EXPECT_EQ(readLeadingNumber("2.5", 0, 255), 2);
    EXPECT_EQ(readLeadingNumber("3.5", 0, 255), 4);
    EXPECT_EQ(readLeadingNumber("-2.5", -10, 10), -2);
    EXPECT_EQ(readLeadingNumber("0.5", 0, 255), 0);
    EXPECT_EQ(readLeadingNumber("2.500001", 0, 255), 3);
    EXPECT_EQ(readLeadingNumber("256", 0, 255), 255);
    EXPECT_EQ(readLeadingNumber("-1", 0, 255), 0);
    EXPECT_EQ(readLeadingNumber("-40000", -32768, 32767), -32768);
    EXPECT_EQ(readLeadingNumber("1E400", INT32_MIN, INT32_MAX), INT32_MAX);
    EXPECT_EQ(readLeadingNumber("-1D400", INT32_MIN, INT32_MAX), INT32_MIN);
    EXPECT_EQ(readLeadingNumber(std::string(400, '9'), LLONG_MIN, LLONG_MAX), LLONG_MAX);
    EXPECT_EQ(readLeadingNumber("&H" + std::string(300, 'F'), 0, 255), 255);
}

TEST(ReadWholeNumber, NeedsTheWholeTextToBeANumber) {
    const struct {
        const char* text;
        long long value;
    } cases[] = {
        {"3", 3},  {" 3", 3},   {"3 ", 3},    {"\t3\t", 3}, {"2.5", 2},     {"3.5", 4},
        {"+1", 1}, {"1E1", 10}, {"&H1F", 31}, {"", 0},      {" ", 0},       {"abc", 0},
        {"3x", 0}, {"1 2", 0},  {"-1", 0},    {"300", 255}, {"1E400", 255},
    };
    for (const auto& c : cases)
        EXPECT_EQ(readWholeNumber(c.text, 0, 255), c.value) << '"' << c.text << '"';
}

TEST(Cini, TrimsNamesReadsDefaultsAndWritesWithoutCaching) {
    TempFolder folder;
    Cini ini;
    ini.FileName("  " + folder.file("a.ini") + "  ");
    ini.ApplicationKey("  uno ");
    EXPECT_EQ(ini.GetValue("k", "  predefinito"), "predefinito");
    ASSERT_TRUE(ini.SetValue("k", "1"));
    ASSERT_TRUE(ini.SetValue("j", "2"));
    ini.ApplicationKey("due");
    EXPECT_EQ(ini.GetValue("k", "d"), "d");
    ASSERT_TRUE(ini.SetValue("k", "3"));
    EXPECT_EQ(folder.read("a.ini"), "[uno]\r\nk=1\r\nj=2\r\n[due]\r\nk=3\r\n");
    folder.write("a.ini", "[due]\nvuoto=\nK=\"changed by hand\"\n");
    EXPECT_EQ(ini.GetValue("k", ""), "changed by hand");
    EXPECT_EQ(ini.GetValue("vuoto", "d"), "");
}

TEST(Cini, WriteKeepsPermissionsAndFollowsSymbolicLinks) {
    TempFolder folder;
    folder.write("real.ini", "[s]\r\nk=1\r\n");
    std::filesystem::permissions(folder.file("real.ini"), std::filesystem::perms(0640));
    std::filesystem::create_symlink(folder.file("real.ini"), folder.file("link.ini"));
    ASSERT_TRUE(iniAt(folder, "link.ini", "s").SetValue("k", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder.file("link.ini")));
    EXPECT_EQ(folder.read("real.ini"), "[s]\r\nk=2\r\n");
    EXPECT_EQ(std::filesystem::status(folder.file("real.ini")).permissions(),
              std::filesystem::perms(0640));
}

// Failures that bind root too: the name is taken by a folder, the folder is missing, or the
// process's file size limit stops the write part-way as a full disk would.
TEST(Cini, FailedWritesLeaveTheOldFileAndNoTemporaryFile) {
    TempFolder folder;
    std::filesystem::create_directory(folder.file("dir.ini"));
    Cini onFolder = iniAt(folder, "dir.ini", "s");
    EXPECT_FALSE(onFolder.SetValue("k", "v"));
    EXPECT_EQ(onFolder.GetValue("k", "d"), "d");
    EXPECT_FALSE(iniAt(folder, "missing/a.ini", "s").SetValue("k", "v"));

    const std::string old = "[s]\r\nk=old\r\n";
    folder.write("a.ini", old);
    Cini ini = iniAt(folder, "a.ini", "s");
    EXPECT_FALSE(
        FileSizeLimit::during(64, [&] { return ini.SetValue("k", std::string(200, 'n')); }));
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
