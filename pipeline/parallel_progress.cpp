#include "pipeline/parallel_progress.h"

#include "pipeline/job.h"

namespace tolvane {

ParallelProgress::ParallelProgress(ProgressView& page, std::size_t files, std::int64_t totalSeconds)
    : page_(page), seconds_(files, 0), total_(totalSeconds) {}

void ParallelProgress::startFile(std::size_t slot, std::string_view name) {
    std::lock_guard lock(mutex_);
    latest_ = slot;
    anyStarted_ = true;
    showFileBar(0);
    showOverallBar();
    page_.setFileName(name);
}

void ParallelProgress::fileProgress(std::size_t slot, int percent) {
    std::lock_guard lock(mutex_);
    if (anyStarted_ && slot == latest_)
        showFileBar(percent);
}

void ParallelProgress::status(std::size_t slot, std::string_view text) {
    std::lock_guard lock(mutex_);
    if (anyStarted_ && slot == latest_)
        page_.setStatus(text);
}

void ParallelProgress::secondsDone(std::size_t slot, std::int64_t seconds) {
    std::lock_guard lock(mutex_);
    if (slot >= seconds_.size())
        return;
    done_ += seconds - seconds_[slot];
    seconds_[slot] = seconds;
    showOverallBar();
}

void ParallelProgress::showFileBar(int percent) {
    if (percent == fileBar_)
        return;
    fileBar_ = percent;
    page_.setFileProgress(percent);
}

void ParallelProgress::showOverallBar() {
    const int percent = percentOf(done_, total_);
    if (percent == overallBar_)
        return;
    overallBar_ = percent;
    page_.setOverallProgress(percent);
}

}  // namespace tolvane
