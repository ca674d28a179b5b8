#pragma once

#include "platform/wayland/PointerInjector.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sd_bus;
struct sd_bus_message;
struct sd_bus_slot;

namespace quindel {

// Pointer input on GNOME through Mutter's remote desktop interface on the session bus. A remote
// desktop session is paired with a screen cast session that records every monitor: absolute
// motion is given relative to one of those monitor streams, which is why a running PipeWire is
// needed. The session is kept for the object's lifetime. When Mutter closes it, or the monitors
// change, reopenIfClosed() opens a new one; the calls that need the current monitors (moveTo,
// space, pointOnOutput) call it first. Only when that fails do they return false, with the reason
// in errorText().
//
// Calls do not wait for Mutter: each event is sent without a reply; flush() writes what the
// socket did not take at once. Mutter's signals (a closed session) are handled by
// processEvents(), which flush() and reopenIfClosed() call, or the owner's event loop when
// eventSource() becomes readable.
class MutterRemoteDesktop : public PointerInjector {
  public:
    ~MutterRemoteDesktop() override;
    MutterRemoteDesktop(const MutterRemoteDesktop&) = delete;
    MutterRemoteDesktop& operator=(const MutterRemoteDesktop&) = delete;

    bool moveTo(int x, int y) override;
    bool button(int evdevButton, bool pressed) override;
    // Writes what is pending and handles what Mutter sent. False when the connection failed or
    // the session is found closed: the events just written may then never be handled. It opens
    // no new session; reopenIfClosed() does.
    bool flush() override;
    // Mutter's layout: in logical pixels, or in physical ones (its default layout mode, where a
    // monitor at scale 2 spans twice its logical size).
    std::optional<LayoutBox> space() override;
    std::optional<ScreenPoint> pointOnOutput(const std::string& output, double x,
                                             double y) override;

    // The bus connection's descriptor: readable when Mutter sent something. -1 without a bus;
    // a new session comes with a new connection, so ask again after a motion.
    int eventSource() const;
    // Handles every reply and signal that has arrived, without waiting.
    void processEvents();
    // Handles what Mutter sent and, when it closed the session, opens a new one: about eight
    // calls that wait for Mutter. False, with the reason in errorText(), when none can be had.
    bool reopenIfClosed();

    // Why the session is gone and could not be opened again; empty while it works.
    const std::string& errorText() const { return error_; }

    // Where each recorded monitor lies in Mutter's layout, in the pixels of its layout mode.
    struct Monitor {
        std::string connector;
        std::string stream; // the screen cast stream's object path
        int x = 0, y = 0, width = 0, height = 0;
        double streamScale = 1.0; // stream pixels per layout pixel
        double layoutScale = 1.0; // layout pixels per logical pixel of the monitor
    };
    const std::vector<Monitor>& monitors() const { return monitors_; }
    // False once Mutter ended the session (seen by processEvents) until it is opened again.
    bool sessionOpen() const { return !sessionClosed_; }
    // Sessions opened so far; a reopened session counts again (for tests).
    int sessionsOpened() const { return sessionsOpened_; }
    // Asks Mutter to close the current session, as it does when it ends one itself (for tests).
    void stopSessionForTest();

  private:
    friend std::unique_ptr<PointerInjector> openMutterRemoteDesktop(std::string* whyNot);
    MutterRemoteDesktop() = default;

    bool open(std::string* whyNot);
    void close();
    template <typename... Args> bool notify(const char* member, const char* types, Args... args);
    friend struct BusCallbacks;

    sd_bus* bus_ = nullptr;
    sd_bus_slot* closedSlot_ = nullptr;
    sd_bus_slot* ownerSlot_ = nullptr;
    sd_bus_slot* monitorsSlot_ = nullptr;
    std::string remoteSession_;
    std::string screenCastSession_;
    std::vector<Monitor> monitors_;
    bool sessionClosed_ = true;
    int sessionsOpened_ = 0;
    std::string error_;
};

// The monitors of DisplayConfig's GetCurrentState reply, placed in Mutter's layout in the pixels of
// its layout mode (their streams not yet known). Nothing, with the part that could not be read in
// *whyNot, when the reply is not of the form Mutter sends.
std::optional<std::vector<MutterRemoteDesktop::Monitor>> readMutterMonitors(sd_bus_message* reply,
                                                                            std::string* whyNot);

// Opens a remote desktop session on the session bus's Mutter. Null when none can be had, with
// the reason in *whyNot (no session bus, no Mutter, no PipeWire for the streams, ...).
std::unique_ptr<PointerInjector> openMutterRemoteDesktop(std::string* whyNot);

} // namespace quindel
