// The captures on a real X display: real XTest input reaches the editor through the real
// platform backend.
#include "EditorTestSupport.h"

#include "editor/frmAspettaTastoComputer.h"
#include "editor/frmAssegnazioni.h"
#include "platform/Platform.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace quindel::test {
namespace {

class X11CaptureTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        platform = createPlatform();
        ASSERT_TRUE(platform->available()) << platform->errorText();
    }
    void TearDown() override {
        if (display)
            XCloseDisplay(display);
    }

    void pressKey(KeySym keysym) {
        const KeyCode code = XKeysymToKeycode(display, keysym);
        ASSERT_NE(code, 0);
        XTestFakeKeyEvent(display, code, True, 0);
        XTestFakeKeyEvent(display, code, False, 0);
        XSync(display, False);
    }

    // Lets events run until done() holds; gives up after a few seconds so that a key that
    // never arrives fails the test instead of hanging it.
    template <typename Done> bool processUntil(Done done) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }

    Display* display = nullptr;
    std::unique_ptr<Platform> platform;
};

TEST_F(X11CaptureTest, ClickPointIsWherePointerIsWhenTheButtonGoesDown) {
    frmAssegnazioni editor(state, *platform, nullptr);
    editor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
    QTimer::singleShot(200, [&] {
        XTestFakeMotionEvent(display, -1, 321, 234, 0);
        XTestFakeButtonEvent(display, 1, True, 0);
        XSync(display, False);
    });
    const bool taken = editor.captureClickPoint();
    XTestFakeButtonEvent(display, 1, False, 0);
    XSync(display, False);
    EXPECT_TRUE(taken);
    EXPECT_EQ(editor.capturedX, 321);
    EXPECT_EQ(editor.capturedY, 234);
}

TEST_F(X11CaptureTest, RealKeysGiveTheCodesTheKeyPollFiresOn) {
    frmAspettaTastoComputer dialog(state, *platform);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));

    const std::pair<KeySym, const char*> keys[] = {
        {XK_a, "65"}, {XK_F1, "112"}, {XK_Shift_L, "16"}, {XK_space, "32"}, {XK_Tab, "9"}};
    for (const auto& [keysym, expected] : keys) {
        SCOPED_TRACE(expected);
        dialog.cmdRipeti_Click();
        pressKey(keysym);
        ASSERT_TRUE(processUntil([&] { return !dialog.waitingForKey; }));
        EXPECT_EQ(dialog.capturedKeyText, expected);
    }
    dialog.cmdConferma_Click();
    EXPECT_EQ(state.capturedTriggerCode, "9");
}

} // namespace
} // namespace quindel::test
