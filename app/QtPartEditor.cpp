#include "app/QtPartEditor.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "app/QtUi.h"
#include "app/QtWaveformView.h"
#include "pipeline/app_exception.h"
#include "platform/paths.h"

namespace tolvane::wizard {

namespace {

// One column per pixel of a wide window; the view folds them to its width.
constexpr std::size_t kPeakColumns = 2000;
// The play line moves this often; the loop restarts within one beat of the part's end.
constexpr int kLoopBeatMs = 40;

QSpinBox* secondsBox(const QString& name, QWidget* parent) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setSuffix(" s");
    box->setAccessibleName(name == "partStart" ? "Start in seconds" : "Length in seconds");
    return box;
}

}  // namespace

QtPartEditor::QtPartEditor(const FileEntry& entry, std::function<pages::MarkerPlayer&()> player,
                           QWidget* parent)
    : QDialog(parent),
      entry_(entry),
      edit_(entry, entry.duration),
      playerSource_(std::move(player)) {
    setWindowTitle("Part of " + toQt(platform::fileNameOf(entry.path)));
    setObjectName("partEditor");
    auto* layout = new QVBoxLayout(this);

    wave_ = new QtWaveformView(this);
    wave_->setDurationMs(std::int64_t(edit_.duration()) * 1000);
    layout->addWidget(wave_, 1);

    duration_ = new QLabel(this);
    duration_->setObjectName("duration");
    times_ = new QLabel(this);
    times_->setObjectName("partTimes");
    auto* figures = new QHBoxLayout;
    figures->addWidget(duration_);
    figures->addStretch(1);
    figures->addWidget(times_);
    layout->addLayout(figures);

    auto* form = new QFormLayout;
    start_ = secondsBox("partStart", this);
    length_ = secondsBox("partLength", this);
    form->addRow("S&tart:", start_);
    form->addRow("&Length:", length_);
    auto* controls = new QHBoxLayout;
    controls->addLayout(form);
    controls->addStretch(1);
    play_ = new QPushButton("&Play part", this);
    play_->setObjectName("playPart");
    play_->setAutoDefault(false);
    controls->addWidget(play_, 0, Qt::AlignBottom);
    layout->addLayout(controls);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    connect(start_, &QSpinBox::valueChanged, this, [this](int value) {
        if (showing_)
            return;
        edit_.setStart(value);
        showPart();
    });
    connect(length_, &QSpinBox::valueChanged, this, [this](int value) {
        if (showing_)
            return;
        edit_.setLength(value);
        showPart();
    });
    connect(wave_, &QtWaveformView::startDragged, this, [this](std::int64_t ms) {
        edit_.dragStartTo(ms);
        showPart();
    });
    connect(wave_, &QtWaveformView::endDragged, this, [this](std::int64_t ms) {
        edit_.dragEndTo(ms);
        showPart();
    });
    connect(play_, &QPushButton::clicked, this, &QtPartEditor::togglePlay);

    loopTimer_ = new QTimer(this);
    loopTimer_->setInterval(kLoopBeatMs);
    connect(loopTimer_, &QTimer::timeout, this, &QtPartEditor::followPlayback);

    duration_->setText("Duration: " + toQt(pages::clockText(edit_.duration())));
    showPart();
    resize(640, 320);
    startScan();
}

QtPartEditor::~QtPartEditor() {
    cancelScan_->store(true);
    if (scanner_.joinable())
        scanner_.join();
    stopLoop();
}

bool QtPartEditor::waveformReady() const {
    return wave_->hasWaveform();
}

// Decoding a long MP3 takes a moment: the scan runs on its own thread and the dialog stays
// responsive; the waveform appears when it is done.
void QtPartEditor::startScan() {
    QPointer<QtPartEditor> self(this);
    scanner_ = std::thread([self, path = entry_.path, cancel = cancelScan_] {
        pages::Waveform waveform;
        try {
            waveform = pages::scanPeaks(path, kPeakColumns, cancel.get());
        } catch (...) {
            return;  // an unreadable file shows no waveform; the times still work
        }
        if (cancel->load())
            return;
        QMetaObject::invokeMethod(
            qApp,
            [self, cancel, waveform = std::move(waveform)]() mutable {
                if (self && !cancel->load())
                    self->wave_->setWaveform(std::move(waveform));
            },
            Qt::QueuedConnection);
    });
}

void QtPartEditor::showPart() {
    showing_ = true;
    start_->setRange(0, edit_.duration() - 1);
    start_->setValue(edit_.start());
    length_->setRange(1, edit_.duration() - edit_.start());
    length_->setValue(edit_.length());
    showing_ = false;
    times_->setText(QString("Start %1   End %2   Length %3 s")
                        .arg(toQt(pages::clockText(edit_.start())))
                        .arg(toQt(pages::clockText(edit_.end())))
                        .arg(edit_.length()));
    wave_->setPart(edit_.start(), edit_.end());
}

void QtPartEditor::togglePlay() {
    if (looping_)
        stopLoop();
    else
        startLoop();
}

void QtPartEditor::startLoop() {
    try {
        player_ = &playerSource_();
        player_->open(entry_.path);
        player_->play();
        if (edit_.start() > 0)
            player_->seek(edit_.start());
    } catch (const AppException& e) {
        showError(this, toQt(platform::fileNameOf(entry_.path)) + ": " + toQt(e.message()));
        return;
    }
    looping_ = true;
    play_->setText("&Stop");
    loopTimer_->start();
}

void QtPartEditor::stopLoop() {
    loopTimer_->stop();
    if (looping_ && player_) {
        try {
            player_->stop();
        } catch (const AppException&) {
        }
    }
    looping_ = false;
    play_->setText("&Play part");
    wave_->setPlayPosition(std::nullopt);
}

void QtPartEditor::followPlayback() {
    if (!looping_)
        return;
    try {
        const std::int64_t heard = player_->positionMs();
        const std::int64_t end = std::int64_t(edit_.end()) * 1000;
        const std::int64_t start = std::int64_t(edit_.start()) * 1000;
        if (player_->stopped()) {
            // The part reached the end of the file: play it again from its start.
            player_->open(entry_.path);
            player_->play();
            if (edit_.start() > 0)
                player_->seek(edit_.start());
            wave_->setPlayPosition(start);
        } else if (heard >= end || heard < start) {
            player_->seek(edit_.start());
            wave_->setPlayPosition(start);
        } else {
            wave_->setPlayPosition(heard);
        }
    } catch (const AppException&) {
        stopLoop();
    }
}

void QtPartEditor::done(int result) {
    stopLoop();
    QDialog::done(result);
}

}  // namespace tolvane::wizard
