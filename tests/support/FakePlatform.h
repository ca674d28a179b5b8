#pragma once

#include "platform/Platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quindel::test {

// A Platform that records every pointer event and answers key and pointer queries from
// values the test sets. Key state follows the real rules: a key that is down reads 0x8001 or
// 0x8000; a tap (pressed and released since the last query) reads 0x0001 once.
class FakePlatform : public Platform {
  public:
    struct Event {
        uint32_t flags;
        int32_t dx;
        int32_t dy;
        uint32_t data;
        uintptr_t extraInfo;
        bool operator==(const Event&) const = default;
    };

    std::vector<Event> events;
    ScreenSize size{1920, 1080};
    std::set<int> keysDown;
    std::set<int> tapped; // pressed since the last query of that key
    std::vector<int> queriedKeys;
    int keyPolls = 0;
    // Key presses reported as they happen, after reportKeyPresses: announce() queues one and
    // makes the pipe that the window watches readable.
    std::vector<int> announced;
    int pipeEnds[2] = {-1, -1};

    FakePlatform() = default;
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;
    ~FakePlatform() override {
        for (int end : {pipeEnds[0], pipeEnds[1], desktopEnds[0], desktopEnds[1]})
            if (end >= 0)
                close(end);
    }
    bool reportKeyPresses() { return pipe2(pipeEnds, O_NONBLOCK | O_CLOEXEC) == 0; }
    void announce(int vk) {
        announced.push_back(vk);
        [[maybe_unused]] const auto written = write(pipeEnds[1], "k", 1);
    }
    int keyEventSource() const override { return pipeEnds[0]; }
    std::vector<int> takeKeyPresses() override {
        char drained[64];
        while (pipeEnds[0] >= 0 && read(pipeEnds[0], drained, sizeof drained) > 0) {
        }
        return std::exchange(announced, {});
    }

    // What the desktop allows, and its connection: watchDesktop makes the pipe that the window
    // watches, loseDesktop makes it readable with the connection gone.
    bool clicks = true, keysWatched = true, desktopLost = false, clickFailure = false;
    bool xwayland = false;
    int desktopEnds[2] = {-1, -1};
    bool watchDesktop() { return pipe2(desktopEnds, O_NONBLOCK | O_CLOEXEC) == 0; }
    void loseDesktop() {
        desktopLost = true;
        [[maybe_unused]] const auto written = write(desktopEnds[1], "x", 1);
    }
    bool canClick() const override { return clicks; }
    bool onXWayland() const override { return xwayland; }
    bool canWatchKeys() const override { return keysWatched; }
    bool takeClickFailure() override { return std::exchange(clickFailure, false); }
    int desktopEventSource() const override { return desktopEnds[0]; }
    bool handleDesktopEvents() override { return !desktopLost; }

    bool available() const override { return true; }
    std::string errorText() const override { return {}; }
    void mouseEvent(uint32_t flags, int32_t dx, int32_t dy, uint32_t data,
                    uintptr_t extraInfo) override {
        events.push_back({flags, dx, dy, data, extraInfo});
    }
    ScreenSize screenSize() override { return size; }
    void beginKeyPoll() override { ++keyPolls; }
    int16_t asyncKeyState(int virtualKey) override {
        queriedKeys.push_back(virtualKey);
        return static_cast<int16_t>((keysDown.count(virtualKey) ? 0x8000 : 0) |
                                    (tapped.erase(virtualKey) ? 0x0001 : 0));
    }
    std::optional<ScreenPoint> cursorPos() override { return ScreenPoint{0, 0}; }
    // When set, a point capture ends with it before beginPointCapture returns, as a press that
    // came while the capture was being shown does; otherwise it waits for captureDone.
    std::optional<std::optional<ScreenPoint>> captureAtOnce;
    std::function<void(std::optional<ScreenPoint>)> captureDone;
    bool beginPointCapture(std::function<void(std::optional<ScreenPoint>)> done) override {
        if (captureAtOnce)
            done(*captureAtOnce);
        else
            captureDone = std::move(done);
        return true;
    }
    void cancelPointCapture() override { captureDone = nullptr; }
    int virtualKeyFromNative(uint32_t) override { return 0; }
    // Names a few keys: F5, Esc and the letters.
    std::string keyName(int vk) override {
        return vk == 116 ? "F5" : vk == 27 ? "Esc" : std::string(vk >= 'A' && vk <= 'Z', char(vk));
    }

    void press(int vk) { keysDown.insert(vk), tapped.insert(vk); }
    void release(int vk) { keysDown.erase(vk); }
    void tap(int vk) { tapped.insert(vk); }
    void setLeftButton(bool down) {
        down ? void(keysDown.insert(kVirtualKeyLeftButton)) : release(kVirtualKeyLeftButton);
    }
};

} // namespace quindel::test
