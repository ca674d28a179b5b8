#pragma once

#include "core/engine/CommandTrigger.h"
#include "core/engine/ResponseScheduler.h"
#include "core/engine/TriggerDispatch.h"
#include "core/midi/MidiInputControl.h"

#include <QColor>
#include <QFont>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QSocketNotifier;
class QTimer;

namespace quindel {

struct RuntimeState;
class Platform;

// What the main window's buttons open that lives outside the application shell. main.cpp
// fills these in; an empty member makes its button do nothing.
struct MainWindowHooks {
    std::function<void()> openDeviceDialog; // deviceButton: the input device dialog
    std::function<void()> openEditor;       // editorButton: the assignment editor
    std::function<void()> openPointerTest;  // pointerTestButton (hidden)
};

// One display font the program registered from its folder, as registration reported it.
struct DisplayFont {
    std::string fileName;
    int id = -1;      // QFontDatabase application font id, -1 when it did not register
    QString family;   // family name that registration reported
    int weight = 400; // the face's own weight, so the registered face is the one chosen
};

// The main window: Start/Stop, the two display labels, the buttons that open the other
// windows, the language flag and the blinking run indicator. It owns the dispatch timer, the
// blink timer and the MIDI input control whose messages become triggers. Constructing it runs
// the initialisation and the load; closing it unloads and ends the program.
class MainWindow : public QWidget {
    Q_OBJECT
  public:
    MainWindow(RuntimeState& state, Platform& platform, MidiInputFactory midiFactory,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    MidiInputControl& midiInput() { return *midiControl; }
    const std::vector<DisplayFont>& displayFonts() const { return fonts_; }
    bool isUnloaded() const { return unloaded_; }

    MainWindowHooks hooks;

    // Controls, named after the window's layout.
    QLabel* dragSurface = nullptr;
    QLabel* titleLabel = nullptr;
    QPushButton* closeButton = nullptr;
    QPushButton* aboutButton = nullptr;
    QPushButton* deviceButton = nullptr;
    QLabel* flagImage = nullptr;
    QPushButton* pointerTestButton = nullptr;
    QPushButton* editorButton = nullptr;
    QLabel* triggerDisplay = nullptr;
    QLabel* descriptionDisplay = nullptr;
    QPushButton* startButton = nullptr;
    QLineEdit* runIndicator = nullptr;
    QTimer* tickTimer = nullptr;
    QTimer* blinkTimer = nullptr;
    // While started, looks for the chosen MIDI device when it is not open.
    QTimer* deviceWatchTimer = nullptr;

    // Members of the window.
    DispatchView dispatch;
    // When tickTimer ticks; immediate response unless the settings file turns it off.
    ResponseScheduler scheduler;
    bool blinkOn = false;
    bool isDragging = false;
    double dragStartX = 0;
    double dragStartY = 0;

    static inline const QColor kLitColor{255, 128, 128};
    static inline const QColor kDarkColor{0, 0, 0};
    // The lit phase and the displays while the chosen MIDI device is missing.
    static inline const QColor kMissingColor{255, 192, 0};
    static constexpr int kDeviceWatchMs = 500;

    // True while started with the chosen MIDI device missing (not present, or gone).
    bool deviceMissing() const { return deviceMissing_; }

    // The load: texts, flag, captions, input source and group; leaves the window stopped.
    void loadForm();
    // The unload: language saved, fonts removed, timers and port stopped. Runs once.
    void unloadForm();

    void setIndicatorLit();
    void setIndicatorDark();

    // While stopped, the upper display names the loaded group, the one Start will run; the
    // caption stays when no group is loaded. While started it shows the triggers instead.
    void showLoadedGroup();

    // A code from `quindel --trigger`, queued for the ticks (takeCommandTrigger); it wakes the
    // tick as a key or a MIDI command would.
    CommandTriggerOutcome commandTriggerArrived(const std::string& text);
    // The command trigger queued last goes: its sender never learnt that it was taken.
    void withdrawCommandTrigger();
    // Keys arrive as the desktop's global shortcuts of Quindel: Start need not tell how to
    // bind them.
    void keysArriveAsShortcuts() { keysNotWatchedTold_ = true; }
    // Another start asked for this window: it is shown, raised and given the focus.
    void bringToFront(const std::string& activationToken = {});

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildControls();
    void initialiseForm();
    void registerFonts();
    void unregisterFonts();
    void applyFonts();
    void showFlag();
    void keepOnTop(bool onTop);
    void stopRunning();

    void startStopClicked();
    // Start without an input source: says how to choose one and offers the device dialog.
    void refuseStart();
    void flagClicked();
    void tickTimerFired();
    void blinkTimerFired();
    void drainMidi();
    void keyEventsArrived();
    // At Start: keys pressed while stopped are taken without firing.
    void forgetKeyPressesOfStop();
    // The desktop connection has events; a lost connection ends the program.
    void desktopEventsArrived();
    void showMessage(const std::string& text);
    // A trigger arrived: the next tick as soon as the scheduler allows.
    void wakeDispatch();
    // tickTimer runs until the next tick the scheduler wants, or rests when none is due.
    void armTickTimer(ResponseScheduler::Wait wait);

    // The chosen MIDI device while started: opened at Start; when it is missing, or goes away,
    // the displays and the blink say so and it is looked for until it is there again.
    void openInputDevice();
    void checkInputDevice();
    void watchInputDevice();
    void showDeviceMissing(bool missing);

    RuntimeState& state_;
    Platform& platform_;
    std::unique_ptr<MidiInputControl> midiControl;
    QSocketNotifier* keyEvents_ = nullptr; // key presses as they happen, when the platform has them
    QSocketNotifier* desktopEvents_ = nullptr; // the desktop connection, when the platform has one
    bool immediateResponse_ = true;
    std::vector<DisplayFont> fonts_;
    bool unloaded_ = false;
    bool deviceMissing_ = false;
    bool keysNotWatchedTold_ = false;
};

} // namespace quindel
