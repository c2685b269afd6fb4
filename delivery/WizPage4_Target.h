// The Target page: store the ringtones in a folder, send them to the phone, or both.
#pragma once

#include "app/WizPageBase.h"
#include "app/settings.h"

class QCheckBox;
class QLineEdit;

namespace tolvane::wizard {

class WizPage4_Target : public WizPageBase {
    Q_OBJECT
public:
    explicit WizPage4_Target(QWidget* parent = nullptr);
    void onInitDialog() override;
    void onSetActive() override { applyEnabling(); }
    void onKillActive() override { storeChoices(); }
    bool onQueryCancel() override;
    int onWizardNext() override { return kProgress; }

    QCheckBox* storeBox() const { return store_; }
    QCheckBox* sendBox() const { return send_; }
    QLineEdit* folderField() const { return folder_; }

private:
    void applyEnabling();
    void storeChoices();

    Settings settings_;
    QCheckBox* store_ = nullptr;
    QCheckBox* send_ = nullptr;
    QLineEdit* folder_ = nullptr;
};

}  // namespace tolvane::wizard
