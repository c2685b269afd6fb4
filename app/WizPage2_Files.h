// The Files page: the list of music files to convert, with the part of each file that becomes
// the ringtone drawn as a bar. Files come from the "Add files" dialog or are dropped on the page.
#pragma once

#include <QStringList>
#include <functional>
#include <optional>
#include <thread>

#include "app/WizPageBase.h"
#include "pipeline/settings.h"
#include "sources/file_adding.h"
#include "sources/part_marker.h"

class QHBoxLayout;
class QCheckBox;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace tolvane::wizard {

class QtPartEditor;

class WizPage2_Files : public WizPageBase {
    Q_OBJECT
public:
    explicit WizPage2_Files(QWidget* parent = nullptr);
    ~WizPage2_Files() override;
    void onInitDialog() override;
    void onSetActive() override;

    // Adds the files as the dialog or a drop does, then shows the warning box for refused files.
    // A failure other than a refused file shows `internalError` and ends the adding. The files
    // are read on a thread of their own; the list is busy (buttons off) until they are in.
    void addFiles(const QStringList& paths, pages::WarningName naming,
                  const char* internalError = "Internal error #102.");
    bool isBusy() const { return busy_; }
    void removeSelected();
    void selectAll();
    // The "Mark a part" button: play the selected file, mark the start, mark the end.
    void advanceMarker();
    // "Edit part...": opens the part editor for the first selected file (not while marking).
    // The editor is window-modal and deletes itself when closed; OK updates the file's part.
    QtPartEditor* openPartEditor();
    // The player the marker and the part editor use (the process's preview player unless
    // replaced while idle).
    void setMarkerPlayer(std::function<pages::MarkerPlayer&()> player);
    const pages::PartMarker& marker() const { return marker_; }

    QTreeWidget* list() const { return list_; }
    QPushButton* addButton() const { return add_; }
    QPushButton* removeButton() const { return remove_; }
    QPushButton* selectAllButton() const { return selectAll_; }
    QPushButton* markButton() const { return mark_; }
    QPushButton* editButton() const { return edit_; }
    QCheckBox* fadeInBox() const { return fadeIn_; }
    QCheckBox* fadeOutBox() const { return fadeOut_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The sections of the page, built once by onInitDialog.
    void buildFileList(QHBoxLayout* row);
    void buildButtons(QHBoxLayout* row);
    void connectControls();

    void browseForFiles();
    void filesDescribed(pages::DescribedFiles described, const char* failure);
    void showNewEntries();
    void appendRow(const FileEntry& entry);
    static void describePart(QTreeWidgetItem* item, const FileEntry& entry);
    void updateButtons();
    std::optional<std::int32_t> firstSelectedId() const;
    void checkPlayback();
    void showMarkerState();
    void redrawRow(std::int32_t id);
    void showFades();
    bool seekByClick(const QPoint& at);

    Settings settings_;
    bool busy_ = false;
    std::thread reader_;  // describes the files being added
    QTreeWidget* list_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* remove_ = nullptr;
    QPushButton* selectAll_ = nullptr;
    QPushButton* mark_ = nullptr;
    QPushButton* edit_ = nullptr;
    QCheckBox* fadeIn_ = nullptr;
    QCheckBox* fadeOut_ = nullptr;
    std::function<pages::MarkerPlayer&()> playerSource_ = pages::sharedPreviewPlayer;
    pages::PartMarker marker_;
    QTimer* markerTimer_ = nullptr;
    QTimer* positionTimer_ = nullptr;  // redraws the playing row while a file plays
};

}  // namespace tolvane::wizard
