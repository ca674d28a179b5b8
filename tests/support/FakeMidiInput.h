#pragma once

#include "core/midi/MidiInputControl.h"

#include <deque>
#include <string>
#include <vector>

namespace quindel::test {

// A MidiInputControl with a device list and a queue that the test fills. Every property write
// is logged in order ("portCommand 5", "deviceIndex 2", "notifyEnabled 1", "statusFilter 254 1"),
// so the write orders of port control can be checked. The port opens only on a listed device.
class FakeMidiInput : public MidiInputControl {
  public:
    using Message = MidiMessage;

    std::vector<std::string> devices{"Fake Keys", "Fake Pads"};
    std::deque<Message> queue;
    std::vector<std::string> writes;
    int16_t index = 0;
    int16_t state = 0; // openState
    int reads = 0;
    uint8_t language = 0; // of the error texts
    // A full queue: after every read of the head, the head is dropped and a new message queued
    // (the next of arrivals), as when a message comes in while no room is left.
    std::deque<Message> arrivals;
    bool fullQueue = false;

    void portCommand(int16_t command) override {
        writes.push_back("portCommand " + std::to_string(command));
        if (command == kPortOpen && listed())
            state = 1;
        else if (command == kPortClose)
            state = 0;
        else if (command == kPortDropHead && !queue.empty())
            queue.pop_front();
    }
    bool listed() const { return index >= 0 && index < static_cast<int16_t>(devices.size()); }
    std::string deviceName() override { return listed() ? devices[index] : ""; }
    int16_t pendingCount() override { return static_cast<int16_t>(queue.size()); }
    int16_t messageStatus() override { return ++reads, afterRead(head().status); }
    int16_t messageData1() override { return afterRead(head().data1); }
    int16_t messageData2() override { return afterRead(head().data2); }
    MidiMessage headMessage() override { return ++reads, afterRead(head()); }
    std::string systemData() override { return {}; }
    void notifyEnabled(bool enabled) override {
        writes.push_back(std::string("notifyEnabled ") + (enabled ? "1" : "0"));
    }
    int16_t deviceCount() override { return static_cast<int16_t>(devices.size()); }
    int16_t openState() override { return state; }
    void deviceIndex(int16_t i) override {
        writes.push_back("deviceIndex " + std::to_string(i));
        index = i;
    }
    void statusFilter(int16_t status, bool filtered) override {
        writes.push_back("statusFilter " + std::to_string(status) + " " + (filtered ? "1" : "0"));
    }
    void setLanguage(uint8_t languageIndex) override { language = languageIndex; }

    Message head() const { return queue.empty() ? Message{} : queue.front(); }
    template <typename T> T afterRead(T value) {
        if (fullQueue && !queue.empty() && !arrivals.empty()) {
            queue.pop_front();
            queue.push_back(arrivals.front());
            arrivals.pop_front();
        }
        return value;
    }

    // Queues a message and raises messagesArrived, as a delivering control would.
    void receive(int16_t status, int16_t data1, int16_t data2 = 0) {
        queue.push_back({status, data1, data2});
        if (messagesArrived)
            messagesArrived();
    }
};

} // namespace quindel::test
