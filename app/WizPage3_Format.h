// The Format page: the phone by vendor and model, and the ringtone format among those the phone
// plays. A view over catalogue::FormatPageState, which holds the lists, the enabled choices and
// the fallback rule.
#pragma once

#include <array>
#include <memory>

#include "app/WizPageBase.h"
#include "catalogue/format_choice.h"
#include "pipeline/settings.h"

class QButtonGroup;
class QComboBox;
class QHBoxLayout;
class QVBoxLayout;
class QRadioButton;

namespace tolvane::wizard {

class QtLinkLabel;

class WizPage3_Format : public WizPageBase {
    Q_OBJECT
public:
    explicit WizPage3_Format(QWidget* parent = nullptr);
    ~WizPage3_Format() override;
    void onInitDialog() override;
    void onSetActive() override { setWizardButtons(kBack | kNext); }
    void onKillActive() override { storeChoices(); }
    bool onQueryCancel() override;

    QComboBox* vendorList() const { return vendors_; }
    QComboBox* modelList() const { return models_; }
    QRadioButton* formatChoice(int index) const { return formats_[index]; }
    QtLinkLabel* notListedLink() const { return notListed_; }

    // Shows the unlisted-phone report; afterwards "> Not listed <" is selected.
    void reportUnlistedPhone();

private:
    // The sections of the page, built once by onInitDialog.
    void buildPicture(QHBoxLayout* layout);
    void buildPhoneSection(QVBoxLayout* column);
    void buildFormatSection(QVBoxLayout* column);
    void connectControls();

    void fillVendors();
    void fillModels();
    void showFormats();
    void storeChoices();

    Settings settings_;
    std::unique_ptr<catalogue::FormatPageState> state_;
    QComboBox* vendors_ = nullptr;
    QComboBox* models_ = nullptr;
    std::array<QRadioButton*, catalogue::kFormatCount> formats_{};
    QtLinkLabel* notListed_ = nullptr;
    QButtonGroup* exclusive_ = nullptr;  // the format choices, one checked at a time
};

}  // namespace tolvane::wizard
