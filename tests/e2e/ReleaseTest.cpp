// The program that the Debian package installed (/usr/bin/quindel), run by release-check.sh in
// a clean root of a Debian release under that release's X server or one of its Wayland
// compositors. It starts with a group whose one MIDI command clicks a point, Start is pressed
// with the desktop's own input, and `quindel --trigger CODE`, as a desktop's key binding runs
// it, must click that exact point once each time. (MIDI as the input: on Wayland, where keys
// cannot be watched, the first Start with the keyboard as input shows a message first. The
// device is not there, which Start shows and runs anyway.) On Wayland the probe client covers
// the outputs and reports every press; on X11 a window of its own records them.
#include "e2e/WaylandSession.h"

#include "core/storage/UserFilesFolder.h"

#include <gtest/gtest.h>

#include <QDir>

#include <cstdlib>
#include <iostream>

using namespace quindel::e2e;

namespace {

constexpr int kTriggers = 20;
constexpr int kPointX = 300, kPointY = 200;
const char* const kProgram = "/usr/bin/quindel";

// The MIDI command that clicks the point (note 60 on, channel 1), as the desktop's binding
// hands it on.
bool trigger() {
    return QProcess::execute(kProgram, {"--trigger", "3C90"}) == 0;
}

TEST(InstalledPackage, TriggerCommandsClickTheExactPointEveryTime) {
    // The user's files where the installed program keeps them: its folder is read-only.
    const QString files = QString::fromStdString(
        quindel::perUserFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")));
    ASSERT_TRUE(QDir().mkpath(files));
    InstalledProgram folder;
    folder.useFolder(files);
    folder.write("quindel.ini", "[generale]\r\nlingua= 2\r\n[midi config]\r\nmidi input= 1\r\n"
                                "[file tasti]\r\nnomefile=gruppo.ini\r\n");
    folder.write("gruppo.ini", "[main]\r\nnome=release\r\n" +
                                   actionSection(1, "3C90", 2, kPointX, kPointY, 0, "point"));
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.setWorkingDirectory("/");
    program.start(kProgram, {});
    ASSERT_TRUE(program.waitForStarted(10000));
    const std::shared_ptr<void> end(nullptr, [&](void*) {
        program.terminate();
        if (!program.waitForFinished(10000))
            program.kill(), program.waitForFinished(5000);
    });

    int exact = 0;
    const std::string expected =
        "press " + std::to_string(kPointX) + " " + std::to_string(kPointY) + " 272";
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY")) {
        allowFakeInput(); // under KWin, for this test's own pointer; the package brings its entry
        quindel::WaylandPlatform pointer;
        ASSERT_TRUE(pointer.canClick()) << "this test cannot click: " << pointer.errorText();
        const auto probe = startRunning(pointer, [] { trigger(); });
        ASSERT_TRUE(probe) << "Start did not start the program, or its clicks reach nobody";
        for (int i = 0; i < kTriggers; ++i) {
            EXPECT_TRUE(trigger()) << "trigger " << i << " was not taken";
            const std::string press = probe->next("press", 3000);
            EXPECT_EQ(press, expected) << "trigger " << i;
            const std::string second = probe->next("press", 150);
            EXPECT_EQ(second, "") << "trigger " << i << " clicked twice";
            exact += press == expected && second.empty();
        }
    } else {
        Desktop display;
        ASSERT_TRUE(display.ok()) << "no X display with XTest";
        std::optional<XRectangle> at;
        ASSERT_TRUE(waitFor(
            [&] { return bool(at = display.where(display.findClient(kMainTitle))); }, 20000))
            << "the program did not show its window";
        QThread::msleep(300); // its first paint
        display.click(at->x + kStartX, at->y + kStartY);
        QThread::msleep(300);
        const Screen* screen = DefaultScreenOfDisplay(display.display());
        ClickRecorder recorder(0, 0, screen->width, screen->height);
        // A first click shows that it runs (the window may take a moment to take Start).
        for (int attempt = 0; attempt < 10 && recorder.clicks.empty(); ++attempt)
            trigger(), recorder.collect(1, 1000, 0);
        ASSERT_FALSE(recorder.clicks.empty())
            << "Start did not start the program, or its clicks reach nobody";
        for (int i = 0; i < kTriggers; ++i) {
            recorder.collect(0, 0, 150);
            recorder.clicks.clear();
            EXPECT_TRUE(trigger()) << "trigger " << i << " was not taken";
            recorder.collect(1, 3000, 150);
            const bool one = recorder.clicks.size() == 1;
            EXPECT_TRUE(one) << "trigger " << i << ": " << recorder.clicks.size() << " clicks";
            for (const auto& c : recorder.clicks)
                EXPECT_TRUE(c.x == kPointX && c.y == kPointY && c.button == 1)
                    << "trigger " << i << " clicked " << c.x << "," << c.y << " button "
                    << c.button;
            exact += one && recorder.clicks[0].x == kPointX && recorder.clicks[0].y == kPointY &&
                     recorder.clicks[0].button == 1;
        }
    }
    // release-check.sh puts this line in its table.
    std::cout << "exact clicks: " << exact << " of " << kTriggers << std::endl;
    EXPECT_EQ(exact, kTriggers);
}

} // namespace
