#pragma once

#include "engine/ResponseScheduler.h"
#include "engine/TriggerDispatch.h"
#include "midi/MidiInputControl.h"

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
struct Form2Hooks {
    std::function<void()> openDeviceDialog; // cmdMidiConf: the input device dialog
    std::function<void()> openEditor;       // cmdAssegna: the assignment editor
    std::function<void()> openPointerTest;  // Command1 (hidden)
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
class Form2 : public QWidget {
    Q_OBJECT
  public:
    Form2(RuntimeState& state, Platform& platform, MidiInputFactory midiFactory,
          QWidget* parent = nullptr);
    ~Form2() override;

    MidiInputControl& midiInput() { return *MIDIInput1; }
    const std::vector<DisplayFont>& displayFonts() const { return fonts_; }
    bool isUnloaded() const { return unloaded_; }

    Form2Hooks hooks;

    // Controls, named after the window's layout.
    QLabel* Image1 = nullptr;
    QLabel* lblTitolo = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* cmdMidiConf = nullptr;
    QLabel* imgBandierina = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* cmdAssegna = nullptr;
    QLabel* lblSequenza = nullptr;
    QLabel* lblDescrizione = nullptr;
    QPushButton* cmdStart = nullptr;
    QLineEdit* txtLampeggio = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;

    // Members of the window.
    DispatchView dispatch;
    // When Timer1 ticks; immediate response unless the settings file turns it off.
    ResponseScheduler scheduler;
    bool blinkOn = false;
    bool isDragging = false;
    double dragStartX = 0;
    double dragStartY = 0;

    static inline const QColor kLitColor{255, 128, 128};
    static inline const QColor kDarkColor{0, 0, 0};

    // The load: texts, flag, captions, input source and group; leaves the window stopped.
    void loadForm();
    // The unload: language saved, fonts removed, timers and port stopped. Runs once.
    void unloadForm();

    void setIndicatorLit();
    void setIndicatorDark();

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

    void cmdStartClick();
    void imgBandierinaClick();
    void Timer1Tick();
    void Timer2Tick();
    void drainMidi();
    void keyEventsArrived();
    // A trigger arrived: the next tick as soon as the scheduler allows.
    void wakeDispatch();
    // Timer1 runs until the next tick the scheduler wants, or rests when none is due.
    void armTimer1(ResponseScheduler::Wait wait);

    RuntimeState& state_;
    Platform& platform_;
    std::unique_ptr<MidiInputControl> MIDIInput1;
    QSocketNotifier* keyEvents_ = nullptr; // key presses as they happen, when the platform has them
    bool immediateResponse_ = true;
    std::vector<DisplayFont> fonts_;
    bool unloaded_ = false;
};

} // namespace quindel
