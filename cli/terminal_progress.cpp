#include "cli/terminal_progress.h"

#include <algorithm>

namespace tolvane::cli {
namespace {

constexpr int kBarWidth = 20;
// Names longer than this are shortened from the left, keeping their end (the extension).
constexpr std::size_t kNameWidth = 32;

std::string shortened(const std::string& name) {
    if (name.size() <= kNameWidth)
        return name;
    std::size_t cut = name.size() - (kNameWidth - 3);
    // Never start inside a UTF-8 sequence.
    while (cut < name.size() && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        ++cut;
    std::string text = "...";
    text.append(name, cut, std::string::npos);
    return text;
}

}  // namespace

std::string TerminalProgress::line(int overall, int file, const std::string& name,
                                   const std::string& status) {
    overall = std::clamp(overall, 0, 100);
    const int filled = overall * kBarWidth / 100;
    std::string text = "[";
    text.append(static_cast<std::size_t>(filled), '#');
    text.append(static_cast<std::size_t>(kBarWidth - filled), ' ');
    text += "] ";
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", overall);
    text += percent;
    if (!name.empty()) {
        text += "  ";
        text += shortened(name);
    }
    if (!status.empty()) {
        text += "  ";
        text += status;
    }
    std::snprintf(percent, sizeof percent, "%3d%%", std::clamp(file, 0, 100));
    text += "  (file ";
    text += percent;
    text += ")";
    return text;
}

void TerminalProgress::setFileProgress(int percent) {
    std::lock_guard lock(mutex_);
    file_ = percent;
    redraw();
}

void TerminalProgress::setOverallProgress(int percent) {
    std::lock_guard lock(mutex_);
    overall_ = percent;
    redraw();
}

void TerminalProgress::setStatus(std::string_view text) {
    std::lock_guard lock(mutex_);
    status_ = std::string(text);
    redraw(true);
}

void TerminalProgress::setFileName(std::string_view name) {
    // A new file starts without a status of its own until the worker reports one.
    std::lock_guard lock(mutex_);
    name_ = std::string(name);
    status_.clear();
    file_ = 0;
    redraw(true);
}

void TerminalProgress::postMessage(int message) {
    std::lock_guard lock(mutex_);
    lastMessage_ = message;
}

void TerminalProgress::redraw(bool now) {
    if (!enabled_ || held_)
        return;
    const auto time = std::chrono::steady_clock::now();
    if (!now && drawn_ && time - lastDraw_ < std::chrono::milliseconds(100))
        return;
    lastDraw_ = time;
    // "\r" and erase-to-end-of-line redraw in place.
    std::fprintf(out_, "\r%s\x1b[K", line(overall_, file_, name_, status_).c_str());
    std::fflush(out_);
    drawn_ = true;
}

void TerminalProgress::clear() {
    std::lock_guard lock(mutex_);
    wipe();
}

void TerminalProgress::hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
    wipe();
}

void TerminalProgress::release() {
    std::lock_guard lock(mutex_);
    held_ = false;
}

void TerminalProgress::wipe() {
    if (!enabled_ || !drawn_)
        return;
    std::fputs("\r\x1b[K", out_);
    std::fflush(out_);
    drawn_ = false;
}

}  // namespace tolvane::cli
