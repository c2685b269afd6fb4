// Asks for the upload password after the service refused the one the wizard had. The worker (or
// the account task) sets where Back and Next lead before it posts the password-needed message.
#pragma once

#include "app/WizPageBase.h"
#include "pipeline/settings.h"

class QCheckBox;
class QLineEdit;

namespace tolvane::wizard {

class WizPage5_Password : public WizPageBase {
    Q_OBJECT
public:
    explicit WizPage5_Password(QWidget* parent = nullptr);
    void onInitDialog() override;
    void onSetActive() override;
    int onWizardNext() override;
    int onWizardBack() override;

    QLineEdit* passwordField() const { return password_; }
    QCheckBox* rememberBox() const { return remember_; }

private:
    Settings settings_;
    QLineEdit* password_ = nullptr;
    QCheckBox* remember_ = nullptr;
};

}  // namespace tolvane::wizard
