#include "engine/RuntimeState.h"
#include "midi/PortControl.h"
#include "MidiTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

using quindel::MIDIInput;

namespace {

TEST(MIDIInputNoServer, MissingBackEndsAreLeftOutQuietlyAndOpeningReportsLater) {
    setenv("JACK_DEFAULT_SERVER", "quindel-test-no-such-server", 1);
    // Standard error goes to a file while the control looks for back ends and opens.
    char path[] = "/tmp/quindel-midi-stderr-XXXXXX";
    const int file = mkstemp(path);
    ASSERT_GE(file, 0);
    const int saved = dup(STDERR_FILENO);
    dup2(file, STDERR_FILENO);

    auto input = std::make_unique<MIDIInput>(1);
    std::vector<quindel::test::ReportedError> errors;
    input->errorReported = [&](int code, const std::string& text) {
        errors.push_back({code, text});
    };
    const int16_t count = input->deviceCount();
    quindel::RuntimeState state;
    state.setInputDevice(static_cast<int16_t>(count + 1));
    const int16_t result = quindel::openMidiInput(state, *input);
    const bool reportedInsideTheCall = !errors.empty();

    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(file);
    std::stringstream noise;
    noise << std::ifstream(path).rdbuf();
    std::remove(path);
    EXPECT_EQ(noise.str(), "");

    if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
        EXPECT_EQ(count, 0);
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(input->openState(), 0);
    EXPECT_EQ(input->pendingCount(), 0);
    EXPECT_FALSE(reportedInsideTheCall) << "errors must come from the event loop";
    ASSERT_TRUE(quindel::test::runEventsUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors[0].code, MIDIInput::kNoSuchDevice);
    EXPECT_NE(errors[0].text.find("non è presente"), std::string::npos) << errors[0].text;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
