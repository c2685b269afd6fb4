#include "decoder_fixtures.h"

#include <cmath>
#include <map>
#include <mutex>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tolvane::test {
namespace {

bool ffmpeg(std::vector<std::string> args) {
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv).status == 0;
}

bool sox(std::vector<std::string> args) {
    std::vector<std::string> argv = {"sox", "-D"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv).status == 0;
}

// A stereo tone with different pitches left and right.
bool stereoTone(const std::string& path, int rate, double seconds, int bits = 16) {
    return sox({"-n", "-r", std::to_string(rate), "-c", "2", "-b", std::to_string(bits), path,
                "synth", std::to_string(seconds), "sine", "440", "sine", "660", "gain", "-6"});
}

bool make(const TempDir& dir, const std::string& name, const std::string& out) {
    const std::string wav = dir.file(name + ".wav");
    if (name == "mono.mp3" || name == "half.mp3")
        return makeTone(wav, 44100, 1, 16, name == "mono.mp3" ? 3.0 : 0.5, "sine 440") &&
               ffmpeg({"-i", wav, "-c:a", "libmp3lame", "-b:a", "64k", "-write_xing", "0", out});
    if (name == "stereo.mp3" || name == "long.mp3")
        return stereoTone(wav, 44100, name == "long.mp3" ? 40.0 : 3.3) &&
               ffmpeg({"-i", wav, "-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0", out});
    if (name == "lsf.mp3")
        return makeTone(wav, 16000, 1, 16, 2.5, "sine 300") &&
               ffmpeg({"-i", wav, "-c:a", "libmp3lame", "-b:a", "32k", "-write_xing", "0", out});
    if (name == "short.ogg")
        return stereoTone(wav, 44100, 2.9) && ffmpeg({"-i", wav, "-c:a", "libvorbis", out});
    if (name == "8bit.flac")
        return makeTone(wav, 22050, 1, 16, 2.5, "sine 300") && sox({wav, "-b", "8", out});
    if (name == "16bit.flac")
        return stereoTone(wav, 44100, 2.5) && sox({wav, out});
    if (name == "24bit.flac")
        return stereoTone(wav, 48000, 2.5, 24) && sox({wav, "-b", "24", out});
    if (name == "short.flac")
        return makeTone(wav, 44100, 1, 16, 0.6) && sox({wav, out});
    if (name == "stereo.wav")
        return stereoTone(out, 44100, 2.5);
    if (name == "speech.wav")
        return run({"espeak-ng", "-w", out, "Your phone is ringing"}).status == 0;
    if (name == "stereo.wma")
        return stereoTone(wav, 44100, 4.0) &&
               ffmpeg({"-i", wav, "-c:a", "wmav2", "-b:a", "128k", out});
    if (name == "two.wma") {
        const std::string second = dir.file("two-second.wav");
        return makeTone(wav, 22050, 1, 16, 3.0, "sine 440") &&
               makeTone(second, 44100, 2, 16, 3.0, "sine 1000") &&
               ffmpeg({"-i", wav, "-i", second, "-map", "0:a", "-map", "1:a", "-c:a", "wmav2",
                       "-b:a", "64k", out});
    }
    return false;
}

}  // namespace

const std::string& fixture(const std::string& name) {
    static TempDir dir;
    static std::map<std::string, std::string> made;
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    auto it = made.find(name);
    if (it == made.end()) {
        const std::string out = dir.file(name);
        it = made.emplace(name, make(dir, name, out) ? out : std::string()).first;
    }
    return it->second;
}

std::vector<std::uint8_t> readAll(CReader& reader, std::size_t piece) {
    std::vector<std::uint8_t> all;
    std::vector<std::uint8_t> buffer(piece);
    for (;;) {
        std::size_t delivered = 12345;
        const std::size_t got = reader.read(buffer.data(), buffer.size(), &delivered);
        EXPECT_EQ(got, delivered);
        if (got == 0)
            break;
        all.insert(all.end(), buffer.begin(), buffer.begin() + static_cast<long>(got));
    }
    return all;
}

std::vector<std::int16_t> asPcm16(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return samples;
}

double correlation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b,
                   std::size_t offsetA, std::size_t offsetB) {
    if (offsetA >= a.size() || offsetB >= b.size())
        return 0;
    const std::size_t n = std::min(a.size() - offsetA, b.size() - offsetB);
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = a[offsetA + i], y = b[offsetB + i];
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return aa == 0 || bb == 0 ? 0 : ab / std::sqrt(aa * bb);
}

std::vector<std::uint8_t> ffmpegDecode(const std::string& path, const std::string& sampleFormat,
                                       const std::string& map) {
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-i", path};
    if (!map.empty())
        argv.insert(argv.end(), {"-map", map});
    argv.insert(argv.end(), {"-f", sampleFormat, "-"});
    const CommandResult r = run(argv);
    return {r.output.begin(), r.output.end()};
}

std::vector<std::uint8_t> ffmpegDecodeFrom(const std::string& path, int second) {
    const CommandResult r = run(
        {"ffmpeg", "-v", "error", "-ss", std::to_string(second), "-i", path, "-f", "s16le", "-"});
    return {r.output.begin(), r.output.end()};
}

std::string md5Of(const std::vector<std::uint8_t>& bytes) {
    const CommandResult r = run({"md5sum"}, std::string(bytes.begin(), bytes.end()));
    return r.output.substr(0, 32);
}

}  // namespace tolvane::test
