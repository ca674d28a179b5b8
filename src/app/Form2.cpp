#include "app/Form2.h"

#include "app/ProgramFolder.h"
#include "app/frmAbout.h"
#include "engine/MidiIntake.h"
#include "engine/RuntimeState.h"
#include "midi/PortControl.h"
#include "platform/Platform.h"
#include "storage/GroupFiles.h"
#include "storage/Settings.h"
#include "storage/gestioneFileIni.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QRawFont>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <cstdint>
#include <limits>

namespace quindel {

namespace {

// Layout positions are kept in twips, as the window was designed; 15 twips make one pixel.
QRect twips(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}

// Stands in when no MIDI control can be made (no MIDI back end on this machine): a closed
// port with no devices and an empty queue, so Start in MIDI mode simply receives nothing.
class NoMidiInput : public MidiInputControl {
  public:
    void portCommand(int16_t) override {}
    std::string deviceName() override { return {}; }
    int16_t pendingCount() override { return 0; }
    int16_t messageStatus() override { return 0; }
    int16_t messageData1() override { return 0; }
    int16_t messageData2() override { return 0; }
    std::string systemData() override { return {}; }
    void notifyEnabled(bool) override {}
    int16_t deviceCount() override { return 0; }
    int16_t openState() override { return 0; }
    void deviceIndex(int16_t) override {}
    void statusFilter(int16_t, bool) override {}
};

// The three display fonts, in the order they are registered and removed.
constexpr const char* kFontFiles[] = {"DigitaldreamFatNarrow.ttf", "digitaldreamnarrow.ttf",
                                      "D3PipismW.ttf"};
enum FontSlot { FatNarrow = 0, Narrow = 1, Pipism = 2 };

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QPushButton* makeButton(QWidget* parent, const QString& text, const QRect& geometry,
                        const char* backColour) {
    auto* b = new QPushButton(text, parent);
    b->setGeometry(geometry);
    // The performer's keys must never press the main window's buttons: a trigger key such as
    // Space or Enter would otherwise stop the run when the window has the focus.
    b->setFocusPolicy(Qt::NoFocus);
    if (backColour)
        b->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: black; "
                                        "border: 1px solid #404060; }"
                                        "QPushButton:pressed { background-color: #a0a0e0; }")
                             .arg(backColour));
    return b;
}

} // namespace

Form2::Form2(RuntimeState& state, Platform& platform, MidiInputFactory midiFactory, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), state_(state), platform_(platform) {
    try {
        if (midiFactory)
            MIDIInput1 = midiFactory();
    } catch (...) {
        MIDIInput1.reset();
    }
    if (!MIDIInput1)
        MIDIInput1 = std::make_unique<NoMidiInput>();
    MIDIInput1->messagesArrived = [this] { drainMidi(); };

    buildControls();
    initialiseForm();
    loadForm();
}

Form2::~Form2() {
    MIDIInput1->messagesArrived = nullptr;
    unloadForm();
}

void Form2::buildControls() {
    setWindowTitle(QStringLiteral("Quindel 0.5 Beta"));
    setFixedSize(3345 / 15, 3795 / 15);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(128, 128, 255));
    setPalette(pal);
    setAutoFillBackground(true);

    // The drag surface lies under every other control and covers the whole window.
    Image1 = new QLabel(this);
    Image1->setGeometry(twips(0, 0, 3375, 3855));
    Image1->installEventFilter(this);

    lblTitolo = new QLabel(QStringLiteral("Quindel 0.5B"), this);
    lblTitolo->setGeometry(twips(120, 120, 2775, 375));
    lblTitolo->setStyleSheet(QStringLiteral("color: black;"));
    // Clicks on the title drag the window too: it is part of the background for the user.
    lblTitolo->setAttribute(Qt::WA_TransparentForMouseEvents);

    Command2 =
        makeButton(this, QStringLiteral("X"), twips(2880, 120, 375, 375), "rgb(255,128,128)");
    Command3 = makeButton(this, QStringLiteral("h"), twips(3000, 600, 255, 255), nullptr);
    cmdMidiConf = makeButton(this, {}, twips(120, 720, 1935, 375), "rgb(192,192,255)");

    imgBandierina = new QLabel(this);
    imgBandierina->setGeometry(twips(2880, 960, 375, 255));
    imgBandierina->setScaledContents(true);
    imgBandierina->setAlignment(Qt::AlignCenter);
    imgBandierina->setCursor(Qt::PointingHandCursor);
    imgBandierina->installEventFilter(this);

    Command1 = makeButton(this, QStringLiteral("Command1"), twips(2040, 1080, 1215, 615), nullptr);
    Command1->setVisible(false);

    cmdAssegna = makeButton(this, {}, twips(120, 1200, 1935, 375), "rgb(192,192,255)");

    const QString display =
        QStringLiteral("background-color: black; color: rgb(255,128,128); padding: 2px;");
    lblSequenza = new QLabel(this);
    lblSequenza->setGeometry(twips(120, 1680, 3135, 495));
    lblSequenza->setStyleSheet(display);
    lblSequenza->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lblDescrizione = new QLabel(this);
    lblDescrizione->setGeometry(twips(120, 2280, 3135, 735));
    lblDescrizione->setStyleSheet(display);
    lblDescrizione->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lblDescrizione->setWordWrap(true);

    cmdStart =
        makeButton(this, QStringLiteral("Start"), twips(120, 3120, 1815, 495), "rgb(192,192,255)");

    txtLampeggio = new QLineEdit(this);
    txtLampeggio->setGeometry(twips(2760, 3120, 495, 495));
    txtLampeggio->setReadOnly(true);
    txtLampeggio->setFocusPolicy(Qt::NoFocus);
    txtLampeggio->setFrame(true);
    setIndicatorDark();

    Timer1 = new QTimer(this);
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer2 = new QTimer(this);
    Timer2->setInterval(250);

    connect(cmdStart, &QPushButton::clicked, this, &Form2::cmdStartClick);
    connect(Command2, &QPushButton::clicked, this, &QWidget::close);
    connect(Command3, &QPushButton::clicked, this, [this] {
        frmAbout about(state_, this);
        about.exec();
    });
    connect(cmdMidiConf, &QPushButton::clicked, this, [this] {
        if (hooks.openDeviceDialog)
            hooks.openDeviceDialog();
    });
    connect(cmdAssegna, &QPushButton::clicked, this, [this] {
        if (hooks.openEditor)
            hooks.openEditor();
    });
    connect(Command1, &QPushButton::clicked, this, [this] {
        if (hooks.openPointerTest)
            hooks.openPointerTest();
    });
    connect(Timer1, &QTimer::timeout, this, &Form2::Timer1Tick);
    // Key presses are reported the moment they reach the platform, so a key can wake a tick.
    if (const int source = platform_.keyEventSource(); source >= 0) {
        keyEvents_ = new QSocketNotifier(source, QSocketNotifier::Read, this);
        connect(keyEvents_, &QSocketNotifier::activated, this, &Form2::keyEventsArrived);
    }
    connect(Timer2, &QTimer::timeout, this, &Form2::Timer2Tick);
}

void Form2::initialiseForm() {
    if (state_.programFolder.empty())
        state_.programFolder = programFolder();
    bindSettingsIni(state_);
    state_.languageIndex = static_cast<uint8_t>(
        readLeadingNumber(readSetting(state_, kGeneralSection, kLanguageKey), 0, 255));
    immediateResponse_ =
        immediateResponse(readSetting(state_, kGeneralSection, kImmediateResponseKey));
    registerFonts();
    writeSetting(state_, kGeneralSection, kFontKey, "1");
    applyFonts();
}

void Form2::registerFonts() {
    fonts_.clear();
    for (const char* name : kFontFiles) {
        DisplayFont font;
        font.fileName = name;
        const QString path = qs(state_.programFolder) + QLatin1Char('/') + QLatin1String(name);
        // A missing or unreadable font file is not an error: the control keeps its usual font.
        font.id = QFontDatabase::addApplicationFont(path);
        if (font.id >= 0) {
            const QStringList families = QFontDatabase::applicationFontFamilies(font.id);
            if (!families.isEmpty())
                font.family = families.first();
            QRawFont raw(path, 12);
            if (raw.isValid())
                font.weight = raw.weight();
        }
        fonts_.push_back(font);
    }
}

void Form2::unregisterFonts() {
    for (DisplayFont& font : fonts_) {
        if (font.id >= 0)
            QFontDatabase::removeApplicationFont(font.id);
        font.id = -1;
    }
}

void Form2::applyFonts() {
    auto give = [this](QWidget* w, FontSlot slot, int pixelSize) {
        const DisplayFont& f = fonts_[slot];
        QFont font = w->font();
        if (!f.family.isEmpty()) {
            font.setFamily(f.family);
            font.setWeight(static_cast<QFont::Weight>(f.weight));
        }
        font.setPixelSize(pixelSize);
        w->setFont(font);
    };
    give(cmdMidiConf, Narrow, 9);
    give(cmdStart, Narrow, 13);
    give(cmdAssegna, Narrow, 9);
    give(Command2, FatNarrow, 15);
    give(Command3, FatNarrow, 9);
    give(lblTitolo, Pipism, 16);
    give(lblSequenza, Narrow, 16);
    give(lblDescrizione, Narrow, 14);
}

void Form2::loadForm() {
    dragStartX = 0;
    dragStartY = 0;
    Timer2->stop();
    if (state_.languageIndex != kItalian && state_.languageIndex != kEnglish) {
        // First run (0), or a value no language has (an edited or damaged settings file):
        // Italian, stored so the next start agrees. Any other value would leave every caption
        // empty.
        state_.languageIndex = kItalian;
        writeSetting(state_, kGeneralSection, kLanguageKey, numberForm(state_.languageIndex));
    }
    loadLanguageTexts(state_.texts, state_.languageIndex);
    // The control was made before the language was read, and the language may have switched.
    MIDIInput1->setLanguage(state_.languageIndex);
    showFlag();

    const LanguageTexts& t = state_.texts;
    cmdStart->setText(qs(t.startCaption));
    cmdMidiConf->setText(qs(t.midiConfigCaption));
    cmdAssegna->setText(qs(t.assignKeysCaption));
    lblSequenza->setText(qs(t.sequenceLabel));
    lblDescrizione->setText(qs(t.descriptionLabel));
    dispatch.lblSequenza = t.sequenceLabel;
    dispatch.lblDescrizione = t.descriptionLabel;

    state_.setInputDevice(static_cast<int16_t>(readLeadingNumber(
        readSetting(state_, kMidiSection, kMidiInputKey), std::numeric_limits<int16_t>::min(),
        std::numeric_limits<int16_t>::max())));
    state_.groupFile = readGroupFileSetting(state_);
    loadGroupFile(state_);
    loadNextPrevTriggers(state_);
    buildSequenceTable(state_);

    scheduler.stop();
    Timer1->stop();
    Timer1->setInterval(100);
    state_.isRunning = false;
}

void Form2::showFlag() {
    // The picture lies beside the program; the working directory may be anywhere.
    const QString path =
        qs(state_.programFolder) + QLatin1Char('/') + qs(state_.texts.flagImageFile);
    QPixmap picture;
    if (QFile::exists(path) && picture.load(path)) {
        imgBandierina->setText({});
        imgBandierina->setPixmap(picture);
        imgBandierina->setStyleSheet({});
    } else {
        // Without its picture the flag names the language a click switches to.
        imgBandierina->setPixmap({});
        imgBandierina->setText(state_.languageIndex == kItalian ? QStringLiteral("EN")
                                                                : QStringLiteral("IT"));
        imgBandierina->setStyleSheet(
            QStringLiteral("background-color: white; color: black; font-size: 10px;"));
    }
}

void Form2::unloadForm() {
    if (unloaded_)
        return;
    unloaded_ = true;
    writeSetting(state_, kGeneralSection, kLanguageKey, numberForm(state_.languageIndex));
    unregisterFonts();
    scheduler.stop();
    Timer1->stop();
    Timer2->stop();
    closeMidiInput(*MIDIInput1);
    state_.isRunning = false;
    setIndicatorDark();
}

void Form2::closeEvent(QCloseEvent* event) {
    unloadForm();
    event->accept();
    // Closing the main window ends the program, whatever other window is still open.
    QCoreApplication::quit();
}

void Form2::setIndicatorLit() {
    QPalette pal = txtLampeggio->palette();
    pal.setColor(QPalette::Base, kLitColor);
    txtLampeggio->setPalette(pal);
}

void Form2::setIndicatorDark() {
    QPalette pal = txtLampeggio->palette();
    pal.setColor(QPalette::Base, kDarkColor);
    txtLampeggio->setPalette(pal);
}

void Form2::keepOnTop(bool onTop) {
    QWindow* native = windowHandle();
    if (!native) { // not shown yet: the flag simply goes with the window when it is made
        setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        return;
    }
    // QWidget::setWindowFlag would destroy and re-create the shown window: it would flash, lose
    // its place and its X window id, and leave and re-enter the task bar. The native window
    // changes its stacking in place (_NET_WM_STATE_ABOVE), and the widget only records it.
    overrideWindowFlags(onTop ? windowFlags() | Qt::WindowStaysOnTopHint
                              : windowFlags() & ~Qt::WindowStaysOnTopHint);
    native->setFlag(Qt::WindowStaysOnTopHint, onTop);
    if (onTop)
        raise(); // without a window manager nobody else restacks it
}

void Form2::cmdStartClick() {
    if (cmdStart->text() != qs(state_.texts.startCaption)) {
        keepOnTop(false);
        cmdStart->setText(qs(state_.texts.startCaption));
        scheduler.stop();
        Timer1->stop();
        Timer2->stop();
        closeMidiInput(*MIDIInput1);
        state_.isRunning = false;
        setIndicatorDark();
    } else if (state_.midiInputDevice != kNoInputDevice) {
        cmdStart->setText(qs(state_.texts.stopCaption));
        keepOnTop(true);
        state_.currentStep = 0;
        // A command left from before (keyboard ticks never take it, a capture may leave one as
        // it closes) must not fire as the first trigger of the run.
        state_.lastMidiCommand.clear();
        scheduler.setImmediate(immediateResponse_);
        armTimer1(scheduler.start());
        Timer2->start();
        state_.isRunning = true;
        if (state_.inputMode == kMidiMode)
            openMidiInput(state_, *MIDIInput1);
    } else {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Quindel"),
                        qs(state_.texts.selectDeviceMessage), QMessageBox::Ok, this);
        box.exec();
    }
}

void Form2::imgBandierinaClick() {
    // While started the language stays as it is: a reload would stop dispatch behind the
    // performer's back and leave the window on top with the port open.
    if (state_.isRunning)
        return;
    state_.languageIndex = state_.languageIndex == kItalian ? kEnglish : kItalian;
    loadForm();
}

void Form2::Timer1Tick() {
    Timer1->stop();
    dispatchTick(state_, platform_, dispatch);
    lblSequenza->setText(qs(dispatch.lblSequenza));
    lblDescrizione->setText(qs(dispatch.lblDescrizione));
    // Without key events the keyboard can only be polled: the ticks go on as for a held key.
    const bool keyboardPolled = state_.inputMode == kKeyboardMode && keyEvents_ == nullptr;
    armTimer1(scheduler.tickEnded(dispatch.keyHeld || keyboardPolled));
}

void Form2::armTimer1(ResponseScheduler::Wait wait) {
    if (wait)
        Timer1->start(static_cast<int>(wait->count()));
    else
        Timer1->stop();
}

void Form2::wakeDispatch() {
    // Polling keeps its own pace: a tick is due already.
    if (scheduler.immediate())
        armTimer1(scheduler.trigger());
}

void Form2::keyEventsArrived() {
    // Read them whatever the mode, so they do not pile up; only keys the group uses wake.
    const std::vector<int> keys = platform_.takeKeyPresses();
    if (state_.inputMode != kKeyboardMode)
        return;
    for (int key : keys) {
        if (tickPollsKey(state_, key)) {
            wakeDispatch();
            return;
        }
    }
}

void Form2::Timer2Tick() {
    if (blinkOn) {
        setIndicatorLit();
        blinkOn = false;
    } else {
        setIndicatorDark();
        blinkOn = true;
    }
}

void Form2::drainMidi() {
    // The pauses let ticks and arriving messages run, but no clicks or keys: a click on a button
    // would open its modal window inside the drain, and this control's drain (so every MIDI
    // trigger) would wait until that window closed. The user's input runs once the drain ends.
    drainMidiInput(state_, *MIDIInput1,
                   [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    // Every tick empties the slot, so a code in it arrived after the last tick and waits for one.
    if (state_.inputMode == kMidiMode && !state_.lastMidiCommand.empty())
        wakeDispatch();
}

bool Form2::eventFilter(QObject* watched, QEvent* event) {
    if (watched == imgBandierina && event->type() == QEvent::MouseButtonPress) {
        imgBandierinaClick();
        return true;
    }
    if (watched == Image1) {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const QPointF p = static_cast<QMouseEvent*>(event)->position();
            isDragging = true;
            dragStartX = p.x();
            dragStartY = p.y();
            return true;
        }
        case QEvent::MouseMove:
            if (isDragging) {
                const QPointF p = static_cast<QMouseEvent*>(event)->position();
                move(static_cast<int>(x() - dragStartX + p.x()),
                     static_cast<int>(y() - dragStartY + p.y()));
            }
            return true;
        case QEvent::MouseButtonRelease:
            isDragging = false;
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace quindel
