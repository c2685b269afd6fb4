#include "app/WizPage11_FinalMMS.h"

#include <QVBoxLayout>

#include "app/QtUi.h"

namespace tolvane::wizard {

void WizPage11_FinalMMS::onInitDialog() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addWidget(bodyText("Your ringtones has been sent to your carrier's MMS gateway. You "
                               "will receive MMS messages with ringtones shortly.",
                               this));
    layout->addWidget(bodyText(
        "If MMS messages don't arrive, please use different delivery method: WAP with or without "
        "SMS delivery notification or upload ringtones manually using Bluetooth, InfraRed or USB "
        "link (depending on your phone model).",
        this));
    layout->addStretch(1);
}

}  // namespace tolvane::wizard
