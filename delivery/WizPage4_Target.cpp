#include "delivery/WizPage4_Target.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/QtUi.h"

namespace tolvane::wizard {

WizPage4_Target::WizPage4_Target(QWidget* parent) : WizPageBase(kTarget, parent) {
    settings_.load();
}

void WizPage4_Target::onInitDialog() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    store_ = new QCheckBox("  S&tore ringtones on your computer", this);
    store_->setObjectName("storeBox");
    store_->setFont(boldFont(this));
    folder_ = new QLineEdit(this);
    folder_->setObjectName("folderField");
    send_ = new QCheckBox("  S&end ringtones to your mobile phone", this);
    send_->setObjectName("sendBox");
    send_->setFont(boldFont(this));
    layout->addWidget(store_);
    layout->addWidget(folder_);
    layout->addWidget(send_);
    layout->addStretch(1);
    store_->setChecked(settings_.save() != 0);
    send_->setChecked(settings_.send() != 0);
    folder_->setText(toQt(settings_.folder()));
    connect(store_, &QCheckBox::toggled, this, &WizPage4_Target::applyEnabling);
    connect(send_, &QCheckBox::toggled, this, &WizPage4_Target::applyEnabling);
}

void WizPage4_Target::applyEnabling() {
    folder_->setEnabled(store_->isChecked());
    if (isActivePage())
        setWizardButtons(kBack | (store_->isChecked() || send_->isChecked() ? kNext : 0));
}

bool WizPage4_Target::onQueryCancel() {
    storeChoices();
    return true;
}

void WizPage4_Target::storeChoices() {
    if (!store_)
        return;
    settings_.setSave(store_->isChecked() ? 1 : 0);
    settings_.setFolder(fromQt(folder_->text()));
    settings_.setSend(send_->isChecked() ? 1 : 0);
}

}  // namespace tolvane::wizard
