// The main window with its real MIDI control over JACK. Each source is a child process (this
// executable run with --send NAME): unplugging it is ending the process, as with a cable.
#include "ui/MainWindow.h"
#include "core/engine/RuntimeState.h"
#include "core/midi/PortControl.h"
#include "support/FakePlatform.h"
#include "midi/RtMidiInput.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <RtMidi.h>
#include <gmock/gmock.h>

#include <csignal>
#include <iostream>
#include <map>

using namespace quindel;

namespace {

// JACK client NAME with the port "out": each hex note number read taps that note.
int runSource(const char* name) {
    RtMidiOut out(RtMidi::UNIX_JACK, name);
    out.openVirtualPort("out");
    std::cout << "ready" << std::endl;
    for (int note; std::cin >> std::hex >> note;)
        for (unsigned char status : {0x90, 0x80}) {
            std::vector<unsigned char> message{status, static_cast<unsigned char>(note), 64};
            out.sendMessage(&message);
        }
    return 0;
}

// Waits for done; the cap only keeps a broken build from hanging.
bool waitFor(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 30000);
}

struct Stage {
    QTemporaryDir dir;
    RuntimeState state;
    test::FakePlatform platform;
    std::map<std::string, std::unique_ptr<QProcess>> sources;
    std::unique_ptr<QProcess> server; // the JACK server once this test started it again
    std::unique_ptr<MainWindow> window;

    Stage() {
        state.programFolder = state.userFilesFolder = dir.path().toStdString();
        window = std::make_unique<MainWindow>(
            state, platform, [] { return std::unique_ptr<MidiInputControl>(new RtMidiInput); });
        state.actionTable = {{"", "Go", 1, "3C90", 2, 10, 20, 0}}; // note 60 clicks
    }
    ~Stage() {
        window.reset();
        while (!sources.empty())
            unplug(sources.begin()->first);
        if (server) // not killed: a killed server stays in JACK's registry of servers
            server->terminate(), server->waitForFinished(10000);
    }
    void plug(const std::string& name) {
        auto& source = sources[name] = std::make_unique<QProcess>();
        source->start(QCoreApplication::applicationFilePath(), {"--send", name.c_str()});
        ASSERT_TRUE(waitFor([&] { return source->canReadLine(); })) << name;
    }
    void unplug(const std::string& name) {
        sources[name]->kill(), sources[name]->waitForFinished(), sources.erase(name);
    }
    // Taps note 60 (and waits for its click) or 62 (and waits until it is shown) on source.
    void tap(const std::string& source, const std::string& note = "3C", bool wait = true) {
        const long before = clicks();
        sources[source]->write(QByteArray::fromStdString(note + "\n"));
        ASSERT_TRUE(!wait || waitFor([&] {
            return note == "3C" ? clicks() > before : shown() == note + "90";
        })) << source;
    }
    std::string shown() const { return window->triggerDisplay->text().toStdString(); }
    long clicks() const {
        return std::count_if(platform.events.begin(), platform.events.end(),
                             [](const auto& e) { return e.flags & 0x0002; });
    }
    bool missing() const {
        return window->deviceMissing() && shown() == state.texts.deviceMissingCaption &&
               window->midiInput().openState() == 0;
    }
    // Stops the JACK server and starts it under the same name again, as soon as it is free.
    void restartServer() {
        if (server)
            server->terminate(), server->waitForFinished(10000);
        else // the first server, with-services.sh's
            ASSERT_EQ(kill(std::atoi(std::getenv("QUINDEL_TEST_JACK_PID")), SIGTERM), 0);
        ASSERT_TRUE(waitFor([&] { return missing(); }));
        ASSERT_TRUE(waitFor([&] {
            if (!server || server->state() == QProcess::NotRunning) {
                server = std::make_unique<QProcess>();
                server->startCommand(qEnvironmentVariable("QUINDEL_TEST_JACK_START"));
                QFile pids(qEnvironmentVariable("QUINDEL_TEST_JACK_PIDS"));
                if (server->waitForStarted() && pids.open(QIODevice::Append))
                    pids.write(QByteArray::number(server->processId()) + '\n');
            }
            QProcess answers;
            answers.start("jack_lsp", {});
            return answers.waitForFinished() && answers.exitCode() == 0 &&
                   !server->waitForFinished(300); // the name was free
        }));
    }
};

// Settings from before names were stored give only the device's place. Start stores the name
// of the device it opened, as the device dialog would; after a loss another device in that
// place is not opened, and the device is reopened by its name where it now stands. It runs
// first, while with-services.sh's JACK server runs: the next test stops that one.
TEST(DeviceLoss, AChoiceStoredByPlaceOnlyIsReopenedByTheNameOfTheDeviceOpenedAtStart) {
    Stage stage;
    stage.plug("Pads"), stage.plug("Keys");
    stage.state.setInputDevice(2); // Keys:out
    stage.window->startButton->click();
    ASSERT_FALSE(stage.window->deviceMissing());
    QFile settings(stage.dir.filePath("quindel.ini"));
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_THAT(settings.readAll().toStdString(),
                testing::HasSubstr("midi input= 2\r\nmidi input nome=Keys:out\r\n"));
    stage.unplug("Keys");
    ASSERT_TRUE(waitFor([&] { return stage.missing(); }));
    stage.plug("Drums"); // now second
    stage.plug("Keys");
    ASSERT_TRUE(waitFor([&] { return !stage.window->deviceMissing(); }));
    const long before = stage.clicks();
    stage.tap("Drums", "3C", false); // clicks only if Drums:out was opened
    stage.tap("Keys");
    stage.tap("Keys", "3E");
    EXPECT_EQ(stage.clicks(), before + 1);
}

// While started the source is unplugged and plugged again, or the JACK server stops and starts
// again: each time the window shows the loss, reopens the source, and one tap clicks once. The
// first time another source stands in its place meanwhile: it is neither opened then nor when
// the source is back at another place, found by its name. A second control open on the source
// (as a capture dialog's) is closed and told, in its language.
TEST(DeviceLoss, ALostDeviceIsShownAndReopenedByNameAndClicksOnceAgain) {
    ASSERT_NE(std::getenv("QUINDEL_TEST_JACK_START"), nullptr) << "run under with-services --jack";
    Stage stage;
    stage.plug("Pads"), stage.plug("Keys"); // Keys:out stands second
    stage.state.setInputDevice(2), stage.state.midiInputName = "Keys:out";
    stage.window->startButton->click();
    RtMidiInput dialog(1);
    std::vector<std::string> told;
    dialog.errorReported = [&](int code, const std::string& text) {
        told.push_back(std::to_string(code) + " " + text);
    };
    ASSERT_EQ(openMidiInput(stage.state, dialog), 1);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        if (round % 2)
            stage.restartServer(); // its ports go with it
        stage.unplug("Keys");
        ASSERT_TRUE(waitFor([&] { return stage.missing(); }));
        if (round == 0)
            stage.unplug("Pads");
        stage.plug("Keys");
        if (round == 0) // now Pads:out stands second
            stage.plug("Pads");
        ASSERT_TRUE(waitFor([&] { return !stage.window->deviceMissing(); }));
        const long before = stage.clicks();
        if (round == 0) {
            MidiInputControl& midi = stage.window->midiInput();
            ASSERT_EQ((midi.deviceCount(), midi.deviceIndex(1), midi.deviceName()), "Pads:out");
            stage.tap("Pads", "3C", false); // clicks only if Pads:out was opened
        }
        stage.tap("Keys");
        stage.tap("Keys", "3E"); // after the first tap's clicks
        EXPECT_EQ(stage.clicks(), before + 1);
        if (round == 0)
            stage.unplug("Pads");
    }
    EXPECT_EQ(dialog.openState(), 0);
    EXPECT_THAT(told, testing::Contains(
                          testing::StartsWith("3 La periferica MIDI d'ingresso \"Keys:out\"")));
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--send")
        return runSource(argv[2]);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
