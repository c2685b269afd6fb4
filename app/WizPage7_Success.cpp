#include "app/WizPage7_Success.h"

#include <QVBoxLayout>

#include "app/QtUi.h"
#include "app/WizPage1_Welcome.h"

namespace tolvane::wizard {

WizPage7_Success::WizPage7_Success(QWidget* parent) : WizPageBase(kSuccess, parent) {
    settings_.load();
}

void WizPage7_Success::onInitDialog() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(bodyText(
        "You have successfully completed Tolvane. All music files have been processed and your "
        "new ringtone melodies have been placed to specified folder. You may now use your mobile "
        "phone software to transfer them to your phone over cable, InfraRed of Bluetooth link.",
        this));
    layout->addStretch(1);
    layout->addWidget(new QtSiteLinks(settings_, this));
}

void WizPage7_Success::onSetActive() {
    settings_.load();
    setWizardButtons(kFinish);
}

}  // namespace tolvane::wizard
