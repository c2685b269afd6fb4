#include "app/WizPage10_FinalSMS.h"

#include <QVBoxLayout>

#include "app/QtUi.h"
#include "app/QtWizardSheet.h"

namespace tolvane::wizard {

void WizPage10_FinalSMS::onInitDialog() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addWidget(bodyText(
        "Your ringtones uploaded successfully. You will receive an SMS message with the link to "
        "download ringtones to your phone. \n\nPlease do not close this window until SMS message "
        "is received.",
        this));
    layout->addStretch(1);
    auto* manual = new QtLinkLabel(
        "If you didn't receive SMS message with download link, click here for instructions for "
        "manual download >>",
        this);
    manual->setObjectName("manualLink");
    connect(manual, &QtLinkLabel::clicked, this, [this] { sheet()->selectPageById(kUploads); });
    layout->addWidget(manual);
}

}  // namespace tolvane::wizard
