// A whole editing session through the real windows on a virtual display, with real XTest
// keys and clicks and the real platform backend: a group is created, two actions are added,
// a sequence and the next/prev keys are set and saved; then dispatch, started, goes to the
// stored points when those keys are pressed, so every captured code is one the poll fires on.
#include "EditorTestSupport.h"

#include "editor/frmAspettaTastoComputer.h"
#include "editor/frmAssegnazioni.h"
#include "engine/TriggerDispatch.h"
#include "platform/Platform.h"
#include "storage/GroupFiles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace quindel::test {
namespace {

class EditorEndToEndTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        ASSERT_NE(display = XOpenDisplay(nullptr), nullptr);
        platform = createPlatform();
        ASSERT_TRUE(platform->available()) << platform->errorText();
        state.setInputDevice(kKeyboardDevice);
    }
    void TearDown() override { XCloseDisplay(display); }

    // Lets events run until done() holds; a few seconds without it fail instead of hanging.
    bool processUntil(const std::function<bool()>& done) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }

    // Runs act once ready() holds, polling from the event loop without blocking it, so that
    // the modal windows further up can close.
    void whenReady(std::function<bool()> ready, std::function<void()> act, int tries = 250) {
        QTimer::singleShot(20, [=, this] {
            if (ready())
                act();
            else if (tries == 0)
                ADD_FAILURE() << "the awaited window or state never came";
            else
                whenReady(ready, act, tries - 1);
        });
    }
    template <typename T> void onModal(std::function<void(T*)> act) {
        whenReady([] { return qobject_cast<T*>(QApplication::activeModalWidget()) != nullptr; },
                  [act] { act(qobject_cast<T*>(QApplication::activeModalWidget())); });
    }

    void key(KeySym keysym, bool down) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, keysym), down, 0);
        XSync(display, False);
    }
    void button(bool down) {
        XTestFakeButtonEvent(display, 1, down, 0);
        XSync(display, False);
    }

    // The keyboard capture dialog, when it comes, takes a real key and is confirmed.
    void captureKey(KeySym keysym) {
        onModal<frmAspettaTastoComputer>([this, keysym](frmAspettaTastoComputer* dialog) {
            dialog->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
            key(keysym, true);
            key(keysym, false);
            EXPECT_TRUE(processUntil([&] { return !dialog->waitingForKey; }));
            QTest::mouseClick(dialog->cmdConferma, Qt::LeftButton);
        });
    }

    void addAction(frmAssegnazioni& editor, const char* description, KeySym keysym, QPoint at) {
        onModal<QInputDialog>([=, this, &editor](QInputDialog* input) {
            input->setTextValue(description);
            input->accept();
            captureKey(keysym);
            onModal<QMessageBox>([=, this, &editor](QMessageBox* box) {
                box->accept();
                whenReady([&editor] { return !editor.pointCaptured; },
                          [=, this] {
                              XTestFakeMotionEvent(display, -1, at.x(), at.y(), 0);
                              button(true);
                          });
            });
        });
        QTest::mouseClick(editor.cmdNuovoTasto, Qt::LeftButton);
        button(false);
    }

    // One started tick with the key held down; where it left the pointer.
    QPoint tickWithKey(KeySym keysym) {
        key(keysym, true);
        dispatchTick(state, *platform, view);
        key(keysym, false);
        const auto at = platform->cursorPos().value_or(ScreenPoint{-1, -1});
        return {at.x, at.y};
    }

    Display* display = nullptr;
    std::unique_ptr<Platform> platform;
    DispatchView view;
};

TEST_F(EditorEndToEndTest, EditedGroupDrivesTheClicks) {
    {
        frmAssegnazioni editor(state, *platform, nullptr);
        editor.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
        onModal<QInputDialog>([](QInputDialog* input) {
            input->setTextValue("Live");
            input->accept();
        });
        QTest::mouseClick(editor.cmdNuovo, Qt::LeftButton);
        ASSERT_EQ(state.groupFile, "gruppo-Live.ini");

        addAction(editor, "Intro", XK_a, QPoint(550, 350));
        addAction(editor, "Verse", XK_F1, QPoint(800, 620));
        QTest::mouseClick(editor.cmdTuttiVa, Qt::LeftButton);
        captureKey(XK_Shift_L);
        QTest::mouseClick(editor.cmdNext, Qt::LeftButton);
        captureKey(XK_p);
        QTest::mouseClick(editor.cmdAssegnaPrev, Qt::LeftButton);
        QTest::mouseClick(editor.cmdExit, Qt::LeftButton);
        EXPECT_EQ(editor.result(), QDialog::Accepted);
    }

    // Start from what a fresh load of the saved file gives.
    state.actionTable.clear();
    loadGroupFile(state);
    loadNextPrevTriggers(state);
    buildSequenceTable(state);
    ASSERT_EQ(state.sequenceTable.size(), 2u);
    EXPECT_EQ(state.sequenceTable[0].triggerCode + "," + state.sequenceTable[1].triggerCode + "," +
                  state.nextTriggerCode + "," + state.prevTriggerCode,
              "65,112,16,80");
    dispatchTick(state, *platform, view); // stopped: the poll only settles the key state
    state.currentStep = 0;
    state.isRunning = true;

    EXPECT_EQ(tickWithKey(XK_Shift_L), QPoint(550, 350)); // next: step 1
    EXPECT_EQ(view.lblDescrizione, "Intro");
    EXPECT_EQ(tickWithKey(XK_Shift_R), QPoint(800, 620)); // next (either Shift): step 2
    EXPECT_EQ(tickWithKey(XK_p), QPoint(550, 350));       // prev: step 1
    EXPECT_EQ(tickWithKey(XK_F1), QPoint(800, 620));      // an action's own key
}

} // namespace
} // namespace quindel::test
