#pragma once

#include "midi/MIDIInput.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <RtMidi.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quindel::test {

// Runs the event loop until done() holds or a generous time has passed; returns done(). The
// limit only keeps a broken build from hanging: nothing is measured against it.
inline bool runEventsUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// A JACK MIDI output port that the control under test can list and open.
class JackSender {
  public:
    explicit JackSender(const std::string& port)
        : out_(std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "Quindel test sender")),
          name_("Quindel test sender:" + port) {
        out_->openVirtualPort(port);
    }
    void send(std::vector<unsigned char> bytes) { out_->sendMessage(&bytes); }
    void close() { out_.reset(); }

    // This port's index in control's device list, or -1.
    int16_t indexIn(MidiInputControl& control) const {
        const int16_t count = control.deviceCount();
        for (int16_t i = 0; i < count; ++i) {
            control.deviceIndex(i);
            if (control.deviceName() == name_)
                return i;
        }
        return -1;
    }

  private:
    std::unique_ptr<RtMidiOut> out_;
    std::string name_;
};

struct ReportedError {
    int code;
    std::string text;
};

} // namespace quindel::test
