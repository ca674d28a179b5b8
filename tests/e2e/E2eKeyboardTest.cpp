// The installed program on a virtual display, driven with real XTest clicks and key presses;
// its clicks land in a recorder window of the test at the points of the group.
#include "e2e/E2eHarness.h"

#include <X11/keysym.h>

#include <gtest/gtest.h>

using namespace quindel::e2e;

namespace {

// Points of the three actions, inside the recorder window (800, 500, 450 x 450).
constexpr int kIntroX = 900, kIntroY = 600;
constexpr int kVerseX = 1100, kVerseY = 600;
constexpr int kSoloX = 1000, kSoloY = 850;

QByteArray showGroup() {
    return "[main]\r\nnome=show\r\n" + nextPrevSections("78", "80") +
           actionSection(1, "65", 1, kIntroX, kIntroY, 1, "Intro") +
           actionSection(2, "66", 1, kVerseX, kVerseY, 2, "Verse") +
           actionSection(3, "67", 1, kSoloX, kSoloY, 0, "Solo");
}

bool allAt(const std::vector<RecordedClick>& clicks, int x, int y) {
    for (const RecordedClick& c : clicks)
        if (c.x != x || c.y != y || c.button != 1)
            return false;
    return !clicks.empty();
}

class E2eKeyboard : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(display.ok()) << "no X display with XTest";
        std::string log;
        ASSERT_TRUE(program.install(&log)) << log;
    }
    // Starts the program and gives its window's top-left corner.
    QPoint launch() {
        EXPECT_TRUE(program.start());
        const auto where = program.waitForWindow(display);
        EXPECT_TRUE(where.has_value()) << "the main window did not appear";
        QThread::msleep(300); // let it finish its first paint
        return where ? QPoint(where->x, where->y) : QPoint();
    }
    void closeWithX(QPoint window) {
        display.click(window.x() + kCloseX, window.y() + kCloseY);
        ASSERT_TRUE(program.waitForExit(15000)) << "the program did not end after X";
        EXPECT_FALSE(program.crashed());
        EXPECT_EQ(program.exitCode(), 0);
    }

    Desktop display;
    InstalledProgram program;
};

TEST_F(E2eKeyboard, KeysAndSequenceClickTheStoredPointsAndCloseSavesTheLanguage) {
    program.write("quindel.ini", "[generale]\r\nlingua= 1\r\nfont=1\r\n[midi config]\r\n"
                                 "midi input= 99\r\n[file tasti]\r\nnomefile=gruppo-show.ini\r\n");
    program.write("gruppo-show.ini", showGroup());
    ClickRecorder recorder(800, 500, 450, 450);
    const QPoint window = launch();

    display.click(window.x() + kFlagX, window.y() + kFlagY); // to English
    QThread::msleep(300);
    display.click(window.x() + kStartX, window.y() + kStartY);
    QThread::msleep(300);
    recorder.settle(200);
    EXPECT_TRUE(recorder.clicks.empty()) << "clicks before any trigger";

    // A held key clicks on every tick while it is down.
    display.keyDown(XK_a);
    QThread::msleep(650);
    display.keyUp(XK_a);
    recorder.settle(300);
    EXPECT_GE(recorder.clicks.size(), 3u);
    EXPECT_TRUE(allAt(recorder.clicks, kIntroX, kIntroY));

    // A tap shorter than a tick clicks once.
    recorder.clicks.clear();
    display.tap(XK_b);
    ASSERT_TRUE(recorder.waitForClicks(1, 3000)) << "a zero-length tap gave no click";
    recorder.settle(400);
    ASSERT_EQ(recorder.clicks.size(), 1u);
    EXPECT_TRUE(allAt(recorder.clicks, kVerseX, kVerseY));

    // next, next, next (wraps to step 1), prev (wraps back to the last step).
    const struct {
        KeySym key;
        int x, y;
    } steps[] = {{XK_n, kIntroX, kIntroY},
                 {XK_n, kVerseX, kVerseY},
                 {XK_n, kIntroX, kIntroY},
                 {XK_p, kVerseX, kVerseY}};
    for (const auto& step : steps) {
        recorder.clicks.clear();
        display.tap(step.key);
        ASSERT_TRUE(recorder.waitForClicks(1, 3000));
        recorder.settle(300);
        EXPECT_EQ(recorder.clicks.size(), 1u);
        EXPECT_TRUE(allAt(recorder.clicks, step.x, step.y));
    }

    const QByteArray group = program.read("gruppo-show.ini");
    closeWithX(window);
    const QByteArray ini = program.read("quindel.ini");
    EXPECT_TRUE(ini.contains("lingua= 2")) << ini.constData();
    EXPECT_TRUE(ini.contains("midi input= 99")) << ini.constData();
    EXPECT_TRUE(ini.contains("nomefile=gruppo-show.ini")) << ini.constData();
    EXPECT_EQ(program.read("gruppo-show.ini"), group);
}

TEST_F(E2eKeyboard, StoppedProgramDoesNotClick) {
    program.write("quindel.ini", "[midi config]\r\nmidi input= 99\r\n[file tasti]\r\n"
                                 "nomefile=gruppo-show.ini\r\n");
    program.write("gruppo-show.ini", showGroup());
    ClickRecorder recorder(800, 500, 450, 450);
    const QPoint window = launch();
    display.tap(XK_a);
    display.tap(XK_n);
    recorder.settle(600);
    EXPECT_TRUE(recorder.clicks.empty());
    closeWithX(window);
}

TEST_F(E2eKeyboard, FirstRunAsksForAnInputAndLeavesAnItalianSettingsFile) {
    const QPoint window = launch();
    display.click(window.x() + kStartX, window.y() + kStartY);
    std::optional<XRectangle> box;
    EXPECT_TRUE(waitFor(
        [&] {
            box = display.findWindow("Quindel");
            return box.has_value();
        },
        10000))
        << "no message box after Start without an input";
    if (box) {
        display.keyDown(XK_Return);
        display.keyUp(XK_Return);
        EXPECT_TRUE(waitFor([&] { return !display.findWindow("Quindel"); }, 10000));
    }
    EXPECT_TRUE(
        opensAndEscapeCloses(display, window + QPoint(kAssegnaX, kAssegnaY), "Assegna azioni"))
        << "Assegna tasti did not open the editor";
    closeWithX(window);
    const QByteArray ini = program.read("quindel.ini");
    EXPECT_TRUE(ini.contains("lingua= 1")) << ini.constData();
    EXPECT_TRUE(ini.contains("font=1")) << ini.constData();
}

} // namespace
