#include "engine/RuntimeState.h"
#include "midi/PortControl.h"
#include "support/FakeMidiInput.h"

#include <gtest/gtest.h>

using quindel::RuntimeState;
using quindel::test::FakeMidiInput;
using Writes = std::vector<std::string>;

namespace {

const Writes kOpenWrites{"deviceIndex 1", "portCommand 1", "portCommand 4", "statusFilter 254 1",
                         "notifyEnabled 1"};

TEST(PortControl, OpensTheChosenDeviceInOrder) {
    RuntimeState state;
    state.setInputDevice(2);
    FakeMidiInput midi;
    EXPECT_EQ(quindel::openMidiInput(state, midi), 1);
    EXPECT_EQ(midi.writes, kOpenWrites);
    EXPECT_EQ(midi.openState(), 1);
    EXPECT_TRUE(midi.delivering);
}

TEST(PortControl, StopsAndClosesAnOpenPortBeforeOpening) {
    RuntimeState state;
    state.setInputDevice(2);
    FakeMidiInput midi;
    midi.state = 1;
    EXPECT_EQ(quindel::openMidiInput(state, midi), 1);
    Writes expected{"portCommand 5", "portCommand 2"};
    expected.insert(expected.end(), kOpenWrites.begin(), kOpenWrites.end());
    EXPECT_EQ(midi.writes, expected);
}

// A control whose port still reports open after stop and close is closed once more.
class StickyMidiInput : public FakeMidiInput {
  public:
    int closesToIgnore = 1;
    void portCommand(int16_t command) override {
        if (command == quindel::kPortClose && closesToIgnore-- > 0) {
            writes.push_back("portCommand 2");
            return;
        }
        FakeMidiInput::portCommand(command);
    }
};

TEST(PortControl, ClosesAgainAPortThatStillReportsOpen) {
    RuntimeState state;
    state.setInputDevice(1);
    StickyMidiInput midi;
    midi.state = 1;
    EXPECT_EQ(quindel::openMidiInput(state, midi), 1);
    EXPECT_EQ(midi.writes,
              (Writes{"portCommand 5", "portCommand 2", "portCommand 2", "deviceIndex 0",
                      "portCommand 1", "portCommand 4", "statusFilter 254 1", "notifyEnabled 1"}));
}

TEST(PortControl, NoDeviceClosesAndOpensNothing) {
    RuntimeState state;
    state.setInputDevice(quindel::kNoInputDevice);
    FakeMidiInput midi;
    midi.state = 1;
    EXPECT_EQ(quindel::openMidiInput(state, midi), 1);
    EXPECT_EQ(midi.writes, (Writes{"portCommand 5", "portCommand 2"}));
    EXPECT_EQ(midi.openState(), 0);
}

TEST(PortControl, DeviceThatIsGoneLeavesThePortClosed) {
    RuntimeState state;
    state.setInputDevice(3); // the fake lists two devices
    FakeMidiInput midi;
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
