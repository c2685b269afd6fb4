// The worker's page on a terminal: one line on standard error, redrawn in place, with the file
// bar, the overall bar, the status and the current file name. Draws nothing when standard error
// is not a terminal, so scripts and logs see only the error lines. Safe to call from several
// threads: a question asked on the terminal holds the line back until it is answered.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "pipeline/worker.h"

namespace tolvane::cli {

class TerminalProgress : public ProgressView {
public:
    // Draws on `out` when `enabled` (the caller checks isatty).
    TerminalProgress(std::FILE* out, bool enabled) : out_(out), enabled_(enabled) {}

    void setFileProgress(int percent) override;
    void setOverallProgress(int percent) override;
    void setStatus(std::string_view text) override;
    void setFileName(std::string_view name) override;
    void postMessage(int message) override;

    // Wipes the progress line so that the next output starts on a clean line.
    void clear();
    // Wipes the line and draws nothing until release(): the terminal is asking a question.
    void hold();
    void release();

    // The last message posted by the worker, 0 before any.
    int lastMessage() const {
        std::lock_guard lock(mutex_);
        return lastMessage_;
    }

    // The text of the progress line for these figures (no line end), e.g.
    // "[##########          ]  50%  song.wav  Converting...  (file  80%)".
    static std::string line(int overall, int file, const std::string& name,
                            const std::string& status);

private:
    // Figures change hundreds of times a second; the line is redrawn at most ten times a second,
    // and at once when the file or the status changes.
    void redraw(bool now = false);
    void wipe();

    mutable std::mutex mutex_;
    std::FILE* out_;
    bool enabled_;
    bool drawn_ = false;
    bool held_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    int file_ = 0;
    int overall_ = 0;
    std::string status_;
    std::string name_;
    int lastMessage_ = 0;
};

}  // namespace tolvane::cli
