#pragma once

// The installed program in a Wayland session that with-services.sh started: a probe client
// (tests/support/wayland-probe.c) that reports where presses land, and this process's own
// pointer, which presses the program's Start button.

#include "e2e/E2eHarness.h"
#include "e2e/MidiController.h"

#include "core/engine/PointerOutput.h"
#include "platform/wayland/WaylandPlatform.h"

#include <QDir>
#include <QFileInfo>

#include <memory>

namespace quindel::e2e {

// The probe: one window per output, which reports each press with where and when it landed.
class WaylandProbe {
  public:
    struct Press {
        int x = 0, y = 0;
        unsigned button = 0;
        Clock::time_point at;
    };
    // Starts it; true once it shows a window on every output.
    bool start() {
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc_.start(QUINDEL_WAYLAND_PROBE, {});
        while (proc_.waitForReadyRead(10000))
            while (proc_.canReadLine())
                if (proc_.readLine().startsWith("ready"))
                    return true;
        return false;
    }
    // Takes presses until least have arrived in all, waitMs at most.
    void collect(size_t least, int waitMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            Press p;
            long long micros = 0; // of CLOCK_MONOTONIC, the steady clock's own
            while (proc_.canReadLine())
                if (std::sscanf(proc_.readLine().constData(), "press %d %d %u %lld", &p.x, &p.y,
                                &p.button, &micros) == 4)
                    p.at = Clock::time_point(std::chrono::microseconds(micros)),
                    presses.push_back(p);
            if (presses.size() >= least || Clock::now() >= end)
                return;
            proc_.waitForReadyRead(5);
        }
    }
    ~WaylandProbe() {
        proc_.kill();
        proc_.waitForFinished(5000);
    }

    std::vector<Press> presses;

  private:
    QProcess proc_;
};

// Under KWin: the desktop entries that let a program send input, in the folder the compositor
// reads (elsewhere nothing). The installed program's own entry goes there as it was installed.
inline void allowFakeInput(const QString& installedEntry) {
    const QString folder = qEnvironmentVariable("QUINDEL_TEST_APPLICATIONS");
    if (folder.isEmpty())
        return;
    QFile::copy(installedEntry, folder + "/quindel.desktop");
    QFile self(folder + "/quindel-test.desktop");
    if (self.open(QIODevice::WriteOnly))
        self.write("[Desktop Entry]\nType=Application\nName=Quindel test\nExec=" +
                   QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath().toUtf8() +
                   "\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n");
}

// Presses Start (the session places the window at the layout's top left, or in the middle of
// the area QUINDEL_TEST_CENTERED_IN names, WIDTHxHEIGHT from the top left) and shows the probe,
// which then covers the window, until a tap of note makes a press. The probe, or null when the
// program never started.
inline std::unique_ptr<WaylandProbe> startRunning(Platform& pointer, JackController& midi,
                                                  unsigned char note) {
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
        auto probe = std::make_unique<WaylandProbe>();
        if (!probe->start())
            return nullptr;
        QThread::msleep(300);
        midi.send({0x90, note, 100}), midi.send({0x80, note, 0});
        probe->collect(1, 1500);
        if (!probe->presses.empty()) {
            probe->presses.clear();
            return probe;
        }
    }
    return nullptr;
}

} // namespace quindel::e2e
