#include "app/WizSkylet3_Negotiate.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/QtUi.h"
#include "app/QtWizardSheet.h"
#include "pipeline/worker.h"

namespace tolvane::wizard {

namespace {
constexpr int kFrames = 16;
}

WizSkylet3_Negotiate::WizSkylet3_Negotiate(QWidget* parent) : WizPageBase(kNegotiate, parent) {
    settings_.load();
    timer_.setInterval(100);
    connect(&timer_, &QTimer::timeout, this, [this] {
        frame_ = (frame_ + 1) % kFrames;
        animation_->setPixmap(
            picture(QStringLiteral("progress_send_%1").arg(frame_, 2, 10, QChar('0'))));
    });
}

WizSkylet3_Negotiate::~WizSkylet3_Negotiate() {
    finishThread();
}

void WizSkylet3_Negotiate::setPasswords(std::string oldPassword, std::string newPassword) {
    request_.oldPassword = std::move(oldPassword);
    request_.newPassword = std::move(newPassword);
}

void WizSkylet3_Negotiate::onInitDialog() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    intro_ = bodyText(kNegotiateWaitText, this);
    intro_->setObjectName("intro");
    layout->addWidget(intro_);
    layout->addSpacing(10);
    auto* row = new QHBoxLayout;
    animation_ = new QLabel(this);
    animation_->setObjectName("animation");
    animation_->setFixedSize(64, 64);
    animation_->setPixmap(picture("progress_send_00"));
    status_ = new QLabel(this);
    status_->setObjectName("status");
    status_->setWordWrap(true);
    status_->setTextFormat(Qt::PlainText);
    row->addWidget(animation_, 0, Qt::AlignTop);
    row->addWidget(status_, 1);
    layout->addLayout(row);
    layout->addSpacing(10);
    // A new account's personal code, which the phone's pick-up page asks for.
    code_ = new QLabel(this);
    code_->setObjectName("personalCode");
    code_->setTextFormat(Qt::PlainText);
    code_->setFont(boldFont(this));
    code_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    code_->hide();
    layout->addWidget(code_);
    layout->addStretch(1);
}

void WizSkylet3_Negotiate::onSetActive() {
    finishThread();
    result_ = delivery::AccountTaskResult{};
    setWizardButtons(0);
    settings_.load();
    accountBefore_ = settings_.accountNumber();
    intro_->setText(kNegotiateWaitText);
    status_->clear();
    code_->hide();
    timer_.start();
    startTask();
}

void WizSkylet3_Negotiate::startTask() {
    worker_ = std::thread([this, request = request_] {
        delivery::runAccountTask(request, settings_, result_, *this);
    });
}

void WizSkylet3_Negotiate::setStatus(std::string_view text) {
    const QString status = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    QMetaObject::invokeMethod(
        this, [this, status] { status_->setText(status); }, Qt::QueuedConnection);
}

void WizSkylet3_Negotiate::postMessage(int message) {
    QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(message)));
}

void WizSkylet3_Negotiate::finishThread() {
    if (worker_.joinable())
        worker_.join();
}

bool WizSkylet3_Negotiate::event(QEvent* event) {
    if (event->type() == static_cast<QEvent::Type>(kMsgWorkFinished)) {
        taskFinished();
        return true;
    }
    if (event->type() == static_cast<QEvent::Type>(kMsgPasswordNeeded)) {
        finishThread();
        timer_.stop();
        if (!isActivePage())
            return true;
        sheet()->selectPageById(kPassword);
        QApplication::beep();
        return true;
    }
    return WizPageBase::event(event);
}

void WizSkylet3_Negotiate::taskFinished() {
    finishThread();
    timer_.stop();
    if (!isActivePage())
        return;
    intro_->setText(QString::fromUtf8(taskEndText(result_.outcome)));
    // The task made a new account (asked for, or in place of an expired one): its code is new.
    const std::string account = settings_.accountNumber();
    if (result_.outcome == delivery::TaskOutcome::Done && !account.empty() &&
        account != accountBefore_) {
        code_->setText(tr("Your new personal code: %1").arg(toQt(account)));
        code_->show();
    }
    setWizardButtons((taskBackPage(result_.outcome) != kNoTarget ? kBack : 0) |
                     (taskNextPage(result_.outcome) != kNoTarget ? kNext : 0));
    QApplication::beep();
}

}  // namespace tolvane::wizard
