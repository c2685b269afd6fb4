#include "app/PhoneNotifyDlg.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/QtUi.h"
#include "app/wizard_flow.h"

namespace tolvane::wizard {

namespace {

constexpr int kIndicatorFrames = 12;
constexpr int kIndicatorMs = 50;
constexpr int kCloseAfterMs = 1000;

QString fromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* explanation(const QString& html, QWidget* parent) {
    auto* label = new QLabel(html, parent);
    label->setTextFormat(Qt::RichText);
    label->setWordWrap(true);
    return label;
}

}  // namespace

PhoneNotifyDlg::PhoneNotifyDlg(std::string homeUrl, QWidget* parent)
    : QDialog(parent), homeUrl_(std::move(homeUrl)) {
    setWindowTitle("Tolvane");
    setObjectName("PhoneNotifyDlg");
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->addWidget(explanation(
        "If you did not find your phone model in the list <b>you still can convert</b> your "
        "music files to ringtones. <br>Choose <b>&quot;Not listed&quot;</b> in the vendor "
        "pull-down menu and pick one of ringtone formats manually.",
        this));
    layout->addWidget(explanation(
        "We would also like if you <b>enter your phone model name</b> and <b>click "
        "&quot;Submit&quot;</b>. We will add it <br>to the list in the next version of the "
        "wizard.",
        this));

    auto* fields = new QGridLayout;
    vendor_ = new QLineEdit(this);
    vendor_->setObjectName("vendorField");
    vendor_->setMaxLength(static_cast<int>(catalogue::kReportFieldLimit));
    model_ = new QLineEdit(this);
    model_->setObjectName("modelField");
    model_->setMaxLength(static_cast<int>(catalogue::kReportFieldLimit));
    vendorLabel_ = new QLabel("Phone &vendor:", this);
    vendorLabel_->setBuddy(vendor_);
    modelLabel_ = new QLabel("&Model name:", this);
    modelLabel_->setBuddy(model_);
    fields->addWidget(vendorLabel_, 0, 0);
    fields->addWidget(vendor_, 0, 1);
    fields->addWidget(modelLabel_, 1, 0);
    fields->addWidget(model_, 1, 1);

    // Shown instead of the fields while the report is on its way.
    indicator_ = new QLabel(this);
    indicator_->setPixmap(picture("indicator_00"));
    status_ = new QLabel("Sending report", this);
    status_->setObjectName("status");
    status_->setFont(boldFont(this));
    detail_ = new QLabel("Please wait...", this);
    detail_->setObjectName("detail");
    QPalette grey = detail_->palette();
    grey.setColor(QPalette::WindowText, grey.color(QPalette::Disabled, QPalette::WindowText));
    detail_->setPalette(grey);
    auto* sending = new QGridLayout;
    sending->addWidget(indicator_, 0, 0, 2, 1, Qt::AlignTop);
    sending->addWidget(status_, 0, 1);
    sending->addWidget(detail_, 1, 1);
    sending->setColumnStretch(1, 1);
    for (QWidget* w : {static_cast<QWidget*>(indicator_), static_cast<QWidget*>(status_),
                       static_cast<QWidget*>(detail_)})
        w->hide();
    layout->addLayout(fields);
    layout->addLayout(sending);
    layout->addStretch(1);

    auto* buttons = new QHBoxLayout;
    submit_ = new QPushButton("&Submit report", this);
    submit_->setDefault(true);
    dontSend_ = new QPushButton("&Don't send", this);
    buttons->addStretch(1);
    buttons->addWidget(submit_);
    buttons->addWidget(dontSend_);
    layout->addLayout(buttons);
    setFixedWidth(680);

    indicatorTimer_.setInterval(kIndicatorMs);
    connect(&indicatorTimer_, &QTimer::timeout, this, &PhoneNotifyDlg::advanceIndicator);
    connect(submit_, &QPushButton::clicked, this, &PhoneNotifyDlg::submit);
    connect(dontSend_, &QPushButton::clicked, this, [this] { done(kNotSent); });
}

PhoneNotifyDlg::~PhoneNotifyDlg() = default;  // the task waits for its thread

void PhoneNotifyDlg::submit() {
    if (sending_)
        return;
    sending_ = true;
    const std::string vendor = fromQt(vendor_->text());
    const std::string model = fromQt(model_->text());
    showSending();
    auto setStatus = [this](std::string_view text) {
        const QString status = fromView(text);
        QMetaObject::invokeMethod(
            this, [this, status] { status_->setText(status); }, Qt::QueuedConnection);
    };
    auto finished = [this](const catalogue::ReportOutcome& outcome) {
        const QString headline = fromView(outcome.headline);
        const QString detail = fromView(outcome.detail);
        QMetaObject::invokeMethod(
            this,
            [this, headline, detail] {
                status_->setText(headline);
                detail_->setText(detail);
            },
            Qt::QueuedConnection);
        QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(kMsgReportDone)));
    };
    task_ =
        std::make_unique<catalogue::PhoneReportTask>(homeUrl_, vendor, model, setStatus, finished);
}

void PhoneNotifyDlg::showSending() {
    submit_->setEnabled(false);
    dontSend_->setEnabled(false);
    for (QWidget* w : {static_cast<QWidget*>(vendorLabel_), static_cast<QWidget*>(modelLabel_),
                       static_cast<QWidget*>(vendor_), static_cast<QWidget*>(model_)})
        w->hide();
    indicator_->show();
    status_->show();
    detail_->show();
    indicatorTimer_.start();
}

void PhoneNotifyDlg::advanceIndicator() {
    frame_ = (frame_ + 1) % kIndicatorFrames;
    indicator_->setPixmap(picture(QStringLiteral("indicator_%1").arg(frame_, 2, 10, QChar('0'))));
}

bool PhoneNotifyDlg::event(QEvent* event) {
    if (event->type() == static_cast<QEvent::Type>(kMsgReportDone)) {
        indicatorTimer_.stop();
        // The outcome stays readable for a second, then the dialog closes by itself.
        QTimer::singleShot(kCloseAfterMs, this, [this] { done(kReported); });
        return true;
    }
    return QDialog::event(event);
}

void PhoneNotifyDlg::reject() {
    if (!sending_)
        done(kNotSent);
}

}  // namespace tolvane::wizard
