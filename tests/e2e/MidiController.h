#pragma once

// A MIDI controller on the JACK server as the installed program sees it: a virtual output port
// "controller" of this process, and the program's device number for that port.

#include "midi/RtMidiInput.h"

#include <rtmidi/RtMidi.h>

#include <mutex>
#include <string>
#include <vector>

namespace quindel::e2e {

class JackController {
  public:
    // Throws RtMidiError when there is no JACK server.
    JackController() : out_(RtMidi::UNIX_JACK, "quindel-e2e") {
        out_.openVirtualPort("controller");
    }

    // The program numbers its devices by their index among the inputs + 1; 0 when not listed.
    int deviceNumber() const {
        quindel::RtMidiInput probe;
        for (int16_t i = 0; i < probe.deviceCount(); ++i) {
            probe.deviceIndex(i);
            if (probe.deviceName().find("controller") != std::string::npos)
                return i + 1;
        }
        return 0;
    }
    // The name the program lists the port under.
    static constexpr const char* kDeviceName = "quindel-e2e:controller";
    // Takes the port away and brings it back under the same name, as a cable pulled and
    // plugged in again.
    void unplug() { out_.closePort(); }
    void plug() { out_.openVirtualPort("controller"); }
    // Safe from several threads.
    void send(std::vector<unsigned char> message) {
        std::lock_guard lock(sending_);
        out_.sendMessage(&message);
    }

  private:
    RtMidiOut out_;
    std::mutex sending_;
};

} // namespace quindel::e2e
