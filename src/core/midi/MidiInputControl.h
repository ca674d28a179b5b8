#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quindel {

// portCommand values.
inline constexpr int16_t kPortOpen = 1;
inline constexpr int16_t kPortClose = 2;
inline constexpr int16_t kPortStart = 4;
inline constexpr int16_t kPortStop = 5;
inline constexpr int16_t kPortDropHead = 6;

// The head message of the queue, read as one: its status byte and both data bytes.
struct MidiMessage {
    int16_t status = 0;
    int16_t data1 = 0;
    int16_t data2 = 0;
};

// The MIDI input control: a device list, one input port and a queue of received messages.
// Operations carry the names of the control's properties; a property write is a method call
// with the value. Both events are raised on the user-interface thread.
class MidiInputControl {
  public:
    virtual ~MidiInputControl() = default;

    // 1 open device deviceIndex, 4 start delivering, 5 stop, 2 close, 6 drop the head message.
    virtual void portCommand(int16_t command) = 0;
    // Name of the device chosen by deviceIndex.
    virtual std::string deviceName() = 0;
    // Received messages still queued.
    virtual int16_t pendingCount() = 0;
    // Status byte, first and second data byte of the head message.
    virtual int16_t messageStatus() = 0;
    virtual int16_t messageData1() = 0;
    virtual int16_t messageData2() = 0;
    // The three of them at once. A control whose queue can change under the caller (messages
    // arrive on another thread, a full queue drops its head) gives them from one message.
    virtual MidiMessage headMessage() { return {messageStatus(), messageData1(), messageData2()}; }
    // Data of a system message at the head (empty for a channel message).
    virtual std::string systemData() = 0;
    // Delivery of messagesArrived on or off.
    virtual void notifyEnabled(bool enabled) = 0;
    // Number of input devices.
    virtual int16_t deviceCount() = 0;
    // 0 closed, 1 or more open.
    virtual int16_t openState() = 0;
    // Device number from 0, used by portCommand 1 and deviceName.
    virtual void deviceIndex(int16_t index) = 0;
    // true keeps messages with this status byte out of the queue.
    virtual void statusFilter(int16_t status, bool filtered) = 0;
    // The language of the texts passed to errorReported: 2 English, anything else Italian.
    virtual void setLanguage(uint8_t languageIndex) { (void)languageIndex; }

    // Events, called on the user-interface thread.
    std::function<void(int code, const std::string& text)> errorReported;
    std::function<void()> messagesArrived;
};

// Makes a fresh control (each window that takes MIDI has its own).
using MidiInputFactory = std::function<std::unique_ptr<MidiInputControl>()>;

} // namespace quindel
