// The main window with its real MIDI control over a real JACK server: the chosen device is found
// by its name, and a device that goes away while started (or whose JACK server does) is shown
// as missing and reopened when it is back. Each source is a child process (this executable run
// with --send NAME), so unplugging it is ending the process, as with a cable.
#include "ui/MainWindow.h"
#include "core/engine/RuntimeState.h"
#include "support/FakePlatform.h"
#include "ui/RtMidiInput.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <RtMidi.h>
#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
#include <map>

using namespace quindel;

namespace {

// A source: JACK client NAME with output port "out"; each line of hex bytes on stdin goes out
// as one message. Says "ready" once the port is there.
int runSource(const std::string& name) {
    RtMidiOut out(RtMidi::UNIX_JACK, name);
    out.openVirtualPort("out");
    std::cout << "ready" << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
        std::vector<unsigned char> bytes;
        for (std::size_t at = 0; at + 2 <= line.size(); at += 3)
            bytes.push_back(static_cast<unsigned char>(std::stoi(line.substr(at, 2), nullptr, 16)));
        out.sendMessage(&bytes);
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
        state.programFolder = dir.path().toStdString();
        window = std::make_unique<MainWindow>(
            state, platform, [] { return std::unique_ptr<MidiInputControl>(new RtMidiInput); });
        state.actionTable = {{"", "Go", 1, "3C90", 2, 10, 20, 0}};
    }
    void plug(const std::string& name) {
        auto& source = sources[name] = std::make_unique<QProcess>();
        source->start(QCoreApplication::applicationFilePath(),
                      {"--send", QString::fromStdString(name)});
        ASSERT_TRUE(waitFor([&] { return source->canReadLine(); })) << name << " did not start";
    }
    ~Stage() {
        window.reset();
        while (!sources.empty())
            unplug(sources.begin()->first);
        if (server) // not killed: a killed server stays in JACK's registry of servers
            server->terminate(), server->waitForFinished(10000);
    }
    void unplug(const std::string& name) {
        sources[name]->kill(), sources[name]->waitForFinished(), sources.erase(name);
    }
    // Note 60 (which clicks) or 62 on and off from source.
    void send(const std::string& source, const char* note) {
        sources[source]->write(QByteArray("90 ") + note + " 64\n80 " + note + " 00\n");
    }
    // The same, waiting until note 60 clicked or note 62 is shown.
    void tap(const std::string& source, const std::string& note = "3C") {
        const long before = clicks();
        send(source, note.c_str());
        ASSERT_TRUE(waitFor([&] {
            return note == "3C" ? clicks() > before : shown() == note + "90";
        })) << source;
    }
    // Start (after Stop when started) on the device stored as name and place.
    void start(const std::string& name, int16_t place) {
        if (state.isRunning)
            window->startButton->click();
        state.setInputDevice(place), state.midiInputName = name;
        window->startButton->click();
    }
    std::string shown() const { return window->triggerDisplay->text().toStdString(); }
    long clicks() const {
        return std::count_if(platform.events.begin(), platform.events.end(),
                             [](const auto& event) { return event.flags & 0x0002; });
    }
    bool missing() const {
        return window->deviceMissing() && shown() == state.texts.deviceMissingCaption &&
               window->midiInput().openState() == 0;
    }
    // Stops the JACK server and starts it again under the same name; a start that comes while
    // the old server still holds the name fails and is tried again.
    void restartServer() {
        if (server)
            server->terminate(), server->waitForFinished(10000);
        else
            ASSERT_EQ(kill(std::atoi(std::getenv("QUINDEL_TEST_JACK_PID")), SIGTERM), 0);
        ASSERT_TRUE(waitFor([&] { return missing(); }));
        ASSERT_TRUE(waitFor([&] {
            if (!server || server->state() == QProcess::NotRunning) {
                server = std::make_unique<QProcess>();
                server->startCommand(qEnvironmentVariable("QUINDEL_TEST_JACK_START"));
                server->waitForStarted();
                QFile pids(qEnvironmentVariable("QUINDEL_TEST_JACK_PIDS"));
                if (pids.open(QIODevice::Append))
                    pids.write(QByteArray::number(server->processId()) + '\n');
            }
            QProcess answers;
            answers.start("jack_lsp", {});
            return answers.waitForFinished() && answers.exitCode() == 0 &&
                   !server->waitForFinished(300);
        }));
    }
};

// Found by name after the sources swapped places; settings with a place only open that place;
// a name that no device has opens nothing else, and Start shows the device missing.
TEST(DeviceByName, SwappedSourcesStillOpenTheStoredOneAndAMissingNameOpensNothing) {
    ASSERT_NE(std::getenv("QUINDEL_TEST_JACK_START"), nullptr)
        << "run under with-services.sh --jack";
    Stage stage;
    stage.plug("Pads"), stage.plug("Keys"); // Keys:out stands second
    stage.start("Keys:out", 2);
    stage.tap("Keys");
    stage.unplug("Pads"), stage.unplug("Keys");
    stage.plug("Keys"), stage.plug("Pads"); // now Pads:out does
    MidiInputControl& midi = stage.window->midiInput();
    ASSERT_EQ(midi.deviceCount(), 2);
    midi.deviceIndex(1);
    ASSERT_EQ(midi.deviceName(), "Pads:out");
    stage.start("Keys:out", 2);
    stage.send("Pads", "3C"); // clicks only if Pads:out was opened in place of Keys:out
    stage.tap("Keys", "3E");
    stage.tap("Keys");
    EXPECT_EQ(stage.clicks(), 2);
    stage.start("", 2); // the place alone, as older settings files store it
    stage.tap("Pads");
    stage.start("Drums:out", 1);
    QTest::qWait(3 * MainWindow::kDeviceWatchMs); // the window keeps looking meanwhile
    EXPECT_TRUE(stage.missing());
    EXPECT_EQ(stage.window->descriptionDisplay->text(), "Drums:out");
    EXPECT_EQ(stage.clicks(), 3);
}

// While started the source is unplugged and plugged again, or the JACK server stops and starts
// again: each time the window shows the loss, reopens the source, and one tap clicks once.
TEST(DeviceLoss, ALostDeviceIsShownAndReopenedAndClicksOnceAgain) {
    ASSERT_NE(std::getenv("QUINDEL_TEST_JACK_START"), nullptr)
        << "run under with-services.sh --jack";
    Stage stage;
    stage.plug("Keys");
    stage.start("Keys:out", 1);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        if (round % 2)
            stage.restartServer(); // its ports go with it
        stage.unplug("Keys");
        ASSERT_TRUE(waitFor([&] { return stage.missing(); }));
        stage.plug("Keys");
        ASSERT_TRUE(waitFor([&] { return !stage.window->deviceMissing(); }));
        const long before = stage.clicks();
        stage.tap("Keys");
        stage.tap("Keys", "3E"); // after the first tap's clicks
        EXPECT_EQ(stage.clicks(), before + 1);
        EXPECT_TRUE(stage.state.isRunning);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--send")
        return runSource(argv[2]);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
