// The preview player and its sound output on SDL's dummy driver, which consumes audio at
// real-time pace. An observer on the device records what each stream hands to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "player/ds_stream_i.h"
#include "player/output_dsound.h"
#include "sources/part_marker.h"
#include "player/preview_player.h"
#include "pipeline/app_exception.h"
#include "pipeline/job.h"
#include "support/test_support.h"

using namespace tolvane;
using namespace tolvane::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// What the device took from each stream, as 16-bit samples, with the moment of the first block.
struct Heard {
    sound::ds_format format;
    std::vector<std::int16_t> samples;
    std::uint64_t writtenAtStart = 0;
    Clock::time_point firstBlock;
};

class Listener {
public:
    Listener() {
        sound::set_device_observer([this](const sound::device_block& block) { take(block); });
    }
    ~Listener() { sound::set_device_observer({}); }

    std::map<std::uint64_t, Heard> streams() {
        std::lock_guard guard(lock_);
        return streams_;
    }

private:
    void take(const sound::device_block& block) {
        std::lock_guard guard(lock_);
        auto [it, fresh] = streams_.try_emplace(block.stream);
        Heard& heard = it->second;
        if (fresh) {
            heard.format = block.format;
            heard.writtenAtStart = block.written;
            heard.firstBlock = Clock::now();
        }
        if (block.format.bits == 16) {
            const auto* samples = reinterpret_cast<const std::int16_t*>(block.data);
            heard.samples.insert(heard.samples.end(), samples, samples + block.bytes / 2);
        }
    }

    std::mutex lock_;
    std::map<std::uint64_t, Heard> streams_;
};

template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Largest magnitude of the samples [from, to) (clamped to what was heard).
int peak(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to) {
    to = std::min(to, samples.size());
    int result = 0;
    for (std::size_t i = from; i < to; ++i)
        result = std::max(result, std::abs(static_cast<int>(samples[i])));
    return result;
}

// A sine at -6 dB peaks near half of full scale.
constexpr int kTonePeak = 16384;

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        if (!haveTool("sox"))
            GTEST_SKIP() << "sox is needed to make the test sounds";
    }
    std::string tone(const std::string& name, int rate, int channels, double seconds) {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(makeTone(path, rate, channels, 16, seconds, "sine 440", -6.0));
        return path;
    }
    TempDir dir_;
};

TEST(DeviceSizes, FollowTheLatency) {
    const sound::ds_format stereo{44100, 2, 16, false};
    const auto normal = sound::ds_sizes::compute(stereo, 1000);
    EXPECT_EQ(normal.ring, 44100u);            // 250 ms
    EXPECT_EQ(normal.buffer, 352800u);         // 2 x 1000 ms
    EXPECT_EQ(normal.targetFill, 176400u);     // 1000 ms
    EXPECT_EQ(normal.startThreshold, 88200u);  // 500 ms
    EXPECT_EQ(normal.minimumLead, 8820u);      // 50 ms
    EXPECT_EQ(normal.silenceAhead, 88200u);    // min(buffer / 4, (buffer - fill) / 2)

    const auto slow = sound::ds_sizes::compute(stereo, 12000);
    EXPECT_EQ(slow.buffer, stereo.bytesFor(14000));         // latency + 2000 ms
    EXPECT_EQ(slow.startThreshold, stereo.bytesFor(6000));  // half the latency
    EXPECT_EQ(slow.silenceAhead, stereo.bytesFor(1000));    // half of buffer - fill

    const auto huge = sound::ds_sizes::compute(sound::ds_format{8000, 1, 8, false}, 30000);
    EXPECT_EQ(huge.startThreshold, 80000u);  // at most 10 s
}

TEST_F(PlayerTest, OperationsWithoutASourceAreRefused) {
    PreviewPlayer player;
    const std::vector<std::pair<std::function<void()>, std::string>> cases{
        {[&] { player.play(); }, "Internal error #192."},
        {[&] { player.pause(); }, "Internal error #193."},
        {[&] { player.resume(); }, "Internal error #194."},
        {[&] { player.seek(1); }, "Internal error #195."},
        {[&] { player.stop(); }, "Internal error #196."},
    };
    for (const auto& [operation, message] : cases) {
        try {
            operation();
            ADD_FAILURE() << "no exception, expected " << message;
        } catch (const PlayerException& e) {
            EXPECT_EQ(e.message(), message);
        }
    }
    EXPECT_EQ(player.position(), 0);
    EXPECT_EQ(player.length(), 0);
    EXPECT_EQ(player.state(), PreviewPlayer::Stopped);
}

TEST_F(PlayerTest, WithoutSoundOutputConstructionFails) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    try {
        PreviewPlayer player;
        FAIL() << "constructed without sound output";
    } catch (const PlayerException& e) {
        EXPECT_EQ(e.message(), "Error: sound output not available.");
    }
}

TEST_F(PlayerTest, StartsAfterHalfASecondAndReportsWholeSeconds) {
    const std::string path = tone("a.wav", 44100, 2, 4.0);
    Listener listener;
    PreviewPlayer player;
    player.open(path);
    EXPECT_EQ(player.length(), 4);
    const auto started = Clock::now();
    player.play();
    EXPECT_EQ(player.state(), PreviewPlayer::Playing);
    ASSERT_TRUE(eventually([&] { return !listener.streams().empty(); }, 2000ms));
    const Heard first = listener.streams().begin()->second;
    EXPECT_EQ(first.format, (sound::ds_format{44100, 2, 16, false}));
    // Sound starts once half a second is buffered (the ring and the buffer fill much faster
    // than real time).
    EXPECT_GE(first.writtenAtStart, 88200u);
    EXPECT_LT(first.firstBlock - started, 2000ms);
    // No fade on the first start: the first samples are at full level.
    EXPECT_GT(peak(first.samples, 0, 882), kTonePeak * 9 / 10);

    // The reader runs ahead of what is heard by at most the buffered second and a quarter.
    std::this_thread::sleep_for(1500ms);
    const int position = player.position();
    const auto heard = static_cast<int>(listener.streams().begin()->second.samples.size() / 88200);
    EXPECT_GE(position, heard);
    EXPECT_LE(position, heard + 2);
}

TEST_F(PlayerTest, EndOfTheSourceStopsThePlayerAndReleasesTheDevice) {
    const std::string path = tone("short.wav", 44100, 2, 1.5);
    Listener listener;
    PreviewPlayer player;
    player.open(path);
    player.play();
    ASSERT_TRUE(eventually([&] { return player.state() == PreviewPlayer::Stopped; }, 3000ms));
    EXPECT_EQ(player.position(), 1);
    // What was buffered plays out before the device lets the stream go.
    ASSERT_TRUE(eventually([] { return sound::output_dsound::device_streams() == 0; }, 3000ms));
    // With its last stream gone the device is released.
    EXPECT_TRUE(eventually([] { return !sound::output_dsound::device_active(); }, 500ms));
    const auto streams = listener.streams();
    ASSERT_EQ(streams.size(), 1u);
    const auto& samples = streams.begin()->second.samples;
    EXPECT_GE(samples.size(), std::size_t{44100 * 2 * 3 / 2});
    EXPECT_GT(peak(samples, 44100 * 2, 44100 * 2 + 8820), kTonePeak * 9 / 10)
        << "the last half second is heard at full level";
}

TEST_F(PlayerTest, SeekRestartsWithAFadeIn) {
    const std::string path = tone("long.wav", 44100, 2, 5.0);
    Listener listener;
    PreviewPlayer player;
    player.open(path);
    player.play();
    std::this_thread::sleep_for(700ms);
    player.seek(3);
    ASSERT_TRUE(eventually([&] { return listener.streams().size() == 2; }, 2000ms));
    EXPECT_GE(player.position(), 3);
    std::this_thread::sleep_for(500ms);
    const auto streams = listener.streams();
    const auto& before = streams.begin()->second.samples;
    const auto& after = std::next(streams.begin())->second.samples;
    ASSERT_GE(after.size(), std::size_t{44100 * 2 * 3 / 10});
    // 20 ms windows of the new stream: silence, half way up, full level after 0.2 s.
    constexpr std::size_t kWindow = 882 * 2;
    EXPECT_LT(peak(after, 0, kWindow / 4), kTonePeak / 10);
    const int early = peak(after, 2 * kWindow, 3 * kWindow);
    const int middle = peak(after, 5 * kWindow, 6 * kWindow);
    EXPECT_LT(early, middle);
    EXPECT_GT(middle, kTonePeak / 4);
    EXPECT_LT(middle, kTonePeak * 3 / 4);
    EXPECT_GT(peak(after, 12 * kWindow, 13 * kWindow), kTonePeak * 9 / 10);
    // The old stream faded out instead of breaking off.
    ASSERT_GT(before.size(), kWindow);
    EXPECT_LT(peak(before, before.size() - kWindow / 4, before.size()), kTonePeak / 10);
}

TEST_F(PlayerTest, PauseHoldsThePositionAndResumeGoesOn) {
    const std::string path = tone("pause.wav", 22050, 1, 5.0);
    PreviewPlayer player;
    player.open(path);
    player.play();
    std::this_thread::sleep_for(300ms);
    player.pause();
    ASSERT_TRUE(eventually([&] { return player.state() == PreviewPlayer::Paused; }, 1000ms));
    const int held = player.position();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(player.position(), held);
    player.play();  // resumes
    ASSERT_TRUE(eventually([&] { return player.state() == PreviewPlayer::Playing; }, 1000ms));
    ASSERT_TRUE(eventually([&] { return player.position() > held; }, 3000ms));
}

TEST_F(PlayerTest, OpeningAnotherFileWhilePlayingReplacesTheReader) {
    const std::string first = tone("first.wav", 44100, 2, 4.0);
    const std::string second = tone("second.wav", 22050, 1, 3.0);
    Listener listener;
    PreviewPlayer player;
    player.open(first);
    player.play();
    std::this_thread::sleep_for(500ms);
    player.open(second);
    EXPECT_EQ(player.length(), 3);
    EXPECT_LE(player.position(), 1);
    // The new format drains the old stream and opens one of its own.
    ASSERT_TRUE(eventually([&] { return listener.streams().size() == 2; }, 3000ms));
    EXPECT_EQ(std::next(listener.streams().begin())->second.format,
              (sound::ds_format{22050, 1, 16, false}));
    EXPECT_EQ(player.state(), PreviewPlayer::Playing);
}

TEST_F(PlayerTest, DestroyingAPlayingPlayerReturnsPromptly) {
    const std::string path = tone("a.wav", 44100, 2, 4.0);
    auto player = std::make_unique<PreviewPlayer>();
    player->open(path);
    player->play();
    std::this_thread::sleep_for(500ms);
    const auto start = Clock::now();
    player.reset();
    // Stop with its 0.2 s fade, the thread's end and the device's release: well within the
    // player's own limits (2 s for the thread, 10 s for the device).
    EXPECT_LT(Clock::now() - start, 3000ms);
    EXPECT_EQ(sound::output_dsound::device_streams(), 0u);
    EXPECT_FALSE(sound::output_dsound::device_active());
}

}  // namespace

// Marking while listening takes the second the device is playing, not the reader's position
// (which runs up to about 1.3 s ahead). The device observer tells which second is being played.
TEST_F(PlayerTest, MarkingTakesTheSecondBeingHeard) {
    const std::string path = tone("marked.wav", 44100, 2, 8.0);
    Listener listener;
    PreviewPlayer player;
    const auto control = pages::markerPlayerFor(player);
    pages::PartMarker marker([&]() -> pages::MarkerPlayer& { return *control; });
    FileList files;
    FileEntry entry;
    entry.path = path;
    const std::int32_t id = files.add(entry).id;

    constexpr std::size_t kSecond = 44100 * 2;  // samples of one second, both channels
    const auto heardSamples = [&] {
        const auto streams = listener.streams();
        return streams.empty() ? std::size_t{0} : streams.begin()->second.samples.size();
    };
    // Waits until the device is half way through `second`, then returns the second it plays.
    const auto waitIntoSecond = [&](int second) {
        EXPECT_TRUE(
            eventually([&] { return heardSamples() >= second * kSecond + kSecond / 2; }, 8000ms));
        return static_cast<int>(heardSamples() / kSecond);
    };

    marker.press(files, id);  // plays
    const int startHeard = waitIntoSecond(2);
    const int readerAtStart = player.position();
    const std::int64_t heardMs = marker.positionMs();
    marker.press(files, id);  // "Mark start"
    EXPECT_EQ(files.find(id)->partStart, std::uint32_t(startHeard));
    EXPECT_NEAR(double(heardMs), heardSamples() * 1000.0 / kSecond, 300.0);
    EXPECT_GT(readerAtStart, startHeard) << "the reader runs ahead of the sound";

    const int endHeard = waitIntoSecond(4);
    marker.press(files, id);  // "Mark end"
    EXPECT_EQ(files.find(id)->partLength, std::uint32_t(endHeard - startHeard + 1));
}
