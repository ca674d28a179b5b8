#pragma once

// The ALSA sequencer of the virtual machine (support/linux-guest.sh) as tests see it: the raw
// port of a "Virtual Raw MIDI" card, which plays a controller, and the clients and connections
// the kernel shows in /proc/asound/seq/clients.

#include "midi/RtMidiInput.h"

#include <QRegularExpression>
#include <QString>

#include <X11/Xlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace quindel::e2e {

// /dev/snd/midiC0D<n>: bytes written there arrive as events of "Virtual Raw MIDI 0-<n>".
class VirMidiPort {
  public:
    explicit VirMidiPort(int n)
        : fd_(::open(("/dev/snd/midiC0D" + std::to_string(n)).c_str(), O_WRONLY)) {}
    ~VirMidiPort() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    VirMidiPort(const VirMidiPort&) = delete;
    VirMidiPort& operator=(const VirMidiPort&) = delete;
    bool ok() const { return fd_ >= 0; }
    void send(const std::vector<unsigned char>& message) {
        [[maybe_unused]] const ssize_t written = ::write(fd_, message.data(), message.size());
    }

  private:
    int fd_;
};

// A sequencer client: its number, and the addresses ("128:0") its ports receive from.
struct SeqClient {
    int number = -1;
    std::vector<std::string> connectedFrom;
};

// The client named name, as the kernel lists it now.
inline std::optional<SeqClient> sequencerClient(const std::string& name) {
    static const QRegularExpression client(R"re(^Client +(\d+) : "(.*)" )re");
    static const QRegularExpression address(R"((\d+:\d+))");
    std::ifstream in("/proc/asound/seq/clients");
    std::optional<SeqClient> found;
    bool inside = false;
    for (std::string text; std::getline(in, text);) {
        const QString line = QString::fromStdString(text);
        if (const auto m = client.match(line); m.hasMatch()) {
            if (found)
                break;
            inside = m.captured(2).toStdString() == name;
            if (inside)
                found = SeqClient{m.captured(1).toInt(), {}};
        } else if (inside && line.contains("Connected From:")) {
            for (auto it = address.globalMatch(line.mid(line.indexOf("From:"))); it.hasNext();)
                found->connectedFrom.push_back(it.next().captured(1).toStdString());
        }
    }
    return found;
}

// The program's number for the first device whose name begins with prefix; 0 when none.
inline int deviceNumber(const std::string& prefix) {
    quindel::RtMidiInput probe;
    for (int16_t i = 0; i < probe.deviceCount(); ++i) {
        probe.deviceIndex(i);
        if (probe.deviceName().starts_with(prefix))
            return i + 1;
    }
    return 0;
}

// The colour (0xRRGGBB) of a pixel of the root window.
inline unsigned long rootPixel(::Display* display, int x, int y) {
    XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return 0;
    // XGetPixel and XDestroyImage are these, as macros of Xutil.h.
    const unsigned long pixel = image->f.get_pixel(image, 0, 0);
    image->f.destroy_image(image);
    return pixel & 0xFFFFFFu;
}

} // namespace quindel::e2e
