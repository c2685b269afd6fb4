#include "sources/part_edit.h"

#include <algorithm>
#include <cstdio>

namespace tolvane::pages {

namespace {

int nearestSecond(std::int64_t ms) {
    return static_cast<int>(std::clamp<std::int64_t>((ms + 500) / 1000, 0, INT32_MAX));
}

}  // namespace

PartEdit::PartEdit(const FileEntry& entry, int duration) : duration_(std::max(duration, 1)) {
    if (entry.partMarked) {
        start_ = static_cast<int>(std::min<std::int64_t>(entry.partStart, duration_ - 1));
        length_ = static_cast<int>(
            std::clamp<std::int64_t>(std::int32_t(entry.partLength), 1, duration_ - start_));
    } else {
        start_ = 0;
        length_ = duration_;
    }
}

void PartEdit::setStart(int second) {
    start_ = std::clamp(second, 0, duration_ - 1);
    length_ = std::min(length_, duration_ - start_);
}

void PartEdit::setLength(int seconds) {
    length_ = std::clamp(seconds, 1, duration_ - start_);
}

void PartEdit::dragStartTo(std::int64_t ms) {
    const int last = end();
    start_ = std::clamp(nearestSecond(ms), 0, last - 1);
    length_ = last - start_;
}

void PartEdit::dragEndTo(std::int64_t ms) {
    length_ = std::clamp(nearestSecond(ms), start_ + 1, duration_) - start_;
}

void PartEdit::applyTo(FileEntry& entry) const {
    entry.partMarked = true;
    entry.partStart = static_cast<std::uint32_t>(start_);
    entry.partLength = static_cast<std::uint32_t>(length_);
}

std::string clockText(std::int64_t seconds) {
    seconds = std::max<std::int64_t>(seconds, 0);
    char text[32];
    if (seconds >= 3600)
        std::snprintf(
            text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

std::string partDescription(const FileEntry& entry) {
    const std::string total = clockText(entry.duration);
    if (!entry.partMarked)
        return "whole file, " + total;
    const std::int64_t end = std::int64_t(entry.partStart) + std::int32_t(entry.partLength);
    return "part " + std::to_string(entry.partStart) + " s to " + std::to_string(end) + " s of " +
           total;
}

}  // namespace tolvane::pages
