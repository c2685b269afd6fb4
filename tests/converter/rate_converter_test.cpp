// The rate converter's sums, accumulated several at a time, against the one-sum-at-a-time
// arithmetic it replaced (kept below as it was: a 1024-sample history refilled 768 samples at a
// time, one sum per output sample): the outputs must be identical to the bit, for realistic
// signals (music with noise made by sox, speech made by espeak-ng, a clipping square wave), for
// every rate pair the converter is asked for, with the input given whole or in pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "converter/rate_converter.h"
#include "support/test_support.h"

namespace kessin {
namespace {

using tolvane::test::haveTool;
using tolvane::test::readFile;
using tolvane::test::run;
using tolvane::test::TempDir;
using Samples = std::vector<std::int16_t>;

// The arithmetic as it was before the sums were accumulated side by side.
class OneSumAtATime {
public:
    OneSumAtATime(const Samples& input, int inputRate, int outputRate, int taps)
        : input_(input), taps_(taps & ~1) {
        const long g = std::gcd(long(inputRate), long(outputRate));
        l_ = outputRate / g;
        m_ = inputRate / g;
        cutoff_ = outputRate >= inputRate ? 0.5 : 0.5 * outputRate / inputRate;
        history_.assign(std::size_t(4) * taps_, 0.0);
        readPos_ = validEnd_ = long(history_.size());
        const long half = taps_ / 2;
        if (l_ <= RateConverter::kTableLimit && l_ * half <= RateConverter::kTableSizeLimit) {
            table_.resize(std::size_t(l_ * half));
            for (long k = 1; k <= l_ * half; ++k)
                table_[std::size_t(k - 1)] = float(coefficient(k));
        }
    }

    // The output samples, and the sums they were rounded from.
    Samples readAll(std::vector<double>* sums = nullptr) {
        Samples out;
        const long size = long(history_.size());
        for (;;) {
            if (readPos_ + taps_ / 2 >= size)
                refill();
            if (readPos_ >= validEnd_)
                break;
            const double sum = filtered();
            if (sums != nullptr)
                sums->push_back(sum);
            long value = long(sum + 0.5);
            value = std::clamp(value, -32767L, 32767L);
            out.push_back(std::int16_t(value));
            phase_ += m_;
            while (phase_ >= l_) {
                phase_ -= l_;
                ++readPos_;
            }
        }
        return out;
    }

private:
    double coefficient(long a) const {
        if (a == 0)
            return 2 * cutoff_;
        const double pi = std::numbers::pi;
        const double t = double(a) / double(l_);
        const double x = 2 * pi * cutoff_ * t;
        const double sinc = std::fabs(x) < 1e-10 ? 1.0 : std::sin(x) / x;
        const double w = t / taps_;
        return 2 * cutoff_ * sinc *
               (0.42 - 0.5 * std::cos(2 * pi * (w + 0.5)) + 0.08 * std::cos(4 * pi * (w + 0.5)));
    }

    void refill() {
        const long size = long(history_.size());
        const long shift = size - taps_;
        std::copy(history_.begin() + shift, history_.end(), history_.begin());
        readPos_ -= shift;
        validEnd_ -= shift;
        long pos = taps_;
        if (used_ < input_.size()) {
            while (pos < size && used_ < input_.size())
                history_[std::size_t(pos++)] = input_[used_++];
            validEnd_ = pos;
        }
        std::fill(history_.begin() + pos, history_.end(), 0.0);
    }

    double filtered() const {
        const long half = taps_ / 2;
        const double* x = history_.data() + (readPos_ - half + 1);
        double sum = 0;
        for (long i = 0; i < taps_; ++i) {
            const long a = (i - half + 1) * l_ - phase_;
            const double h = table_.empty() ? coefficient(a)
                             : a == 0       ? double(float(2 * cutoff_))
                                            : double(table_[std::size_t(std::labs(a) - 1)]);
            sum += h * x[i];
        }
        return sum;
    }

    const Samples& input_;
    std::size_t used_ = 0;
    int taps_;
    long l_ = 1, m_ = 1;
    double cutoff_ = 0.5;
    std::vector<double> history_;
    long readPos_ = 0, validEnd_ = 0, phase_ = 0;
    std::vector<float> table_;
};

// The unrounded sums, compared bit for bit: the rounding to samples would hide a sum that is off
// in its last bits.
std::vector<double> sumsOf(const Samples& in, int from, int to, bool lanes) {
    RateConverter converter;
    EXPECT_EQ(converter.setup(in.data(), in.size(), from, to, 256), 0);
    converter.setLanesForTesting(lanes);
    std::vector<double> sums(in.size() * std::size_t(to) / std::size_t(from) + 16);
    sums.resize(std::size_t(converter.readSumsForTesting(sums.data(), sums.size())));
    return sums;
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

Samples wholeInput(const Samples& in, int from, int to, bool lanes = true) {
    RateConverter converter;
    EXPECT_EQ(converter.setup(in.data(), in.size(), from, to, 256), 0);
    converter.setLanesForTesting(lanes);
    Samples out(in.size() * std::size_t(to) / std::size_t(from) + 16);
    out.resize(std::size_t(converter.read(out.data(), out.size())));
    // Nothing follows the end.
    std::int16_t more;
    EXPECT_EQ(converter.read(&more, 1), 0);
    return out;
}

// The input pushed in pieces of random sizes, read in between in random amounts.
Samples pushedInput(const Samples& in, int from, int to, unsigned seed) {
    std::mt19937 random(seed);
    RateConverter converter;
    EXPECT_EQ(converter.setupStream(from, to, 256), 0);
    Samples out;
    std::int16_t buffer[3000];
    const auto drain = [&] {
        for (;;) {
            const long n = converter.read(buffer, 1 + random() % 3000);
            if (n <= 0)
                return;
            out.insert(out.end(), buffer, buffer + n);
        }
    };
    for (std::size_t at = 0; at < in.size();) {
        const std::size_t n = std::min<std::size_t>(in.size() - at, 1 + random() % 5000);
        converter.push(in.data() + at, n);
        at += n;
        drain();
    }
    converter.endInput();
    drain();
    return out;
}

// 16-bit mono samples of a WAV made by a tool at test time.
Samples samplesOf(const std::string& wav) {
    const auto bytes = readFile(wav);
    Samples s;
    // Both tools write a plain 44-byte header for 16-bit mono PCM.
    for (std::size_t i = 44; i + 1 < bytes.size(); i += 2)
        s.push_back(std::int16_t(bytes[i] | bytes[i + 1] << 8));
    return s;
}

struct Signal {
    std::string name;
    Samples samples;
};

std::vector<Signal> realisticSignals(const TempDir& dir) {
    std::vector<Signal> signals;
    const std::string music = dir.file("music.wav");
    const auto made =
        run({"sox",       "-D",      "-n", "-r",   "44100", "-c",   "1",    "-b",   "16",
             music,       "synth",   "3",  "sine", "220",   "sine", "277",  "sine", "330",
             "pinknoise", "tremolo", "3",  "60",   "remix", "-",    "gain", "-n",   "-1"});
    EXPECT_EQ(made.status, 0) << made.errors;
    signals.push_back({"music", samplesOf(music)});
    if (haveTool("espeak-ng")) {
        const std::string speech = dir.file("speech.wav");
        run({"espeak-ng", "-w", speech,
             "Tolvane makes ringtones from the music on your computer."});
        signals.push_back({"speech", samplesOf(speech)});
    }
    // Full-scale edges overshoot: the clamping to +-32767 is exercised too.
    Samples square(30000);
    for (std::size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 37) % 2 ? 32767 : -32768;
    signals.push_back({"square", square});
    return signals;
}

// `seconds` of `signal` read as if it were sampled at `rate`.
Samples lengthAt(const Samples& signal, int rate, double seconds) {
    const auto n = std::min(signal.size(), std::size_t(rate * seconds));
    return Samples(signal.begin(), signal.begin() + long(n));
}

TEST(RateConverterLanes, SameSamplesAsOneSumAtATimeForEveryRatePair) {
    if (!haveTool("sox"))
        GTEST_SKIP() << "sox is not installed";
    TempDir dir;
    const auto signals = realisticSignals(dir);
    // The converter takes 4000-48000 Hz and makes 8000 Hz (inputs of 8000 Hz and more) or
    // 4000 Hz (any input): the usual rates, the edges, rates that need coefficients computed on
    // demand (L > 640: 44101, 7999, 8001), and the converter's own use of it upwards.
    const struct {
        int from, to;
        double seconds;
    } pairs[] = {
        {8820, 8000, 1.5},  {9600, 8000, 1.5},  {11025, 8000, 1.5}, {12000, 8000, 1.5},
        {16000, 8000, 1.5}, {22050, 8000, 1.5}, {24000, 8000, 1.5}, {32000, 8000, 1.5},
        {37800, 8000, 1.5}, {44056, 8000, 1.5}, {44100, 8000, 1.5}, {47999, 8000, 0.2},
        {48000, 8000, 1.5}, {44101, 8000, 0.2}, {8001, 8000, 0.2},  {4001, 4000, 0.2},
        {4410, 4000, 1.5},  {5000, 4000, 1.5},  {5512, 4000, 1.5},  {6000, 4000, 1.5},
        {7350, 4000, 1.5},  {7999, 4000, 0.2},  {8000, 4000, 1.5},  {11025, 4000, 1.5},
        {22050, 4000, 1.5}, {44100, 4000, 1.5}, {48000, 4000, 1.5}, {4000, 8000, 1.5},
        {6000, 8000, 1.5},
    };
    for (const auto& signal : signals) {
        for (const auto& pair : pairs) {
            SCOPED_TRACE(signal.name + " " + std::to_string(pair.from) + " -> " +
                         std::to_string(pair.to));
            const Samples in = lengthAt(signal.samples, pair.from, pair.seconds);
            std::vector<double> sums;
            const Samples expected = OneSumAtATime(in, pair.from, pair.to, 256).readAll(&sums);
            ASSERT_TRUE(sameBits(sumsOf(in, pair.from, pair.to, true), sums));
            ASSERT_TRUE(sameBits(sumsOf(in, pair.from, pair.to, false), sums));
            ASSERT_EQ(wholeInput(in, pair.from, pair.to), expected);
            ASSERT_EQ(wholeInput(in, pair.from, pair.to, false), expected);
            ASSERT_EQ(pushedInput(in, pair.from, pair.to, unsigned(pair.from)), expected);
        }
    }
}

TEST(RateConverterLanes, SameSamplesAcrossTheWholeRangeOfInputRates) {
    if (!haveTool("sox"))
        GTEST_SKIP() << "sox is not installed";
    TempDir dir;
    const Samples music = realisticSignals(dir).front().samples;
    // A short piece at a spread of rates over the whole accepted range, to both targets.
    for (int from = 4000; from <= 48000; from += 173) {
        for (const int to : {4000, 8000}) {
            if (from == to)
                continue;
            SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
            const Samples in = lengthAt(music, from, 0.05);
            std::vector<double> sums;
            ASSERT_EQ(wholeInput(in, from, to), OneSumAtATime(in, from, to, 256).readAll(&sums));
            ASSERT_TRUE(sameBits(sumsOf(in, from, to, true), sums));
        }
    }
}

TEST(RateConverterLanes, ShortAndEmptyInputs) {
    // Shorter than one sum's reach, one sample, none: the end is where it was.
    for (const std::size_t n : {0u, 1u, 2u, 7u, 127u, 128u, 129u, 300u}) {
        SCOPED_TRACE(n);
        Samples in(n);
        for (std::size_t i = 0; i < n; ++i)
            in[i] = std::int16_t(i * 977 % 60000 - 30000);
        const Samples expected = OneSumAtATime(in, 44100, 8000, 256).readAll();
        EXPECT_EQ(wholeInput(in, 44100, 8000), expected);
        EXPECT_EQ(pushedInput(in, 44100, 8000, 7), expected);
    }
}

}  // namespace
}  // namespace kessin
