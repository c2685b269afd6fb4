// Closing page after "MMS": the ringtones went to the carrier's MMS gateway.
#pragma once

#include "app/WizPageBase.h"

namespace tolvane::wizard {

class WizPage11_FinalMMS : public WizPageBase {
    Q_OBJECT
public:
    explicit WizPage11_FinalMMS(QWidget* parent = nullptr) : WizPageBase(kFinalMms, parent) {}
    void onInitDialog() override;
    void onSetActive() override { setWizardButtons(kFinish); }
};

}  // namespace tolvane::wizard
