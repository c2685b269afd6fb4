#include "pages/WizPage2_Files.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMimeData>
#include <QPushButton>
#include <QSet>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/QtUi.h"
#include "pages/QtPartBarDelegate.h"
#include "pipeline/job.h"
#include "platform/paths.h"

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

}  // namespace

WizPage2_Files::WizPage2_Files(QWidget* parent) : WizPageBase(kFiles, parent) {
    settings_.load();
    setAcceptDrops(true);
}

void WizPage2_Files::onInitDialog() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(
        bodyText("Click \"Add files\" button or drag-and-drop audio files to the list.", this));

    auto* row = new QHBoxLayout;
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
    list_->header()->setFont(font());
    list_->header()->setStretchLastSection(true);
    list_->setColumnWidth(0, 200);
    list_->setColumnWidth(1, 250);
    list_->setItemDelegateForColumn(1, new QtPartBarDelegate(list_));
    // Drops on the list reach the page.
    list_->setAcceptDrops(false);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &WizPage2_Files::updateButtons);
    row->addWidget(list_, 1);

    auto* buttons = new QVBoxLayout;
    add_ = pictureButton("&Add files", "add", this);
    remove_ = pictureButton("&Remove", "remove", this);
    selectAll_ = pictureButton("&Select all", "selectall", this);
    mark_ = pictureButton("&Mark a part", "mark", this);
    add_->setObjectName("addButton");
    remove_->setObjectName("removeButton");
    selectAll_->setObjectName("selectAllButton");
    mark_->setObjectName("markButton");
    // Marking a part needs the preview player.
    mark_->setToolTip("Listen to the selected file and mark the part to keep");
    for (QPushButton* button : {add_, remove_, selectAll_, mark_})
        buttons->addWidget(button);
    buttons->addStretch(1);
    row->addLayout(buttons);
    layout->addLayout(row, 1);

    connect(add_, &QPushButton::clicked, this, &WizPage2_Files::browseForFiles);
    connect(remove_, &QPushButton::clicked, this, &WizPage2_Files::removeSelected);
    connect(selectAll_, &QPushButton::clicked, this, &WizPage2_Files::selectAll);

    showNewEntries();
    updateButtons();
}

void WizPage2_Files::onSetActive() {
    settings_.load();
    updateButtons();
}

void WizPage2_Files::browseForFiles() {
    const QStringList paths = QFileDialog::getOpenFileNames(
        this, "Add files", QString(),
        "Audio Files (*.wav *.mp3 *.wma *.ogg *.ape *.flac);;AllFiles (*)");
    if (paths.isEmpty())
        return;
    addFiles(paths, paths.size() > 1 ? pages::WarningName::FileName : pages::WarningName::FullPath);
}

void WizPage2_Files::addFiles(const QStringList& paths, pages::WarningName naming,
                              const char* internalError) {
    pages::AddResult result;
    try {
        result = pages::addSourceFiles(fileList(), toPaths(paths), naming);
    } catch (...) {
        showError(this, internalError);
    }
    (void)result.addedIds;
    showNewEntries();
    updateButtons();
    if (!result.warnings.empty())
        showWarning(this, toQt(result.warnings));
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
}

void WizPage2_Files::removeSelected() {
    for (QTreeWidgetItem* item : list_->selectedItems()) {
        fileList().remove(item->data(0, kEntryIdRole).toInt());
        delete item;
    }
    updateButtons();
}

void WizPage2_Files::selectAll() { list_->selectAll(); }

void WizPage2_Files::updateButtons() {
    if (!list_)
        return;
    remove_->setEnabled(!list_->selectedItems().isEmpty());
    selectAll_->setEnabled(!fileList().empty());
    mark_->setEnabled(false);
    if (isActivePage())
        setWizardButtons(kBack | (fileList().empty() ? 0 : kNext));
}

void WizPage2_Files::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
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
