#include "engine/RuntimeState.h"
#include "midi/PortControl.h"
#include "MidiTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <cstdlib>
#include <sys/wait.h>

using quindel::MIDIInput;
using quindel::RuntimeState;
using quindel::test::JackSender;
using quindel::test::ReportedError;
using quindel::test::runEventsUntil;

namespace {

// Runs alone in its executable: the JACK server is gone afterwards. SIGTERM rather than
// SIGKILL, because a killed server leaves its entry in JACK's machine-wide server registry.
TEST(MIDIInputServerLoss, StoppedJackServerClosesThePortsAndReports) {
    const char* pidText = std::getenv("QUINDEL_TEST_JACK_PID");
    ASSERT_NE(pidText, nullptr) << "run under with-services.sh --jack";
    const pid_t server = static_cast<pid_t>(std::atoi(pidText));

    // The main window's control and a capture dialog's control, both open on one device.
    auto sender = std::make_unique<JackSender>("doomed");
    MIDIInput mainInput(1);
    MIDIInput dialogInput(2);
    std::vector<ReportedError> mainErrors;
    std::vector<ReportedError> dialogErrors;
    mainInput.errorReported = [&](int code, const std::string& text) {
        mainErrors.push_back({code, text});
    };
    dialogInput.errorReported = [&](int code, const std::string& text) {
        dialogErrors.push_back({code, text});
    };
    RuntimeState state;
    const int16_t index = sender->indexIn(mainInput);
    ASSERT_GE(index, 0);
    state.setInputDevice(static_cast<int16_t>(index + 1));
    ASSERT_EQ(quindel::openMidiInput(state, mainInput), 1);
    ASSERT_EQ(quindel::openMidiInput(state, dialogInput), 1);

    ASSERT_EQ(kill(server, SIGTERM), 0);
    ASSERT_TRUE(runEventsUntil([&] { return !mainErrors.empty() && !dialogErrors.empty(); }));
    EXPECT_EQ(mainErrors[0].code, MIDIInput::kDeviceLost);
    EXPECT_NE(mainErrors[0].text.find("doomed"), std::string::npos) << mainErrors[0].text;
    EXPECT_NE(mainErrors[0].text.find("non è più disponibile"), std::string::npos);
    EXPECT_EQ(dialogErrors[0].code, MIDIInput::kDeviceLost);
    EXPECT_NE(dialogErrors[0].text.find("no longer available"), std::string::npos);
    EXPECT_EQ(mainInput.openState(), 0);
    EXPECT_EQ(dialogInput.openState(), 0);

    // The sender's own client is the test's; it goes before anything opens a new JACK client.
    sender.reset();
    // Without a server no JACK port is listed, opening fails quietly, and a control that
    // enumerates does not pull the other's clients from under it.
    EXPECT_EQ(mainInput.deviceCount(), 0);
    quindel::openMidiInput(state, mainInput);
    EXPECT_EQ(mainInput.openState(), 0);
    EXPECT_EQ(dialogInput.deviceCount(), 0);
    quindel::closeMidiInput(dialogInput);

    // The semaphores of clients whose server went away stay behind in /dev/shm; remove this
    // server's, which nobody else can use.
    const char* serverName = std::getenv("JACK_DEFAULT_SERVER");
    if (serverName && *serverName) {
        const std::string marker = std::string("_") + serverName + "_";
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("jack_sem.", 0) == 0 && name.find(marker) != std::string::npos)
                std::filesystem::remove(entry.path(), error);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
