// An editing session through the real windows with real X keys and clicks, then dispatch.
#include "EditorTestSupport.h"

#include "editor/frmAspettaTastoComputer.h"
#include "editor/frmAssegnazioni.h"
#include "engine/TriggerDispatch.h"
#include "platform/Platform.h"
#include "storage/GroupFiles.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <deque>

namespace quindel::test {
namespace {

class EditorEndToEndTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        ASSERT_NE(display.get(), nullptr);
        platform = createPlatform();
        ASSERT_TRUE(platform->available()) << platform->errorText();
        state.setInputDevice(kKeyboardDevice);
        // Runs the queued steps in order from the loops of the modal windows, each once ready.
        driver.callOnTimeout([this] {
            if (!steps.empty() && steps.front().first()) {
                const auto act = steps.front().second;
                steps.pop_front(), idle = 0;
                act();
            } else if (!steps.empty() && ++idle % 250 == 0) {
                QApplication::closeAllWindows(); // a step never ready fails, not hangs
            }
        });
        driver.start(20);
    }

    template <typename T> void onModal(std::function<void(T*)> act) {
        steps.push_back({[] { return qobject_cast<T*>(QApplication::activeModalWidget()); },
                         [act] { act(qobject_cast<T*>(QApplication::activeModalWidget())); }});
    }
    void key(KeySym keysym, bool down) {
        XTestFakeKeyEvent(display.get(), XKeysymToKeycode(display.get(), keysym), down, 0);
        XSync(display.get(), False);
    }
    void answer(const char* text) {
        onModal<QInputDialog>([text](QInputDialog* input) {
            input->setTextValue(text);
            input->accept();
        });
    }
    void captureKey(KeySym keysym) {
        onModal<frmAspettaTastoComputer>([this, keysym](frmAspettaTastoComputer* dialog) {
            EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
            key(keysym, true);
            key(keysym, false);
            EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog->waitingForKey; }));
            QTest::mouseClick(dialog->cmdConferma, Qt::LeftButton);
        });
    }
    void addAction(frmAssegnazioni& editor, const char* description, KeySym keysym, QPoint at) {
        answer(description);
        captureKey(keysym);
        onModal<QMessageBox>([](QMessageBox* box) { box->accept(); });
        steps.push_back({[&editor] { return !editor.pointCaptured; },
                         [this, at, &editor] {
                             XTestFakeMotionEvent(display.get(), -1, at.x(), at.y(), 0);
                             XSync(display.get(), False);
                             QTest::qWait(150); // a few polls: no point without the button
                             EXPECT_FALSE(editor.pointCaptured);
                             XTestFakeButtonEvent(display.get(), 1, True, 0);
                             XSync(display.get(), False);
                         }});
        QTest::mouseClick(editor.cmdNuovoTasto, Qt::LeftButton);
        XTestFakeButtonEvent(display.get(), 1, False, 0);
        XSync(display.get(), False);
    }
    QPoint tickWithKey(KeySym keysym) {
        key(keysym, true);
        dispatchTick(state, *platform, view);
        key(keysym, false);
        const auto at = platform->cursorPos().value_or(ScreenPoint{-1, -1});
        return {at.x, at.y};
    }

    std::unique_ptr<Display, int (*)(Display*)> display{XOpenDisplay(nullptr), XCloseDisplay};
    std::unique_ptr<Platform> platform;
    DispatchView view;
    QTimer driver;
    std::deque<std::pair<std::function<bool()>, std::function<void()>>> steps;
    int idle = 0;
};

TEST_F(EditorEndToEndTest, EditedGroupDrivesTheClicks) {
    {
        frmAssegnazioni editor(state, *platform, nullptr);
        editor.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
        answer("Live");
        QTest::mouseClick(editor.cmdNuovo, Qt::LeftButton);
        addAction(editor, "Intro", XK_a, QPoint(550, 350));
        addAction(editor, "Verse", XK_F1, QPoint(800, 620));
        QTest::mouseClick(editor.cmdTuttiVa, Qt::LeftButton);
        captureKey(XK_Shift_L);
        QTest::mouseClick(editor.cmdNext, Qt::LeftButton);
        captureKey(XK_p);
        QTest::mouseClick(editor.cmdAssegnaPrev, Qt::LeftButton);
        QTest::mouseClick(editor.cmdExit, Qt::LeftButton);
        EXPECT_TRUE(steps.empty());
    }

    loadGroupFile(state); // what a fresh load of the saved file gives

    loadNextPrevTriggers(state);
    buildSequenceTable(state);
    dispatchTick(state, *platform, view); // stopped: the poll only settles the key state
    state.currentStep = 0;
    state.isRunning = true;
    EXPECT_EQ(tickWithKey(XK_Shift_L), QPoint(550, 350)); // next: step 1
    EXPECT_EQ(tickWithKey(XK_Shift_R), QPoint(800, 620)); // next (either Shift): step 2
    EXPECT_EQ(tickWithKey(XK_p), QPoint(550, 350));       // prev: step 1
    EXPECT_EQ(tickWithKey(XK_F1), QPoint(800, 620));      // an action's own key
}

} // namespace
} // namespace quindel::test
