#include "ui/MainWindow.h"

#include "ui/AboutWindow.h"
#include "ui/AssignmentEditor.h"
#include "ui/DialogSupport.h"
#include "core/midi/MidiIntake.h"
#include "core/engine/RuntimeState.h"
#include "core/ProgramVersion.h"
#include "core/midi/PortControl.h"
#include "platform/Platform.h"
#include "core/storage/GroupFiles.h"
#include "core/storage/Settings.h"
#include "core/storage/SettingsAccess.h"
#include "core/storage/UserFilesFolder.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
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
#include <cstdio>
#include <limits>
#include <utility>

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

const char* const kDisplayStyle = "background-color: black; color: rgb(255,128,128); padding: 2px;";
// Black on amber, the colour of the blink meanwhile: a missing device is seen from the stage.
const char* const kMissingDisplayStyle =
    "background-color: rgb(255,192,0); color: black; padding: 2px;";

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

MainWindow::MainWindow(RuntimeState& state, Platform& platform, MidiInputFactory midiFactory,
                       QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), state_(state), platform_(platform) {
    try {
        if (midiFactory)
            midiControl = midiFactory();
    } catch (...) {
        midiControl.reset();
    }
    if (!midiControl)
        midiControl = std::make_unique<NoMidiInput>();
    midiControl->messagesArrived = [this] { drainMidi(); };
    // The control reports a device that went away (its port then closed) as an error.
    midiControl->errorReported = [this](int, const std::string&) { checkInputDevice(); };

    buildControls();
    initialiseForm();
    loadForm();
}

MainWindow::~MainWindow() {
    midiControl->messagesArrived = nullptr;
    midiControl->errorReported = nullptr;
    unloadForm();
}

void MainWindow::buildControls() {
    setWindowTitle(QStringLiteral("Quindel %1 Beta").arg(QLatin1String(kProgramVersion)));
    setFixedSize(3345 / 15, 3795 / 15);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(128, 128, 255));
    setPalette(pal);
    setAutoFillBackground(true);

    // The drag surface lies under every other control and covers the whole window.
    dragSurface = new QLabel(this);
    dragSurface->setGeometry(twips(0, 0, 3375, 3855));
    dragSurface->installEventFilter(this);

    titleLabel =
        new QLabel(QStringLiteral("Quindel %1B").arg(QLatin1String(kProgramVersion)), this);
    titleLabel->setGeometry(twips(120, 120, 2775, 375));
    titleLabel->setStyleSheet(QStringLiteral("color: black;"));
    // Clicks on the title drag the window too: it is part of the background for the user.
    titleLabel->setAttribute(Qt::WA_TransparentForMouseEvents);

    closeButton =
        makeButton(this, QStringLiteral("X"), twips(2880, 120, 375, 375), "rgb(255,128,128)");
    aboutButton = makeButton(this, QStringLiteral("h"), twips(3000, 600, 255, 255), nullptr);
    deviceButton = makeButton(this, {}, twips(120, 720, 1935, 375), "rgb(192,192,255)");

    flagImage = new QLabel(this);
    flagImage->setGeometry(twips(2880, 960, 375, 255));
    flagImage->setScaledContents(true);
    flagImage->setAlignment(Qt::AlignCenter);
    flagImage->setCursor(Qt::PointingHandCursor);
    flagImage->installEventFilter(this);

    pointerTestButton =
        makeButton(this, QStringLiteral("Command1"), twips(2040, 1080, 1215, 615), nullptr);
    pointerTestButton->setVisible(false);

    editorButton = makeButton(this, {}, twips(120, 1200, 1935, 375), "rgb(192,192,255)");

    const QString display = QLatin1String(kDisplayStyle);
    triggerDisplay = new QLabel(this);
    triggerDisplay->setGeometry(twips(120, 1680, 3135, 495));
    triggerDisplay->setStyleSheet(display);
    triggerDisplay->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    descriptionDisplay = new QLabel(this);
    descriptionDisplay->setGeometry(twips(120, 2280, 3135, 735));
    descriptionDisplay->setStyleSheet(display);
    descriptionDisplay->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    descriptionDisplay->setWordWrap(true);

    startButton =
        makeButton(this, QStringLiteral("Start"), twips(120, 3120, 1815, 495), "rgb(192,192,255)");

    runIndicator = new QLineEdit(this);
    runIndicator->setGeometry(twips(2760, 3120, 495, 495));
    runIndicator->setReadOnly(true);
    runIndicator->setFocusPolicy(Qt::NoFocus);
    runIndicator->setFrame(true);
    setIndicatorDark();

    tickTimer = new QTimer(this);
    tickTimer->setTimerType(Qt::PreciseTimer);
    blinkTimer = new QTimer(this);
    blinkTimer->setInterval(250);
    deviceWatchTimer = new QTimer(this);
    deviceWatchTimer->setInterval(kDeviceWatchMs);

    // The controls keep the names the window was designed with as their object names, so
    // tools and tests can find them.
    const std::pair<QObject*, const char*> objectNames[] = {
        {dragSurface, "Image1"},         {titleLabel, "lblTitolo"},
        {closeButton, "Command2"},       {aboutButton, "Command3"},
        {deviceButton, "cmdMidiConf"},   {flagImage, "imgBandierina"},
        {pointerTestButton, "Command1"}, {editorButton, "cmdAssegna"},
        {triggerDisplay, "lblSequenza"}, {descriptionDisplay, "lblDescrizione"},
        {startButton, "cmdStart"},       {runIndicator, "txtLampeggio"},
        {tickTimer, "Timer1"},           {blinkTimer, "Timer2"}};
    for (const auto& [object, name] : objectNames)
        object->setObjectName(QLatin1String(name));

    connect(startButton, &QPushButton::clicked, this, &MainWindow::startStopClicked);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(aboutButton, &QPushButton::clicked, this, [this] {
        AboutWindow about(state_, this);
        about.exec();
    });
    connect(deviceButton, &QPushButton::clicked, this, [this] {
        if (hooks.openDeviceDialog)
            hooks.openDeviceDialog();
    });
    connect(editorButton, &QPushButton::clicked, this, [this] {
        if (hooks.openEditor)
            hooks.openEditor();
        showLoadedGroup(); // the editor may have chosen another
    });
    connect(pointerTestButton, &QPushButton::clicked, this, [this] {
        if (hooks.openPointerTest)
            hooks.openPointerTest();
    });
    connect(tickTimer, &QTimer::timeout, this, &MainWindow::tickTimerFired);
    // Key presses are reported the moment they reach the platform, so a key can wake a tick.
    if (const int source = platform_.keyEventSource(); source >= 0) {
        keyEvents_ = new QSocketNotifier(source, QSocketNotifier::Read, this);
        connect(keyEvents_, &QSocketNotifier::activated, this, &MainWindow::keyEventsArrived);
    }
    if (const int source = platform_.desktopEventSource(); source >= 0) {
        desktopEvents_ = new QSocketNotifier(source, QSocketNotifier::Read, this);
        connect(desktopEvents_, &QSocketNotifier::activated, this,
                &MainWindow::desktopEventsArrived);
    }
    connect(blinkTimer, &QTimer::timeout, this, &MainWindow::blinkTimerFired);
    connect(deviceWatchTimer, &QTimer::timeout, this, &MainWindow::watchInputDevice);
}

void MainWindow::initialiseForm() {
    if (state_.programFolder.empty())
        state_.programFolder = programFolder();
    if (state_.userFilesFolder.empty())
        state_.userFilesFolder = chooseUserFilesFolder(state_.programFolder);
    bindSettingsIni(state_);
    state_.languageIndex = static_cast<uint8_t>(
        readLeadingNumber(readSetting(state_, kGeneralSection, kLanguageKey), 0, 255));
    immediateResponse_ =
        immediateResponse(readSetting(state_, kGeneralSection, kImmediateResponseKey));
    registerFonts();
    writeSetting(state_, kGeneralSection, kFontKey, "1");
    applyFonts();
}

void MainWindow::registerFonts() {
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

void MainWindow::unregisterFonts() {
    for (DisplayFont& font : fonts_) {
        if (font.id >= 0)
            QFontDatabase::removeApplicationFont(font.id);
        font.id = -1;
    }
}

void MainWindow::applyFonts() {
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
    give(deviceButton, Narrow, 9);
    give(startButton, Narrow, 13);
    give(editorButton, Narrow, 9);
    give(closeButton, FatNarrow, 15);
    give(aboutButton, FatNarrow, 9);
    give(titleLabel, Pipism, 16);
    give(triggerDisplay, Narrow, 16);
    give(descriptionDisplay, Narrow, 14);
}

void MainWindow::loadForm() {
    dragStartX = 0;
    dragStartY = 0;
    blinkTimer->stop();
    if (state_.languageIndex != kItalian && state_.languageIndex != kEnglish) {
        // First run (0), or a value no language has (an edited or damaged settings file):
        // Italian, stored so the next start agrees. Any other value would leave every caption
        // empty.
        state_.languageIndex = kItalian;
        writeSetting(state_, kGeneralSection, kLanguageKey, numberForm(state_.languageIndex));
    }
    loadLanguageTexts(state_.texts, state_.languageIndex);
    useQtTranslations(state_.languageIndex);
    // The control was made before the language was read, and the language may have switched.
    midiControl->setLanguage(state_.languageIndex);
    showFlag();

    const LanguageTexts& t = state_.texts;
    startButton->setText(qs(t.startCaption));
    deviceButton->setText(qs(t.midiConfigCaption));
    editorButton->setText(qs(t.assignKeysCaption));
    triggerDisplay->setText(qs(t.sequenceLabel));
    descriptionDisplay->setText(qs(t.descriptionLabel));
    dispatch.shownTrigger = t.sequenceLabel;
    dispatch.shownDescription = t.descriptionLabel;

    readInputSource(state_);
    state_.groupFile = readGroupFileSetting(state_);
    loadGroupFile(state_);
    loadNextPrevTriggers(state_);
    buildSequenceTable(state_);

    scheduler.stop();
    tickTimer->stop();
    tickTimer->setInterval(100);
    state_.isRunning = false;
    showLoadedGroup();
}

void MainWindow::showFlag() {
    // The picture lies beside the program; the working directory may be anywhere.
    const QString path =
        qs(state_.programFolder) + QLatin1Char('/') + qs(state_.texts.flagImageFile);
    QPixmap picture;
    if (QFile::exists(path) && picture.load(path)) {
        flagImage->setText({});
        flagImage->setPixmap(picture);
        flagImage->setStyleSheet({});
    } else {
        // Without its picture the flag names the language a click switches to.
        flagImage->setPixmap({});
        flagImage->setText(state_.languageIndex == kItalian ? QStringLiteral("EN")
                                                            : QStringLiteral("IT"));
        flagImage->setStyleSheet(
            QStringLiteral("background-color: white; color: black; font-size: 10px;"));
    }
}

void MainWindow::unloadForm() {
    if (unloaded_)
        return;
    unloaded_ = true;
    writeSetting(state_, kGeneralSection, kLanguageKey, numberForm(state_.languageIndex));
    unregisterFonts();
    stopRunning();
}

// Everything a run holds: the timers, the MIDI port, the run flag and the lit indicator.
void MainWindow::stopRunning() {
    scheduler.stop();
    tickTimer->stop();
    blinkTimer->stop();
    closeMidiInput(*midiControl);
    showDeviceMissing(false);
    state_.commandQueue.clear();
    state_.isRunning = false;
    setIndicatorDark();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    unloadForm();
    event->accept();
    // Closing the main window ends the program, whatever other window is still open.
    QCoreApplication::quit();
}

void MainWindow::setIndicatorLit() {
    QPalette pal = runIndicator->palette();
    pal.setColor(QPalette::Base, deviceMissing_ ? kMissingColor : kLitColor);
    runIndicator->setPalette(pal);
}

void MainWindow::setIndicatorDark() {
    QPalette pal = runIndicator->palette();
    pal.setColor(QPalette::Base, kDarkColor);
    runIndicator->setPalette(pal);
}

void MainWindow::keepOnTop(bool onTop) {
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

void MainWindow::startStopClicked() {
    if (startButton->text() != qs(state_.texts.startCaption)) {
        keepOnTop(false);
        startButton->setText(qs(state_.texts.startCaption));
        stopRunning();
        showLoadedGroup();
    } else if (!platform_.canClick()) {
        // A run that cannot click would look busy while doing nothing.
        showMessage(platform_.onXWayland() ? state_.texts.xwaylandMessage
                                           : state_.texts.noClickMessage);
    } else if (state_.midiInputDevice != kNoInputDevice) {
        // Where keys cannot be watched they arrive only through the desktop's shortcuts that
        // run `quindel --trigger CODE`: the first Start of the program says so, then runs.
        if (state_.inputMode == kKeyboardMode && !platform_.canWatchKeys() &&
            !keysNotWatchedTold_) {
            keysNotWatchedTold_ = true;
            showMessage(state_.texts.keysNotWatchedMessage);
        }
        startButton->setText(qs(state_.texts.stopCaption));
        keepOnTop(true);
        state_.currentStep = 0;
        // A command left from before (keyboard ticks never take it, a capture may leave one as
        // it closes) must not fire as the first trigger of the run.
        state_.lastMidiCommand.clear();
        state_.commandQueue.clear();
        forgetKeyPressesOfStop();
        scheduler.setImmediate(immediateResponse_);
        armTickTimer(scheduler.start());
        blinkTimer->start();
        state_.isRunning = true;
        if (state_.inputMode == kMidiMode)
            openInputDevice();
    } else {
        refuseStart();
    }
}

void MainWindow::refuseStart() {
    QMessageBox box(QMessageBox::NoIcon, kMessageTitle, qs(state_.texts.noInputChosenMessage),
                    QMessageBox::Ok, this);
    QPushButton* chooseButton =
        box.addButton(qs(state_.texts.midiConfigCaption), QMessageBox::ActionRole);
    chooseButton->setObjectName(QStringLiteral("cmdMidiConf"));
    // Return and Escape only close it, as a message with one button would.
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
    if (box.clickedButton() == chooseButton && hooks.openDeviceDialog)
        hooks.openDeviceDialog();
}

void MainWindow::showLoadedGroup() {
    if (state_.isRunning)
        return;
    const std::optional<std::string> name = groupNameOfFile(state_.groupFile);
    const bool loaded = name && !state_.groupFileUnread &&
                        fileExists(state_.userFilesFolder + "/" + state_.groupFile);
    triggerDisplay->setText(qs(loaded ? *name : state_.texts.sequenceLabel));
}

void MainWindow::showMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, kMessageTitle, qs(text), QMessageBox::Ok, this);
    box.exec();
}

void MainWindow::desktopEventsArrived() {
    if (platform_.handleDesktopEvents())
        return;
    // The compositor went away: nothing can be clicked or shown any more. End as a lost X
    // display ends the program, after the unload has stored what it keeps.
    desktopEvents_->setEnabled(false);
    std::fprintf(stderr, "Quindel: %s\n", platform_.errorText().c_str());
    unloadForm();
    QCoreApplication::exit(1);
}

void MainWindow::flagClicked() {
    // While started the language stays as it is: a reload would stop dispatch behind the
    // performer's back and leave the window on top with the port open.
    if (state_.isRunning)
        return;
    state_.languageIndex = state_.languageIndex == kItalian ? kEnglish : kItalian;
    loadForm();
}

void MainWindow::tickTimerFired() {
    tickTimer->stop();
    dispatchTick(state_, platform_, dispatch);
    if (!deviceMissing_) { // the loss stays on the displays until the device is back
        triggerDisplay->setText(qs(dispatch.shownTrigger));
        descriptionDisplay->setText(qs(dispatch.shownDescription));
    }
    // A click that never happened must not pass for one: the performer sees it at once.
    if (platform_.takeClickFailure())
        descriptionDisplay->setText(qs(state_.texts.clickFailedMessage));
    // Without key events the keyboard can only be polled: the ticks go on as for a held key
    // (where keys cannot be watched at all, there is nothing to poll, and a command trigger
    // wakes the tick at once). So they do while command triggers wait, and once more after a
    // tick that took one, for a key or MIDI command that waited meanwhile.
    const bool keyboardPolled =
        state_.inputMode == kKeyboardMode && keyEvents_ == nullptr && platform_.canWatchKeys();
    armTickTimer(scheduler.tickEnded(dispatch.keyHeld || keyboardPolled || dispatch.commandTaken ||
                                     !state_.commandQueue.empty()));
}

void MainWindow::forgetKeyPressesOfStop() {
    // The platform keeps a key pressed while stopped as pressed until a poll answers for it,
    // and the first tick of the run would fire it. A tick while not running polls without
    // firing; a key still held is down at the next poll and fires there, as it should.
    if (state_.inputMode != kKeyboardMode || state_.isRunning)
        return;
    DispatchView unshown;
    dispatchTick(state_, platform_, unshown);
}

void MainWindow::armTickTimer(ResponseScheduler::Wait wait) {
    if (wait)
        tickTimer->start(static_cast<int>(wait->count()));
    else
        tickTimer->stop();
}

void MainWindow::wakeDispatch() {
    // Polling keeps its own pace: a tick is due already.
    if (scheduler.immediate())
        armTickTimer(scheduler.trigger());
}

void MainWindow::keyEventsArrived() {
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

CommandTriggerOutcome MainWindow::commandTriggerArrived(const std::string& text) {
    const CommandTriggerOutcome outcome = takeCommandTrigger(state_, text);
    if (outcome == CommandTriggerOutcome::Taken)
        wakeDispatch();
    return outcome;
}

void MainWindow::withdrawCommandTrigger() {
    quindel::withdrawCommandTrigger(state_);
}

void MainWindow::bringToFront(const std::string& activationToken) {
    if (isMinimized())
        showNormal();
    raise();
    // A dialog that is open stays above its window and takes the focus.
    QWidget* modal = QApplication::activeModalWidget();
    QWidget* focus = modal != nullptr && modal != this ? modal : this;
    if (focus != this)
        focus->raise();
    // Qt uses the token in the environment at the next activation request.
    if (!activationToken.empty() && platform_.frontNeedsActivationToken())
        qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(activationToken));
    focus->activateWindow();
}

void MainWindow::blinkTimerFired() {
    if (blinkOn) {
        setIndicatorLit();
        blinkOn = false;
    } else {
        setIndicatorDark();
        blinkOn = true;
    }
}

void MainWindow::drainMidi() {
    // The pauses let ticks and arriving messages run, but no clicks or keys: a click on a button
    // would open its modal window inside the drain, and this control's drain (so every MIDI
    // trigger) would wait until that window closed. The user's input runs once the drain ends.
    drainMidiInput(state_, *midiControl,
                   [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    // Every tick empties the slot, so a code in it arrived after the last tick and waits for one.
    if (state_.inputMode == kMidiMode && !state_.lastMidiCommand.empty())
        wakeDispatch();
}

void MainWindow::openInputDevice() {
    openMidiInput(state_, *midiControl);
    // Settings from before names were stored give only the device's place in the list. The
    // device opened now is the one to look for after a loss, wherever it stands then, and never
    // whatever takes its place: its name is stored as the device dialog stores a choice.
    if (midiControl->openState() != 0 && state_.midiInputName.empty()) {
        state_.midiInputName = midiControl->deviceName();
        writeInputSource(state_);
    }
    showDeviceMissing(midiControl->openState() == 0);
}

void MainWindow::checkInputDevice() {
    if (state_.isRunning && state_.inputMode == kMidiMode && midiControl->openState() == 0)
        showDeviceMissing(true);
}

void MainWindow::watchInputDevice() {
    // Only the stored device, and only once it is listed: a device number beyond the list
    // would only make the control report it missing again.
    const int16_t device = storedDeviceNumber(state_, *midiControl);
    if (device < 1 || (state_.midiInputName.empty() && device > midiControl->deviceCount()))
        return;
    openMidiInput(state_, *midiControl);
    showDeviceMissing(midiControl->openState() == 0);
}

void MainWindow::showDeviceMissing(bool missing) {
    // Started again when already missing too: the next look is a full period on.
    missing ? deviceWatchTimer->start() : deviceWatchTimer->stop();
    if (missing == deviceMissing_)
        return;
    deviceMissing_ = missing;
    const QString style = QLatin1String(missing ? kMissingDisplayStyle : kDisplayStyle);
    triggerDisplay->setStyleSheet(style);
    descriptionDisplay->setStyleSheet(style);
    if (missing) {
        triggerDisplay->setText(qs(state_.texts.deviceMissingCaption));
        descriptionDisplay->setText(state_.midiInputName.empty()
                                        ? QStringLiteral("MIDI %1").arg(state_.midiInputDevice)
                                        : qs(state_.midiInputName));
    } else {
        triggerDisplay->setText(qs(dispatch.shownTrigger));
        descriptionDisplay->setText(qs(dispatch.shownDescription));
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == flagImage && event->type() == QEvent::MouseButtonPress) {
        flagClicked();
        return true;
    }
    if (watched == dragSurface) {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            // A desktop that ignores move() is asked to move the window for as long as the
            // button is held.
            if (platform_.desktopMovesWindows() && windowHandle() != nullptr &&
                windowHandle()->startSystemMove())
                return true;
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
