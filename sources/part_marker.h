// The part marker of the Files page: while a file plays, the user marks where the part to convert
// starts and where it ends, in whole seconds, the end second included. Qt-free: the page is a
// view over it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "pipeline/job.h"

namespace tolvane {
class PreviewPlayer;
}

namespace tolvane::pages {

// What the marker needs of the preview player.
class MarkerPlayer {
public:
    virtual ~MarkerPlayer() = default;
    virtual void open(const std::string& path) = 0;
    virtual void play() = 0;
    virtual void stop() = 0;
    virtual void seek(int second) = 0;
    // The second being heard now.
    virtual int position() = 0;
    // The moment being heard now, in milliseconds (for a play line that moves smoothly).
    virtual std::int64_t positionMs() { return std::int64_t(position()) * 1000; }
    virtual int length() = 0;
    // True when playback has ended, by a stop or by the end of the source.
    virtual bool stopped() = 0;
};

// The process's preview player, created on first use (its creation may throw PlayerException).
MarkerPlayer& sharedPreviewPlayer();

// A marker's view of `player`: positions are what is being heard, not what has been read.
std::unique_ptr<MarkerPlayer> markerPlayerFor(PreviewPlayer& player);

class PartMarker {
public:
    enum State { Idle = 0, WaitingForStart = 1, WaitingForEnd = 2 };

    // `player` is asked for the player when playback first starts.
    explicit PartMarker(std::function<MarkerPlayer&()> player = sharedPreviewPlayer);

    State state() const { return state_; }
    bool idle() const { return state_ == Idle; }
    // The entry being played; meaningful while not idle.
    std::int32_t playingId() const { return playingId_; }
    bool isPlaying(std::int32_t id) const { return !idle() && playingId_ == id; }

    // The marker button. Idle: opens `selectedId`'s file and plays it from the beginning (nothing
    // without a selection; a failure to open or play passes on and the marker stays idle).
    // Waiting for the start: the part starts at the current second. Waiting for the end: the part
    // ends at the current second, included, and playback stops.
    void press(FileList& files, std::optional<std::int32_t> selectedId);
    // The marker timer: notices that playback ran out. Returns false once the marker is idle
    // (the timer is no longer needed).
    bool tick(FileList& files);
    // Before the entry `id` is removed: completes its marking at the current second.
    void completeFor(FileList& files, std::int32_t id);
    // A click at `x` in the bar of the playing entry, whose inner ends are `innerLeft` and
    // `innerRight`: playback moves to the matching second (at most two seconds before the end).
    void seekAt(int x, int innerLeft, int innerRight);
    // Stops playback and returns to idle without marking (the page goes away).
    void abandon();

    // While playing: the player's position and length in whole seconds.
    int position();
    // While playing: the moment being heard, in milliseconds.
    std::int64_t positionMs();
    int length();

private:
    void markStart(FileList& files);
    void markEnd(FileList& files);

    std::function<MarkerPlayer&()> playerSource_;
    MarkerPlayer* player_ = nullptr;
    State state_ = Idle;
    std::int32_t playingId_ = 0;
};

}  // namespace tolvane::pages
