#include "engine/RuntimeState.h"
#include "midi/PortControl.h"
#include "support/FakeMidiInput.h"

#include <gtest/gtest.h>

using quindel::RuntimeState;
using quindel::test::FakeMidiInput;
using Writes = std::vector<std::string>;

namespace {

// A port that ignores its first close, as a port that still reports open after closing.
struct StickyMidiInput : FakeMidiInput {
    int closesToIgnore = 0;
    void portCommand(int16_t command) override {
        if (command == quindel::kPortClose && closesToIgnore-- > 0)
            return writes.push_back("portCommand 2");
        FakeMidiInput::portCommand(command);
    }
};

TEST(PortControl, OpenWritesInOrderAndClosesAnOpenPortFirst) {
    const Writes open{"deviceIndex 1", "portCommand 1", "portCommand 4", "statusFilter 254 1",
                      "notifyEnabled 1"};
    for (int sticky : {0, 1}) {
        RuntimeState state;
        state.setInputDevice(2);
        StickyMidiInput midi;
        EXPECT_EQ(quindel::openMidiInput(state, midi), 1);
        EXPECT_EQ(midi.writes, open);

        midi.writes.clear();
        midi.closesToIgnore = sticky;
        EXPECT_EQ(quindel::openMidiInput(state, midi), 1);
        Writes expected{"portCommand 5", "portCommand 2"};
        if (sticky)
            expected.push_back("portCommand 2"); // still open: closed once more
        expected.insert(expected.end(), open.begin(), open.end());
        EXPECT_EQ(midi.writes, expected);
        EXPECT_TRUE(midi.delivering);
    }
}

TEST(PortControl, NoDeviceOrMissingDeviceLeavesThePortClosed) {
    RuntimeState state;
    FakeMidiInput midi;
    midi.state = 1;
    EXPECT_EQ(quindel::openMidiInput(state, midi), 1); // device 0: closes, opens nothing
    EXPECT_EQ(midi.writes, (Writes{"portCommand 5", "portCommand 2"}));

    midi.writes.clear();
    state.setInputDevice(3); // the fake lists two devices
    EXPECT_EQ(quindel::openMidiInput(state, midi), 0);
    EXPECT_EQ(midi.openState(), 0);
    EXPECT_EQ(midi.writes,
              (Writes{"deviceIndex 2", "portCommand 1", "portCommand 4", "statusFilter 254 1"}));
}

TEST(PortControl, CloseWritesOnlyWhenOpen) {
    FakeMidiInput midi;
    quindel::closeMidiInput(midi);
    EXPECT_TRUE(midi.writes.empty());
    midi.state = 1;
    quindel::closeMidiInput(midi);
    EXPECT_EQ(midi.writes, (Writes{"portCommand 5", "portCommand 2"}));
    EXPECT_EQ(midi.openState(), 0);
}

} // namespace
