#include "ui/AssignmentEditor.h"

#include "ui/ActionEditDialog.h"
#include "ui/Twips.h"
#include "ui/DialogSupport.h"
#include "core/text/TriggerNames.h"
#include "ui/KeyCaptureDialog.h"
#include "ui/MidiCaptureDialog.h"
#include "core/engine/RuntimeState.h"
#include "core/engine/PointerOutput.h"
#include "platform/Platform.h"
#include "core/storage/GroupFiles.h"
#include "core/storage/Settings.h"
#include "core/storage/SettingsAccess.h"

#include <QComboBox>
#include <QEvent>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStyle>

#include <algorithm>
#include <filesystem>
#include <utility>

namespace quindel {

namespace {

constexpr const char* kMainSection = "main";
constexpr const char* kNameKey = "nome";
// Sequence positions are stored in 8 bits.
constexpr std::size_t kMaxSequenceEntries = 255;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
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

// Gives each action the position of the last sequence entry with its description, or 0.
void takeSequencePositions(std::vector<ActionRecord>& actions,
                           const std::vector<ActionRecord>& sequence) {
    for (ActionRecord& action : actions) {
        action.sequencePos = 0;
        for (const ActionRecord& entry : sequence) {
            if (entry.description == action.description)
                action.sequencePos = entry.sequencePos;
        }
    }
}

} // namespace

AssignmentEditor::AssignmentEditor(RuntimeState& state, Platform& platform,
                                   MidiInputFactory midiFactory, QWidget* parent)
    : QDialog(parent), state_(state), platform_(platform), midiFactory_(std::move(midiFactory)) {
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(twipsToPixels(5265), twipsToPixels(4980));
    setWindowTitle("Assegna tasti");

    groupLabel = makeLabel(this, "Label1", twipsRect(120, 240, 1095, 255), "File");
    groupCombo = new QComboBox(this);
    groupCombo->setObjectName("cmbGruppi");
    groupCombo->setGeometry(twipsRect(120, 480, 2175, 315));
    groupCombo->setEditable(true);
    groupCombo->setInsertPolicy(QComboBox::NoInsert);
    // Choosing a group reloads it and drops unsaved edits, so scrolling over the list on the
    // way elsewhere must not choose one: no focus by wheel, and no wheel without focus.
    groupCombo->setFocusPolicy(Qt::StrongFocus);
    groupCombo->installEventFilter(this);
    newGroupButton = makeButton(this, "cmdNuovo", twipsRect(2280, 480, 1095, 375), "Nuovo");
    actionListLabel = makeLabel(this, "lblTasti", twipsRect(120, 960, 1335, 255), "Tasti");
    sequenceListLabel = makeLabel(this, "lblSequenza", twipsRect(3000, 960, 1335, 255), "Sequenza");
    actionList = makeList(this, "lstTasti", twipsRect(120, 1200, 2055, 2205));
    sequenceList = makeList(this, "lstSequenza", twipsRect(3000, 1200, 2055, 2205));
    addToSequenceButton = makeButton(this, "cmdSeqVa", twipsRect(2280, 1200, 615, 255), ">");
    removeFromSequenceButton =
        makeButton(this, "cmdSeqTorna", twipsRect(2280, 1560, 615, 255), "<");
    addAllToSequenceButton = makeButton(this, "cmdTuttiVa", twipsRect(2280, 1920, 615, 255), ">>");
    removeAllFromSequenceButton =
        makeButton(this, "cmdTuttiTorna", twipsRect(2280, 2280, 615, 255), "<<");
    moveUpButton = makeButton(this, "cmdSu", twipsRect(2280, 2880, 615, 255), "Su");
    moveDownButton = makeButton(this, "cmdGiu", twipsRect(2280, 3240, 615, 255), "Giù");
    deleteButton = makeButton(this, "cmdElimina", twipsRect(120, 3600, 2055, 255), "Elimina");
    newActionButton =
        makeButton(this, "cmdNuovoTasto", twipsRect(120, 3960, 2055, 255), "Assegna nuovo tasto");
    nextTriggerButton =
        makeButton(this, "cmdNext", twipsRect(3000, 3600, 1335, 255), "Assegna Next");
    nextTriggerLabel = makeLabel(this, "lblNext", twipsRect(4440, 3600, 615, 255), "");
    nextTriggerLabel->setFrameStyle(QFrame::Box | QFrame::Plain);
    prevTriggerButton =
        makeButton(this, "cmdAssegnaPrev", twipsRect(3000, 3960, 1335, 255), "Assegna Prev");
    prevTriggerLabel = makeLabel(this, "lblPrev", twipsRect(4440, 3960, 615, 255), "");
    prevTriggerLabel->setFrameStyle(QFrame::Box | QFrame::Plain);
    okButton = makeButton(this, "cmdExit", twipsRect(3960, 4440, 1095, 375), "OK");

    connect(groupCombo, &QComboBox::activated, this, &AssignmentEditor::groupChosen);
    connect(actionList, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { editAction(actionList->row(item)); });
    actionList->installEventFilter(this);
    connect(newGroupButton, &QPushButton::clicked, this, &AssignmentEditor::newGroupClicked);
    connect(newActionButton, &QPushButton::clicked, this, &AssignmentEditor::newActionClicked);
    connect(deleteButton, &QPushButton::clicked, this, &AssignmentEditor::deleteClicked);
    connect(addToSequenceButton, &QPushButton::clicked, this,
            &AssignmentEditor::addToSequenceClicked);
    connect(removeFromSequenceButton, &QPushButton::clicked, this,
            &AssignmentEditor::removeFromSequenceClicked);
    connect(addAllToSequenceButton, &QPushButton::clicked, this,
            &AssignmentEditor::addAllToSequenceClicked);
    connect(removeAllFromSequenceButton, &QPushButton::clicked, this,
            &AssignmentEditor::removeAllFromSequenceClicked);
    connect(moveUpButton, &QPushButton::clicked, this, &AssignmentEditor::moveUpClicked);
    connect(moveDownButton, &QPushButton::clicked, this, &AssignmentEditor::moveDownClicked);
    connect(nextTriggerButton, &QPushButton::clicked, this, &AssignmentEditor::nextTriggerClicked);
    connect(prevTriggerButton, &QPushButton::clicked, this, &AssignmentEditor::prevTriggerClicked);
    connect(okButton, &QPushButton::clicked, this, &AssignmentEditor::okClicked);

    // Opening: captions of the current language, then the group list, which shows the group
    // that runs; only when that group is not listed does the first listed one become current.
    const LanguageTexts& t = state_.texts;
    setWindowTitle(qs(t.assignActionsTitle));
    deleteButton->setText(qs(t.deleteCaption));
    okButton->setText(qs(t.okCaption));
    moveUpButton->setText(qs(t.upCaption));
    moveDownButton->setText(qs(t.downCaption));
    nextTriggerButton->setText(qs(t.nextCaption));
    newGroupButton->setText(qs(t.newCaption));
    prevTriggerButton->setText(qs(t.previousCaption));
    actionListLabel->setText(qs(t.actionsLabel));
    sequenceListLabel->setText(qs(t.sequenceLabel));
    newActionButton->setText(qs(t.assignNewKeyCaption));
    refreshGroupList();
    savedTables_ = tablesAsSaved();
    pointCaptured = true;
    makeRoomForTriggerNames();
    refreshActionList();
}

AssignmentEditor::~AssignmentEditor() = default;

void AssignmentEditor::refreshGroupList() {
    groupCombo->clear();
    for (const std::string& name : listGroupNames(state_.userFilesFolder))
        groupCombo->addItem(qs(name), QByteArray::fromStdString(name));
    if (groupCombo->count() == 0)
        return;
    // The running group is shown as it runs: neither reloaded nor written to the settings.
    const int current = listedIndexOf(state_.groupFile);
    if (current >= 0) {
        groupCombo->setCurrentIndex(current);
        showCurrentGroup();
        return;
    }
    groupCombo->setCurrentIndex(0);
    selectGroup(0);
}

int AssignmentEditor::listedIndexOf(const std::string& groupFile) const {
    for (int i = 0; i < groupCombo->count(); ++i) {
        if (groupFileNameOf(groupCombo->itemData(i).toByteArray().toStdString()) == groupFile)
            return i;
    }
    return -1;
}

void AssignmentEditor::showCurrentGroup() {
    refreshActionList();
    showNextPrevTriggers();
    refreshSequenceList();
}

void AssignmentEditor::groupChosen(int index) {
    // Choosing a group replaces the tables: unsaved edits are saved or dropped first, or the
    // choice is taken back.
    if (!settleUnsavedChanges()) {
        groupCombo->setCurrentIndex(listedIndexOf(state_.groupFile));
        return;
    }
    selectGroup(index);
}

void AssignmentEditor::selectGroup(int index) {
    if (index < 0 || index >= groupCombo->count())
        return;
    // The raw name is kept beside the shown text, so that a file name that is not valid
    // UTF-8 still names its own file.
    const std::string name = groupCombo->itemData(index).toByteArray().toStdString();
    state_.groupFile = groupFileNameOf(name);
    writeSetting(state_, kGroupSection, kGroupFileKey, state_.groupFile);
    loadGroupFile(state_);
    loadNextPrevTriggers(state_);
    buildSequenceTable(state_);
    showCurrentGroup();
    savedTables_ = tablesAsSaved();
}

bool AssignmentEditor::hasUnsavedChanges() const {
    return tablesAsSaved() != savedTables_;
}

AssignmentEditor::SavedTables AssignmentEditor::tablesAsSaved() const {
    SavedTables tables{state_.actionTable, state_.nextTriggerCode, state_.prevTriggerCode};
    takeSequencePositions(tables.actions, state_.sequenceTable);
    return tables;
}

void AssignmentEditor::refreshActionList() {
    actionList->clear();
    for (const ActionRecord& action : state_.actionTable)
        actionList->addItem(actionRowText(action));
}

void AssignmentEditor::refreshSequenceList() {
    sequenceList->clear();
    for (std::size_t i = 0; i < state_.sequenceTable.size(); ++i) {
        const std::size_t position = std::min(i + 1, kMaxSequenceEntries);
        state_.sequenceTable[i].sequencePos = static_cast<uint8_t>(position);
        sequenceList->addItem(QString::number(i + 1) + " - " +
                              qs(state_.sequenceTable[i].description));
    }
}

void AssignmentEditor::showNextPrevTriggers() {
    nextTriggerLabel->setText(triggerText(state_.nextTriggerCode));
    prevTriggerLabel->setText(triggerText(state_.prevTriggerCode));
}

void AssignmentEditor::syncSequencePositions() {
    takeSequencePositions(state_.actionTable, state_.sequenceTable);
}

void AssignmentEditor::newGroupClicked() {
    const std::optional<QString> answer = askText(qs(state_.texts.configurationNamePrompt));
    if (!answer || answer->isEmpty())
        return; // Cancel, or no name: no group
    const std::string name = answer->toStdString();
    // The name becomes part of a file name: a folder separator or a control character would
    // put the file elsewhere or make the write fail.
    if (!isValidGroupName(name)) {
        showMessage(qs(state_.texts.invalidNameMessage));
        return;
    }
    const std::string file = groupFileNameOf(name);
    if (fileExists(state_.userFilesFolder + "/" + file)) {
        showMessage(qs(state_.texts.configurationExistsMessage));
        return;
    }
    // The new group becomes current, which replaces the tables.
    if (!settleUnsavedChanges())
        return;
    if (!writeIniValue(state_, file, kMainSection, kNameKey, name)) {
        showMessage(qs(state_.texts.saveFailedMessage));
        return;
    }
    refreshGroupList();
    const int created = listedIndexOf(file);
    if (created >= 0) {
        groupCombo->setCurrentIndex(created);
        selectGroup(created);
    }
}

void AssignmentEditor::newActionClicked() {
    // A group file holds at most 100 actions; more would be saved but never loaded again.
    if (state_.actionTable.size() >= static_cast<std::size_t>(kMaxActions)) {
        showMessage(qs(state_.texts.tooManyActionsMessage));
        return;
    }
    const std::optional<QString> description = askText(qs(state_.texts.actionDescriptionPrompt));
    if (!description)
        return; // Cancel ends the addition; an empty description is allowed
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
    action.description = description->toStdString();
    action.order = static_cast<int16_t>(state_.actionTable.size() + 1);
    action.triggerCode = state_.capturedTriggerCode;
    action.triggerKind = state_.inputMode;
    action.clickX = capturedX;
    action.clickY = capturedY;
    action.sequencePos = 0;
    state_.actionTable.push_back(std::move(action));
    refreshActionList();
}

void AssignmentEditor::deleteClicked() {
    // Sequence edits made since the group was loaded live only in the working list; take them
    // over first, so that the rebuild below keeps them.
    syncSequencePositions();
    const int row = selectedRow(actionList);
    if (row >= 0 && static_cast<std::size_t>(row) < state_.actionTable.size()) {
        state_.actionTable.erase(state_.actionTable.begin() + row);
        for (std::size_t i = static_cast<std::size_t>(row); i < state_.actionTable.size(); ++i)
            --state_.actionTable[i].order;
    }
    refreshActionList();
    buildSequenceTable(state_);
    refreshSequenceList();
}

void AssignmentEditor::editAction(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= state_.actionTable.size())
        return;
    const ActionRecord original = state_.actionTable[row];
    ActionEditDialog dialog(state_.texts, original, this);
    // The dialog is closed while a capture runs, so that the point to click is free, and shown
    // again with what was captured.
    for (int result = runEditDialog(dialog); result != QDialog::Accepted;
         result = runEditDialog(dialog)) {
        if (result == ActionEditDialog::CaptureTrigger) {
            if (captureTrigger())
                dialog.setTrigger(state_.capturedTriggerCode, state_.inputMode);
        } else if (result == ActionEditDialog::CapturePoint) {
            showMessage(qs(state_.texts.clickPointMessage));
            if (captureClickPoint())
                dialog.setPoint(capturedX, capturedY);
            else if (closedDuringCapture_)
                return; // the editor was closed meanwhile
            // A cancelled capture shows the dialog again as the user left it.
        } else {
            return; // Cancel: nothing changes
        }
    }
    // The list may have been changed by hand while a capture waited; the edit then belongs
    // to no action any more.
    const auto sameAction = [](ActionRecord a, ActionRecord b) {
        a.sequencePos = b.sequencePos = 0;
        return a == b;
    };
    if (static_cast<std::size_t>(row) >= state_.actionTable.size() ||
        !sameAction(state_.actionTable[row], original))
        return;
    // The sequence ties entries to actions by description: take its positions over first, so
    // that the edited action keeps its place under a new description.
    syncSequencePositions();
    ActionRecord edited = dialog.editedAction();
    edited.sequencePos = state_.actionTable[row].sequencePos;
    state_.actionTable[row] = std::move(edited);
    refreshActionList();
    buildSequenceTable(state_);
    refreshSequenceList();
    actionList->setCurrentRow(row);
}

void AssignmentEditor::addToSequenceClicked() {
    const int row = selectedRow(actionList);
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

void AssignmentEditor::removeFromSequenceClicked() {
    const int row = selectedRow(sequenceList);
    if (row >= 0 && static_cast<std::size_t>(row) < state_.sequenceTable.size())
        state_.sequenceTable.erase(state_.sequenceTable.begin() + row);
    refreshSequenceList();
}

void AssignmentEditor::addAllToSequenceClicked() {
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

void AssignmentEditor::removeAllFromSequenceClicked() {
    state_.sequenceTable.clear();
    refreshSequenceList();
}

void AssignmentEditor::moveUpClicked() {
    const int row = selectedRow(sequenceList);
    if (row >= 1)
        std::swap(state_.sequenceTable[row - 1], state_.sequenceTable[row]);
    refreshSequenceList();
    if (sequenceList->count() > 0)
        sequenceList->setCurrentRow(row >= 1 ? row - 1 : 0);
}

void AssignmentEditor::moveDownClicked() {
    const int row = selectedRow(sequenceList);
    const int count = static_cast<int>(state_.sequenceTable.size());
    if (row >= 0 && row + 1 < count)
        std::swap(state_.sequenceTable[row], state_.sequenceTable[row + 1]);
    refreshSequenceList();
    if (sequenceList->count() > 0)
        sequenceList->setCurrentRow(row + 1 < count ? row + 1 : count - 1);
}

void AssignmentEditor::nextTriggerClicked() {
    if (!captureTrigger())
        return;
    state_.nextTriggerCode = state_.capturedTriggerCode;
    showNextPrevTriggers();
}

void AssignmentEditor::prevTriggerClicked() {
    if (!captureTrigger())
        return;
    state_.prevTriggerCode = state_.capturedTriggerCode;
    showNextPrevTriggers();
}

void AssignmentEditor::okClicked() {
    if (saveGroup())
        accept();
}

bool AssignmentEditor::saveGroup() {
    syncSequencePositions();
    // With no group chosen ever there is no file to write.
    if (!state_.groupFile.empty() && !saveGroupFile(state_)) {
        showMessage(qs(state_.texts.saveFailedMessage));
        return false;
    }
    savedTables_ = tablesAsSaved();
    return true;
}

bool AssignmentEditor::settleUnsavedChanges() {
    if (!hasUnsavedChanges())
        return true;
    switch (askSaveChanges()) {
    case QMessageBox::Save:
        return saveGroup();
    case QMessageBox::Discard:
        // What runs goes back to what the file holds.
        loadGroupFile(state_);
        loadNextPrevTriggers(state_);
        buildSequenceTable(state_);
        showCurrentGroup();
        savedTables_ = tablesAsSaved();
        return true;
    default:
        return false;
    }
}

void AssignmentEditor::reject() {
    if (settleUnsavedChanges())
        QDialog::reject();
}

bool AssignmentEditor::captureClickPoint() {
    if (captureLoop_)
        return false; // a capture is already waiting further up the stack
    pointCaptured = false;
    closedDuringCapture_ = false;
    bool decided = false; // a capture may end before it is waited for
    const auto take = [this, &decided](std::optional<ScreenPoint> point) {
        if (point) {
            capturedX = point->x;
            capturedY = point->y;
        }
        decided = true;
        pointCaptured = point.has_value();
        if (captureLoop_)
            captureLoop_->quit();
    };
    // The platform takes the point its own way, in the space its clicks use; the editor only
    // steps out of the way meanwhile.
    if (!platform_.beginPointCapture(take)) {
        pointCaptured = true;
        showMessage(qs(platform_.onXWayland() ? state_.texts.xwaylandMessage
                                              : state_.texts.noPointCaptureMessage));
        return false;
    }
    // The platform's events, which end the capture, also reach it without the main window.
    std::unique_ptr<QSocketNotifier> events;
    if (const int source = platform_.desktopEventSource(); source >= 0 && !decided) {
        events = std::make_unique<QSocketNotifier>(source, QSocketNotifier::Read);
        connect(events.get(), &QSocketNotifier::activated, this,
                [this] { platform_.handleDesktopEvents(); });
    }
    if (!decided) {
        showMinimized();
        stepAside(true);
        QEventLoop loop;
        captureLoop_ = &loop;
        if (!decided)
            loop.exec();
        captureLoop_ = nullptr;
        if (!decided)
            platform_.cancelPointCapture(); // the editor was closed meanwhile
        showNormal();
        stepAside(false);
    }
    const bool taken = pointCaptured;
    pointCaptured = true;
    return taken;
}

void AssignmentEditor::done(int result) {
    // Closing the editor ends a capture that still waits; its addition is dropped.
    if (captureLoop_) {
        closedDuringCapture_ = true;
        captureLoop_->quit();
    }
    stepAside(false);
    QDialog::done(result);
}

bool AssignmentEditor::captureTrigger() {
    return state_.inputMode == kMidiMode ? runMidiCapture() : runKeyCapture();
}

bool AssignmentEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == groupCombo && event->type() == QEvent::Wheel && !groupCombo->hasFocus()) {
        event->ignore();
        return true;
    }
    if (watched == actionList && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            editAction(actionList->currentRow());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

std::optional<QString> AssignmentEditor::askText(const QString& prompt) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(this, kMessageTitle, prompt, QLineEdit::Normal, QString(), &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

QMessageBox::StandardButton AssignmentEditor::askSaveChanges() {
    return QMessageBox::question(this, kMessageTitle, qs(state_.texts.saveChangesQuestion),
                                 QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                 QMessageBox::Save);
}

int AssignmentEditor::runEditDialog(ActionEditDialog& dialog) {
    return dialog.exec();
}

void AssignmentEditor::showMessage(const QString& text) {
    QMessageBox::information(this, kMessageTitle, text, QMessageBox::Ok);
}

bool AssignmentEditor::runKeyCapture() {
    KeyCaptureDialog dialog(state_, platform_, this);
    return dialog.exec() == QDialog::Accepted;
}

bool AssignmentEditor::runMidiCapture() {
    MidiCaptureDialog dialog(state_, midiFactory_, this);
    return dialog.exec() == QDialog::Accepted;
}

int AssignmentEditor::selectedRow(const QListWidget* list) const {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.front());
}

bool AssignmentEditor::sequenceHasDescription(const std::string& description) const {
    return std::any_of(state_.sequenceTable.begin(), state_.sequenceTable.end(),
                       [&](const ActionRecord& entry) { return entry.description == description; });
}

QString AssignmentEditor::triggerText(const std::string& code) const {
    return qs(triggerWithName(code, platform_, state_.texts));
}

QString AssignmentEditor::actionRowText(const ActionRecord& action) const {
    const QString name = qs(triggerName(action.triggerCode, platform_, state_.texts));
    const QString head = QString::number(action.order) + " | ";
    const QString tail = "  " + (name.isEmpty() ? qs(action.triggerCode) : name) +
                         QStringLiteral("  (%1, %2)").arg(action.clickX).arg(action.clickY);
    // The order, the trigger and the point always show; the description gets what is left.
    const QFontMetrics metrics(actionList->font());
    // The room inside the frame, less a scroll bar, which a long list gets.
    const int room = actionList->contentsRect().width() -
                     actionList->style()->pixelMetric(QStyle::PM_ScrollBarExtent) -
                     metrics.horizontalAdvance(head + tail) - metrics.averageCharWidth();
    return head + metrics.elidedText(qs(action.description), Qt::ElideRight, std::max(room, 0)) +
           tail;
}

void AssignmentEditor::makeRoomForTriggerNames() {
    const int listWider = twipsToPixels(1800);
    const int labelWider = twipsToPixels(1800);
    const int middleColumn = twipsToPixels(2280);
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->x() >= middleColumn)
            child->move(child->x() + listWider, child->y());
    }
    for (QWidget* wider :
         std::initializer_list<QWidget*>{groupCombo, actionList, deleteButton, newActionButton})
        wider->resize(wider->width() + listWider, wider->height());
    for (QWidget* right :
         std::initializer_list<QWidget*>{nextTriggerLabel, prevTriggerLabel, sequenceList})
        right->resize(right->width() + labelWider, right->height());
    okButton->move(okButton->x() + labelWider, okButton->y());
    setFixedSize(width() + listWider + labelWider, height());
}

void AssignmentEditor::stepAside(bool aside) {
    if (aside && !placeBeforeAside_ && !platform_.windowManagerRunning()) {
        placeBeforeAside_ = pos();
        move(-2 * frameGeometry().width() - 100, -2 * frameGeometry().height() - 100);
    } else if (!aside && placeBeforeAside_) {
        move(*placeBeforeAside_);
        placeBeforeAside_.reset();
    }
}

} // namespace quindel
