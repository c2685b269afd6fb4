// Set or change the upload password: old, new and confirmation, checked before the task runs.
#pragma once

#include "app/WizPageBase.h"

class QLineEdit;

namespace tolvane::wizard {

class WizSkylet2_Password : public WizPageBase {
    Q_OBJECT
public:
    explicit WizSkylet2_Password(QWidget* parent = nullptr) : WizPageBase(kSetPassword, parent) {}
    void onInitDialog() override;
    void onSetActive() override;
    int onWizardNext() override;
    int onWizardBack() override { return kManage; }

    QLineEdit* oldField() const { return old_; }
    QLineEdit* newField() const { return new_; }
    QLineEdit* confirmField() const { return confirm_; }

private:
    QLineEdit* old_ = nullptr;
    QLineEdit* new_ = nullptr;
    QLineEdit* confirm_ = nullptr;
};

}  // namespace tolvane::wizard
