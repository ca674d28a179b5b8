#pragma once

// The installed program in a Wayland session that with-services.sh started: a probe client
// (support/WaylandProbe.h) that reports where presses land, and this process's own pointer,
// which presses the program's Start button.

#include "e2e/E2eHarness.h"
#include "e2e/MidiController.h"

#include "core/engine/PointerOutput.h"
#include "platform/wayland/WaylandPlatform.h"
#include "support/WaylandProbe.h"

#include <QDir>
#include <QFileInfo>

#include <functional>
#include <memory>

namespace quindel::e2e {

// Under KWin: the desktop entries that let a program send input, in the folder the compositor
// reads (elsewhere nothing): this test's own, and the installed program's entry as it was
// installed, when given (a system-wide install brings its own).
inline void allowFakeInput(const QString& installedEntry = {}) {
    const QString folder = qEnvironmentVariable("QUINDEL_TEST_APPLICATIONS");
    if (folder.isEmpty())
        return;
    if (!installedEntry.isEmpty())
        QFile::copy(installedEntry, folder + "/quindel.desktop");
    QFile self(folder + "/quindel-test.desktop");
    if (self.open(QIODevice::WriteOnly))
        self.write("[Desktop Entry]\nType=Application\nName=Quindel test\nExec=" +
                   QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath().toUtf8() +
                   "\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n");
}

// Presses Start (the session places the window at the layout's top left, or in the middle of
// the area QUINDEL_TEST_CENTERED_IN names, WIDTHxHEIGHT from the top left), runs afterStart
// (which may answer a message that Start shows), and shows the probe, which then covers the
// window, until trigger makes a press. The probe, or null when the program never started.
inline std::unique_ptr<WaylandProbe> startRunning(Platform& pointer,
                                                  const std::function<void()>& trigger,
                                                  const std::function<void()>& afterStart = {}) {
    int x = kStartX, y = kStartY;
    int areaWidth = 0, areaHeight = 0;
    if (std::sscanf(qgetenv("QUINDEL_TEST_CENTERED_IN").constData(), "%dx%d", &areaWidth,
                    &areaHeight) == 2)
        x += (areaWidth - kWindowWidth) / 2, y += (areaHeight - kWindowHeight) / 2;
    for (int attempt = 0; attempt < 20; ++attempt) {
        QThread::msleep(500); // the window may not be shown yet
        movePointerTo(pointer, x, y);
        clickPointer(pointer, 0);
        QThread::msleep(300);
        if (afterStart)
            afterStart(), QThread::msleep(300);
        auto probe = std::make_unique<WaylandProbe>(QUINDEL_WAYLAND_PROBE);
        if (probe->next("ready", 10000).empty())
            return nullptr;
        QThread::msleep(300);
        trigger();
        if (!probe->next("press", 1500).empty())
            return probe;
    }
    return nullptr;
}

// The same with a tap of note as the trigger.
inline std::unique_ptr<WaylandProbe> startRunning(Platform& pointer, JackController& midi,
                                                  unsigned char note) {
    return startRunning(pointer, [&] { midi.send({0x90, note, 100}), midi.send({0x80, note, 0}); });
}

} // namespace quindel::e2e
