#include "app/WizPage5_Password.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/QtUi.h"
#include "app/wizard_flow.h"
#include "delivery/account.h"
#include "pipeline/worker.h"

namespace tolvane::wizard {

namespace {
constexpr int kMaxPasswordUnits = 127;
}

WizPage5_Password::WizPage5_Password(QWidget* parent) : WizPageBase(kPassword, parent) {
    settings_.load();
}

void WizPage5_Password::onInitDialog() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(bodyText(
        tr("The Skylet service did not accept the password of your uploads. Please enter the "
           "password you chose for them and click Next."),
        this));
    auto* form = new QFormLayout;
    password_ = new QLineEdit(this);
    password_->setObjectName("password");
    password_->setEchoMode(QLineEdit::Password);
    password_->setMaxLength(kMaxPasswordUnits);
    auto* label = new QLabel(tr("&Password:"), this);
    label->setBuddy(password_);
    form->addRow(label, password_);
    layout->addLayout(form);
    remember_ = new QCheckBox(tr("&Remember my password"), this);
    remember_->setObjectName("remember");
    layout->addWidget(remember_);
    layout->addStretch(1);
}

void WizPage5_Password::onSetActive() {
    password_->clear();
    password_->setFocus();
    setWizardButtons(kNext |
                     (passwordBackPage(passwordExchange().request) != kNoTarget ? kBack : 0));
}

int WizPage5_Password::onWizardNext() {
    delivery::acceptTypedPassword(fromQt(password_->text()), remember_->isChecked(), settings_);
    return passwordNextPage(passwordExchange().request);
}

int WizPage5_Password::onWizardBack() {
    return passwordBackPage(passwordExchange().request);
}

}  // namespace tolvane::wizard
