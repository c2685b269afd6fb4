#include "app/WizPage9_Uploads.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QUrl>
#include <QVBoxLayout>

#include "app/QtUi.h"
#include "delivery/account.h"
#include "delivery/qr_code.h"

namespace tolvane::wizard {

namespace {

const char* const kHostColor = "#030fed";  // RGB 3, 15, 237
const char* const kCodeColor = "#ff0206";  // RGB 255, 2, 6

QLabel* stepPanel(const QString& html, QWidget* parent) {
    auto* panel = new QLabel(html, parent);
    panel->setTextFormat(Qt::RichText);
    panel->setWordWrap(true);
    panel->setAlignment(Qt::AlignCenter);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setMargin(10);
    panel->setMinimumHeight(90);
    return panel;
}

}  // namespace

QString serviceHost(const std::string& serviceUrl) {
    QUrl url(toQt(serviceUrl));
    if (url.host().isEmpty())
        return toQt(serviceUrl);
    QString host = url.host();
    if (url.port() > 0 && url.port() != 80)
        host += QStringLiteral(":%1").arg(url.port());
    return host;
}

WizPage9_Uploads::WizPage9_Uploads(QWidget* parent) : WizPageBase(kUploads, parent) {
    settings_.load();
}

void WizPage9_Uploads::onInitDialog() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    auto* image = new QLabel(this);
    image->setPixmap(picture("uploads"));
    image->setAlignment(Qt::AlignHCenter);
    layout->addWidget(image);

    auto* steps = new QHBoxLayout;
    steps->setSpacing(10);
    host_ = stepPanel({}, this);
    host_->setObjectName("hostPanel");
    code_ = stepPanel({}, this);
    code_->setObjectName("codePanel");
    auto* pick = stepPanel("Pick your ringtones in the list to save them to your phone.", this);
    // Beside the personal code, the pick-up page's QR code: one camera scan instead of typing.
    auto* codeColumn = new QVBoxLayout;
    codeColumn->setSpacing(6);
    codeColumn->addWidget(code_);
    qr_ = new QLabel(this);
    qr_->setObjectName("qrCode");
    qr_->setAlignment(Qt::AlignHCenter);
    qr_->setAccessibleName(QStringLiteral("QR code of the pick-up page"));
    codeColumn->addWidget(qr_);
    steps->addWidget(host_, 1);
    steps->addLayout(codeColumn, 1);
    steps->addWidget(pick, 1);
    layout->addLayout(steps);
    layout->addStretch(1);
}

void WizPage9_Uploads::fillPanels() {
    const QString host = serviceHost(settings_.skyletUrl()).toHtmlEscaped();
    const QString number = toQt(settings_.accountNumber()).toHtmlEscaped();
    host_->setText(QStringLiteral("Now please take your phone and type <span style=\"color:%1\"><b>"
                                  "%2</b></span> in your phone's Internet (WAP) browser.")
                       .arg(kHostColor, host));
    code_->setText(QStringLiteral("Then enter your personal code: <span style=\"color:%1\">"
                                  "<b>%2</b></span>")
                       .arg(kCodeColor, number));
    // Read by screen readers in place of the drawn text.
    code_->setAccessibleName(QStringLiteral("Then enter your personal code: %1").arg(number));

    // Three pixels a module: about 110 pixels a side for a pick-up address, which a phone scans
    // from a screen and which fits under the personal code on the page.
    const std::string url = delivery::pickUpLink(settings_.skyletUrl(), settings_.accountNumber());
    QPixmap image;
    if (const auto code = delivery::makeQrCode(url)) {
        const std::string png = delivery::qrCodePng(*code, 3);
        image.loadFromData(reinterpret_cast<const uchar*>(png.data()), uint(png.size()), "PNG");
    }
    qr_->setPixmap(image);
    qr_->setToolTip(toQt(url));
}

void WizPage9_Uploads::onSetActive() {
    settings_.load();
    fillPanels();
    setWizardButtons(kFinish);
}

}  // namespace tolvane::wizard
