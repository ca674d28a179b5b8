// Main window tests: offscreen, fake platform and MIDI, a fresh program folder each.
#include "ui/MainWindow.h"
#include "core/engine/RuntimeState.h"
#include "support/FakeMidiInput.h"
#include "support/FakePlatform.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
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

// Clicks Start and answers the message box that may come, returning its text.
std::string clickStart(MainWindow& w) {
    QString seen;
    QTimer poll;
    poll.callOnTimeout([&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            seen = box->text(), box->button(QMessageBox::Ok)->click();
    });
    poll.start(10);
    w.startButton->click();
    return seen.toStdString();
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
        EXPECT_EQ(clickStart(w), p.state.texts.selectDeviceMessage);
        EXPECT_TRUE(!p.state.isRunning && !w.tickTimer->isActive() && p.midi->writes.empty());
    }
}

// Start refuses what the desktop cannot do, whatever the input where it offers no way to click,
// the PC keyboard where keys cannot be watched (MIDI still starts). A lost desktop connection
// unloads the window and ends the program's event loop with code 1.
TEST(MainWindowStart, StartRefusesWhatTheDesktopCannotDoAndALostDesktopEndsTheProgram) {
    const struct {
        bool clicks, keys;
        const char* input;
        std::string LanguageTexts::*message; // null: it starts
    } cases[] = {{false, true, "1", &LanguageTexts::noClickMessage},
                 {false, false, "99", &LanguageTexts::noClickMessage},
                 {true, false, "99", &LanguageTexts::keysNotWatchedMessage},
                 {true, false, "1", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        Program p;
        p.platform.clicks = c.clicks, p.platform.keysWatched = c.keys;
        MainWindow& w = p.start(QByteArray("[midi config]\r\nmidi input= ") + c.input);
        EXPECT_EQ(clickStart(w), c.message ? p.state.texts.*c.message : "");
        EXPECT_EQ(p.state.isRunning, c.message == nullptr);
    }
    Program p;
    ASSERT_TRUE(p.platform.watchDesktop());
    MainWindow& w = p.start("[midi config]\r\nmidi input= 1\r\n");
    clickStart(w);
    QTimer::singleShot(0, [&] { p.platform.loseDesktop(); });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(-1); }); // never hangs the suite
    EXPECT_EQ(QCoreApplication::exec(), 1);
    EXPECT_TRUE(w.isUnloaded() && !p.state.isRunning);
}

// A used key or a MIDI command ticks at once and the timer then rests; other keys wake nothing.
// With "risposta immediata= 0" the timer keeps its 100 ms pace instead. The setting is never
// written. Start empties the MIDI slot, so a code a capture left there never fires.
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

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
