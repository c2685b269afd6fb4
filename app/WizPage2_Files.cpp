#include "app/WizPage2_Files.h"

#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QSet>
#include <QShortcut>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <new>

#include "app/QtPartBarDelegate.h"
#include "app/QtPartEditor.h"
#include "app/QtUi.h"
#include "pipeline/app_exception.h"
#include "pipeline/fade.h"
#include "pipeline/job.h"
#include "platform/paths.h"
#include "sources/part_edit.h"

namespace tolvane::wizard {

namespace {

QPushButton* pictureButton(const QString& text, const QString& pictureName, QWidget* parent) {
    auto* button = new QPushButton(picture(pictureName), text, parent);
    button->setAutoDefault(false);
    button->setIconSize(QSize(20, 20));
    button->setMinimumWidth(110);
    return button;
}

std::vector<std::string> toPaths(const QStringList& paths) {
    std::vector<std::string> result;
    result.reserve(paths.size());
    for (const QString& path : paths)
        result.push_back(fromQt(path));
    return result;
}

// The marker button's text and picture for each marker state.
struct MarkerLook {
    const char* text;
    const char* picture;
};
constexpr MarkerLook kMarkerLooks[] = {
    {"&Mark a part", "mark"},
    // The button keeps its access key through the states: Alt+M starts, marks the start and
    // marks the end.
    {"&Mark start", "mark_start"},
    {"&Mark end", "mark_end"},
};

// How often the marker looks at the player: it notices the end of playback.
constexpr int kMarkerTimerMs = 500;
// How often the playing row is redrawn, so that the position picture moves smoothly.
constexpr int kPositionRedrawMs = 40;

}  // namespace

WizPage2_Files::WizPage2_Files(QWidget* parent) : WizPageBase(kFiles, parent) {
    settings_.load();
    setAcceptDrops(true);
}

WizPage2_Files::~WizPage2_Files() {
    if (reader_.joinable())
        reader_.join();
    // Playback does not outlive the page (the wizard closed while a file played).
    try {
        marker_.abandon();
    } catch (...) {
    }
}

void WizPage2_Files::onInitDialog() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(
        bodyText("Click \"Add files\" button or drag-and-drop audio files to the list.", this));
    auto* row = new QHBoxLayout;
    buildFileList(row);
    buildButtons(row);
    layout->addLayout(row, 1);
    connectControls();
    showNewEntries();
    showFades();
    updateButtons();
}

void WizPage2_Files::buildFileList(QHBoxLayout* row) {
    list_ = new QTreeWidget(this);
    list_->setObjectName("fileList");
    list_->setColumnCount(2);
    list_->setHeaderLabels({"File Name", "Part of file to convert (marked red)"});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setAllColumnsShowFocus(true);
    list_->setTextElideMode(Qt::ElideMiddle);
    QFont listFont = list_->font();
    listFont.setPointSizeF(listFont.pointSizeF() * 1.3);
    list_->setFont(listFont);
    // The header keeps the dialog's size (a font set explicitly, so it does not inherit the
    // list's).
    QFont headerFont = font();
    headerFont.setPointSizeF(headerFont.pointSizeF());
    list_->header()->setFont(headerFont);
    list_->header()->setStretchLastSection(true);
    list_->setColumnWidth(0, 200);
    list_->setColumnWidth(1, 250);
    auto* bar = new QtPartBarDelegate(list_);
    bar->setMarker(&marker_);
    list_->setItemDelegateForColumn(1, bar);
    list_->setAccessibleName("Files to convert");
    // Clicks in the bar of the playing row move playback; Space in the list marks while a
    // file plays.
    list_->viewport()->installEventFilter(this);
    list_->installEventFilter(this);
    // Drops on the list reach the page.
    list_->setAcceptDrops(false);
    row->addWidget(list_, 1);
}

void WizPage2_Files::buildButtons(QHBoxLayout* row) {
    auto* buttons = new QVBoxLayout;
    add_ = pictureButton("&Add files", "add", this);
    remove_ = pictureButton("&Remove", "remove", this);
    selectAll_ = pictureButton("&Select all", "selectall", this);
    mark_ = pictureButton("&Mark a part", "mark", this);
    add_->setObjectName("addButton");
    remove_->setObjectName("removeButton");
    selectAll_->setObjectName("selectAllButton");
    mark_->setObjectName("markButton");
    mark_->setToolTip("Listen to the selected file and mark the part to keep");
    edit_ = pictureButton("&Edit part...", "mark", this);
    edit_->setObjectName("editPartButton");
    edit_->setToolTip("See the selected file's waveform and set the part by times");
    for (QPushButton* button : {add_, remove_, selectAll_, mark_, edit_})
        buttons->addWidget(button);
    buttons->addStretch(1);
    // Fades are a choice for every ringtone of the run, stored with the other choices.
    fadeIn_ = new QCheckBox("Fade &in", this);
    fadeOut_ = new QCheckBox("Fade &out", this);
    fadeIn_->setObjectName("fadeIn");
    fadeOut_->setObjectName("fadeOut");
    fadeIn_->setToolTip("The ringtones rise from silence over their first half second");
    fadeOut_->setToolTip("The ringtones fall to silence over their last second and a half");
    buttons->addWidget(fadeIn_);
    buttons->addWidget(fadeOut_);
    row->addLayout(buttons);
}

void WizPage2_Files::connectControls() {
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &WizPage2_Files::updateButtons);
    connect(add_, &QPushButton::clicked, this, &WizPage2_Files::browseForFiles);
    connect(remove_, &QPushButton::clicked, this, &WizPage2_Files::removeSelected);
    connect(selectAll_, &QPushButton::clicked, this, &WizPage2_Files::selectAll);
    connect(mark_, &QPushButton::clicked, this, &WizPage2_Files::advanceMarker);
    connect(edit_, &QPushButton::clicked, this, &WizPage2_Files::openPartEditor);
    connect(fadeIn_, &QCheckBox::toggled, this,
            [this](bool on) { settings_.setFadeInMs(on ? kWizardFadeInMs : 0); });
    connect(fadeOut_, &QCheckBox::toggled, this,
            [this](bool on) { settings_.setFadeOutMs(on ? kWizardFadeOutMs : 0); });

    // Delete removes the selected files, wherever the focus is on the page.
    auto* remove = new QShortcut(QKeySequence::Delete, this);
    remove->setContext(Qt::WidgetWithChildrenShortcut);
    connect(remove, &QShortcut::activated, this, [this] {
        if (remove_->isEnabled())
            removeSelected();
    });

    markerTimer_ = new QTimer(this);
    markerTimer_->setInterval(kMarkerTimerMs);
    connect(markerTimer_, &QTimer::timeout, this, &WizPage2_Files::checkPlayback);
    positionTimer_ = new QTimer(this);
    positionTimer_->setInterval(kPositionRedrawMs);
    connect(positionTimer_, &QTimer::timeout, this, [this] {
        if (!marker_.idle())
            redrawRow(marker_.playingId());
    });
}

void WizPage2_Files::onSetActive() {
    settings_.load();
    showFades();
    updateButtons();
}

void WizPage2_Files::showFades() {
    const QSignalBlocker quietIn(fadeIn_);
    const QSignalBlocker quietOut(fadeOut_);
    fadeIn_->setChecked(settings_.fadeInMs() > 0);
    fadeOut_->setChecked(settings_.fadeOutMs() > 0);
}

void WizPage2_Files::browseForFiles() {
    const QStringList paths = QFileDialog::getOpenFileNames(
        this, "Add files", toQt(settings_.sourceFolder()),
        "Audio Files (*.wav *.mp3 *.wma *.ogg *.ape *.flac);;AllFiles (*)");
    if (paths.isEmpty())
        return;
    // The dialog opens in this folder next time.
    settings_.setSourceFolder(fromQt(QFileInfo(paths.first()).absolutePath()));
    addFiles(paths, paths.size() > 1 ? pages::WarningName::FileName : pages::WarningName::FullPath);
}

void WizPage2_Files::addFiles(const QStringList& paths, pages::WarningName naming,
                              const char* internalError) {
    if (busy_ || paths.isEmpty())
        return;
    busy_ = true;
    updateButtons();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    // Reading durations can take a while (a long MP3 is scanned whole): off the GUI thread.
    reader_ = std::thread([this, files = toPaths(paths), naming, internalError] {
        pages::DescribedFiles described;
        const char* failure = nullptr;
        try {
            described = pages::describeSourceFiles(files, naming);
        } catch (...) {
            failure = internalError;
        }
        QMetaObject::invokeMethod(
            this,
            [this, described = std::move(described), failure]() mutable {
                filesDescribed(std::move(described), failure);
            },
            Qt::QueuedConnection);
    });
}

void WizPage2_Files::filesDescribed(pages::DescribedFiles described, const char* failure) {
    reader_.join();
    QApplication::restoreOverrideCursor();
    if (failure) {
        busy_ = false;
        updateButtons();
        showError(this, failure);
        return;
    }
    pages::appendEntries(fileList(), std::move(described.entries));
    showNewEntries();
    busy_ = false;
    updateButtons();
    if (!described.warnings.empty())
        showWarning(this, toQt(described.warnings));
}

void WizPage2_Files::showNewEntries() {
    // Every entry of the list gets its row, also those added before an unexpected failure.
    QSet<int> shown;
    for (int i = 0; i < list_->topLevelItemCount(); ++i)
        shown.insert(list_->topLevelItem(i)->data(0, kEntryIdRole).toInt());
    for (const FileEntry& entry : fileList().entries())
        if (!shown.contains(entry.id))
            appendRow(entry);
}

void WizPage2_Files::appendRow(const FileEntry& entry) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, toQt(platform::fileNameOf(entry.path)));
    item->setToolTip(0, toQt(entry.path));
    item->setData(0, kEntryIdRole, entry.id);
    item->setData(1, kEntryIdRole, entry.id);
    describePart(item, entry);
}

// What a screen reader says for the bar: the part as text ("part 12 s to 18 s of 3:25").
void WizPage2_Files::describePart(QTreeWidgetItem* item, const FileEntry& entry) {
    item->setData(1, Qt::AccessibleTextRole, toQt(pages::partDescription(entry)));
}

void WizPage2_Files::removeSelected() {
    for (QTreeWidgetItem* item : list_->selectedItems()) {
        const std::int32_t id = item->data(0, kEntryIdRole).toInt();
        if (marker_.isPlaying(id)) {
            // The file being marked keeps the part marked up to now, then goes.
            marker_.completeFor(fileList(), id);
            markerTimer_->stop();
            positionTimer_->stop();
            showMarkerState();
        }
        fileList().remove(id);
        delete item;
    }
    updateButtons();
}

void WizPage2_Files::setMarkerPlayer(std::function<pages::MarkerPlayer&()> player) {
    if (marker_.idle()) {
        playerSource_ = player;
        marker_ = pages::PartMarker(std::move(player));
    }
}

QtPartEditor* WizPage2_Files::openPartEditor() {
    if (busy_ || !marker_.idle())
        return nullptr;
    const std::optional<std::int32_t> id = firstSelectedId();
    FileEntry* entry = id ? fileList().find(*id) : nullptr;
    if (!entry)
        return nullptr;
    auto* editor = new QtPartEditor(*entry, playerSource_, this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->setWindowModality(Qt::WindowModal);
    const std::int32_t edited = *id;
    connect(editor, &QDialog::accepted, this, [editor, edited] {
        // The entry is looked up again: the list may have changed while the editor was open.
        if (FileEntry* entry = fileList().find(edited))
            editor->part().applyTo(*entry);
    });
    connect(editor, &QDialog::finished, this, [this, edited] {
        redrawRow(edited);
        updateButtons();
    });
    editor->open();
    return editor;
}

std::optional<std::int32_t> WizPage2_Files::firstSelectedId() const {
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = list_->topLevelItem(row);
        if (item->isSelected())
            return item->data(0, kEntryIdRole).toInt();
    }
    return std::nullopt;
}

void WizPage2_Files::advanceMarker() {
    const bool starting = marker_.idle();
    const std::optional<std::int32_t> selected = starting ? firstSelectedId() : std::nullopt;
    if (starting && !selected)
        return;
    try {
        marker_.press(fileList(), selected);
    } catch (const AppException& e) {
        const FileEntry* entry = fileList().find(*selected);
        QString text = toQt(entry ? platform::fileNameOf(entry->path) : std::string()) + ": " +
                       toQt(e.message());
        // Messages that end in a full stop already ("Error: sound output not available.")
        // are not given a second one.
        if (!text.endsWith('.'))
            text += '.';
        showError(this, text + "\n");
        return;
    } catch (const std::bad_alloc&) {
        showError(this, "Out of memory.");
        return;
    } catch (...) {
        showError(this, "Internal error #752.");
        return;
    }
    if (starting) {
        markerTimer_->start();
        positionTimer_->start();
        // Alt+M leaves the focus where it was: the button takes it, so that Space marks.
        mark_->setFocus(Qt::OtherFocusReason);
    }
    showMarkerState();
    redrawRow(marker_.playingId());
    updateButtons();
}

void WizPage2_Files::checkPlayback() {
    if (!marker_.tick(fileList())) {
        markerTimer_->stop();
        positionTimer_->stop();
        showMarkerState();
        updateButtons();
    }
    redrawRow(marker_.playingId());
}

void WizPage2_Files::showMarkerState() {
    const MarkerLook& look = kMarkerLooks[marker_.state()];
    mark_->setText(look.text);
    mark_->setIcon(picture(look.picture));
}

void WizPage2_Files::redrawRow(std::int32_t id) {
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = list_->topLevelItem(row);
        if (item->data(0, kEntryIdRole).toInt() == id) {
            if (const FileEntry* entry = fileList().find(id))
                describePart(item, *entry);
            list_->viewport()->update(list_->visualItemRect(item));
            return;
        }
    }
}

bool WizPage2_Files::eventFilter(QObject* watched, QEvent* event) {
    if (list_ && watched == list_ && event->type() == QEvent::KeyPress && !marker_.idle() &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
        // While a file plays, Space marks in the list as on the button (instead of selecting).
        advanceMarker();
        return true;
    }
    if (list_ && watched == list_->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto* click = static_cast<QMouseEvent*>(event);
        if (click->button() == Qt::LeftButton && seekByClick(click->position().toPoint()))
            return true;
    }
    return WizPageBase::eventFilter(watched, event);
}

// A click in the bar of the row being played moves playback there; the row's selection stays.
bool WizPage2_Files::seekByClick(const QPoint& at) {
    if (marker_.idle())
        return false;
    const QModelIndex index = list_->indexAt(at);
    if (!index.isValid() || index.column() != 1 ||
        !marker_.isPlaying(index.data(kEntryIdRole).toInt()))
        return false;
    const QRect cell = list_->visualRect(index);
    const FileEntry* entry = fileList().find(marker_.playingId());
    if (!entry)
        return false;
    const pages::PartBarLayout bar =
        pages::partBarLayout(cell.left(), cell.left() + cell.width(), *entry, -1, false);
    try {
        marker_.seekAt(at.x(), bar.innerLeft, bar.innerRight);
    } catch (const AppException&) {
        // The player lost its source; the marker timer ends the marking.
    }
    redrawRow(marker_.playingId());
    return true;
}

void WizPage2_Files::selectAll() {
    list_->selectAll();
}

void WizPage2_Files::updateButtons() {
    if (!list_)
        return;
    const bool marking = !marker_.idle();
    add_->setEnabled(!busy_);
    remove_->setEnabled(!busy_ && !list_->selectedItems().isEmpty());
    selectAll_->setEnabled(!busy_ && !fileList().empty());
    mark_->setEnabled(!busy_ && (!list_->selectedItems().isEmpty() || marking));
    edit_->setEnabled(!busy_ && !marking && !list_->selectedItems().isEmpty());
    // The page cannot be left while a file plays or while files are being added.
    if (isActivePage())
        setWizardButtons(busy_ || marking ? 0 : kBack | (fileList().empty() ? 0 : kNext));
}

void WizPage2_Files::dragEnterEvent(QDragEnterEvent* event) {
    if (!busy_ && event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void WizPage2_Files::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    event->acceptProposedAction();
    addFiles(paths, pages::WarningName::FullPath, "Internal error #101.");
}

}  // namespace tolvane::wizard
