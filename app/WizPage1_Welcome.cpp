#include "app/WizPage1_Welcome.h"

#include <QVBoxLayout>

#include "app/QtUi.h"
#include "app/QtWizardSheet.h"

namespace tolvane::wizard {

WizPage1_Welcome::WizPage1_Welcome(QWidget* parent) : WizPageBase(kWelcome, parent) {
    settings_.load();
}

void WizPage1_Welcome::onInitDialog() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(bodyText(
        tr("This wizard turns your music files into ringtones for your mobile phone."), this));
    layout->addWidget(bodyText(
        tr("Add WAV, MP3, WMA, Ogg Vorbis, FLAC or Monkey's Audio files, mark the part of each "
           "file that is to become the ringtone, pick your phone model, and choose whether the "
           "ringtones go into a folder on this computer, straight to your phone, or both. The "
           "wizard evens out the loudness and converts to a format your phone plays."),
        this));
    layout->addWidget(bodyText(tr("To continue, click Next."), this));
    layout->addStretch(1);
    manage_ = new QtLinkLabel(tr("Manage my Skylet uploads >>"), this);
    manage_->setObjectName("manageLink");
    connect(manage_, &QtLinkLabel::clicked, this, [this] { sheet()->selectPageById(kManage); });
    layout->addWidget(manage_);
    layout->addWidget(new QtSiteLinks(settings_, this));
}

void WizPage1_Welcome::onSetActive() {
    settings_.load();
    manage_->setVisible(settings_.accountStatus() != 0);
    setWizardButtons(kNext);
}

QtSiteLinks::QtSiteLinks(const Settings& settings, QWidget* parent)
    : QWidget(parent), settings_(settings) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* site = new QtLinkLabel(tr("Visit the Quorrel web site >>"), this);
    site->setObjectName("siteLink");
    auto* contacts = new QtLinkLabel(tr("Contact us >>"), this);
    contacts->setObjectName("contactsLink");
    connect(site, &QtLinkLabel::clicked, this, [this] { openUrl(settings_.homeUrl()); });
    connect(contacts, &QtLinkLabel::clicked, this,
            [this] { openUrl(contactsUrl(settings_.homeUrl())); });
    layout->addWidget(site);
    layout->addWidget(contacts);
}

}  // namespace tolvane::wizard
