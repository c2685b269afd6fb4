#include "app/WizPage7_Success.h"

#include <QDesktopServices>
#include <QLabel>
#include <QUrl>
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
    layout->addSpacing(8);
    // Where the ringtones are, and the way to them in the desktop's file manager.
    folder_ = new QLabel(this);
    folder_->setObjectName("folder");
    folder_->setWordWrap(true);
    folder_->setTextFormat(Qt::PlainText);
    folder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(folder_);
    openFolder_ = new QtLinkLabel(tr("Open folder"), this);
    openFolder_->setObjectName("openFolderLink");
    openFolder_->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    connect(openFolder_, &QtLinkLabel::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(toQt(settings_.folder()))); });
    layout->addWidget(openFolder_);
    layout->addStretch(1);
    layout->addWidget(new QtSiteLinks(settings_, this));
}

void WizPage7_Success::onSetActive() {
    settings_.load();
    folder_->setText(tr("The ringtones are in %1").arg(toQt(settings_.folder())));
    setWizardButtons(kFinish);
}

}  // namespace tolvane::wizard
