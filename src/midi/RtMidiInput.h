#pragma once

#include "core/midi/MidiInputControl.h"

#include <QObject>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QTimer;
class RtMidiIn;

namespace quindel {

// The MIDI input control of the program, built on RtMidi. Its device list holds the input ports
// of every MIDI back end that works when the list is made: the ALSA sequencer first, then JACK,
// without the ports of PipeWire's MIDI bridge that stand for listed ALSA ports.
// A back end that is not there (no /dev/snd/seq, no JACK server) is left out silently and looked
// for again at the next enumeration. RtMidi delivers messages on its own thread; they are queued
// here under a lock and announced on the thread that owns the control (the UI thread).
//
// Codes of errorReported (the text is in the control's language):
//   0 kInformation   nothing failed; a back end passed on a warning.
//   1 kNoSuchDevice  portCommand 1 named a device index that is not in the list.
//   2 kOpenFailed    the back end could not open the port of the chosen device.
//   3 kDeviceLost    the open device went away (unplugged, JACK server stopped); the port
//                    has been closed.
//   4 kDriverError   a back end reported an error while the port was in use.
//   8 kQueueOverflow more messages arrived than the queue holds; the oldest were dropped.
//                    Raised at most once per opening.
class RtMidiInput : public QObject, public MidiInputControl {
    Q_OBJECT

  public:
    static constexpr int kInformation = 0;
    static constexpr int kNoSuchDevice = 1;
    static constexpr int kOpenFailed = 2;
    static constexpr int kDeviceLost = 3;
    static constexpr int kDriverError = 4;
    static constexpr int kQueueOverflow = 8;

    // Messages kept at most; when full, the oldest message makes room for the newest.
    static constexpr std::size_t kQueueLimit = 4096;

    // languageIndex picks the language of the error texts: 2 English, anything else Italian.
    explicit RtMidiInput(uint8_t languageIndex = 0, QObject* parent = nullptr);
    ~RtMidiInput() override;
    RtMidiInput(const RtMidiInput&) = delete;
    RtMidiInput& operator=(const RtMidiInput&) = delete;

    void setLanguage(uint8_t languageIndex) override { languageIndex_.store(languageIndex); }

    void portCommand(int16_t command) override;
    std::string deviceName() override;
    int16_t pendingCount() override;
    int16_t messageStatus() override;
    int16_t messageData1() override;
    int16_t messageData2() override;
    MidiMessage headMessage() override;
    std::string systemData() override;
    void notifyEnabled(bool enabled) override;
    int16_t deviceCount() override;
    int16_t openState() override;
    void deviceIndex(int16_t index) override;
    void statusFilter(int16_t status, bool filtered) override;

    // Messages accepted into the queue, and messages dropped because it was full, since the
    // port was last opened. Safe to read from any thread.
    uint64_t receivedCount() const { return received_.load(); }
    uint64_t droppedCount() const { return dropped_.load(); }

  private:
    struct Message {
        uint8_t status = 0;
        uint8_t data1 = 0;
        uint8_t data2 = 0;
        std::string systemData;
    };
    struct Backend;
    struct Device {
        std::size_t backend = 0;
        unsigned port = 0;
        std::string name;
    };

    static void onMidiMessage(double timeStamp, std::vector<unsigned char>* bytes, void* self);
    friend struct MIDIInputErrors;
    void onRtMidiError(int type, const std::string& text);
    void enqueue(const std::vector<unsigned char>& bytes);
    void deliverNotification();
    void reportError(int code, const std::string& text);
    std::string errorText(int code, const std::string& detail) const;

    void dropGoneBackends();
    void updateBackends();
    void refreshDevices();
    bool backendHasPort(std::size_t backend, const std::string& name);
    void openPort();
    void closePort();
    void checkDevice();
    void loseDevice();

    std::atomic<uint8_t> languageIndex_;
    std::vector<std::unique_ptr<Backend>> backends_;
    std::vector<Device> devices_;
    int16_t index_ = 0;

    bool open_ = false;
    Backend* openBackend_ = nullptr;
    std::string openName_;
    bool opening_ = false;
    std::string openError_;
    QTimer* watchTimer_;

    // Shared with the RtMidi threads.
    std::mutex mutex_;
    std::deque<Message> queue_;
    // What happens to a message that arrives. From the opening of a port to its start the
    // connection is already made, so what the device sends then is kept for the start rather
    // than lost; after a stop (or with no port) it is dropped.
    enum class Intake { Drop, Hold, Deliver };
    Intake intake_ = Intake::Drop;
    bool overflowReported_ = false;
    std::array<std::atomic<bool>, 256> filtered_{};
    std::atomic<bool> notifyPending_{false};
    std::atomic<uint64_t> received_{0};
    std::atomic<uint64_t> dropped_{0};

    bool notifyEnabled_ = true;
};

} // namespace quindel
