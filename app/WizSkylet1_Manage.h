// The upload account's task menu: set or change the password, wipe the uploads, or start a new
// account after a lost password.
#pragma once

#include "app/WizPageBase.h"

namespace tolvane::wizard {

class QtLinkLabel;

class WizSkylet1_Manage : public WizPageBase {
    Q_OBJECT
public:
    explicit WizSkylet1_Manage(QWidget* parent = nullptr) : WizPageBase(kManage, parent) {}
    void onInitDialog() override;
    void onSetActive() override { setWizardButtons(kBack); }
    int onWizardBack() override { return kWelcome; }

private:
    void startTask(int task);
};

}  // namespace tolvane::wizard
