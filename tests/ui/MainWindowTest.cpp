// Main and About window tests: offscreen, fake platform and MIDI, a fresh program folder each.
#include "ui/MainWindow.h"
#include "ui/AboutWindow.h"
#include "core/engine/RuntimeState.h"
#include "support/FakeMidiInput.h"
#include "support/FakePlatform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

using namespace quindel;
using quindel::test::FakeMidiInput;
using quindel::test::FakePlatform;

namespace {

const QString kAssets = qEnvironmentVariable("QUINDEL_SOURCE_DIR", ".") + "/assets/";

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Program {
    QTemporaryDir dir;
    RuntimeState state;
    FakePlatform platform;
    FakeMidiInput* midi = nullptr;
    std::unique_ptr<MainWindow> window;

    QString path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }
    QString settings() const { return QString::fromUtf8(readFile(path("quindel.ini"))); }
    void write(const QString& name, const QByteArray& text) const {
        QFile f(path(name));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(text);
    }
    // Starts the window on the given settings file (none when empty).
    MainWindow& start(const QByteArray& ini = {}) {
        if (!ini.isEmpty())
            write("quindel.ini", ini);
        state.programFolder = dir.path().toStdString();
        window = std::make_unique<MainWindow>(state, platform, [this] {
            auto m = std::make_unique<FakeMidiInput>();
            midi = m.get();
            return std::unique_ptr<MidiInputControl>(std::move(m));
        });
        window->show();
        return *window;
    }
    // Start's caption, window on top (as the widget and its native window have it), running,
    // both timers active.
    std::string runState() const {
        const MainWindow& w = *window;
        const Qt::WindowFlags native = w.windowHandle() ? w.windowHandle()->flags() : Qt::Widget;
        return QString::asprintf("%s top=%d%d run=%d timers=%d%d",
                                 qPrintable(w.startButton->text()),
                                 bool(w.windowFlags() & Qt::WindowStaysOnTopHint),
                                 bool(native & Qt::WindowStaysOnTopHint), state.isRunning,
                                 w.tickTimer->isActive(), w.blinkTimer->isActive())
            .toStdString();
    }
};

// Clicks Start and answers the message box that may come, returning its text.
QString clickStart(MainWindow& w) {
    QString seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            seen = box->text(), box->button(QMessageBox::Ok)->click();
    });
    poll.start(10);
    w.startButton->click();
    return seen;
}

std::string editorCaption(MainWindow& w) {
    return w.editorButton->text().toStdString();
}

class UrlRecorder : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> opened;
  public slots:
    void open(const QUrl& url) { opened.append(url); }
};

} // namespace

TEST(MainWindowStart, StoredLanguageSetsTheTextsABadOneIsTakenAsItalianAndStartNeedsAnInput) {
    const QByteArray g = "[generale]\r\nlingua=", damaged = '\0' + g + "\xff\r\nmidi input=9999";
    const std::pair<QByteArray, uint8_t> cases[] = {
        {{}, kItalian},       {g + " 2", kEnglish},  {g + " 7", kItalian}, {g + " 300", kItalian},
        {g + "-1", kItalian}, {g + "abc", kItalian}, {damaged, kItalian}};
    for (const auto& [stored, language] : cases) {
        Program p;
        MainWindow& w = p.start(stored);
        const QString ini = p.settings();
        const bool italian = language == kItalian;
        EXPECT_EQ(p.state.languageIndex, language) << ini.toStdString();
        EXPECT_EQ(editorCaption(w), italian ? "Assegna tasti" : "Key assign");
        EXPECT_EQ(p.midi->language, language); // its error texts, made before it was read
        EXPECT_TRUE(ini.contains(italian ? "lingua= 1" : "lingua= 2") && ini.contains("font=1"))
            << ini.toStdString();
        // No input source: Start only tells so, in the window's language.
        EXPECT_EQ(clickStart(w), italian ? "Selezionare una periferica MIDI d'ingresso"
                                         : "Please select a MIDI input device");
        EXPECT_EQ(p.runState(), "Start top=00 run=0 timers=00");
        EXPECT_TRUE(p.midi->writes.empty());
    }
}

// The flag's picture comes from the program folder, not the working directory; a click switches
// the language and reloads settings and group; the language is stored only at close.
TEST(MainWindowFlag, PictureFromTheProgramFolderSwitchesLanguageReloadsAndStoresAtClose) {
    Program p;
    for (const char* name : {"uk2.jpg", "italia2.jpg"})
        QFile::copy(kAssets + name, p.path(name));
    QTemporaryDir elsewhere;
    const QString before = QDir::currentPath();
    QDir::setCurrent(elsewhere.path());
    MainWindow& w = p.start();
    QDir::setCurrent(before);
    ASSERT_FALSE(w.flagImage->pixmap().isNull());
    // Italian texts show the Union flag (blue corners), English ones the tricolour (green left).
    const QImage uk = w.flagImage->pixmap().toImage();
    const QColor blue = uk.pixelColor(uk.width() * 3 / 10, uk.height() * 8 / 100);
    // Settings and group chosen meanwhile (as the dialogs do) are read again by the reload.
    p.write("quindel.ini", p.settings().toUtf8() + "[midi config]\r\nmidi input= 99\r\n"
                                                   "[file tasti]\r\nnomefile=gruppo-live.ini\r\n");
    p.write("gruppo-live.ini", "[tasto-next]\r\ntasto=78\r\n[tasto-001]\r\ntasto=65\r\n"
                               "sequenza= 1\r\ndescrizione=Intro\r\n");
    QTest::mouseClick(w.flagImage, Qt::LeftButton);
    const QImage it = w.flagImage->pixmap().toImage();
    const QColor left = it.pixelColor(5, it.height() / 2);
    EXPECT_TRUE(blue.red() < 60 && blue.blue() > 80 && left.green() > 100 && left.red() < 60);
    EXPECT_EQ(editorCaption(w), "Key assign");
    EXPECT_EQ(p.midi->language, kEnglish);
    EXPECT_TRUE(p.state.midiInputDevice == kKeyboardDevice && p.state.inputMode == kKeyboardMode);
    EXPECT_TRUE(p.state.actionTable.size() == 1u && p.state.actionTable[0].description == "Intro" &&
                p.state.nextTriggerCode == "78" && p.state.sequenceTable.size() == 1u);
    EXPECT_TRUE(p.settings().contains("lingua= 1"));
    QTest::mouseClick(w.flagImage, Qt::LeftButton);
    EXPECT_EQ(editorCaption(w), "Assegna tasti");
    QTest::mouseClick(w.flagImage, Qt::LeftButton);
    w.close();
    EXPECT_TRUE(p.settings().contains("lingua= 2")) << p.settings().toStdString();
}

TEST(MainWindowStartStop, StartKeepsTheWindowOnTopAndBlinksStopUndoesItAndNoFlagClickMeanwhile) {
    Program p;
    MainWindow& w = p.start("[midi config]\r\nmidi input= 99\r\n");
    w.move(40, 30);
    const QPoint where = w.pos();
    p.state.currentStep = 3;
    p.state.lastMidiCommand = "3C90"; // left by a capture: it must not fire in a later MIDI run
    EXPECT_TRUE(clickStart(w).isEmpty());
    EXPECT_EQ(p.runState(), "Stop top=11 run=1 timers=11");
    EXPECT_TRUE(w.isVisible() && w.pos() == where);
    EXPECT_EQ(p.state.currentStep, 0);
    EXPECT_EQ(p.state.lastMidiCommand, "");
    EXPECT_TRUE(p.midi->writes.empty());            // the keyboard needs no port
    QTest::mouseClick(w.flagImage, Qt::LeftButton); // ignored while started
    EXPECT_EQ(p.state.languageIndex, kItalian);
    const auto colour = [&] {
        const QImage shot = w.runIndicator->grab().toImage();
        return shot.pixelColor(shot.width() / 2, shot.height() / 2);
    };
    const auto blink = [&] { // the blink timer's interval elapsing
        QMetaObject::invokeMethod(w.blinkTimer, "timeout", Qt::DirectConnection);
        return colour();
    };
    for (const QColor& expected :
         {MainWindow::kDarkColor, MainWindow::kLitColor, MainWindow::kDarkColor})
        EXPECT_EQ(blink(), expected);

    w.setIndicatorLit();
    w.startButton->click();
    EXPECT_EQ(p.runState(), "Start top=00 run=0 timers=00");
    EXPECT_TRUE(w.isVisible() && w.pos() == where);
    EXPECT_EQ(colour(), MainWindow::kDarkColor);
    clickStart(w);
    EXPECT_EQ(blink(), MainWindow::kLitColor); // the phase carries over to the next start
}

TEST(MainWindowStartStop, MidiStartOpensThePortStopClosesItAndAMissingDeviceStillRuns) {
    Program p;
    MainWindow& w = p.start("[midi config]\r\nmidi input= 2\r\n");
    clickStart(w);
    EXPECT_TRUE(p.midi->index == 1 && p.midi->state == 1 && p.midi->delivering);
    w.startButton->click();
    EXPECT_EQ(p.midi->state, 0);
    ASSERT_GE(p.midi->writes.size(), 2u);
    EXPECT_EQ(std::vector(p.midi->writes.end() - 2, p.midi->writes.end()),
              (std::vector<std::string>{"portCommand 5", "portCommand 2"}));

    Program missing;
    MainWindow& m = missing.start("[midi config]\r\nmidi input= 9\r\n");
    clickStart(m);
    EXPECT_EQ(missing.runState(), "Stop top=11 run=1 timers=11");
    m.close();
    EXPECT_TRUE(missing.runState().ends_with("run=0 timers=00")) << missing.runState();
}

// A used key or a MIDI command ticks at once and the timer then rests; other keys wake nothing.
// With "risposta immediata= 0" the timer keeps its 100 ms pace instead. The setting is never
// written.
TEST(MainWindowDispatch, TriggersTickAtOnceAndTheTimerRestsUnlessTheSettingSaysPolling) {
    for (const bool immediate : {true, false}) {
        SCOPED_TRACE(immediate ? "immediate" : "polling");
        const QByteArray general = immediate ? "" : "[generale]\r\nrisposta immediata= 0\r\n";
        Program keys;
        FakePlatform& keyboard = keys.platform;
        ASSERT_TRUE(keyboard.reportKeyPresses());
        MainWindow& k = keys.start(general + "[midi config]\r\nmidi input= 99\r\n");
        keys.state.actionTable = {{"", "A", 1, "65", 1, 10, 20, 0}};
        clickStart(k);
        // The check one interval after Start: nothing is held.
        QMetaObject::invokeMethod(k.tickTimer, "timeout", Qt::DirectConnection);
        EXPECT_EQ(k.tickTimer->isActive(), !immediate);
        keyboard.announce(66); // not in the group
        EXPECT_TRUE(QTest::qWaitFor([&] { return keyboard.announced.empty(); }));
        EXPECT_EQ(std::pair(k.tickTimer->isActive(), keyboard.keyPolls), std::pair(!immediate, 1));
        keyboard.tap(65);
        keyboard.announce(65);
        EXPECT_TRUE(QTest::qWaitFor([&] { return keyboard.events.size() == 2; }));
        EXPECT_EQ(k.tickTimer->isActive(), !immediate);
        keyboard.press(65); // held: ticks go on every 100 ms
        keyboard.announce(65);
        EXPECT_TRUE(QTest::qWaitFor([&] { return keyboard.events.size() == 4; }));
        EXPECT_TRUE(k.tickTimer->isActive() && k.tickTimer->interval() == 100);
        EXPECT_EQ(keys.settings().contains("risposta"), !immediate); // only read

        Program midi;
        MainWindow& m = midi.start(general + "[midi config]\r\nmidi input= 1\r\n");
        clickStart(m);
        midi.midi->receive(0x90, 60, 100); // the first trigger after Start
        EXPECT_EQ(std::pair(m.tickTimer->isActive(), m.tickTimer->interval()),
                  std::pair(true, immediate ? 0 : 100));
        EXPECT_TRUE(QTest::qWaitFor([&] { return m.triggerDisplay->text() == "3C90"; }));
        EXPECT_EQ(m.tickTimer->isActive(), !immediate);
    }
}

// The About window's links open the pages we ship, in the window's language, from the program
// folder.
TEST(About, PagesFollowTheLanguageAndAreShipped) {
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    for (const char* lang : {"it", "en"}) {
        RuntimeState state;
        state.programFolder = "/opt/quindel";
        loadLanguageTexts(state.texts, lang == std::string("it") ? kItalian : kEnglish);
        AboutWindow about(state);
        recorder.opened.clear();
        about.homePageButton->click();
        about.helpButton->click();
        EXPECT_EQ(recorder.opened,
                  (QList<QUrl>{
                      QUrl::fromLocalFile(QString("/opt/quindel/help/about-") + lang + ".html"),
                      QUrl::fromLocalFile(QString("/opt/quindel/help/manual-") + lang + ".html")}));
        for (const std::string& page : {state.texts.homePageUrl, state.texts.helpPageUrl})
            EXPECT_TRUE(readFile(kAssets + QString::fromStdString(page)).contains("<html")) << page;
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "MainWindowTest.moc"
