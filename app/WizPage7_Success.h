// The closing pages: Success, Failure (with the collected error lines), and the two pages that
// say what happens on the phone after MMS or SMS delivery.
#pragma once

#include "app/WizPageBase.h"
#include "pipeline/settings.h"

class QLabel;
class QPlainTextEdit;

namespace tolvane::wizard {

class QtLinkLabel;

class WizPage7_Success : public WizPageBase {
    Q_OBJECT
public:
    explicit WizPage7_Success(QWidget* parent = nullptr);
    void onInitDialog() override;
    void onSetActive() override;

    // "The ringtones are in <folder>" and its "Open folder" link.
    QLabel* folderLine() const { return folder_; }
    QtLinkLabel* openFolderLink() const { return openFolder_; }

private:
    Settings settings_;
    QLabel* folder_ = nullptr;
    QtLinkLabel* openFolder_ = nullptr;
};

}  // namespace tolvane::wizard
