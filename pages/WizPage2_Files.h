// The Files page: the list of music files to convert, with the part of each file that becomes
// the ringtone drawn as a bar. Files come from the "Add files" dialog or are dropped on the page.
#pragma once

#include <QStringList>

#include "app/WizPageBase.h"
#include "app/settings.h"
#include "pages/file_adding.h"

class QPushButton;
class QTreeWidget;

namespace tolvane::wizard {

class WizPage2_Files : public WizPageBase {
    Q_OBJECT
public:
    explicit WizPage2_Files(QWidget* parent = nullptr);
    void onInitDialog() override;
    void onSetActive() override;

    // Adds the files as the dialog or a drop does, then shows the warning box for refused files.
    // A failure other than a refused file shows `internalError` and ends the adding.
    void addFiles(const QStringList& paths, pages::WarningName naming,
                  const char* internalError = "Internal error #102.");
    void removeSelected();
    void selectAll();

    QTreeWidget* list() const { return list_; }
    QPushButton* addButton() const { return add_; }
    QPushButton* removeButton() const { return remove_; }
    QPushButton* selectAllButton() const { return selectAll_; }
    QPushButton* markButton() const { return mark_; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void browseForFiles();
    void showNewEntries();
    void appendRow(const FileEntry& entry);
    void updateButtons();

    Settings settings_;
    QTreeWidget* list_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* remove_ = nullptr;
    QPushButton* selectAll_ = nullptr;
    QPushButton* mark_ = nullptr;
};

}  // namespace tolvane::wizard
