// The Format page: the phone by vendor and model, and the ringtone format among those the phone
// plays.
#pragma once

#include <array>

#include "app/WizPageBase.h"
#include "app/settings.h"

class QComboBox;
class QRadioButton;

namespace tolvane::wizard {

class WizPage3_Format : public WizPageBase {
    Q_OBJECT
public:
    explicit WizPage3_Format(QWidget* parent = nullptr);
    void onInitDialog() override;
    void onSetActive() override { setWizardButtons(kBack | kNext); }
    void onKillActive() override { storeChoices(); }
    bool onQueryCancel() override;

    QComboBox* vendorList() const { return vendors_; }
    QComboBox* modelList() const { return models_; }
    QRadioButton* formatChoice(int index) const { return formats_[index]; }

private:
    void storeChoices();

    Settings settings_;
    QComboBox* vendors_ = nullptr;
    QComboBox* models_ = nullptr;
    std::array<QRadioButton*, 7> formats_{};
};

}  // namespace tolvane::wizard
