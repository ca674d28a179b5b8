// A whole editing session through the real windows on a virtual display: a group is
// created, two actions are added with real keys and real clicks, a sequence and the
// next/prev keys are set, OK saves; then dispatch, started, clicks the stored points when
// the next/prev keys are pressed.
#include "EditorTestSupport.h"

#include "editor/frmAspettaTastoComputer.h"
#include "editor/frmAssegnazioni.h"
#include "engine/TriggerDispatch.h"
#include "platform/Platform.h"
#include "storage/GroupFiles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace quindel::test {
namespace {

// A window that records where it was pressed, in screen pixels.
class Target : public QWidget {
  public:
    std::vector<QPoint> presses;

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        presses.push_back(event->globalPosition().toPoint());
    }
};

class EditorEndToEndTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        platform = createPlatform();
        ASSERT_TRUE(platform->available()) << platform->errorText();
        state.setInputDevice(kKeyboardDevice);
        target.setWindowFlags(Qt::FramelessWindowHint);
        target.setGeometry(500, 300, 400, 400);
        target.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&target));
    }
    void TearDown() override {
        if (display)
            XCloseDisplay(display);
    }

    template <typename Done> bool processUntil(Done done) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }

    void key(KeySym keysym, bool down) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, keysym), down, 0);
        XSync(display, False);
    }

    // Runs act once ready() holds, polling from the event loop without blocking it, so that
    // modal windows further up can still close.
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

    // Runs act on the next modal window of type T once it is up (from inside its exec()).
    template <typename T> void onModal(std::function<void(T*)> act) {
        whenReady([] { return qobject_cast<T*>(QApplication::activeModalWidget()) != nullptr; },
                  [act] { act(qobject_cast<T*>(QApplication::activeModalWidget())); });
    }

    // The keyboard capture dialog takes a real key press and is confirmed.
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

    void addAction(frmAssegnazioni& editor, const QString& description, KeySym keysym,
                   QPoint point) {
        onModal<QInputDialog>([=, this, &editor](QInputDialog* input) {
            input->setTextValue(description);
            input->accept();
            captureKey(keysym);
            onModal<QMessageBox>([=, this, &editor](QMessageBox* box) {
                box->accept();
                // The real button goes down at the point once the capture waits for it.
                whenReady([&editor] { return !editor.pointCaptured; },
                          [=, this] {
                              XTestFakeMotionEvent(display, -1, point.x(), point.y(), 0);
                              XTestFakeButtonEvent(display, 1, True, 0);
                              XSync(display, False);
                          });
            });
        });
        QTest::mouseClick(editor.cmdNuovoTasto, Qt::LeftButton);
        XTestFakeButtonEvent(display, 1, False, 0);
        XSync(display, False);
    }

    // One started tick with the key held down; returns the press the click made, if any.
    std::optional<QPoint> tickWithKey(KeySym keysym) {
        target.presses.clear();
        key(keysym, true);
        dispatchTick(state, *platform, view);
        key(keysym, false);
        if (!processUntil([&] { return !target.presses.empty(); }))
            return std::nullopt;
        return target.presses.front();
    }

    Display* display = nullptr;
    std::unique_ptr<Platform> platform;
    Target target;
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
        addAction(editor, "Verse", XK_b, QPoint(800, 620));
        ASSERT_EQ(state.actionTable.size(), 2u);
        EXPECT_EQ(state.actionTable[0].triggerCode, "65");
        EXPECT_EQ(state.actionTable[1].clickX, 800);
        EXPECT_EQ(state.actionTable[1].clickY, 620);

        QTest::mouseClick(editor.cmdTuttiVa, Qt::LeftButton);
        captureKey(XK_n);
        QTest::mouseClick(editor.cmdNext, Qt::LeftButton);
        captureKey(XK_p);
        QTest::mouseClick(editor.cmdAssegnaPrev, Qt::LeftButton);
        EXPECT_EQ(editor.lblNext->text(), "78");
        EXPECT_EQ(editor.lblPrev->text(), "80");
        QTest::mouseClick(editor.cmdExit, Qt::LeftButton);
        EXPECT_EQ(editor.result(), QDialog::Accepted);
    }

    // What was saved is what a fresh load gives back.
    RuntimeState loaded;
    loaded.programFolder = state.programFolder;
    bindSettingsIni(loaded);
    loaded.groupFile = state.groupFile;
    loadGroupFile(loaded);
    loadNextPrevTriggers(loaded);
    buildSequenceTable(loaded);
    ASSERT_EQ(loaded.sequenceTable.size(), 2u);
    EXPECT_EQ(loaded.sequenceTable[1].description, "Verse");
    EXPECT_EQ(loaded.nextTriggerCode, "78");
    loaded.setInputDevice(kKeyboardDevice);
    state = std::move(loaded);

    // Start: step 0; next goes to step 1, next to step 2, prev back to step 1.
    dispatchTick(state, *platform, view); // stopped: the poll only settles the key state
    state.currentStep = 0;
    state.isRunning = true;
    EXPECT_EQ(tickWithKey(XK_n), QPoint(550, 350));
    EXPECT_EQ(view.lblDescrizione, "Intro");
    EXPECT_EQ(tickWithKey(XK_n), QPoint(800, 620));
    EXPECT_EQ(tickWithKey(XK_p), QPoint(550, 350));
    EXPECT_EQ(tickWithKey(XK_b), QPoint(800, 620)); // an action's own key
}

} // namespace
} // namespace quindel::test
