#include "engine/RuntimeState.h"
#include "midi/PortControl.h"
#include "MidiTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

using quindel::MIDIInput;

namespace {

// Alone in its executable: the JACK server is gone afterwards. SIGTERM, because a killed
// server leaves its entry in JACK's machine-wide server registry.
TEST(MIDIInputServerLoss, StoppedJackServerClosesThePortsOfBothControlsAndReports) {
    const char* pid = std::getenv("QUINDEL_TEST_JACK_PID");
    ASSERT_NE(pid, nullptr) << "run under with-services.sh --jack";
    auto sender = std::make_unique<quindel::test::JackSender>("doomed");
    // The main window's control and a capture dialog's, open on the same device.
    MIDIInput controls[2]{MIDIInput(1), MIDIInput(2)};
    std::vector<std::string> texts[2];
    quindel::RuntimeState state;
    state.setInputDevice(static_cast<int16_t>(sender->indexIn(controls[0]) + 1));
    for (int i : {0, 1}) {
        controls[i].errorReported = [&texts, i](int code, const std::string& text) {
            if (code != MIDIInput::kInformation)
                texts[i].push_back(std::to_string(code) + " " + text);
        };
        ASSERT_EQ(quindel::openMidiInput(state, controls[i]), 1);
    }

    ASSERT_EQ(kill(std::atoi(pid), SIGTERM), 0);
    ASSERT_TRUE(
        quindel::test::runEventsUntil([&] { return !texts[0].empty() && !texts[1].empty(); }));
    EXPECT_NE(texts[0][0].find("3 La periferica MIDI d'ingresso \"Quindel test sender:doomed\""),
              std::string::npos)
        << texts[0][0];
    EXPECT_NE(texts[1][0].find("3 The MIDI input device"), std::string::npos) << texts[1][0];

    // The sender's client is the test's own; it goes before anything opens a new JACK client.
    sender.reset();
    for (auto& control : controls) {
        EXPECT_EQ(control.openState(), 0);
        EXPECT_EQ(control.deviceCount(), 0);
        EXPECT_EQ(quindel::openMidiInput(state, control), 0);
    }

    // Semaphores of clients whose server went away stay in /dev/shm; remove this server's.
    const std::string marker = std::string("_") + std::getenv("JACK_DEFAULT_SERVER") + "_";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("jack_sem.", 0) == 0 && name.find(marker) != std::string::npos)
            std::filesystem::remove(entry.path(), error);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
