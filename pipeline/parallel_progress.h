// One progress page for several files converting at the same time. The file bar, the file name
// and the status line follow the file that started last; the overall bar counts the seconds done
// over all files of the run. Calls from the files' threads reach the page one at a time, so a
// page that draws (the terminal line) never sees two calls at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

#include "pipeline/worker.h"

namespace tolvane {

class ParallelProgress {
public:
    // `files` is the number of files of the run; `totalSeconds` the run's work in seconds.
    ParallelProgress(ProgressView& page, std::size_t files, std::int64_t totalSeconds);

    // File `slot` starts: it takes the file bar (at 0) and the file name line.
    void startFile(std::size_t slot, std::string_view name);
    // The file bar and status line of file `slot`; shown while it is the file that started last.
    void fileProgress(std::size_t slot, int percent);
    void status(std::size_t slot, std::string_view text);
    // File `slot` has converted `seconds` seconds so far; the overall bar shows the sum.
    void secondsDone(std::size_t slot, std::int64_t seconds);

private:
    // Sets a bar only when its figure changes: the files report every 10 ms.
    void showFileBar(int percent);
    void showOverallBar();

    std::mutex mutex_;
    ProgressView& page_;
    std::vector<std::int64_t> seconds_;  // per file
    std::int64_t done_ = 0;              // their sum
    std::int64_t total_;
    std::size_t latest_ = 0;
    bool anyStarted_ = false;
    int fileBar_ = -1;
    int overallBar_ = -1;
};

// The page as one file's conversion sees it: its calls go to the shared page under its slot.
// The overall bar is not set through here: the file reports its seconds (secondsDone) instead.
class FileProgressView : public ProgressView {
public:
    FileProgressView(ParallelProgress& shared, std::size_t slot) : shared_(shared), slot_(slot) {}

    void setFileProgress(int percent) override { shared_.fileProgress(slot_, percent); }
    void setOverallProgress(int) override {}
    void setStatus(std::string_view text) override { shared_.status(slot_, text); }
    void setFileName(std::string_view name) override { shared_.startFile(slot_, name); }
    // The run, not a file, posts the messages.
    void postMessage(int) override {}

    void secondsDone(std::int64_t seconds) { shared_.secondsDone(slot_, seconds); }

private:
    ParallelProgress& shared_;
    std::size_t slot_;
};

}  // namespace tolvane
