// The Target page: store the ringtones in a folder, send them to the phone, or both; for sending,
// the carrier, the delivery method and the user's phone number and e-mail address. A view over
// delivery::TargetRules, which holds the page's state, enabling rules and checks.
#pragma once

#include <memory>

#include "app/WizPageBase.h"
#include "delivery/target_rules.h"
#include "pipeline/settings.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QToolButton;

namespace tolvane::wizard {

class WizPage4_Target : public WizPageBase {
    Q_OBJECT
public:
    explicit WizPage4_Target(QWidget* parent = nullptr);
    ~WizPage4_Target() override;
    void onInitDialog() override;
    void onSetActive() override { applyEnabling(); }
    void onKillActive() override { storeChoices(); }
    bool onQueryCancel() override;
    int onWizardNext() override;

    QCheckBox* storeBox() const { return store_; }
    QCheckBox* sendBox() const { return send_; }
    QLineEdit* folderField() const { return folder_; }
    QToolButton* browseButton() const { return browse_; }
    QComboBox* carrierList() const { return carriers_; }
    QComboBox* deliveryList() const { return deliveries_; }
    QLineEdit* phoneField() const { return phone_; }
    QLineEdit* emailField() const { return email_; }
    QLabel* note() const { return note_; }

private:
    void buildStoreSection(QGridLayout* grid);
    void buildSendSection(QGridLayout* grid);
    void connectControls();
    void fillDeliveryList();
    void applyEnabling();
    void browseFolder();
    void storeChoices();

    Settings settings_;
    std::unique_ptr<delivery::TargetRules> rules_;
    QCheckBox* store_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QToolButton* browse_ = nullptr;
    QCheckBox* send_ = nullptr;
    QComboBox* carriers_ = nullptr;
    QComboBox* deliveries_ = nullptr;
    QLineEdit* phone_ = nullptr;
    QLineEdit* email_ = nullptr;
    QLabel* note_ = nullptr;
};

}  // namespace tolvane::wizard
