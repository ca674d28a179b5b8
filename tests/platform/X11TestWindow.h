#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <poll.h>

#include <optional>

namespace quindel::test {

// The test's own connection to the X display, with a window over the whole screen that
// reports button presses and releases.
class X11TestDisplay {
  public:
    Display* display = XOpenDisplay(nullptr);
    Window window = 0;
    int width = 0;
    int height = 0;

    X11TestDisplay() {
        if (display == nullptr)
            return;
        width = DisplayWidth(display, DefaultScreen(display));
        height = DisplayHeight(display, DefaultScreen(display));
    }
    ~X11TestDisplay() {
        if (display != nullptr)
            XCloseDisplay(display);
    }
    X11TestDisplay(const X11TestDisplay&) = delete;
    X11TestDisplay& operator=(const X11TestDisplay&) = delete;

    // Maps a borderless window at (0, 0) the size of the screen and waits until it is shown.
    bool openFullscreenWindow() {
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.event_mask = ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
        window =
            XCreateWindow(display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(width),
                          static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                          CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
        XMapRaised(display, window);
        XEvent event;
        return nextEvent(MapNotify, event);
    }

    // Waits up to five seconds for the next event of the given type, skipping others.
    bool nextEvent(int type, XEvent& event) {
        for (;;) {
            while (XPending(display) > 0) {
                XNextEvent(display, &event);
                if (event.type == type)
                    return true;
            }
            pollfd fd{ConnectionNumber(display), POLLIN, 0};
            if (poll(&fd, 1, 5000) <= 0)
                return false;
        }
    }

    // Presses or releases the key that carries the keysym; false when no key carries it.
    bool fakeKey(KeySym keysym, bool press) {
        const KeyCode keycode = XKeysymToKeycode(display, keysym);
        if (keycode == 0)
            return false;
        XTestFakeKeyEvent(display, keycode, press ? True : False, CurrentTime);
        XSync(display, False);
        return true;
    }
};

} // namespace quindel::test
