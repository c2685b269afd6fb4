// Closing page after "SMS+WAP": the SMS with the download link is on its way.
#pragma once

#include "app/WizPageBase.h"

namespace tolvane::wizard {

class WizPage10_FinalSMS : public WizPageBase {
    Q_OBJECT
public:
    explicit WizPage10_FinalSMS(QWidget* parent = nullptr) : WizPageBase(kFinalSms, parent) {}
    void onInitDialog() override;
    void onSetActive() override { setWizardButtons(kFinish); }
};

}  // namespace tolvane::wizard
