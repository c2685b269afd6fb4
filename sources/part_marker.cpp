#include "sources/part_marker.h"

#include <algorithm>

#include "player/preview_player.h"

namespace tolvane::pages {

namespace {

class PreviewPlayerControl final : public MarkerPlayer {
public:
    explicit PreviewPlayerControl(PreviewPlayer& player) : player_(player) {}
    void open(const std::string& path) override { player_.open(path); }
    void play() override { player_.play(); }
    void stop() override { player_.stop(); }
    void seek(int second) override { player_.seek(second); }
    // Marking uses the second being heard: the reader runs up to about 1.3 s ahead of it.
    int position() override { return static_cast<int>(player_.heardPositionMs() / 1000); }
    std::int64_t positionMs() override { return player_.heardPositionMs(); }
    int length() override { return player_.length(); }
    bool stopped() override { return player_.state() == PreviewPlayer::Stopped; }

private:
    PreviewPlayer& player_;
};

}  // namespace

std::unique_ptr<MarkerPlayer> markerPlayerFor(PreviewPlayer& player) {
    return std::make_unique<PreviewPlayerControl>(player);
}

MarkerPlayer& sharedPreviewPlayer() {
    static PreviewPlayerControl control(PreviewPlayer::shared());
    return control;
}

PartMarker::PartMarker(std::function<MarkerPlayer&()> player) : playerSource_(std::move(player)) {}

void PartMarker::press(FileList& files, std::optional<std::int32_t> selectedId) {
    switch (state_) {
        case Idle: {
            if (!selectedId)
                return;
            const FileEntry* entry = files.find(*selectedId);
            if (!entry)
                return;
            MarkerPlayer& player = playerSource_();
            player_ = &player;
            player.open(entry->path);
            player.play();
            playingId_ = entry->id;
            state_ = WaitingForStart;
            break;
        }
        case WaitingForStart:
            markStart(files);
            break;
        case WaitingForEnd:
            markEnd(files);
            break;
    }
}

void PartMarker::markStart(FileList& files) {
    FileEntry* entry = files.find(playingId_);
    if (!entry) {
        player_->stop();
        state_ = Idle;
        return;
    }
    entry->partMarked = true;
    entry->partStart = static_cast<std::uint32_t>(std::max(0, player_->position()));
    state_ = WaitingForEnd;
}

void PartMarker::markEnd(FileList& files) {
    if (FileEntry* entry = files.find(playingId_)) {
        const auto end = static_cast<std::int64_t>(std::max(0, player_->position()));
        const std::int64_t start = entry->partStart;
        if (end < start) {
            // Seeking back while waiting for the end can put the end before the start: keep a
            // valid part, the one second at the end position.
            entry->partStart = static_cast<std::uint32_t>(end);
            entry->partLength = 1;
        } else {
            entry->partLength = static_cast<std::uint32_t>(end - start + 1);
        }
    }
    player_->stop();
    state_ = Idle;
}

bool PartMarker::tick(FileList& files) {
    if (!idle() && player_->stopped()) {
        if (state_ == WaitingForStart)
            state_ = Idle;
        else
            markEnd(files);
    }
    return !idle();
}

void PartMarker::completeFor(FileList& files, std::int32_t id) {
    while (isPlaying(id))
        press(files, std::nullopt);
}

void PartMarker::seekAt(int x, int innerLeft, int innerRight) {
    if (idle() || innerRight <= innerLeft)
        return;
    const std::int64_t length = player_->length();
    const std::int64_t offset = std::clamp(x, innerLeft, innerRight) - innerLeft;
    const std::int64_t second = length * offset / (innerRight - innerLeft);
    player_->seek(static_cast<int>(std::max<std::int64_t>(0, std::min(second, length - 2))));
}

void PartMarker::abandon() {
    if (idle())
        return;
    state_ = Idle;
    player_->stop();
}

int PartMarker::position() {
    return idle() ? 0 : player_->position();
}

std::int64_t PartMarker::positionMs() {
    return idle() ? 0 : player_->positionMs();
}

int PartMarker::length() {
    return idle() ? 0 : player_->length();
}

}  // namespace tolvane::pages
