#include "engine/RuntimeState.h"
#include "midi/PortControl.h"
#include "MidiTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

using quindel::MIDIInput;
using quindel::test::ReportedError;
using quindel::test::runEventsUntil;

namespace {

// Everything written to standard error while body runs.
std::string stderrOf(const std::function<void()>& body) {
    char path[] = "/tmp/quindel-midi-stderr-XXXXXX";
    const int file = mkstemp(path);
    EXPECT_GE(file, 0);
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(file, STDERR_FILENO);
    body();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(file);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::remove(path);
    return text.str();
}

TEST(MIDIInputNoServer, MissingBackEndsAreLeftOutQuietly) {
    // A server name that nobody runs: the JACK back end is not available.
    setenv("JACK_DEFAULT_SERVER", "quindel-test-no-such-server", 1);
    const bool alsa = access("/dev/snd/seq", R_OK | W_OK) == 0;

    std::vector<ReportedError> errors;
    int16_t count = -1;
    int16_t state = -1;
    std::unique_ptr<MIDIInput> input;
    const std::string noise = stderrOf([&] {
        input = std::make_unique<MIDIInput>(2);
        input->errorReported = [&](int code, const std::string& text) {
            errors.push_back({code, text});
        };
        count = input->deviceCount();
        quindel::RuntimeState runtime;
        runtime.setInputDevice(static_cast<int16_t>(count + 1));
        quindel::openMidiInput(runtime, *input);
        state = input->openState();
        input->deviceIndex(count);
        EXPECT_EQ(input->deviceName(), "");
        input.reset();
    });
    EXPECT_EQ(noise, "");
    if (!alsa) {
        EXPECT_EQ(count, 0);
    }
    EXPECT_EQ(state, 0);
}

TEST(MIDIInputNoServer, OpeningWithoutDevicesReportsThroughTheEventLoop) {
    setenv("JACK_DEFAULT_SERVER", "quindel-test-no-such-server", 1);
    MIDIInput input(1);
    std::vector<ReportedError> errors;
    input.errorReported = [&](int code, const std::string& text) {
        errors.push_back({code, text});
    };
    input.deviceIndex(input.deviceCount());
    input.portCommand(quindel::kPortOpen);
    input.portCommand(quindel::kPortStart);
    EXPECT_TRUE(errors.empty()) << "errors are raised from the event loop, not inside the call";
    EXPECT_EQ(input.openState(), 0);
    ASSERT_TRUE(runEventsUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors[0].code, MIDIInput::kNoSuchDevice);
    EXPECT_NE(errors[0].text.find("non è presente"), std::string::npos) << errors[0].text;
    // A closed control holds nothing to read.
    EXPECT_EQ(input.pendingCount(), 0);
    EXPECT_EQ(input.messageStatus(), 0);
    EXPECT_EQ(input.systemData(), "");
    input.portCommand(quindel::kPortDropHead);
    input.portCommand(quindel::kPortClose);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
