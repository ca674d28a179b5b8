// The MIDI path of a USB controller: the ALSA sequencer of a real kernel, in the virtual machine
// of support/linux-guest.sh, with a JACK server beside it. "Virtual Raw MIDI 0-N" stand for
// controllers plugged in (bytes written to /dev/snd/midiC0DN arrive as their events); a
// controller that goes away and comes back is a sequencer client of a child process (this
// executable run with --controller NAME), killed and started again.
#include <QApplication> // before Xlib, as in the harness
#include <QDir>
#include <QListWidget>

#include "core/engine/RuntimeState.h"
#include "ui/DeviceDialog.h"
#include "midi/RtMidiInput.h"

#include "e2e/E2eHarness.h" // Qt before Xlib
#include "e2e/AlsaSequencer.h"
#include "e2e/MidiController.h"

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <algorithm>
#include <iostream>

using namespace quindel::e2e;

namespace {

// An ALSA sequencer client NAME with the output port "NAME MIDI 1", as a controller's; each
// line read holds one message in hex bytes ("90 3C 64").
int runController(const char* name) {
    RtMidiOut out(RtMidi::LINUX_ALSA, name);
    out.openVirtualPort(std::string(name) + " MIDI 1");
    std::cout << "ready" << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
        std::vector<unsigned char> message;
        for (const QByteArray& byte : QByteArray::fromStdString(line).split(' '))
            message.push_back(static_cast<unsigned char>(byte.toUInt(nullptr, 16)));
        out.sendMessage(&message);
    }
    return 0;
}

// A controller of its own process, plugged in as it starts and unplugged as it is killed.
class Controller {
  public:
    explicit Controller(const QString& name) {
        process_.start(QCoreApplication::applicationFilePath(), {"--controller", name});
        process_.waitForReadyRead(30000);
    }
    ~Controller() { process_.kill(), process_.waitForFinished(); }
    bool ready() { return process_.readLine().trimmed() == "ready"; }
    void send(const char* hexBytes) {
        process_.write(QByteArray(hexBytes) + '\n');
        process_.waitForBytesWritten(); // this thread runs no event loop that would write it
    }

  private:
    QProcess process_;
};

constexpr int kNoteX = 900, kNoteY = 600, kButtonX = 1100, kButtonY = 800;
// Where the main window's upper display is painted, in window pixels.
constexpr int kDisplayX = 8 + 3, kDisplayY = 112 + 3;
const QByteArray kGroup = "[main]\r\nnome=show\r\n" +
                          actionSection(1, "3C90", 2, kNoteX, kNoteY, 0, "Note 60") +
                          actionSection(2, "10B0", 2, kButtonX, kButtonY, 0, "Button 16");
const std::string kVirMidi00 = "Virtual Raw MIDI 0-0:VirMIDI 0-0 16:0";

QByteArray settings(int device, const std::string& name) {
    return "[generale]\r\nlingua= 1\r\n[midi config]\r\nmidi input= " + QByteArray::number(device) +
           "\r\n" +
           QByteArray::fromStdString(name.empty() ? "" : "midi input nome=" + name + "\r\n") +
           "[file tasti]\r\nnomefile=gruppo-show.ini\r\n";
}

// The entries of the device dialog, and the one selected.
std::pair<std::vector<std::string>, int> dialogEntries(quindel::RuntimeState& state,
                                                       quindel::MidiInputControl& control) {
    quindel::DeviceDialog dialog(state, control);
    std::vector<std::string> names;
    for (int row = 0; row < dialog.deviceList->count(); ++row)
        names.push_back(dialog.deviceList->item(row)->text().toStdString());
    return {names, dialog.deviceList->currentRow()};
}

const std::vector<std::string> kAlsaPorts{
    "Midi Through:Midi Through Port-0 14:0", kVirMidi00, "Virtual Raw MIDI 0-1:VirMIDI 0-1 17:0",
    "Virtual Raw MIDI 0-2:VirMIDI 0-2 18:0", "Virtual Raw MIDI 0-3:VirMIDI 0-3 19:0"};
// How PipeWire's JACK lists its MIDI bridge port of VirMIDI 0-0: for a card's client it writes
// the card's long name.
const std::string kBridgedVirMidi00 = "Midi-Bridge:Virtual MIDI Card 1:(capture_0) VirMIDI 0-0";

// The device dialog, on the program's real MIDI control: every ALSA port by its ALSA name, then
// the JACK ports, without the PipeWire bridge ports of listed ALSA ports; OK stores the name.
TEST(AlsaDevices, TheDialogListsAlsaNamesFirstEachDeviceOnceAndStoresTheChoiceByName) {
    JackController jack;
    // Ports named as PipeWire's JACK names its MIDI bridge ports: two stand for ALSA ports
    // listed here, the third for a device that only PipeWire reaches.
    jack_client_t* bridge = jack_client_open("Midi-Bridge", JackNoStartServer, nullptr);
    ASSERT_NE(bridge, nullptr) << "no JACK server";
    const std::shared_ptr<jack_client_t> closing(bridge, jack_client_close);
    const std::string bridgedPort = kBridgedVirMidi00.substr(std::string("Midi-Bridge:").size());
    for (const char* port : {bridgedPort.c_str(), "Midi Through:(capture_0) Midi Through Port-0",
                             "USB Keys:(capture_0) USB Keys MIDI 1"})
        ASSERT_NE(jack_port_register(bridge, port, JACK_DEFAULT_MIDI_TYPE,
                                     JackPortIsOutput | JackPortIsPhysical, 0),
                  nullptr)
            << port;
    QTemporaryDir folder;
    quindel::RuntimeState state;
    state.userFilesFolder = folder.path().toStdString();
    quindel::loadLanguageTexts(state.texts, 1);
    quindel::RtMidiInput control;
    const auto entries = [&] { return dialogEntries(state, control); };
    std::vector<std::string> expected = kAlsaPorts;
    expected.insert(expected.end(),
                    {JackController::kDeviceName,
                     "Midi-Bridge:USB Keys:(capture_0) USB Keys MIDI 1", "Tastiera PC"});
    EXPECT_EQ(entries().first, expected);
    {
        quindel::DeviceDialog dialog(state, control);
        dialog.deviceList->setCurrentRow(1);
        dialog.okClicked();
    }
    QFile stored(folder.filePath("quindel.ini"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll().toStdString(),
              "[midi config]\r\nmidi input= 2\r\nmidi input nome=" + kVirMidi00 + "\r\n");
    // A choice of the bridge port, made before it was left out, finds the ALSA port.
    state.setInputDevice(7);
    state.midiInputName = kBridgedVirMidi00;
    EXPECT_EQ(entries().second, 1);
}

// A PipeWire desktop, started here: its MIDI bridge offers every ALSA port through PipeWire's
// JACK too (this process runs on PipeWire's libjack, see CMakeLists.txt). Each controller is
// listed once, by its ALSA port.
TEST(PipeWireDesktop, EachControllerIsListedOnceByItsAlsaPort) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR"), bus = runtime + "/bus";
    ASSERT_FALSE(runtime.isEmpty());
    // The guest has no login manager, which WirePlumber's Bluetooth part needs: it stays off.
    const QString bluetooth = QDir::homePath() + "/.config/wireplumber/bluetooth.lua.d";
    QDir().mkpath(bluetooth);
    QFile(bluetooth + "/90-enable-all.lua").open(QIODevice::WriteOnly);
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + bus.toUtf8());
    QProcess sessionBus, pipewire, wireplumber; // stopped in the reverse order
    sessionBus.start("dbus-daemon", {"--session", "--nofork", "--address=unix:path=" + bus});
    ASSERT_TRUE(waitFor([&] { return QFile::exists(bus); }, 60000)) << "no session bus";
    pipewire.start("pipewire", {});
    ASSERT_TRUE(waitFor([&] { return QFile::exists(runtime + "/pipewire-0"); }, 60000))
        << "PipeWire did not start";
    wireplumber.start("wireplumber", {});
    jack_client_t* client = nullptr;
    const auto bridged = [&] {
        if (!client && !(client = jack_client_open("bridge-watch", JackNoStartServer, nullptr)))
            return 0;
        const char** ports = jack_get_ports(client, "^Midi-Bridge:.*capture",
                                            JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
        int count = 0;
        while (ports && ports[count])
            ++count;
        jack_free(ports);
        return count;
    };
    const bool bridging = waitFor([&] { return bridged() == 5; }, 60000);
    if (client)
        jack_client_close(client);
    ASSERT_TRUE(bridging) << "PipeWire's MIDI bridge does not list the ALSA ports";

    QTemporaryDir folder;
    quindel::RuntimeState state;
    state.userFilesFolder = folder.path().toStdString();
    quindel::loadLanguageTexts(state.texts, 1);
    quindel::RtMidiInput control;
    std::vector<std::string> expected = kAlsaPorts;
    expected.push_back("Tastiera PC");
    EXPECT_EQ(dialogEntries(state, control).first, expected);
    state.setInputDevice(6);
    state.midiInputName = kBridgedVirMidi00;
    EXPECT_EQ(dialogEntries(state, control).second, 1);
}

class AlsaProgram : public ::testing::Test {
  protected:
    void launch(const QByteArray& settingsFile) {
        ASSERT_TRUE(display.ok()) << "no X display with XTest";
        ASSERT_TRUE(installed || (installed = program.install()));
        program.write("quindel.ini", settingsFile);
        program.write("gruppo-show.ini", kGroup);
        ASSERT_TRUE(bool(at = program.start(display))) << "the program did not show its window";
    }
    void press(int x, int y) { display.click(at->x + x, at->y + y); }
    void close() {
        press(kCloseX, kCloseY);
        EXPECT_TRUE(program.waitForExit(60000)) << "the program did not end cleanly after X";
    }
    // After Start: taps until one clicks, the sign that the input is connected and delivering;
    // then waits until nothing more comes.
    void awaitInput(const std::function<void()>& tap) {
        recorder.pump(), recorder.clicks.clear();
        for (int i = 0; i < 60 && recorder.clicks.empty(); ++i)
            tap(), recorder.collect(1, 2000, 0);
        ASSERT_FALSE(recorder.clicks.empty()) << "no input after Start";
        recorder.collect(0, 0, 1500);
    }
    // trigger must give exactly n clicks at x, y.
    void expectClicks(const std::string& what, const std::function<void()>& trigger, size_t n,
                      int x = kNoteX, int y = kNoteY) {
        recorder.pump(), recorder.clicks.clear();
        trigger();
        recorder.collect(n, 20000, 1500); // a second click would come a tick or two later
        EXPECT_EQ(recorder.clicks.size(), n) << what;
        for (const auto& c : recorder.clicks)
            EXPECT_TRUE(c.x == x && c.y == y && c.button == 1)
                << what << ": clicked " << c.x << "," << c.y;
    }
    // What a controller does through send, with the answers the program must give: taps,
    // velocity-0 releases and buttons click once each; nothing after Stop, again after Start.
    void playController(const std::function<void(std::vector<unsigned char>)>& send) {
        const auto tap = [&] { send({0x90, 60, 100}), send({0x80, 60, 0}); };
        press(kStartX, kStartY);
        awaitInput(tap);
        if (HasFatalFailure())
            return;
        for (int i = 0; i < 10; ++i)
            expectClicks("tap " + std::to_string(i), tap, 1);
        for (int i = 0; i < 5; ++i)
            expectClicks(
                "velocity-0 release " + std::to_string(i),
                [&] {
                    send({0x90, 60, 90}), send({0x90, 60, 0});
                },
                1);
        for (int i = 0; i < 5; ++i)
            expectClicks(
                "button " + std::to_string(i),
                [&] {
                    send({0xB0, 16, 127}), send({0xB0, 16, 0});
                },
                1, kButtonX, kButtonY);
        press(kStartX, kStartY); // Stop
        QThread::msleep(1000);   // the click reaches the window; no state to wait on
        expectClicks("tap after Stop", tap, 0);
        press(kStartX, kStartY);
        awaitInput(tap);
        expectClicks("tap after Start again", tap, 1);
        close();
    }

    Desktop display;
    InstalledProgram program;
    bool installed = false;
    std::optional<XRectangle> at;
    ClickRecorder recorder{800, 500, 450, 450};
};

// The choice is stored by name at another place (VirMIDI 0-1's): the name wins. Then the same
// controller over JACK, which must answer alike.
TEST_F(AlsaProgram, TapsReleasesAndButtonsClickOverAlsaExactlyAsOverJack) {
    VirMidiPort port(0);
    ASSERT_TRUE(port.ok()) << "no /dev/snd/midiC0D0: run under linux-guest.sh";
    launch(settings(3, kVirMidi00));
    if (HasFatalFailure())
        return;
    playController([&](std::vector<unsigned char> m) { port.send(m); });
    if (HasFatalFailure())
        return;
    JackController jack;
    launch(settings(jack.deviceNumber(), JackController::kDeviceName));
    if (HasFatalFailure())
        return;
    playController([&](std::vector<unsigned char> m) { jack.send(m); });
}

// A controller that goes away and comes back, ten times, each time under a new sequencer
// address. Its choice is stored by place only, as before names were stored: Start stores its
// name. While it is away the window shows the loss and nothing is opened, not even the other
// controller that takes its address and its place; it is reopened by its name. The times from
// the kill to the loss on the screen, and from the return to the connection, are printed.
TEST_F(AlsaProgram, AControllerThatGoesAndComesBackUnderANewAddressIsReopenedByName) {
    std::optional<Controller> pads(std::in_place, "Pads"), keys;
    ASSERT_TRUE(pads->ready());
    const int padsPlace = deviceNumber("Pads:Pads MIDI 1 ");
    ASSERT_GT(padsPlace, 0);
    launch(settings(padsPlace, ""));
    if (HasFatalFailure())
        return;
    press(kStartX, kStartY);
    const auto tap = [&] { pads->send("90 3C 64"), pads->send("80 3C 00"); };
    awaitInput(tap);
    if (HasFatalFailure())
        return;
    const std::optional<SeqClient> first = sequencerClient("Pads");
    ASSERT_TRUE(first);
    EXPECT_NE(program.read("quindel.ini")
                  .find("midi input nome=Pads:Pads MIDI 1 " + std::to_string(first->number) + ":0"),
              std::string::npos)
        << program.read("quindel.ini");
    const auto connections = [] {
        const std::optional<SeqClient> quindel = sequencerClient("Quindel");
        return quindel ? quindel->connectedFrom : std::vector<std::string>{"no Quindel client"};
    };
    const auto amber = [&] {
        return rootPixel(display.display(), at->x + kDisplayX, at->y + kDisplayY) == 0xFFC000u;
    };
    std::vector<double> lossMs, returnMs;
    int padsAddress = first->number, keysAddress = -1;
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        const Clock::time_point killed = Clock::now();
        pads.reset();
        ASSERT_TRUE(waitFor(amber, 30000)) << "the loss is not shown";
        lossMs.push_back(ms(Clock::now() - killed));
        EXPECT_EQ(connections(), std::vector<std::string>{});
        // Pads comes back under another address: the lowest free address goes to the first
        // client to come, so the other controller comes first when Pads had the lower one, and
        // then stands at Pads's address and place while Pads is away.
        keys.reset();
        const bool keysFirst = keysAddress < 0 || padsAddress < keysAddress;
        if (keysFirst) {
            keys.emplace("Keys");
            ASSERT_TRUE(keys->ready());
        }
        pads.emplace("Pads");
        ASSERT_TRUE(pads->ready());
        const Clock::time_point back = Clock::now();
        if (!keysFirst) {
            keys.emplace("Keys");
            ASSERT_TRUE(keys->ready());
        }
        const int now = sequencerClient("Pads")->number;
        keysAddress = sequencerClient("Keys")->number;
        EXPECT_NE(now, padsAddress) << "Pads came back under the same address";
        padsAddress = now;
        const std::vector<std::string> padsOnly{std::to_string(now) + ":0"};
        std::vector<std::string> other;
        ASSERT_TRUE(waitFor(
            [&] {
                const std::vector<std::string> c = connections();
                if (!c.empty() && c != padsOnly)
                    other = c;
                return c == padsOnly;
            },
            30000))
            << "Pads is not reopened";
        returnMs.push_back(ms(Clock::now() - back));
        EXPECT_EQ(other, std::vector<std::string>{}) << "another device was opened";
        expectClicks("tap after the return", tap, 1);
        EXPECT_FALSE(amber());
    }
    std::cout << "loss shown after (ms):";
    for (double t : lossMs)
        std::cout << ' ' << static_cast<int>(t);
    std::cout << "\ninput back after (ms):";
    for (double t : returnMs)
        std::cout << ' ' << static_cast<int>(t);
    std::cout << std::endl;
    close();
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--controller")
        return runController(argv[2]);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
