// The Progress page: runs the conversion worker on its own thread and shows what it does, then
// moves on to the closing page (or to the Password page when the service wants a password).
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <memory>

#include "app/WizPageBase.h"
#include "pipeline/settings.h"
#include "pipeline/worker.h"

class QLabel;
class QProgressBar;

namespace tolvane::wizard {

class WizPage6_Progress : public WizPageBase, public ProgressView {
    Q_OBJECT
public:
    explicit WizPage6_Progress(QWidget* parent = nullptr);
    ~WizPage6_Progress() override;

    // Delivery's sending phase (not owned); without one a run that sends reports that sending is
    // not available.
    void setSendingPhase(SendingPhase* sending) { sending_ = sending; }

    void onInitDialog() override;
    void onSetActive() override;
    void onKillActive() override;
    bool onQueryCancel() override;

    // ProgressView: called on the worker thread, forwarded to the widgets on the GUI thread.
    void setFileProgress(int percent) override;
    void setOverallProgress(int percent) override;
    void setStatus(std::string_view text) override;
    void setFileName(std::string_view name) override;
    void postMessage(int message) override;

    const RunState& runState() const { return state_; }
    QLabel* statusLine() const { return status_; }
    QLabel* fileNameLine() const { return fileName_; }
    QLabel* fileCountLine() const { return fileCount_; }
    QLabel* timeLeftLine() const { return timeLeft_; }
    QProgressBar* fileBar() const { return fileBar_; }
    QProgressBar* overallBar() const { return overallBar_; }
    int animationFrame() const { return frame_; }

protected:
    bool event(QEvent* event) override;

private:
    void advanceAnimation();
    void showTimeLeft(int percent);
    void showAnimationFrame();
    void finishWorker();
    void workFinished();
    void passwordNeeded();

    Settings settings_;
    RunState state_;
    SendingPhase* sending_ = nullptr;
    std::unique_ptr<Job> job_;  // the current run's job; outlives its run
    ConversionThread worker_;
    QTimer timer_;
    int frame_ = 0;
    // The second picture sequence once the worker sends (conversion done).
    bool sendingPictures_ = false;
    QLabel* animation_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* fileName_ = nullptr;
    QLabel* fileCount_ = nullptr;  // "File n of m" while converting
    QLabel* timeLeft_ = nullptr;   // the estimate, once there is one
    int filesStarted_ = 0;
    int filesTotal_ = 0;
    QElapsedTimer runClock_;
    QProgressBar* fileBar_ = nullptr;
    QProgressBar* overallBar_ = nullptr;
};

}  // namespace tolvane::wizard
