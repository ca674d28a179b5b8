// Main window tests: offscreen, fake platform and MIDI, a fresh program folder each.
#include "ui/MainWindow.h"
#include "ui/MidiCaptureDialog.h"
#include "ui/AboutWindow.h"
#include "ui/DeviceDialog.h"
#include "core/engine/PointerOutput.h"
#include "core/engine/RuntimeState.h"
#include "support/FakeMidiInput.h"
#include "support/FakePlatform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace quindel;
using quindel::test::FakeMidiInput;
using quindel::test::FakePlatform;

namespace {

struct Program {
    QTemporaryDir dir;
    RuntimeState state;
    FakePlatform platform;
    FakeMidiInput* midi = nullptr;
    std::unique_ptr<MainWindow> window;

    QString settings() const {
        QFile f(dir.path() + "/quindel.ini");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    // Starts the window on the given settings file (none when empty).
    MainWindow& start(const QByteArray& ini = {}) {
        QFile f(dir.path() + "/quindel.ini");
        if (!ini.isEmpty() && f.open(QIODevice::WriteOnly))
            f.write(ini), f.close();
        state.programFolder = dir.path().toStdString();
        window = std::make_unique<MainWindow>(state, platform, [this] {
            return std::unique_ptr<MidiInputControl>(midi = new FakeMidiInput);
        });
        window->show();
        return *window;
    }
};

// While it lives, answers every message box that comes with OK, keeping the last one's text.
struct MessageBoxAnswerer {
    QString seen;
    QTimer poll;
    MessageBoxAnswerer() {
        poll.callOnTimeout([this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                seen = box->text(), box->button(QMessageBox::Ok)->click();
        });
        poll.start(10);
    }
};

// Clicks Start and answers the message box that may come, returning its text.
std::string clickStart(MainWindow& w) {
    MessageBoxAnswerer boxes;
    w.startButton->click();
    return boxes.seen.toStdString();
}

} // namespace

// A stored language out of range or unreadable is taken as Italian and stored so; the MIDI
// control gets its texts before anything is read. Without an input source Start only says so.
TEST(MainWindowStart, ABadStoredLanguageIsTakenAsItalianAndStartNeedsAnInput) {
    const QByteArray g = "[generale]\r\nlingua=", damaged = '\0' + g + "\xff\r\nmidi input=9999";
    const std::pair<QByteArray, uint8_t> cases[] = {
        {{}, kItalian},       {g + " 2", kEnglish},  {g + " 7", kItalian}, {g + " 300", kItalian},
        {g + "-1", kItalian}, {g + "abc", kItalian}, {damaged, kItalian}};
    for (const auto& [stored, language] : cases) {
        SCOPED_TRACE(stored.toStdString());
        Program p;
        MainWindow& w = p.start(stored);
        EXPECT_EQ(p.state.languageIndex, language);
        EXPECT_EQ(p.midi->language, language);
        EXPECT_TRUE(p.settings().contains(language == kItalian ? "lingua= 1" : "lingua= 2"));
        if (stored.isEmpty()) { // the first run writes exactly these, in this order
            EXPECT_EQ(p.settings().toStdString(), "[generale]\r\nfont=1\r\nlingua= 1\r\n");
        }
        EXPECT_EQ(clickStart(w), p.state.texts.noInputChosenMessage);
        EXPECT_TRUE(!p.state.isRunning && !w.tickTimer->isActive() && p.midi->writes.empty());
    }
}

// Start refuses what the desktop cannot do, whatever the input where it offers no way to click;
// with the PC keyboard where keys cannot be watched it says how keys reach it, and starts. A click
// the desktop did not take shows in the lower display. A lost desktop connection unloads the window
// and ends the program's event loop with code 1.
TEST(MainWindowStart, StartRefusesWhatTheDesktopCannotDoAndALostDesktopEndsTheProgram) {
    const struct {
        bool clicks, keys, xwayland;
        const char* input;
        std::string LanguageTexts::*message; // null: nothing to say
        bool starts;
    } cases[] = {{false, true, false, "1", &LanguageTexts::noClickMessage, false},
                 {false, false, false, "99", &LanguageTexts::noClickMessage, false},
                 {false, true, true, "1", &LanguageTexts::xwaylandMessage, false},
                 {true, false, false, "99", &LanguageTexts::keysNotWatchedMessage, true},
                 {true, false, false, "1", nullptr, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        Program p;
        p.platform.clicks = c.clicks, p.platform.keysWatched = c.keys;
        p.platform.xwayland = c.xwayland;
        ASSERT_TRUE(p.platform.watchDesktop());
        MainWindow& w = p.start(QByteArray("[midi config]\r\nmidi input= ") + c.input);
        EXPECT_EQ(clickStart(w), c.message ? p.state.texts.*c.message : "");
        EXPECT_EQ(p.state.isRunning, c.starts);
        if (c.message == nullptr) {         // the last case, running
            p.platform.clickFailure = true; // a tick's click that the desktop did not take
            QMetaObject::invokeMethod(w.tickTimer, "timeout", Qt::DirectConnection);
            EXPECT_EQ(w.descriptionDisplay->text().toStdString(), p.state.texts.clickFailedMessage);
            QTimer::singleShot(0, [&] { p.platform.loseDesktop(); });
            QTimer::singleShot(20000, [] { QCoreApplication::exit(-1); }); // never hangs
            EXPECT_EQ(QCoreApplication::exec(), 1);
            EXPECT_TRUE(w.isUnloaded() && !p.state.isRunning);
        }
    }
}

// A used key or a MIDI command ticks at once and the timer then rests; other keys wake nothing.
// With "risposta immediata= 0" the timer keeps its 100 ms pace instead. The setting is never
// written. Start empties the MIDI slot and forgets keys pressed while stopped, so neither a
// code a capture left there nor such a key fires.
TEST(MainWindowDispatch, TriggersTickAtOnceAndTheTimerRestsUnlessTheSettingSaysPolling) {
    for (const bool immediate : {true, false}) {
        SCOPED_TRACE(immediate ? "immediate" : "polling");
        const QByteArray general = immediate ? "" : "[generale]\r\nrisposta immediata= 0\r\n";
        Program keys;
        FakePlatform& keyboard = keys.platform;
        ASSERT_TRUE(keyboard.reportKeyPresses());
        MainWindow& k = keys.start(general + "[midi config]\r\nmidi input= 99\r\n");
        keys.state.actionTable = {{"", "A", 1, "65", 1, 10, 20, 0}};
        keyboard.tap(65); // while stopped: it must not fire when the run starts
        clickStart(k);
        // The check one interval after Start: nothing is held.
        QMetaObject::invokeMethod(k.tickTimer, "timeout", Qt::DirectConnection);
        EXPECT_EQ(std::pair(k.tickTimer->isActive(), keyboard.events.size()),
                  std::pair(!immediate, std::size_t(0)));
        keyboard.announce(66); // not in the group
        EXPECT_TRUE(QTest::qWaitFor([&] { return keyboard.announced.empty(); }));
        EXPECT_EQ(std::pair(k.tickTimer->isActive(), keyboard.keyPolls), std::pair(!immediate, 2));
        keyboard.tap(65);
        keyboard.announce(65);
        EXPECT_TRUE(QTest::qWaitFor([&] { return keyboard.events.size() == 2; }));
        EXPECT_EQ(k.tickTimer->isActive(), !immediate);

        Program midi;
        MainWindow& m = midi.start(general + "[midi config]\r\nmidi input= 1\r\n");
        midi.state.lastMidiCommand = "3C90", midi.state.currentStep = 3; // as a capture leaves
        clickStart(m); // Start empties the MIDI slot and rewinds the sequence
        EXPECT_TRUE(midi.state.lastMidiCommand.empty() && midi.state.currentStep == 0);
        midi.midi->receive(0x90, 60, 100); // the first trigger after Start
        EXPECT_EQ(std::pair(m.tickTimer->isActive(), m.tickTimer->interval()),
                  std::pair(true, immediate ? 0 : 100));
        EXPECT_TRUE(QTest::qWaitFor([&] { return m.triggerDisplay->text() == "3C90"; }));
        EXPECT_EQ(m.tickTimer->isActive(), !immediate);
    }
}

// Ten `quindel --trigger` codes that come within one tick give ten clicks in their order, ticks
// at least 100 ms apart, in either input mode; Stop drops what still waits.
TEST(MainWindowDispatch, CommandTriggersFireEachInOrderOnePerTick) {
    for (const char* device : {"99", "1"}) {
        SCOPED_TRACE(device);
        Program p;
        MainWindow& w = p.start(QByteArray("[midi config]\r\nmidi input= ") + device + "\r\n");
        for (int key = 65; key < 75; ++key)
            p.state.actionTable.push_back({"", "", 1, std::to_string(key), 1, key, 0, 0});
        clickStart(w);
        std::vector<std::pair<qint64, std::size_t>> ticks; // time and clicks after each tick
        QElapsedTimer clock;
        clock.start();
        QObject::connect(w.tickTimer, &QTimer::timeout,
                         [&] { ticks.emplace_back(clock.elapsed(), p.platform.events.size()); });
        for (int key = 74; key >= 65; --key)
            EXPECT_EQ(w.commandTriggerArrived(std::to_string(key)), CommandTriggerOutcome::Taken);
        EXPECT_TRUE(QTest::qWaitFor([&] { return p.platform.events.size() == 20; }));
        std::vector<int> order;
        for (std::size_t i = 0; i < p.platform.events.size(); i += 2)
            order.push_back(p.platform.events[i].dx);
        std::vector<int> expected;
        for (int key = 74; key >= 65; --key)
            expected.push_back(toAbsoluteX(p.platform, key));
        EXPECT_EQ(order, expected);
        for (std::size_t i = 1; i < ticks.size(); ++i)
            EXPECT_GE(ticks[i].first - ticks[i - 1].first, 90) << "tick " << i;
        w.commandTriggerArrived("65");
        clickStart(w); // Stop
        EXPECT_TRUE(p.state.commandQueue.empty());
    }
    // Where keys cannot be watched there is nothing to poll: the timer rests between commands,
    // so the next one ticks at once instead of at the next poll.
    Program p;
    p.platform.keysWatched = false;
    MainWindow& w = p.start("[midi config]\r\nmidi input= 99\r\n");
    p.state.actionTable.push_back({"", "", 1, "65", 1, 65, 0, 0});
    clickStart(w);
    w.commandTriggerArrived("65");
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.platform.events.size() == 2; }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.tickTimer->isActive(); }));
}

// A capture dialog's error comes as a posted event and may run in a pause of the main window's
// drain: its box leaves that drain, and so MIDI dispatch, running while it is up.
TEST(MainWindowDispatch, AnErrorBoxInADrainLeavesDispatchRunning) {
    Program p;
    clickStart(p.start("[midi config]\r\nmidi input= 1\r\n"));
    MidiCaptureDialog dialog(
        p.state, [] { return std::make_unique<FakeMidiInput>(); }, p.window.get());
    std::size_t pending = 99;
    QMessageBox* box = nullptr;
    QMetaObject::invokeMethod(
        qApp, [&] { dialog.midiControl->errorReported(3, "lost"); }, Qt::QueuedConnection);
    QTimer::singleShot(50, [&] {
        p.midi->receive(0x90, 60, 100);
        pending = p.midi->queue.size();
        if ((box = dialog.findChild<QMessageBox*>()))
            box->done(0);
    });
    p.midi->receive(0xB0, 1, 10); // its drain runs the error
    EXPECT_TRUE(QTest::qWaitFor([&] { return pending != 99; }));
    EXPECT_TRUE(box && pending == 0) << pending << " messages waited while the box was up";
}

// Stands in for the system's handler of local files.
struct PageOpener : QObject {
    Q_OBJECT
  public:
    Q_INVOKABLE void open(const QUrl& url) { opened = url; }
    QUrl opened;
};

// Stopped, the upper display names the loaded group. Start without an input says how to choose
// one, titled "Quindel"; its second button opens the device dialog, Return and Escape only
// close it. Qt's own buttons follow the language. A page that cannot be opened is named by its
// path; one that opens shows nothing more.
TEST(MainWindowFirstUse, TheGroupIsNamedAndARefusedStartLeadsToTheDeviceDialog) {
    Program p;
    ASSERT_TRUE(QFile(p.dir.path() + "/gruppo-Zeta.ini").open(QIODevice::WriteOnly));
    MainWindow& w = p.start("[file tasti]\r\nnomefile=gruppo-Zeta.ini\r\n");
    EXPECT_EQ(w.triggerDisplay->text(), "Zeta");
    int opened = 0;
    w.hooks.openDeviceDialog = [&] { ++opened; };
    for (const int answer : {int(Qt::Key_Return), int(Qt::Key_Escape), 0}) {
        QTimer::singleShot(50, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_TRUE(box);
            EXPECT_EQ(box->windowTitle() + box->text(),
                      "Quindel" + QString::fromStdString(p.state.texts.noInputChosenMessage));
            auto* choose = box->findChild<QPushButton*>("cmdMidiConf");
            answer ? QTest::keyClick(box, Qt::Key(answer)) : choose->click();
            if (box->isVisible()) // the key did not close it
                ADD_FAILURE() << answer, box->button(QMessageBox::Ok)->click();
        });
        w.startButton->click();
        EXPECT_EQ(opened, answer ? 0 : 1) << answer;
    }
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Annulla");
    AboutWindow about(p.state);
    EXPECT_EQ(about.windowTitle(), "Informazioni su Quindel");
    MessageBoxAnswerer boxes;
    QString& seen = boxes.seen;
    const QString manual = p.dir.path() + "/help/manual-it.html";
    EXPECT_FALSE(about.openPage(p.state.texts.helpPageUrl));
    EXPECT_TRUE(seen.endsWith("\n" + manual)) << seen.toStdString();
    PageOpener browser;
    QDesktopServices::setUrlHandler("file", &browser, "open");
    QDir(p.dir.path()).mkpath("help"), QFile(manual).open(QIODevice::WriteOnly), seen.clear();
    EXPECT_TRUE(about.openPage(p.state.texts.helpPageUrl) && seen.isEmpty());
    EXPECT_EQ(browser.opened.toLocalFile(), manual);
    QDesktopServices::unsetUrlHandler("file");

    QTest::mouseClick(w.flagImage, Qt::LeftButton);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
    EXPECT_EQ(w.triggerDisplay->text(), "Zeta");
}

// The dialog offers the stored device where its name now stands and stores its name with its
// place. Started on a name that no device has, the window says so in its language, blinks amber,
// and opens that device once it is listed.
TEST(MainWindowDevice, FoundByNameAndShownMissingUntilItIsListed) {
    Program p;
    MainWindow& w = p.start("[generale]\r\nlingua= 2\r\n[midi config]\r\nmidi input= 1\r\n"
                            "midi input nome=Fake Pads\r\n");
    DeviceDialog dialog(p.state, w.midiInput());
    EXPECT_EQ(dialog.deviceList->currentRow(), 1);
    dialog.deviceList->setCurrentRow(0);
    dialog.okClicked();
    EXPECT_TRUE(p.settings().contains("midi input= 1\r\nmidi input nome=Fake Keys\r\n"));
    p.state.midiInputName = "Drums";
    clickStart(w);
    EXPECT_EQ(w.triggerDisplay->text() + w.descriptionDisplay->text(), "Device missingDrums");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return w.runIndicator->palette().base().color() == w.kMissingColor; }));
    p.midi->devices.push_back("Drums");
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.midi->index == 2 && p.midi->state == 1; }));
    EXPECT_EQ(w.triggerDisplay->text(), "Sequence");
}

#include "MainWindowTest.moc"
