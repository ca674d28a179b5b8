#include "platform/wayland/MutterRemoteDesktop.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

namespace quindel {

namespace {

constexpr const char* kMutterDisplayConfig = "org.gnome.Mutter.DisplayConfig";
constexpr const char* kRemoteDesktop = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kRemoteDesktopSession = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr const char* kScreenCast = "org.gnome.Mutter.ScreenCast";
constexpr const char* kScreenCastSession = "org.gnome.Mutter.ScreenCast.Session";
// DisplayConfig's "layout-mode": logical monitors measured in logical pixels, each monitor's
// stream in physical ones (its logical size times its scale).
constexpr uint32_t kLayoutModeLogical = 1;
// Opening waits this long at most for each answer; a hung Mutter must not hang the program.
constexpr uint64_t kCallTimeoutMicroseconds = 5'000'000;

// A bus error or a failed sd-bus call as one line of text.
std::string describe(const sd_bus_error& error, int result) {
    if (sd_bus_error_is_set(&error))
        return std::string(error.name) + ": " + (error.message ? error.message : "");
    return std::strerror(result < 0 ? -result : result);
}

// The size of a monitor's current mode, in physical pixels.
struct ModeSize {
    int width = 0, height = 0;
};

// A logical monitor: its place in the layout, its scale and turn, and its first connector.
struct LogicalMonitor {
    MutterRemoteDesktop::Monitor monitor;
    double scale = 1;
    uint32_t transform = 0;
};

// Reads a{sv} and calls `wanted` for each key, which reads the variant or returns 0 to skip it.
template <typename Read> int readProperties(sd_bus_message* m, Read wanted) {
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    if (r < 0)
        return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        if ((r = sd_bus_message_read(m, "s", &key)) < 0)
            return r;
        if ((r = wanted(key)) < 0)
            return r;
        if (r == 0 && (r = sd_bus_message_skip(m, "v")) < 0)
            return r;
        if ((r = sd_bus_message_exit_container(m)) < 0)
            return r;
    }
    return r < 0 ? r : sd_bus_message_exit_container(m);
}

// One mode of a monitor, (siiddada{sv}): its size, and whether it is the one in use.
int readMode(sd_bus_message* m, ModeSize* size, bool* current) {
    const char* id = nullptr;
    double refresh = 0, preferredScale = 0;
    int r = sd_bus_message_read(m, "siidd", &id, &size->width, &size->height, &refresh,
                                &preferredScale);
    if (r < 0 || (r = sd_bus_message_skip(m, "ad")) < 0)
        return r;
    return readProperties(m, [&](const char* key) {
        if (std::strcmp(key, "is-current") != 0)
            return 0;
        int value = 0;
        const int read = sd_bus_message_read(m, "v", "b", &value);
        *current = value != 0;
        return read < 0 ? read : 1;
    });
}

// One monitor, ((ssss)a(siiddada{sv})a{sv}): its connector and the size of its current mode,
// kept in `current` by connector (a monitor that is off has none).
int readMonitor(sd_bus_message* m, std::map<std::string, ModeSize>* current) {
    const char *connector, *vendor, *product, *serial;
    int r = sd_bus_message_read(m, "(ssss)", &connector, &vendor, &product, &serial);
    if (r < 0 || (r = sd_bus_message_enter_container(m, 'a', "(siiddada{sv})")) < 0)
        return r;
    while ((r = sd_bus_message_enter_container(m, 'r', "siiddada{sv}")) > 0) {
        ModeSize size;
        bool inUse = false;
        if ((r = readMode(m, &size, &inUse)) < 0 || (r = sd_bus_message_exit_container(m)) < 0)
            return r;
        if (inUse)
            (*current)[connector] = size;
    }
    if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0)
        return r;
    return sd_bus_message_skip(m, "a{sv}");
}

// The monitors, a((ssss)a(siiddada{sv})a{sv}): the current mode's size of each, by connector.
int readMonitors(sd_bus_message* m, std::map<std::string, ModeSize>* current) {
    int r = sd_bus_message_enter_container(m, 'a', "((ssss)a(siiddada{sv})a{sv})");
    if (r < 0)
        return r;
    while ((r = sd_bus_message_enter_container(m, 'r', "(ssss)a(siiddada{sv})a{sv}")) > 0)
        if ((r = readMonitor(m, current)) < 0 || (r = sd_bus_message_exit_container(m)) < 0)
            return r;
    return r < 0 ? r : sd_bus_message_exit_container(m);
}

// One logical monitor, (iiduba(ssss)a{sv}): its place, scale, turn and first connector.
int readLogicalMonitor(sd_bus_message* m, LogicalMonitor* logical) {
    int primary = 0;
    int r = sd_bus_message_read(m, "iidub", &logical->monitor.x, &logical->monitor.y,
                                &logical->scale, &logical->transform, &primary);
    if (r < 0 || (r = sd_bus_message_enter_container(m, 'a', "(ssss)")) < 0)
        return r;
    const char *connector, *vendor, *product, *serial;
    while ((r = sd_bus_message_read(m, "(ssss)", &connector, &vendor, &product, &serial)) > 0)
        if (logical->monitor.connector.empty())
            logical->monitor.connector = connector;
    if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0)
        return r;
    return sd_bus_message_skip(m, "a{sv}");
}

// The logical monitors, a(iiduba(ssss)a{sv}).
int readLogicalMonitors(sd_bus_message* m, std::vector<LogicalMonitor>* logical) {
    int r = sd_bus_message_enter_container(m, 'a', "(iiduba(ssss)a{sv})");
    if (r < 0)
        return r;
    while ((r = sd_bus_message_enter_container(m, 'r', "iiduba(ssss)a{sv}")) > 0) {
        LogicalMonitor& one = logical->emplace_back();
        if ((r = readLogicalMonitor(m, &one)) < 0 || (r = sd_bus_message_exit_container(m)) < 0)
            return r;
    }
    return r < 0 ? r : sd_bus_message_exit_container(m);
}

// The logical monitors with the size of their connector's current mode, in the pixels of the
// layout mode; those whose connector has no current mode are left out.
std::vector<MutterRemoteDesktop::Monitor>
placeMonitors(const std::vector<LogicalMonitor>& logical,
              const std::map<std::string, ModeSize>& current, uint32_t layoutMode) {
    std::vector<MutterRemoteDesktop::Monitor> placed;
    for (const LogicalMonitor& l : logical) {
        auto mode = current.find(l.monitor.connector);
        if (mode == current.end())
            continue;
        // Transforms 1, 3, 5 and 7 turn the monitor by 90 or 270 degrees.
        const bool turned = l.transform % 2 == 1;
        const int width = turned ? mode->second.height : mode->second.width;
        const int height = turned ? mode->second.width : mode->second.height;
        // In the logical layout mode the layout counts logical pixels and the stream physical
        // ones; in the physical mode both count physical pixels, and a logical pixel of a
        // monitor at scale 2 spans two of them.
        const bool logicalMode = layoutMode == kLayoutModeLogical;
        const double scale = logicalMode ? l.scale : 1.0;
        MutterRemoteDesktop::Monitor& monitor = placed.emplace_back(l.monitor);
        monitor.width = static_cast<int>(std::lround(width / scale));
        monitor.height = static_cast<int>(std::lround(height / scale));
        monitor.streamScale = scale;
        monitor.layoutScale = logicalMode ? 1.0 : l.scale;
    }
    return placed;
}

} // namespace

std::optional<std::vector<MutterRemoteDesktop::Monitor>> readMutterMonitors(sd_bus_message* reply,
                                                                            std::string* whyNot) {
    const auto failed = [&](const char* part, int r) {
        *whyNot = std::string(part) + " could not be read (" + std::strerror(-r) + ")";
        return std::nullopt;
    };
    uint32_t serial = 0;
    int r = sd_bus_message_read(reply, "u", &serial);
    if (r < 0)
        return failed("the configuration's serial", r);
    std::map<std::string, ModeSize> current;
    if ((r = readMonitors(reply, &current)) < 0)
        return failed("the monitors", r);
    std::vector<LogicalMonitor> logical;
    if ((r = readLogicalMonitors(reply, &logical)) < 0)
        return failed("the logical monitors", r);
    uint32_t layoutMode = 0;
    r = readProperties(reply, [&](const char* key) {
        if (std::strcmp(key, "layout-mode") != 0)
            return 0;
        const int read = sd_bus_message_read(reply, "v", "u", &layoutMode);
        return read < 0 ? read : 1;
    });
    if (r < 0)
        return failed("the layout's properties", r);
    return placeMonitors(logical, current, layoutMode);
}

// What Mutter sends back: sd-bus calls these from processEvents().
struct BusCallbacks {
    // Mutter ended the session, or left the bus (it then sends no Closed), or the monitors
    // changed (the streams and places known no longer match them): the next motion opens a new
    // session.
    static int closed(sd_bus_message*, void* self, sd_bus_error*) {
        static_cast<MutterRemoteDesktop*>(self)->sessionClosed_ = true;
        return 0;
    }
};

MutterRemoteDesktop::~MutterRemoteDesktop() {
    close();
}

void MutterRemoteDesktop::close() {
    closedSlot_ = sd_bus_slot_unref(closedSlot_);
    ownerSlot_ = sd_bus_slot_unref(ownerSlot_);
    monitorsSlot_ = sd_bus_slot_unref(monitorsSlot_);
    // Mutter ends the sessions of a peer that leaves the bus; the replies still on their way
    // go with the connection, so none of them reaches a later session.
    if (bus_)
        bus_ = sd_bus_flush_close_unref(bus_);
    remoteSession_.clear();
    screenCastSession_.clear();
    monitors_.clear();
    sessionClosed_ = true;
}

bool MutterRemoteDesktop::open(std::string* whyNot) {
    close();
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    auto giveUp = [&](std::string why) {
        *whyNot = std::move(why);
        sd_bus_error_free(&error);
        reply = sd_bus_message_unref(reply);
        close();
        return false;
    };
    auto fail = [&](const std::string& what, int r) {
        return giveUp(what + " (" + describe(error, r) + ")");
    };
    auto call = [&](const char* destination, const char* path, const char* interface,
                    const char* member, const char* types, auto... args) {
        reply = sd_bus_message_unref(reply);
        return sd_bus_call_method(bus_, destination, path, interface, member, &error, &reply, types,
                                  args...);
    };

    int r = sd_bus_open_user(&bus_);
    if (r < 0)
        return fail("There is no session bus", r);
    sd_bus_set_method_call_timeout(bus_, kCallTimeoutMicroseconds);

    r = call(kMutterDisplayConfig, "/org/gnome/Mutter/DisplayConfig", kMutterDisplayConfig,
             "GetCurrentState", "");
    if (r < 0)
        return fail("GNOME's Mutter does not answer on the session bus", r);
    std::string unread;
    std::optional<std::vector<Monitor>> monitors = readMutterMonitors(reply, &unread);
    if (!monitors)
        return giveUp("Mutter's list of monitors is not as expected: " + unread);
    monitors_ = std::move(*monitors);
    if (monitors_.empty())
        return fail("Mutter reports no monitor", -ENODEV);

    const char* path = nullptr;
    r = call(kRemoteDesktop, "/org/gnome/Mutter/RemoteDesktop", kRemoteDesktop, "CreateSession",
             "");
    if (r < 0 || (r = sd_bus_message_read(reply, "o", &path)) < 0)
        return fail("Mutter refused a remote desktop session", r);
    remoteSession_ = path;

    char* sessionId = nullptr;
    r = sd_bus_get_property_string(bus_, kRemoteDesktop, remoteSession_.c_str(),
                                   kRemoteDesktopSession, "SessionId", &error, &sessionId);
    if (r < 0)
        return fail("The remote desktop session has no id", r);
    std::string id = sessionId;
    free(sessionId);

    r = call(kScreenCast, "/org/gnome/Mutter/ScreenCast", kScreenCast, "CreateSession", "a{sv}", 1,
             "remote-desktop-session-id", "s", id.c_str());
    if (r < 0 || (r = sd_bus_message_read(reply, "o", &path)) < 0)
        return fail("Mutter refused a screen cast session", r);
    screenCastSession_ = path;

    // Absolute motion is given relative to a stream, so each monitor gets one.
    for (Monitor& monitor : monitors_) {
        r = call(kScreenCast, screenCastSession_.c_str(), kScreenCastSession, "RecordMonitor",
                 "sa{sv}", monitor.connector.c_str(), 0);
        if (r < 0 || (r = sd_bus_message_read(reply, "o", &path)) < 0)
            return fail("Mutter refused to record monitor " + monitor.connector, r);
        monitor.stream = path;
    }

    r = sd_bus_match_signal(bus_, &closedSlot_, kRemoteDesktop, remoteSession_.c_str(),
                            kRemoteDesktopSession, "Closed", &BusCallbacks::closed, this);
    if (r >= 0) {
        std::string rule = std::string("type='signal',sender='org.freedesktop.DBus',"
                                       "member='NameOwnerChanged',arg0='") +
                           kRemoteDesktop + "'";
        r = sd_bus_add_match(bus_, &ownerSlot_, rule.c_str(), &BusCallbacks::closed, this);
    }
    if (r >= 0)
        r = sd_bus_match_signal(bus_, &monitorsSlot_, kMutterDisplayConfig,
                                "/org/gnome/Mutter/DisplayConfig", kMutterDisplayConfig,
                                "MonitorsChanged", &BusCallbacks::closed, this);
    if (r < 0)
        return fail("Mutter's session end cannot be watched", r);

    // Starting the remote desktop session starts its screen cast too, which fails without
    // PipeWire.
    r = call(kRemoteDesktop, remoteSession_.c_str(), kRemoteDesktopSession, "Start", "");
    if (r < 0)
        return fail("Mutter could not start the remote desktop session (is PipeWire running?)", r);
    reply = sd_bus_message_unref(reply);
    sessionClosed_ = false;
    ++sessionsOpened_;
    error_.clear();

    // Mutter drops the first event of a new session: spend it on a motion by nothing, which
    // leaves the pointer where it is, and wait until Mutter has handled it.
    r = call(kRemoteDesktop, remoteSession_.c_str(), kRemoteDesktopSession,
             "NotifyPointerMotionRelative", "dd", 0.0, 0.0);
    if (r < 0)
        return fail("Mutter refused pointer motion", r);
    reply = sd_bus_message_unref(reply);
    return true;
}

int MutterRemoteDesktop::eventSource() const {
    return bus_ ? sd_bus_get_fd(bus_) : -1;
}

void MutterRemoteDesktop::processEvents() {
    if (!bus_)
        return;
    int r;
    while ((r = sd_bus_process(bus_, nullptr)) > 0) {
    }
    if (r < 0)
        sessionClosed_ = true; // the connection is lost
}

bool MutterRemoteDesktop::reopenIfClosed() {
    processEvents();
    if (!sessionClosed_)
        return true;
    std::string whyNot;
    if (open(&whyNot))
        return true;
    error_ = "The GNOME remote desktop session ended and could not be opened again: " + whyNot;
    return false;
}

// Sends one event without asking for a reply: Mutter's answer would only say "done", and a
// session that went away is seen by its Closed signal instead.
template <typename... Args>
bool MutterRemoteDesktop::notify(const char* member, const char* types, Args... args) {
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_method_call(bus_, &m, kRemoteDesktop, remoteSession_.c_str(),
                                           kRemoteDesktopSession, member);
    if (r >= 0)
        r = sd_bus_message_append(m, types, args...);
    if (r >= 0)
        r = sd_bus_message_set_expect_reply(m, 0);
    if (r >= 0)
        r = sd_bus_send(bus_, m, nullptr);
    sd_bus_message_unref(m);
    if (r < 0)
        sessionClosed_ = true;
    return r >= 0;
}

bool MutterRemoteDesktop::moveTo(int x, int y) {
    if (!reopenIfClosed())
        return false;
    // The monitor that holds the point, else the nearest one, where the point is kept on it as
    // the pointer itself would be.
    const Monitor* best = nullptr;
    long bestDistance = 0;
    for (const Monitor& m : monitors_) {
        long dx = x < m.x ? m.x - x : x >= m.x + m.width ? x - (m.x + m.width - 1) : 0;
        long dy = y < m.y ? m.y - y : y >= m.y + m.height ? y - (m.y + m.height - 1) : 0;
        long distance = dx * dx + dy * dy;
        if (!best || distance < bestDistance) {
            best = &m;
            bestDistance = distance;
        }
    }
    double streamX = std::clamp(x - best->x, 0, best->width - 1) * best->streamScale;
    double streamY = std::clamp(y - best->y, 0, best->height - 1) * best->streamScale;
    return notify("NotifyPointerMotionAbsolute", "sdd", best->stream.c_str(), streamX, streamY);
}

std::optional<LayoutBox> MutterRemoteDesktop::space() {
    if (!reopenIfClosed() || monitors_.empty())
        return std::nullopt;
    int left = monitors_.front().x, top = monitors_.front().y;
    int right = left, bottom = top;
    for (const Monitor& m : monitors_) {
        left = std::min(left, m.x), top = std::min(top, m.y);
        right = std::max(right, m.x + m.width), bottom = std::max(bottom, m.y + m.height);
    }
    return LayoutBox{left, top, right - left, bottom - top};
}

std::optional<ScreenPoint> MutterRemoteDesktop::pointOnOutput(const std::string& output, double x,
                                                              double y) {
    if (!reopenIfClosed())
        return std::nullopt;
    for (const Monitor& m : monitors_) {
        if (m.connector != output)
            continue;
        const auto along = [](double v, double scale, int extent) {
            return std::clamp(static_cast<int>(std::floor(v * scale)), 0, extent - 1);
        };
        return ScreenPoint{m.x + along(x, m.layoutScale, m.width),
                           m.y + along(y, m.layoutScale, m.height)};
    }
    return std::nullopt;
}

bool MutterRemoteDesktop::button(int evdevButton, bool pressed) {
    if (!bus_ || sessionClosed_)
        return false;
    return notify("NotifyPointerButton", "ib", evdevButton, static_cast<int>(pressed));
}

bool MutterRemoteDesktop::flush() {
    if (bus_ && sd_bus_flush(bus_) < 0)
        sessionClosed_ = true;
    processEvents();
    return bus_ && !sessionClosed_;
}

void MutterRemoteDesktop::stopSessionForTest() {
    if (bus_ && !remoteSession_.empty())
        sd_bus_call_method(bus_, kRemoteDesktop, remoteSession_.c_str(), kRemoteDesktopSession,
                           "Stop", nullptr, nullptr, "");
}

std::unique_ptr<PointerInjector> openMutterRemoteDesktop(std::string* whyNot) {
    std::unique_ptr<MutterRemoteDesktop> injector(new MutterRemoteDesktop);
    if (!injector->open(whyNot))
        return nullptr;
    return injector;
}

} // namespace quindel
