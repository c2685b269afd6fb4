// The iPhone (M4R) and Android (Ogg) ringtones as users get them: the real tolvane-convert on
// music with noise made by sox, every file read back by ffprobe and decoded by ffmpeg; and the
// two writers on their own for the failures a user meets (full disk, missing codec, cancel).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "encoder_fixtures.h"
#include "encoders/m4r_encoder.h"
#include "encoders/ogg_encoder.h"
#include "encoders/ringtone_formats.h"
#include "pipeline/app_exception.h"
#include "pipeline/encoder.h"
#include "support/test_support.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::CommandResult;
using test::TempDir;

// Music with noise: a sawtooth and a triangle sweeping through two octaves (one per channel,
// both in a mono file), a slow tremolo, and pink noise 19 dB below the tones.
bool makeMusic(const TempDir& dir, const std::string& path, int rate, int channels,
               double seconds) {
    const std::string length = std::to_string(seconds);
    const std::string tones = path + ".tones.wav";
    const std::string noise = path + ".noise.wav";
    const auto sox = [](std::vector<std::string> argv) {
        argv.insert(argv.begin(), "sox");
        const CommandResult r = test::run(argv);
        EXPECT_EQ(r.status, 0) << r.errors;
        return r.status == 0;
    };
    const std::string r = std::to_string(rate), c = std::to_string(channels);
    const bool made =
        sox({"-n", "-r", r, "-c", c, "-b", "16", tones, "synth", length, "sawtooth", "110-440",
             "triangle", "165-660", "tremolo", "1.3", "40"}) &&
        sox({"-n", "-r", r, "-c", c, "-b", "16", noise, "synth", length, "pinknoise"}) &&
        sox({"-m", "-v", "0.6", tones, "-v", "0.07", noise, path});
    fs::remove(tones);
    fs::remove(noise);
    (void)dir;
    return made;
}

// 16-bit PCM of `seconds` of a file from `start` on, mixed to mono at `rate`, by sox.
std::vector<std::int16_t> sourcePart(const std::string& path, int rate, double start,
                                     double seconds) {
    const CommandResult r = test::run({"sox", "-D", path, "-r", std::to_string(rate), "-c", "1",
                                       "-b", "16", "-e", "signed-integer", "-t", "raw", "-", "trim",
                                       std::to_string(start), std::to_string(seconds)});
    EXPECT_EQ(r.status, 0) << r.errors;
    return test::samplesOf({r.output.begin(), r.output.end()});
}

// 16-bit PCM decoded by ffmpeg, interleaved in the file's own channels and rate.
std::vector<std::int16_t> decodeAll(const std::string& path) {
    const CommandResult r = test::run(
        {"ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-acodec", "pcm_s16le", "-"});
    EXPECT_EQ(r.status, 0) << r.errors;
    return test::samplesOf({r.output.begin(), r.output.end()});
}

// The level of the loudest second in dB of full scale: the RMS of one second sliding in 10 ms
// steps, of the loudest channel.
double loudestSecondDb(const std::vector<std::int16_t>& pcm, int channels, int rate) {
    const std::size_t block = static_cast<std::size_t>(rate / 100);
    const std::size_t frames = pcm.size() / static_cast<std::size_t>(channels);
    double loudest = 0;
    for (int c = 0; c < channels; ++c) {
        std::vector<double> blocks;
        for (std::size_t at = 0; at + block <= frames; at += block) {
            double sum = 0;
            for (std::size_t i = at; i < at + block; ++i) {
                const double s = pcm[i * static_cast<std::size_t>(channels) + c];
                sum += s * s;
            }
            blocks.push_back(sum / double(block));
        }
        for (std::size_t end = 1; end <= blocks.size(); ++end) {
            const std::size_t first = end > 100 ? end - 100 : 0;
            double mean = 0;
            for (std::size_t b = first; b < end; ++b)
                mean += blocks[b];
            loudest = std::max(loudest, mean / double(end - first));
        }
    }
    return 10 * std::log10(loudest / (32768.0 * 32768.0));
}

double rmsOf(const std::vector<std::int16_t>& pcm, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(pcm[i]) * pcm[i];
    return std::sqrt(sum / double(std::max<std::size_t>(to - from, 1)));
}

// The correlation over all of the decoded signal with the source, at the delay (between -64 and
// 4096 samples) where their openings match best. One delay for the whole: a decode that drifts
// away from the source, or skips, correlates poorly.
double correlationOverAll(const std::vector<std::int16_t>& source,
                          const std::vector<std::int16_t>& decoded) {
    const auto correlation = [&](long lag, std::size_t from, std::size_t count) {
        double sd = 0, ss = 0, dd = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            const long at = static_cast<long>(i) + lag;
            const double s = source[i];
            const double d = at >= 0 && at < static_cast<long>(decoded.size()) ? decoded[at] : 0;
            sd += s * d;
            ss += s * s;
            dd += d * d;
        }
        return ss > 0 && dd > 0 ? sd / std::sqrt(ss * dd) : 0;
    };
    if (source.size() < 200)
        return 0;
    const std::size_t opening = std::min<std::size_t>(source.size() - 100, 8192);
    long bestLag = 0;
    double best = -1;
    for (long lag = -64; lag <= 4096; ++lag) {
        const double c = correlation(lag, 100, opening - 100);
        if (c > best) {
            best = c;
            bestLag = lag;
        }
    }
    return correlation(bestLag, 0, source.size());
}

// Container fields and tags as ffprobe reports them.
std::map<std::string, std::string> containerInfo(const std::string& path) {
    const CommandResult r =
        test::run({"ffprobe", "-v", "error", "-show_entries",
                   "format=format_name,duration:format_tags=title,major_brand:stream_tags=title",
                   "-of", "default=noprint_wrappers=1", path});
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start < r.output.size()) {
        std::size_t end = r.output.find('\n', start);
        if (end == std::string::npos)
            end = r.output.size();
        const std::string line = r.output.substr(start, end - start);
        if (const auto eq = line.find('='); eq != std::string::npos) {
            std::string key = line.substr(0, eq);
            for (char& ch : key)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            // Ogg's TITLE is a stream tag, MPEG-4's a format tag: either one will do.
            if (key == "tag:title" && fields.count(key) != 0 && line.substr(eq + 1).empty())
                continue;
            fields[key] = line.substr(eq + 1);
        }
        start = end + 1;
    }
    return fields;
}

CommandResult convert(std::vector<std::string> args) {
    args.insert(args.begin(), (test::binDir() / "tolvane-convert").string());
    return test::run(args);
}

struct Format {
    const char* name;  // the command line's name
    const char* extension;
    const char* container;  // ffprobe's format_name
    const char* codec;
};
constexpr Format kM4r{"m4r", ".m4r", "mov,mp4,m4a,3gp,3g2,mj2", "aac"};
constexpr Format kOgg{"ogg", ".ogg", "ogg", "vorbis"};

struct Source {
    int rate, channels;
    double seconds;
    int m4rRate, oggRate, madeChannels;
};

class ModernRingtones : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"sox", "ffmpeg", "ffprobe"})
            if (!test::haveTool(tool))
                GTEST_SKIP() << tool << " is not installed";
    }
    std::string out(const std::string& name) const { return dir_.file("out/" + name); }
    TempDir dir_;
};

TEST_F(ModernRingtones, EachSourceBecomesTheRightFileAtTheRightLevel) {
    // The CD rate as it is; rates phones take as they are for Ogg; rates beyond both ends are
    // converted; a mono source stays mono.
    const Source sources[] = {
        {44100, 2, 8, 44100, 44100, 2}, {48000, 2, 6, 44100, 48000, 2},
        {32000, 1, 6, 44100, 32000, 1}, {22050, 1, 6, 44100, 44100, 1},
        {96000, 2, 4, 44100, 44100, 2}, {6000, 1, 4, 44100, 44100, 1},
    };
    for (const Source& s : sources) {
        const std::string name =
            "song " + std::to_string(s.rate) + "-" + std::to_string(s.channels);
        const std::string path = dir_.file(name + ".wav");
        ASSERT_TRUE(makeMusic(dir_, path, s.rate, s.channels, s.seconds));
        for (const Format& f : {kM4r, kOgg}) {
            SCOPED_TRACE(name + " as " + f.name);
            const CommandResult r = convert({"-f", f.name, "-o", dir_.file("out"), path});
            ASSERT_EQ(r.status, 0) << r.errors;
            const std::string ringtone = out(name + f.extension);
            ASSERT_EQ(r.output, ringtone + "\n");

            const auto stream = test::streamInfo(ringtone);
            const auto container = containerInfo(ringtone);
            const int rate = f.extension == std::string(".m4r") ? s.m4rRate : s.oggRate;
            EXPECT_EQ(container.at("format_name"), f.container);
            EXPECT_EQ(stream.at("codec_name"), f.codec);
            EXPECT_EQ(stream.at("sample_rate"), std::to_string(rate));
            EXPECT_EQ(stream.at("channels"), std::to_string(s.madeChannels));
            EXPECT_EQ(container.at("tag:title"), name);
            EXPECT_NEAR(std::stod(container.at("duration")), s.seconds, 0.05);

            const auto decoded = decodeAll(ringtone);
            EXPECT_NEAR(loudestSecondDb(decoded, s.madeChannels, rate), -12.0, 0.5);
            const auto mono = test::decodeWithFfmpeg(ringtone, rate, 1);
            EXPECT_GE(correlationOverAll(sourcePart(path, rate, 0, s.seconds), mono), 0.98);
        }
    }
}

TEST_F(ModernRingtones, IphoneRingtoneOfALongPartIsCutAtThirtySecondsAndFadesOut) {
    const std::string path = dir_.file("long song.wav");
    ASSERT_TRUE(makeMusic(dir_, path, 44100, 2, 60));
    const CommandResult r = convert({"-f", "7", "-o", dir_.file("out"), "--part", "10+45", path});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.errors, "") << "the cut is not an error";
    const std::string ringtone = out("long song.m4r");

    const auto container = containerInfo(ringtone);
    EXPECT_EQ(container.at("tag:major_brand"), "M4A ");
    EXPECT_NEAR(std::stod(container.at("duration")), 30.0, 0.05);
    const auto stream = test::streamInfo(ringtone);
    EXPECT_NEAR(std::stod(stream.at("bit_rate")), 128000, 16000);

    const auto decoded = test::decodeWithFfmpeg(ringtone, 44100, 1);
    ASSERT_GE(decoded.size(), 29u * 44100);
    const std::size_t end = decoded.size();
    const double before = rmsOf(decoded, 27 * 44100, 28 * 44100);
    const double fadeStart = rmsOf(decoded, end - 44100, end - 44100 + 4410);
    const double fadeMiddle = rmsOf(decoded, end - 22050 - 2205, end - 22050 + 2205);
    const double fadeEnd = rmsOf(decoded, end - 2205, end);
    EXPECT_GT(fadeStart, 0.7 * before);
    EXPECT_LT(fadeMiddle, 0.7 * fadeStart);
    EXPECT_GT(fadeMiddle, 0.3 * fadeStart);
    EXPECT_LT(fadeEnd, 0.08 * before);

    // Up to the fade it is the marked part (from second 10), at the level of every ringtone.
    EXPECT_GE(correlationOverAll(sourcePart(path, 44100, 10, 28), decoded), 0.98);
    const auto stereo = decodeAll(ringtone);
    EXPECT_NEAR(loudestSecondDb(stereo, 2, 44100), -12.0, 0.5);
}

TEST_F(ModernRingtones, IphoneRingtoneIsLevelledOnTheThirtySecondsItKeeps) {
    // A song that starts softly (20 dB down) and gets loud after 40 seconds: the ringtone is its
    // soft start, brought to the level of every ringtone, not left quiet by the loud end it lacks.
    const std::string soft = dir_.file("soft.wav"), loud = dir_.file("loud.wav");
    ASSERT_TRUE(makeMusic(dir_, soft, 44100, 2, 40));
    ASSERT_TRUE(makeMusic(dir_, loud, 44100, 2, 20));
    const std::string song = dir_.file("crescendo.wav");
    const CommandResult softer = test::run({"sox", "-v", "0.1", soft, dir_.file("softer.wav")});
    ASSERT_EQ(softer.status, 0) << softer.errors;
    const CommandResult joined = test::run({"sox", dir_.file("softer.wav"), loud, song});
    ASSERT_EQ(joined.status, 0) << joined.errors;
    for (const char* part : {"", "5+50"}) {
        SCOPED_TRACE(part);
        std::vector<std::string> args = {"-f", "m4r", "-o", dir_.file("out")};
        if (*part != 0)
            args.insert(args.end(), {"--reconvert", "--part", part});
        args.push_back(song);
        const CommandResult r = convert(args);
        ASSERT_EQ(r.status, 0) << r.errors;
        const auto decoded = decodeAll(out("crescendo.m4r"));
        EXPECT_NEAR(loudestSecondDb(decoded, 2, 44100), -12.0, 0.5);
    }
}

TEST_F(ModernRingtones, ShortSourcesMakeValidFiles) {
    // Shorter than one second, and exactly thirty seconds (no cut, no fade).
    const std::string shortPath = dir_.file("blip.wav");
    ASSERT_TRUE(makeMusic(dir_, shortPath, 44100, 2, 0.4));
    for (const Format& f : {kM4r, kOgg}) {
        SCOPED_TRACE(f.name);
        const CommandResult r = convert({"-f", f.name, "-o", dir_.file("out"), shortPath});
        ASSERT_EQ(r.status, 0) << r.errors;
        const std::string ringtone = out(std::string("blip") + f.extension);
        EXPECT_EQ(test::streamInfo(ringtone).at("codec_name"), f.codec);
        EXPECT_NEAR(std::stod(containerInfo(ringtone).at("duration")), 0.4, 0.05);
        EXPECT_NEAR(double(test::decodeWithFfmpeg(ringtone, 44100, 1).size()), 0.4 * 44100,
                    0.03 * 44100);
    }
    const std::string exact = dir_.file("thirty.wav");
    ASSERT_TRUE(makeMusic(dir_, exact, 44100, 1, 30));
    ASSERT_EQ(convert({"-f", "m4r", "-o", dir_.file("out"), exact}).status, 0);
    const auto decoded = test::decodeWithFfmpeg(out("thirty.m4r"), 44100, 1);
    ASSERT_GE(decoded.size(), 29u * 44100);
    EXPECT_GT(rmsOf(decoded, decoded.size() - 4410, decoded.size()),
              0.5 * rmsOf(decoded, 27 * 44100, 28 * 44100))
        << "a source of thirty seconds is not faded";
}

// The writers on their own, fed as the worker feeds them.
class ModernWriters : public ::testing::Test {
protected:
    void SetUp() override {
        resetConvertedQuestionForTesting();
        pcm_ = test::synthPcm(44100, 2, "2", "sine 440 sine 660");
    }
    // Makes the ringtone through the factory; the EncoderException's message, or "".
    std::string make(int format, const std::string& path) {
        try {
            auto encoder = createEncoder(format, PcmFormat::pcm(2, 44100, 16), path);
            test::encodeAll(*encoder, pcm_, 44100 * 4);
        } catch (const EncoderException& e) {
            return e.message();
        }
        return "";
    }
    std::vector<std::string> filesInDir() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    TempDir dir_;
    std::vector<std::uint8_t> pcm_;
};

constexpr int kFormats[] = {M4r, Ogg};

TEST_F(ModernWriters, ExistingRingtoneIsSkippedAndUnwritableTargetsRefused) {
    const std::string notAFolder = dir_.file("plain-file");
    test::writeFile(notAFolder, {'x'});
    for (int format : kFormats) {
        const std::string ext = ringtoneExtension(format);
        SCOPED_TRACE(ext);
        const std::string old = dir_.file("old" + ext);
        test::writeFile(old, {'o', 'l', 'd'});
        EXPECT_EQ(make(format, old), "file skipped");
        EXPECT_EQ(test::readFile(old), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
        EXPECT_EQ(make(format, notAFolder + "/ring" + ext), "cannot create file");
        EXPECT_EQ(make(format, dir_.file(std::string(260, 'r') + ext)), "cannot create file");
    }
    EXPECT_EQ(filesInDir(), (std::vector<std::string>{"old.m4r", "old.ogg", "plain-file"}));
}

TEST_F(ModernWriters, FullDiskIsAWriteErrorAndLeavesNoIphoneFile) {
    for (int format : kFormats) {
        for (rlim_t room : {20, 4000}) {
            const std::string path =
                dir_.file("full" + std::to_string(room) + ringtoneExtension(format));
            SCOPED_TRACE(path);
            std::string message;
            {
                test::FileSizeLimit disk(room);
                message = make(format, path);
            }
            EXPECT_EQ(message, "write error");
            if (format == M4r) {
                EXPECT_FALSE(fs::exists(path));
            }
        }
    }
    // No temporary file stays behind; a short Ogg file is removed by the worker, as every
    // format's is.
    for (const std::string& name : filesInDir())
        EXPECT_NE(name.front(), '.') << name;
}

TEST_F(ModernWriters, MissingAacEncoderIsAnErrorNotAnEmptyFile) {
    const std::string path = dir_.file("nocodec.m4r");
    const auto broken = [](const std::string& p, const AacMp4Settings& s) {
        AacMp4Settings settings = s;
        settings.codecName = "no-such-aac-encoder";
        return openAacMp4Writer(p, settings);
    };
    try {
        CM4REncoder encoder(path, broken);
        encoder.setInputFormat(44100, 2, 16);
        test::encodeAll(encoder, pcm_, pcm_.size());
        FAIL() << "made a ringtone without an encoder";
    } catch (const EncoderException& e) {
        EXPECT_EQ(e.message(), "AAC encoder not available");
    }
    EXPECT_TRUE(filesInDir().empty());
}

TEST_F(ModernWriters, IphoneRingtoneAbandonedHalfWayLeavesNothing) {
    const std::string path = dir_.file("cancelled.m4r");
    {
        CM4REncoder encoder(path);
        encoder.setInputFormat(44100, 2, 16);
        encoder.write(pcm_.data(), pcm_.size() / 2);
        // Destroyed without finish, as when the conversion fails half-way.
    }
    EXPECT_TRUE(filesInDir().empty());
}

TEST_F(ModernWriters, OddWritePiecesMakeTheSameAudio) {
    // The worker writes whole seconds; a filter in front may hand over any count of bytes,
    // also half a frame.
    for (int format : kFormats) {
        const std::string ext = ringtoneExtension(format);
        SCOPED_TRACE(ext);
        const std::string whole = dir_.file("whole" + ext), odd = dir_.file("odd" + ext);
        {
            auto encoder = createEncoder(format, PcmFormat::pcm(2, 44100, 16), whole);
            test::encodeAll(*encoder, pcm_, 44100 * 4);
        }
        {
            auto encoder = createEncoder(format, PcmFormat::pcm(2, 44100, 16), odd);
            test::encodeAll(*encoder, pcm_, 1001);
        }
        const auto a = test::decodeWithFfmpeg(whole, 44100, 1);
        const auto b = test::decodeWithFfmpeg(odd, 44100, 1);
        ASSERT_NEAR(double(a.size()), double(b.size()), 2048);
        EXPECT_GE(test::bestCorrelation(a, b, 16), 0.999);
    }
}

}  // namespace
}  // namespace tolvane
