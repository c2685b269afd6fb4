// The part being edited in the part editor, in whole seconds: start and length, kept inside the
// file, with the rules for dragging its edges on the waveform and for typed times. Qt-free.
#pragma once

#include <cstdint>
#include <string>

#include "pipeline/file_entry.h"

namespace tolvane::pages {

class PartEdit {
public:
    // `duration` in whole seconds (at least 1 is assumed). An entry without a part starts with
    // the whole file.
    PartEdit(const FileEntry& entry, int duration);

    int duration() const { return duration_; }
    int start() const { return start_; }
    int length() const { return length_; }
    // The second after the part's last one.
    int end() const { return start_ + length_; }

    // Typed start: kept inside the file; the length shrinks when the part would run past its end.
    void setStart(int second);
    // Typed length: 1 up to what is left after the start.
    void setLength(int seconds);
    // An edge dragged to `ms` on the waveform, rounded to the nearest whole second; the edges
    // never cross (the part keeps at least one second).
    void dragStartTo(std::int64_t ms);
    void dragEndTo(std::int64_t ms);

    // Writes the part into the entry (marked).
    void applyTo(FileEntry& entry) const;

private:
    int duration_;
    int start_ = 0;
    int length_ = 1;
};

// "m:ss" (or "h:mm:ss" from an hour on).
std::string clockText(std::int64_t seconds);
// The accessible text of a part bar: "part 12 s to 18 s of 3:25", or "whole file, 3:25".
std::string partDescription(const FileEntry& entry);

}  // namespace tolvane::pages
