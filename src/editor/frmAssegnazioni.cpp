#include "editor/frmAssegnazioni.h"

#include "editor/Twips.h"
#include "editor/frmAspettaTastoComputer.h"
#include "editor/frmAspettaTastoMIDI.h"
#include "engine/RuntimeState.h"
#include "engine/moduloIntercettaMouse.h"
#include "platform/Platform.h"
#include "storage/GroupFiles.h"
#include "storage/Settings.h"
#include "storage/gestioneFileIni.h"

#include <QComboBox>
#include <QEvent>
#include <QEventLoop>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <utility>

namespace quindel {

namespace {

constexpr const char* kGroupPrefix = "gruppo-";
constexpr std::size_t kGroupPrefixLength = 7;
constexpr std::size_t kGroupExtensionLength = 4; // ".ini"
constexpr const char* kGroupExtension = ".ini";
constexpr const char* kMainSection = "main";
constexpr const char* kNameKey = "nome";
// Sequence positions are stored in 8 bits.
constexpr std::size_t kMaxSequenceEntries = 255;
constexpr int kClickPollMs = 50;
constexpr int kIdleTimerMs = 250;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// ASCII-only lower case, so that the order does not depend on the locale.
int compareIgnoringCase(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
        const int ca = lower(static_cast<unsigned char>(a[i]));
        const int cb = lower(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QRect& place,
                        const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(place);
    // Return in the group name field must not press a button.
    button->setAutoDefault(false);
    return button;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QRect& place, const QString& caption) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(place);
    return label;
}

QListWidget* makeList(QWidget* parent, const char* name, const QRect& place) {
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    list->setGeometry(place);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSortingEnabled(false);
    return list;
}

} // namespace

std::optional<std::string> groupNameOfFile(const std::string& fileName) {
    if (fileName.size() < kGroupPrefixLength + kGroupExtensionLength ||
        fileName.compare(0, kGroupPrefixLength, kGroupPrefix) != 0)
        return std::nullopt;
    return fileName.substr(kGroupPrefixLength,
                           fileName.size() - kGroupPrefixLength - kGroupExtensionLength);
}

std::vector<std::string> listGroupNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec)
        return names;
    for (const std::filesystem::directory_entry& entry : it) {
        std::error_code typeError;
        if (!entry.is_regular_file(typeError))
            continue;
        if (auto name = groupNameOfFile(entry.path().filename().string()))
            names.push_back(std::move(*name));
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int c = compareIgnoringCase(a, b);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

bool isValidGroupName(const std::string& name) {
    return std::none_of(name.begin(), name.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c == '/' || c == '\\' || c < 32 || c == 127;
    });
}

frmAssegnazioni::frmAssegnazioni(RuntimeState& state, Platform& platform,
                                 MidiInputFactory midiFactory, QWidget* parent)
    : QDialog(parent), state_(state), platform_(platform), midiFactory_(std::move(midiFactory)) {
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(twipsToPixels(5265), twipsToPixels(4980));
    setWindowTitle("Assegna tasti");

    Label1 = makeLabel(this, "Label1", twipsRect(120, 240, 1095, 255), "File");
    cmbGruppi = new QComboBox(this);
    cmbGruppi->setObjectName("cmbGruppi");
    cmbGruppi->setGeometry(twipsRect(120, 480, 2175, 315));
    cmbGruppi->setEditable(true);
    cmbGruppi->setInsertPolicy(QComboBox::NoInsert);
    // Choosing a group reloads it and drops unsaved edits, so scrolling over the list on the
    // way elsewhere must not choose one: no focus by wheel, and no wheel without focus.
    cmbGruppi->setFocusPolicy(Qt::StrongFocus);
    cmbGruppi->installEventFilter(this);
    cmdNuovo = makeButton(this, "cmdNuovo", twipsRect(2280, 480, 1095, 375), "Nuovo");
    lblTasti = makeLabel(this, "lblTasti", twipsRect(120, 960, 1335, 255), "Tasti");
    lblSequenza = makeLabel(this, "lblSequenza", twipsRect(3000, 960, 1335, 255), "Sequenza");
    lstTasti = makeList(this, "lstTasti", twipsRect(120, 1200, 2055, 2205));
    lstSequenza = makeList(this, "lstSequenza", twipsRect(3000, 1200, 2055, 2205));
    cmdSeqVa = makeButton(this, "cmdSeqVa", twipsRect(2280, 1200, 615, 255), ">");
    cmdSeqTorna = makeButton(this, "cmdSeqTorna", twipsRect(2280, 1560, 615, 255), "<");
    cmdTuttiVa = makeButton(this, "cmdTuttiVa", twipsRect(2280, 1920, 615, 255), ">>");
    cmdTuttiTorna = makeButton(this, "cmdTuttiTorna", twipsRect(2280, 2280, 615, 255), "<<");
    cmdSu = makeButton(this, "cmdSu", twipsRect(2280, 2880, 615, 255), "Su");
    cmdGiu = makeButton(this, "cmdGiu", twipsRect(2280, 3240, 615, 255), "Giù");
    cmdElimina = makeButton(this, "cmdElimina", twipsRect(120, 3600, 2055, 255), "Elimina");
    cmdNuovoTasto =
        makeButton(this, "cmdNuovoTasto", twipsRect(120, 3960, 2055, 255), "Assegna nuovo tasto");
    cmdNext = makeButton(this, "cmdNext", twipsRect(3000, 3600, 1335, 255), "Assegna Next");
    lblNext = makeLabel(this, "lblNext", twipsRect(4440, 3600, 615, 255), "");
    lblNext->setFrameStyle(QFrame::Box | QFrame::Plain);
    cmdAssegnaPrev =
        makeButton(this, "cmdAssegnaPrev", twipsRect(3000, 3960, 1335, 255), "Assegna Prev");
    lblPrev = makeLabel(this, "lblPrev", twipsRect(4440, 3960, 615, 255), "");
    lblPrev->setFrameStyle(QFrame::Box | QFrame::Plain);
    cmdExit = makeButton(this, "cmdExit", twipsRect(3960, 4440, 1095, 375), "OK");
    // The click-point timer runs only while a capture waits for the button.
    Timer1 = new QTimer(this);
    Timer1->setInterval(kIdleTimerMs);

    connect(cmbGruppi, &QComboBox::activated, this, &frmAssegnazioni::selectGroup);
    connect(cmdNuovo, &QPushButton::clicked, this, &frmAssegnazioni::cmdNuovo_Click);
    connect(cmdNuovoTasto, &QPushButton::clicked, this, &frmAssegnazioni::cmdNuovoTasto_Click);
    connect(cmdElimina, &QPushButton::clicked, this, &frmAssegnazioni::cmdElimina_Click);
    connect(cmdSeqVa, &QPushButton::clicked, this, &frmAssegnazioni::cmdSeqVa_Click);
    connect(cmdSeqTorna, &QPushButton::clicked, this, &frmAssegnazioni::cmdSeqTorna_Click);
    connect(cmdTuttiVa, &QPushButton::clicked, this, &frmAssegnazioni::cmdTuttiVa_Click);
    connect(cmdTuttiTorna, &QPushButton::clicked, this, &frmAssegnazioni::cmdTuttiTorna_Click);
    connect(cmdSu, &QPushButton::clicked, this, &frmAssegnazioni::cmdSu_Click);
    connect(cmdGiu, &QPushButton::clicked, this, &frmAssegnazioni::cmdGiu_Click);
    connect(cmdNext, &QPushButton::clicked, this, &frmAssegnazioni::cmdNext_Click);
    connect(cmdAssegnaPrev, &QPushButton::clicked, this, &frmAssegnazioni::cmdAssegnaPrev_Click);
    connect(cmdExit, &QPushButton::clicked, this, &frmAssegnazioni::cmdExit_Click);
    connect(Timer1, &QTimer::timeout, this, &frmAssegnazioni::Timer1_Timer);

    // Opening: captions of the current language, then the group list, which makes the first
    // listed group current.
    const LanguageTexts& t = state_.texts;
    setWindowTitle(qs(t.assignActionsTitle));
    cmdElimina->setText(qs(t.deleteCaption));
    cmdExit->setText(qs(t.okCaption));
    cmdSu->setText(qs(t.upCaption));
    cmdGiu->setText(qs(t.downCaption));
    cmdNext->setText(qs(t.nextCaption));
    cmdNuovo->setText(qs(t.newCaption));
    cmdAssegnaPrev->setText(qs(t.previousCaption));
    lblTasti->setText(qs(t.actionsLabel));
    lblSequenza->setText(qs(t.sequenceLabel));
    cmdNuovoTasto->setText(qs(t.assignNewKeyCaption));
    refreshGroupList();
    pointCaptured = true;
}

frmAssegnazioni::~frmAssegnazioni() = default;

void frmAssegnazioni::refreshGroupList() {
    cmbGruppi->clear();
    for (const std::string& name : listGroupNames(state_.programFolder))
        cmbGruppi->addItem(qs(name), QByteArray::fromStdString(name));
    if (cmbGruppi->count() > 0) {
        cmbGruppi->setCurrentIndex(0);
        selectGroup(0);
    }
}

void frmAssegnazioni::selectGroup(int index) {
    if (index < 0 || index >= cmbGruppi->count())
        return;
    // The raw name is kept beside the shown text, so that a file name that is not valid
    // UTF-8 still names its own file.
    const std::string name = cmbGruppi->itemData(index).toByteArray().toStdString();
    state_.groupFile = kGroupPrefix + name + kGroupExtension;
    writeSetting(state_, kGroupSection, kGroupFileKey, state_.groupFile);
    loadGroupFile(state_);
    refreshActionList();
    loadNextPrevTriggers(state_);
    showNextPrevTriggers();
    buildSequenceTable(state_);
    refreshSequenceList();
}

void frmAssegnazioni::refreshActionList() {
    lstTasti->clear();
    for (const ActionRecord& action : state_.actionTable)
        lstTasti->addItem(QString::number(action.order) + " | " + qs(action.description));
}

void frmAssegnazioni::refreshSequenceList() {
    lstSequenza->clear();
    for (std::size_t i = 0; i < state_.sequenceTable.size(); ++i) {
        const std::size_t position = std::min(i + 1, kMaxSequenceEntries);
        state_.sequenceTable[i].sequencePos = static_cast<uint8_t>(position);
        lstSequenza->addItem(QString::number(i + 1) + " - " +
                             qs(state_.sequenceTable[i].description));
    }
}

void frmAssegnazioni::showNextPrevTriggers() {
    lblNext->setText(qs(state_.nextTriggerCode));
    lblPrev->setText(qs(state_.prevTriggerCode));
}

void frmAssegnazioni::syncSequencePositions() {
    for (ActionRecord& action : state_.actionTable) {
        action.sequencePos = 0;
        for (const ActionRecord& entry : state_.sequenceTable) {
            if (entry.description == action.description)
                action.sequencePos = entry.sequencePos;
        }
    }
}

void frmAssegnazioni::cmdNuovo_Click() {
    const std::string name = askText(qs(state_.texts.configurationNamePrompt)).toStdString();
    // The name becomes part of a file name: a folder separator or a control character would
    // put the file elsewhere or make the write fail.
    if (!isValidGroupName(name)) {
        showMessage(qs(state_.texts.invalidNameMessage));
        return;
    }
    const std::string file = kGroupPrefix + name + kGroupExtension;
    if (fileExists(state_.programFolder + "/" + file)) {
        showMessage(qs(state_.texts.configurationExistsMessage));
        return;
    }
    if (!writeIniValue(state_, file, kMainSection, kNameKey, name)) {
        showMessage(qs(state_.texts.saveFailedMessage));
        return;
    }
    refreshGroupList();
}

void frmAssegnazioni::cmdNuovoTasto_Click() {
    // A group file holds at most 100 actions; more would be saved but never loaded again.
    if (state_.actionTable.size() >= static_cast<std::size_t>(kMaxActions)) {
        showMessage(qs(state_.texts.tooManyActionsMessage));
        return;
    }
    const std::string description = askText(qs(state_.texts.actionDescriptionPrompt)).toStdString();
    if (!captureTrigger())
        return; // capture closed without confirming: no action
    showMessage(qs(state_.texts.clickPointMessage));
    if (!captureClickPoint())
        return;
    // The group may have been changed by hand while the capture waited.
    if (state_.actionTable.size() >= static_cast<std::size_t>(kMaxActions)) {
        showMessage(qs(state_.texts.tooManyActionsMessage));
        return;
    }

    ActionRecord action;
    const std::string number = "000" + std::to_string(state_.actionCount + 1);
    action.entryName = "tasto-" + number.substr(number.size() - 3);
    action.description = description;
    action.order = static_cast<int16_t>(state_.actionTable.size() + 1);
    action.triggerCode = state_.capturedTriggerCode;
    action.triggerKind = state_.inputMode;
    action.clickX = capturedX;
    action.clickY = capturedY;
    action.sequencePos = 0;
    state_.actionTable.push_back(std::move(action));
    refreshActionList();
}

void frmAssegnazioni::cmdElimina_Click() {
    // Sequence edits made since the group was loaded live only in the working list; take them
    // over first, so that the rebuild below keeps them.
    syncSequencePositions();
    const int row = selectedRow(lstTasti);
    if (row >= 0 && static_cast<std::size_t>(row) < state_.actionTable.size()) {
        state_.actionTable.erase(state_.actionTable.begin() + row);
        for (std::size_t i = static_cast<std::size_t>(row); i < state_.actionTable.size(); ++i)
            --state_.actionTable[i].order;
    }
    refreshActionList();
    buildSequenceTable(state_);
    refreshSequenceList();
}

void frmAssegnazioni::cmdSeqVa_Click() {
    const int row = selectedRow(lstTasti);
    if (row < 0 || static_cast<std::size_t>(row) >= state_.actionTable.size())
        return;
    if (sequenceHasDescription(state_.actionTable[row].description))
        return;
    if (state_.sequenceTable.size() >= kMaxSequenceEntries)
        return;
    syncSequencePositions();
    state_.actionTable[row].sequencePos = static_cast<uint8_t>(state_.sequenceTable.size() + 1);
    buildSequenceTable(state_);
    refreshSequenceList();
}

void frmAssegnazioni::cmdSeqTorna_Click() {
    const int row = selectedRow(lstSequenza);
    if (row >= 0 && static_cast<std::size_t>(row) < state_.sequenceTable.size())
        state_.sequenceTable.erase(state_.sequenceTable.begin() + row);
    refreshSequenceList();
}

void frmAssegnazioni::cmdTuttiVa_Click() {
    syncSequencePositions();
    for (std::size_t i = 0; i < state_.actionTable.size(); ++i) {
        if (sequenceHasDescription(state_.actionTable[i].description))
            continue;
        if (state_.sequenceTable.size() >= kMaxSequenceEntries)
            break;
        state_.actionTable[i].sequencePos = static_cast<uint8_t>(state_.sequenceTable.size() + 1);
        buildSequenceTable(state_);
        refreshSequenceList();
    }
}

void frmAssegnazioni::cmdTuttiTorna_Click() {
    state_.sequenceTable.clear();
    refreshSequenceList();
}

void frmAssegnazioni::cmdSu_Click() {
    const int row = selectedRow(lstSequenza);
    if (row >= 1)
        std::swap(state_.sequenceTable[row - 1], state_.sequenceTable[row]);
    refreshSequenceList();
    if (lstSequenza->count() > 0)
        lstSequenza->setCurrentRow(row >= 1 ? row - 1 : 0);
}

void frmAssegnazioni::cmdGiu_Click() {
    const int row = selectedRow(lstSequenza);
    const int count = static_cast<int>(state_.sequenceTable.size());
    if (row >= 0 && row + 1 < count)
        std::swap(state_.sequenceTable[row], state_.sequenceTable[row + 1]);
    refreshSequenceList();
    if (lstSequenza->count() > 0)
        lstSequenza->setCurrentRow(row + 1 < count ? row + 1 : count - 1);
}

void frmAssegnazioni::cmdNext_Click() {
    if (!captureTrigger())
        return;
    lblNext->setText(qs(state_.capturedTriggerCode));
    state_.nextTriggerCode = state_.capturedTriggerCode;
}

void frmAssegnazioni::cmdAssegnaPrev_Click() {
    if (!captureTrigger())
        return;
    lblPrev->setText(qs(state_.capturedTriggerCode));
    state_.prevTriggerCode = state_.capturedTriggerCode;
}

void frmAssegnazioni::cmdExit_Click() {
    syncSequencePositions();
    // With no group chosen ever there is no file to write.
    if (!state_.groupFile.empty() && !saveGroupFile(state_)) {
        showMessage(qs(state_.texts.saveFailedMessage));
        return;
    }
    accept();
}

bool frmAssegnazioni::captureClickPoint() {
    if (captureLoop_)
        return false; // a capture is already waiting further up the stack
    Timer1->setInterval(kClickPollMs);
    pointCaptured = false;
    showMinimized();
    Timer1->start();
    QEventLoop loop;
    captureLoop_ = &loop;
    loop.exec();
    captureLoop_ = nullptr;
    Timer1->stop();
    const bool taken = pointCaptured;
    pointCaptured = true;
    return taken;
}

void frmAssegnazioni::Timer1_Timer() {
    if (pointCaptured)
        return;
    if (!isLeftButtonDown(platform_))
        return;
    const std::optional<ScreenPoint> position = platform_.cursorPos();
    if (!position)
        return;
    capturedX = position->x;
    capturedY = position->y;
    pointCaptured = true;
    showNormal();
    Timer1->stop();
    if (captureLoop_)
        captureLoop_->quit();
}

void frmAssegnazioni::done(int result) {
    // Closing the editor ends a capture that still waits; its addition is dropped.
    if (captureLoop_)
        captureLoop_->quit();
    Timer1->stop();
    QDialog::done(result);
}

bool frmAssegnazioni::captureTrigger() {
    return state_.inputMode == kMidiMode ? runMidiCapture() : runKeyCapture();
}

bool frmAssegnazioni::eventFilter(QObject* watched, QEvent* event) {
    if (watched == cmbGruppi && event->type() == QEvent::Wheel && !cmbGruppi->hasFocus()) {
        event->ignore();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

QString frmAssegnazioni::askText(const QString& prompt) {
    // Cancel gives the empty text, which the callers use like any other answer.
    return QInputDialog::getText(this, QString(), prompt);
}

void frmAssegnazioni::showMessage(const QString& text) {
    QMessageBox::information(this, QString(), text, QMessageBox::Ok);
}

bool frmAssegnazioni::runKeyCapture() {
    frmAspettaTastoComputer dialog(state_, platform_, this);
    return dialog.exec() == QDialog::Accepted;
}

bool frmAssegnazioni::runMidiCapture() {
    frmAspettaTastoMIDI dialog(state_, midiFactory_, this);
    return dialog.exec() == QDialog::Accepted;
}

int frmAssegnazioni::selectedRow(const QListWidget* list) const {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.front());
}

bool frmAssegnazioni::sequenceHasDescription(const std::string& description) const {
    return std::any_of(state_.sequenceTable.begin(), state_.sequenceTable.end(),
                       [&](const ActionRecord& entry) { return entry.description == description; });
}

} // namespace quindel
