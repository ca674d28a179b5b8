// Window tests of the main window and the About window, run offscreen with the fake platform
// and the fake MIDI input control, each in a fresh program folder.
#include "app/Form2.h"
#include "app/frmAbout.h"
#include "engine/RuntimeState.h"
#include "support/FakeMidiInput.h"
#include "support/FakePlatform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace quindel;
using quindel::test::FakeMidiInput;
using quindel::test::FakePlatform;

namespace {

QString sourceDir() {
    return qEnvironmentVariable("QUINDEL_SOURCE_DIR", QStringLiteral("."));
}

void writeFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Fires a timer's timeout as if its interval had elapsed.
void fire(QTimer* timer) {
    QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection);
}

// The colour the indicator shows in its middle.
QColor indicatorColour(Form2& w) {
    const QImage shot = w.txtLampeggio->grab().toImage();
    return shot.pixelColor(shot.width() / 2, shot.height() / 2);
}

struct Program {
    QTemporaryDir dir;
    RuntimeState state;
    FakePlatform platform;
    FakeMidiInput* midi = nullptr;
    std::unique_ptr<Form2> window;

    QString path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }
    QString settings() const { return QString::fromUtf8(readFile(path("quindel.ini"))); }

    void withFlags() {
        for (const char* name : {"uk2.jpg", "italia2.jpg"})
            QFile::copy(sourceDir() + "/assets/" + name, path(name));
    }
    void withFonts() {
        const QString dseg = QStringLiteral("/usr/share/fonts/truetype/dseg/");
        QFile::copy(dseg + "DSEG14Classic-Bold.ttf", path("DigitaldreamFatNarrow.ttf"));
        QFile::copy(dseg + "DSEG14Modern-Regular.ttf", path("digitaldreamnarrow.ttf"));
        QFile::copy(dseg + "DSEG14ModernMini-Bold.ttf", path("D3PipismW.ttf"));
    }
    void withSettings(const QByteArray& text) { writeFile(path("quindel.ini"), text); }

    Form2& start() {
        state.programFolder = dir.path().toStdString();
        window = std::make_unique<Form2>(state, platform, [this] {
            auto m = std::make_unique<FakeMidiInput>();
            midi = m.get();
            return std::unique_ptr<MidiInputControl>(std::move(m));
        });
        window->show();
        return *window;
    }
};

// Clicks Start and answers the message box that may come, returning its text.
QString clickStart(Form2& w) {
    QString seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    poll.start(10);
    w.cmdStart->click();
    return seen;
}

// Takes the place of the desktop's handler for file addresses.
class UrlRecorder : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> opened;
  public slots:
    void open(const QUrl& url) { opened.append(url); }
};

} // namespace

TEST(Form2Start, FirstRunComesUpItalianStoppedAndWritesTheLanguage) {
    Program p;
    Form2& w = p.start();
    EXPECT_EQ(w.cmdStart->text(), "Start");
    EXPECT_EQ(w.cmdMidiConf->text(), "Configura MIDI");
    EXPECT_EQ(w.cmdAssegna->text(), "Assegna tasti");
    EXPECT_EQ(w.lblSequenza->text(), "Sequenza");
    EXPECT_EQ(w.lblDescrizione->text(), "Descrizione");
    EXPECT_EQ(p.state.languageIndex, kItalian);
    EXPECT_FALSE(p.state.isRunning);
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_FALSE(w.Timer2->isActive());
    EXPECT_EQ(w.Timer1->interval(), 100);
    EXPECT_EQ(w.Timer1->timerType(), Qt::PreciseTimer);
    EXPECT_EQ(w.Timer2->interval(), 250);
    const QString ini = p.settings();
    EXPECT_TRUE(ini.contains("lingua= 1")) << ini.toStdString();
    EXPECT_TRUE(ini.contains("font=1")) << ini.toStdString();
    // No picture in the folder: the flag names the language it switches to.
    EXPECT_EQ(w.imgBandierina->text(), "EN");
    for (const DisplayFont& f : w.displayFonts()) // no font files: no error, usual fonts
        EXPECT_EQ(f.id, -1);
}

TEST(Form2Start, StoredLanguageOutsideOneAndTwoIsTakenAsItalianAndWrittenBack) {
    for (const char* stored : {" 7", " 300", "-1", "abc"}) {
        Program p;
        p.withSettings(QByteArray("[generale]\r\nlingua=") + stored + "\r\n");
        Form2& w = p.start();
        EXPECT_EQ(p.state.languageIndex, kItalian) << stored;
        EXPECT_EQ(w.cmdAssegna->text(), "Assegna tasti") << stored;
        EXPECT_TRUE(p.settings().contains("lingua= 1")) << stored;
    }
}

TEST(Form2Start, ReadsInputSourceAndGroupFromSettings) {
    Program p;
    p.withSettings("[generale]\r\nlingua= 2\r\n[midi config]\r\nmidi input= 99\r\n"
                   "[file tasti]\r\nnomefile=gruppo-live.ini\r\n");
    writeFile(p.path("gruppo-live.ini"),
              "[main]\r\nnome=live\r\n[tasto-next]\r\nordine=1\r\n"
              "tasto=78\r\ntipo=1\r\n[tasto-001]\r\nnome chiave="
              "tasto-001\r\nordine= 1\r\ntasto=65\r\ntipo= 1\r\n"
              "xx= 10\r\nyy= 20\r\nsequenza= 1\r\ndescrizione=Intro\r\n");
    Form2& w = p.start();
    EXPECT_EQ(w.cmdAssegna->text(), "Key assign");
    EXPECT_EQ(p.state.midiInputDevice, kKeyboardDevice);
    EXPECT_EQ(p.state.inputMode, kKeyboardMode);
    EXPECT_EQ(p.state.groupFile, "gruppo-live.ini");
    ASSERT_EQ(p.state.actionTable.size(), 1u);
    EXPECT_EQ(p.state.actionTable[0].description, "Intro");
    EXPECT_EQ(p.state.nextTriggerCode, "78");
    EXPECT_EQ(p.state.sequenceTable.size(), 1u);
}

TEST(Form2Start, DamagedOrMissingFilesStartAnEmptyStoppedWindow) {
    Program p;
    p.withSettings(QByteArray("\x00\xff[generale\r\nlingua\r\n[file tasti]\r\nnomefile=gruppo-"
                              "gone.ini\r\n[midi config]\r\nmidi input=99999999\r\n",
                              80));
    Form2& w = p.start();
    EXPECT_EQ(w.cmdStart->text(), "Start");
    EXPECT_TRUE(p.state.actionTable.empty());
    EXPECT_EQ(p.state.languageIndex, kItalian);
}

TEST(Form2Flag, PictureComesFromTheProgramFolderNotTheWorkingDirectory) {
    Program p;
    p.withFlags();
    QTemporaryDir elsewhere;
    const QString before = QDir::currentPath();
    QDir::setCurrent(elsewhere.path());
    Form2& w = p.start();
    QDir::setCurrent(before);
    ASSERT_FALSE(w.imgBandierina->pixmap().isNull());
    EXPECT_TRUE(w.imgBandierina->text().isEmpty());
    // Italian texts show the Union flag (blue corners), English ones the tricolour (green left).
    QImage uk = w.imgBandierina->pixmap().toImage();
    const QColor blue = uk.pixelColor(uk.width() * 3 / 10, uk.height() * 8 / 100);
    EXPECT_LT(blue.red(), 60);
    EXPECT_GT(blue.blue(), 80);
    QTest::mouseClick(w.imgBandierina, Qt::LeftButton);
    QImage it = w.imgBandierina->pixmap().toImage();
    const QColor left = it.pixelColor(5, it.height() / 2);
    EXPECT_GT(left.green(), 100);
    EXPECT_LT(left.red(), 60);
}

TEST(Form2Flag, SwitchesLanguageReloadsAndTheLanguageIsStoredAtClose) {
    Program p;
    Form2& w = p.start();
    // A choice made meanwhile (as the device dialog does) is read again by the reload.
    p.withSettings(p.settings().toUtf8() + "[midi config]\r\nmidi input= 99\r\n");
    QTest::mouseClick(w.imgBandierina, Qt::LeftButton);
    EXPECT_EQ(p.state.languageIndex, kEnglish);
    EXPECT_EQ(w.cmdMidiConf->text(), "MIDI Config");
    EXPECT_EQ(w.lblDescrizione->text(), "Action");
    EXPECT_EQ(w.lblSequenza->text(), "Sequence");
    EXPECT_EQ(w.imgBandierina->text(), "IT");
    EXPECT_EQ(p.state.texts.selectDeviceMessage, "Please select a MIDI input device");
    EXPECT_EQ(p.state.midiInputDevice, kKeyboardDevice);
    EXPECT_TRUE(p.settings().contains("lingua= 1")); // written only at close

    QTest::mouseClick(w.imgBandierina, Qt::LeftButton);
    EXPECT_EQ(w.cmdAssegna->text(), "Assegna tasti");
    EXPECT_EQ(p.state.texts.downCaption, "Giù");
    QTest::mouseClick(w.imgBandierina, Qt::LeftButton);
    w.close();
    EXPECT_TRUE(w.isUnloaded());
    EXPECT_TRUE(p.settings().contains("lingua= 2")) << p.settings().toStdString();
}

TEST(Form2StartStop, StartWithoutInputSourceShowsTheMessageAndChangesNothing) {
    for (uint8_t language : {kItalian, kEnglish}) {
        Program p;
        p.withSettings(QByteArray("[generale]\r\nlingua= ") + QByteArray::number(language) +
                       "\r\n");
        Form2& w = p.start();
        const QString message = clickStart(w);
        EXPECT_EQ(message, language == kItalian
                               ? QString::fromUtf8("Selezionare una periferica MIDI d'ingresso")
                               : QString("Please select a MIDI input device"));
        EXPECT_EQ(w.cmdStart->text(), "Start");
        EXPECT_FALSE(p.state.isRunning);
        EXPECT_FALSE(w.Timer1->isActive());
        EXPECT_FALSE(w.Timer2->isActive());
        EXPECT_TRUE(p.midi->writes.empty());
        EXPECT_FALSE(w.windowFlags() & Qt::WindowStaysOnTopHint);
    }
}

TEST(Form2StartStop, KeyboardStartKeepsTheWindowOnTopWithoutAPortAndStopUndoesIt) {
    Program p;
    p.withSettings("[midi config]\r\nmidi input= 99\r\n");
    Form2& w = p.start();
    w.move(40, 30);
    const QPoint where = w.pos();
    p.state.currentStep = 3;
    EXPECT_TRUE(clickStart(w).isEmpty());
    EXPECT_EQ(w.cmdStart->text(), "Stop");
    EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.pos(), where);
    EXPECT_EQ(p.state.currentStep, 0);
    EXPECT_TRUE(p.state.isRunning);
    EXPECT_TRUE(w.Timer1->isActive());
    EXPECT_TRUE(w.Timer2->isActive());
    EXPECT_TRUE(p.midi->writes.empty());
    QTest::mouseClick(w.imgBandierina, Qt::LeftButton); // ignored while started
    EXPECT_EQ(p.state.languageIndex, kItalian);
    EXPECT_TRUE(w.Timer1->isActive());

    w.setIndicatorLit();
    w.cmdStart->click();
    EXPECT_EQ(w.cmdStart->text(), "Start");
    EXPECT_FALSE(w.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.pos(), where);
    EXPECT_FALSE(p.state.isRunning);
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_FALSE(w.Timer2->isActive());
    EXPECT_EQ(indicatorColour(w), Form2::kDarkColor);
    EXPECT_TRUE(p.midi->writes.empty()); // nothing was open, so nothing to close
}

TEST(Form2StartStop, MidiStartOpensThePortAndStopClosesIt) {
    Program p;
    p.withSettings("[midi config]\r\nmidi input= 2\r\n");
    Form2& w = p.start();
    clickStart(w);
    EXPECT_EQ(p.midi->index, 1);
    EXPECT_EQ(p.midi->state, 1);
    EXPECT_TRUE(p.midi->delivering);
    w.cmdStart->click();
    EXPECT_EQ(p.midi->state, 0);
    ASSERT_GE(p.midi->writes.size(), 2u);
    EXPECT_EQ(p.midi->writes[p.midi->writes.size() - 2], "portCommand 5");
    EXPECT_EQ(p.midi->writes.back(), "portCommand 2");
}

TEST(Form2StartStop, MissingMidiDeviceStillRunsAndCloseShutsEverything) {
    Program p;
    p.withSettings("[midi config]\r\nmidi input= 9\r\n");
    Form2& w = p.start();
    clickStart(w);
    EXPECT_EQ(w.cmdStart->text(), "Stop");
    EXPECT_TRUE(p.state.isRunning);
    EXPECT_EQ(p.midi->state, 0);
    fire(w.Timer2);
    fire(w.Timer2);
    w.close();
    EXPECT_FALSE(p.state.isRunning);
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_FALSE(w.Timer2->isActive());
    EXPECT_EQ(indicatorColour(w), Form2::kDarkColor);
}

TEST(Form2Blink, PhasesAlternateAndCarryOverToTheNextStart) {
    Program p;
    p.withSettings("[midi config]\r\nmidi input= 99\r\n");
    Form2& w = p.start();
    clickStart(w);
    fire(w.Timer2);
    EXPECT_EQ(indicatorColour(w), Form2::kDarkColor);
    fire(w.Timer2);
    EXPECT_EQ(indicatorColour(w), Form2::kLitColor);
    fire(w.Timer2);
    EXPECT_EQ(indicatorColour(w), Form2::kDarkColor);
    w.cmdStart->click(); // Stop: black, phase kept (next tick lights)
    EXPECT_EQ(indicatorColour(w), Form2::kDarkColor);
    clickStart(w);
    fire(w.Timer2);
    EXPECT_EQ(indicatorColour(w), Form2::kLitColor);
}

TEST(Form2Dispatch, TickClicksShowsTheLabelsAndReArmsTheTimer) {
    Program p;
    p.withSettings("[midi config]\r\nmidi input= 99\r\n");
    Form2& w = p.start();
    ActionRecord a;
    a.entryName = "tasto-001";
    a.description = "Intro";
    a.order = 1;
    a.triggerCode = "65";
    a.triggerKind = 1;
    a.clickX = 960;
    a.clickY = 540;
    p.state.actionTable = {a};
    p.state.actionCount = 1;
    clickStart(w);

    fire(w.Timer1); // nothing pressed: labels unchanged, no click
    EXPECT_EQ(w.lblSequenza->text(), "Sequenza");
    EXPECT_TRUE(p.platform.events.empty());

    p.platform.tap(65);
    fire(w.Timer1);
    EXPECT_EQ(w.lblSequenza->text(), "65");
    EXPECT_EQ(w.lblDescrizione->text(), "Intro");
    EXPECT_FALSE(p.platform.events.empty());
    EXPECT_TRUE(w.Timer1->isActive());
}

TEST(Form2Dispatch, MidiArrivalLeavesTheCodeForTheNextTick) {
    Program p;
    p.withSettings("[midi config]\r\nmidi input= 1\r\n");
    Form2& w = p.start();
    clickStart(w);
    p.midi->receive(0x90, 60, 100);
    EXPECT_EQ(p.state.lastMidiCommand, "3C90");
    EXPECT_TRUE(p.midi->queue.empty());
    p.midi->receive(0xF0, 0, 0, "F07E7F0901F7"); // system messages are no triggers
    EXPECT_EQ(p.state.lastMidiCommand, "3C90");
    fire(w.Timer1);
    EXPECT_EQ(w.lblSequenza->text(), "3C90"); // shown even though no action carries it
    EXPECT_EQ(p.state.lastMidiCommand, "");
}

TEST(Form2Drag, BackgroundDragMovesTheWindowWithoutResizingIt) {
    Program p;
    Form2& w = p.start();
    w.move(100, 100);
    const QPoint start = w.pos();
    const QSize size = w.size();
    auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent e(type, at, w.Image1->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(w.Image1, &e);
    };
    send(QEvent::MouseButtonPress, {50, 60}, Qt::RightButton, Qt::RightButton);
    EXPECT_TRUE(w.isDragging);
    send(QEvent::MouseMove, {70, 90}, Qt::NoButton, Qt::RightButton);
    EXPECT_EQ(w.pos(), start + QPoint(20, 30));
    send(QEvent::MouseButtonRelease, {70, 90}, Qt::RightButton, Qt::NoButton);
    EXPECT_FALSE(w.isDragging);
    send(QEvent::MouseMove, {10, 10}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(w.pos(), start + QPoint(20, 30));
    EXPECT_EQ(w.size(), size);
}

TEST(Form2Fonts, RegisteredFamiliesAreUsedAndRemovedAtClose) {
    Program p;
    p.withFonts();
    Form2& w = p.start();
    const auto& fonts = w.displayFonts();
    ASSERT_EQ(fonts.size(), 3u);
    for (const DisplayFont& f : fonts) {
        ASSERT_GE(f.id, 0) << f.fileName;
        EXPECT_FALSE(f.family.isEmpty()) << f.fileName;
    }
    EXPECT_EQ(w.cmdStart->font().family(), fonts[1].family);
    EXPECT_EQ(w.Command2->font().family(), fonts[0].family);
    EXPECT_EQ(w.lblTitolo->font().family(), fonts[2].family);
    const int id = fonts[0].id;
    w.close();
    EXPECT_TRUE(QFontDatabase::applicationFontFamilies(id).isEmpty());
}

TEST(About, CaptionsTextAndPagesFollowTheLanguage) {
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    for (uint8_t language : {kItalian, kEnglish}) {
        RuntimeState state;
        state.programFolder = "/opt/quindel";
        loadLanguageTexts(state.texts, language);
        frmAbout about(state);
        about.show();
        const bool it = language == kItalian;
        EXPECT_EQ(about.windowTitle(), "About");
        EXPECT_EQ(about.size(), QSize(312, 264));
        EXPECT_EQ(about.cmdHelpOnline->text(), it ? "Aiuto online" : "Help online");
        EXPECT_EQ(about.cmdHomePage->text(), "Homepage");
        EXPECT_EQ(about.cmdOK->text(), "Ok");
        const QStringList lines = about.lblAbout->text().split('\n');
        ASSERT_EQ(lines.size(), 2);
        EXPECT_EQ(lines[0], "Quindel 0.4 Beta");
        recorder.opened.clear();
        about.cmdHomePage->click();
        about.cmdHelpOnline->click();
        ASSERT_EQ(recorder.opened.size(), 2);
        EXPECT_EQ(recorder.opened[0].toLocalFile(),
                  it ? "/opt/quindel/help/about-it.html" : "/opt/quindel/help/about-en.html");
        EXPECT_EQ(recorder.opened[1].toLocalFile(),
                  it ? "/opt/quindel/help/manual-it.html" : "/opt/quindel/help/manual-en.html");
        EXPECT_TRUE(about.isVisible());
        for (const std::string& page : {state.texts.homePageUrl, state.texts.helpPageUrl})
            EXPECT_TRUE(
                readFile(sourceDir() + "/assets/" + QString::fromStdString(page)).contains("<html"))
                << page; // the pages we ship
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

TEST(About, EnterRightAfterOpeningClosesIt) {
    RuntimeState state;
    loadLanguageTexts(state.texts, kEnglish);
    frmAbout about(state);
    bool closed = false;
    QTimer::singleShot(0, [&] {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &about,
                        Qt::Key_Return);
    });
    QTimer::singleShot(2000, [&] {
        if (about.isVisible())
            about.reject();
    });
    const int result = about.exec();
    closed = result == QDialog::Accepted;
    EXPECT_TRUE(closed);
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "Form2Test.moc"
