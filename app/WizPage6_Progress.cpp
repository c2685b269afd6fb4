#include "app/WizPage6_Progress.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QVBoxLayout>
#include <array>

#include "app/QtUi.h"
#include "app/QtWizardSheet.h"
#include "app/WizPage8_Failure.h"
#include "decoders/source_types.h"
#include "encoders/ringtone_formats.h"
#include "pipeline/progress_text.h"

namespace tolvane::wizard {

namespace {

constexpr int kFrames = 16;
constexpr int kTimerMs = 100;

// The two sequences: converting, then sending.
const QPixmap& animationPicture(bool sending, int frame) {
    static const auto sequences = [] {
        std::array<std::array<QPixmap, kFrames>, 2> all;
        for (int i = 0; i < kFrames; ++i) {
            QString number = QStringLiteral("%1").arg(i, 2, 10, QChar('0'));
            all[0][i] = picture("progress_convert_" + number);
            all[1][i] = picture("progress_send_" + number);
        }
        return all;
    }();
    return sequences[sending ? 1 : 0][frame % kFrames];
}

}  // namespace

WizPage6_Progress::WizPage6_Progress(QWidget* parent) : WizPageBase(kProgress, parent) {
    settings_.load();
    timer_.setInterval(kTimerMs);
    connect(&timer_, &QTimer::timeout, this, &WizPage6_Progress::advanceAnimation);
}

WizPage6_Progress::~WizPage6_Progress() {
    // The sheet cannot close while the page runs, so a worker here has already posted its last
    // message; stop it regardless rather than leave a thread behind.
    state_.cancelRequested = true;
    finishWorker();
}

void WizPage6_Progress::onInitDialog() {
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setHorizontalSpacing(16);
    layout->setVerticalSpacing(8);
    animation_ = new QLabel(this);
    animation_->setObjectName("animation");
    animation_->setFixedSize(64, 64);
    status_ = new QLabel(this);
    status_->setObjectName("status");
    status_->setFont(boldFont(this));
    fileName_ = new QLabel(this);
    fileName_->setObjectName("fileName");
    fileName_->setTextFormat(Qt::PlainText);
    fileCount_ = new QLabel(this);
    fileCount_->setObjectName("fileCount");
    timeLeft_ = new QLabel(this);
    timeLeft_->setObjectName("timeLeft");
    fileBar_ = new QProgressBar(this);
    fileBar_->setObjectName("fileBar");
    fileBar_->setRange(0, 100);
    fileBar_->setAccessibleName(tr("File progress"));
    overallBar_ = new QProgressBar(this);
    overallBar_->setObjectName("overallBar");
    overallBar_->setRange(0, 100);
    overallBar_->setAccessibleName(tr("Overall progress"));

    auto* lines = new QVBoxLayout;
    lines->addWidget(status_);
    lines->addWidget(fileName_);
    lines->addWidget(fileCount_);
    lines->addWidget(timeLeft_);
    lines->addStretch(1);
    layout->addWidget(animation_, 0, 0, Qt::AlignTop);
    layout->addLayout(lines, 0, 1);
    layout->addWidget(fileBar_, 1, 0, 1, 2);
    layout->addItem(new QSpacerItem(0, 18), 2, 0);
    layout->addWidget(new QLabel(tr("Overall progress"), this), 3, 0, 1, 2);
    layout->addWidget(overallBar_, 4, 0, 1, 2);
    layout->setRowStretch(5, 1);
    layout->setColumnStretch(1, 1);
    showAnimationFrame();
}

void WizPage6_Progress::onSetActive() {
    finishWorker();  // a previous run has ended: its message arrived before this activation
    state_.cancelRequested = false;
    setWizardButtons(0);
    settings_.load();
    status_->clear();
    fileName_->clear();
    fileBar_->setValue(0);
    overallBar_->setValue(0);
    sendingPictures_ = state_.conversionDone != 0;
    // A run that only sends has no files to count.
    filesStarted_ = 0;
    filesTotal_ = sendingPictures_ ? 0 : static_cast<int>(fileList().entries().size());
    fileCount_->clear();
    timeLeft_->clear();
    runClock_.start();
    timer_.start();
    job_ = std::make_unique<Job>(
        fileList(), settings_,
        Codecs{openReaderFrom, ringtoneExtension, createEncoder, ringtoneMaximumSeconds}, sending_);
    worker_.start(*job_, state_, *this);
}

void WizPage6_Progress::onKillActive() {
    timer_.stop();
}

bool WizPage6_Progress::onQueryCancel() {
    // The worker notices the flag within a second and ends with its finished message.
    state_.cancelRequested = true;
    return false;
}

void WizPage6_Progress::setFileProgress(int percent) {
    QMetaObject::invokeMethod(
        this, [this, percent] { fileBar_->setValue(percent); }, Qt::QueuedConnection);
}

void WizPage6_Progress::setOverallProgress(int percent) {
    QMetaObject::invokeMethod(
        this,
        [this, percent] {
            overallBar_->setValue(percent);
            showTimeLeft(percent);
        },
        Qt::QueuedConnection);
}

void WizPage6_Progress::setStatus(std::string_view text) {
    QString status = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const bool sending = text == kStatusSending;
    QMetaObject::invokeMethod(
        this,
        [this, status, sending] {
            status_->setText(status);
            if (sending && !sendingPictures_) {
                // Sending is a phase of its own: its time is estimated afresh, and the files it
                // sends are not the ones counted while converting.
                sendingPictures_ = true;
                filesTotal_ = 0;
                fileCount_->clear();
                timeLeft_->clear();
                runClock_.restart();
            }
        },
        Qt::QueuedConnection);
}

void WizPage6_Progress::setFileName(std::string_view name) {
    QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            fileName_->setText(text);
            ++filesStarted_;
            fileCount_->setText(toQt(fileCountText(filesStarted_, filesTotal_)));
        },
        Qt::QueuedConnection);
}

void WizPage6_Progress::postMessage(int message) {
    QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(message)));
}

bool WizPage6_Progress::event(QEvent* event) {
    if (event->type() == static_cast<QEvent::Type>(kMsgWorkFinished)) {
        workFinished();
        return true;
    }
    if (event->type() == static_cast<QEvent::Type>(kMsgPasswordNeeded)) {
        passwordNeeded();
        return true;
    }
    return WizPageBase::event(event);
}

void WizPage6_Progress::finishWorker() {
    worker_.join();
}

void WizPage6_Progress::workFinished() {
    finishWorker();
    if (!isActivePage())
        return;
    PageId next = closingPage(state_.ErrorText, settings_.send() != 0, settings_.delivery());
    if (auto* failure = qobject_cast<WizPage8_Failure*>(sheet()->pageById(kFailure)))
        failure->setErrorText(state_.ErrorText);
    sheet()->selectPageById(next);
    QApplication::beep();
}

void WizPage6_Progress::passwordNeeded() {
    finishWorker();
    if (!isActivePage())
        return;
    sheet()->selectPageById(kPassword);
    QApplication::beep();
}

void WizPage6_Progress::showTimeLeft(int percent) {
    const auto left = estimateSecondsLeft(runClock_.elapsed(), percent);
    timeLeft_->setText(left ? toQt(timeLeftText(*left)) : QString());
}

void WizPage6_Progress::advanceAnimation() {
    frame_ = (frame_ + 1) % kFrames;
    showAnimationFrame();
}

void WizPage6_Progress::showAnimationFrame() {
    if (animation_)
        animation_->setPixmap(animationPicture(sendingPictures_, frame_));
}

}  // namespace tolvane::wizard
