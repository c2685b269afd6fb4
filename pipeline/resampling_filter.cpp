#include "pipeline/resampling_filter.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tolvane {
namespace {

constexpr std::size_t kBlockFrames = 1152;
constexpr std::size_t kQueuedLimit = 16000;  // input bytes kept queued between pushes
constexpr std::size_t kDrainPiece = 4096;    // bytes per write to the inner encoder
constexpr int kMaxPhasesPerSide = 320;
constexpr int kMaxTaps = 33;

// Blackman-windowed sinc over t in [0, L], centred at L/2, with cut-off `fcn`.
double window(double t, int L, double fcn) {
    const double u = std::clamp(t / L, 0.0, 1.0);
    const double v = u - 0.5;
    if (std::fabs(v) < 1e-9)
        return fcn;
    const double pi = std::numbers::pi;
    const double blackman = 0.42 - 0.5 * std::cos(2 * pi * u) + 0.08 * std::cos(4 * pi * u);
    return blackman * std::sin(L * pi * fcn * v) / (pi * L * v);
}

std::int32_t toSample(float f) {
    return static_cast<std::int32_t>(std::clamp(f, -32768.0f, 32767.0f));  // truncates
}

// The sum of s[i] * h[i] for i in [from, to). Four independent partial sums let the processor
// overlap the additions (and the compiler use vector registers) instead of waiting on one chain.
float dot(const float* s, const float* h, int from, int to) {
    float a[4] = {};
    int i = from;
    for (; i + 4 <= to; i += 4) {
        for (int lane = 0; lane < 4; ++lane)
            a[lane] += s[i + lane] * h[i + lane];
    }
    for (; i < to; ++i)
        a[0] += s[i] * h[i];
    return (a[0] + a[2]) + (a[1] + a[3]);
}

// dot(s, h, 0, Taps) with the four partial sums held in one vector register: lane by lane the
// same products and additions in the same order, so the result is the same to the bit.
template <int Taps>
float dotAll(const float* s, const float* h) {
    constexpr int n = Taps;
#if defined(__SSE2__)
    __m128 sums = _mm_setzero_ps();
    int i = 0;
    for (; i + 4 <= n; i += 4)
        sums = _mm_add_ps(sums, _mm_mul_ps(_mm_loadu_ps(s + i), _mm_loadu_ps(h + i)));
    alignas(16) float a[4];
    _mm_store_ps(a, sums);
    for (; i < n; ++i)
        a[0] += s[i] * h[i];
    return (a[0] + a[2]) + (a[1] + a[3]);
#else
    return dot(s, h, 0, n);
#endif
}

// dotAll<Taps> of two channels against one phase row, the row loaded once, and both horizontal
// sums done side by side in one register (the same additions: (a0 + a2) + (a1 + a3)).
template <int Taps>
void dotPair(const float* left, const float* right, const float* h, float& outLeft,
             float& outRight) {
#if defined(__SSE2__)
    __m128 sumsL = _mm_setzero_ps();
    __m128 sumsR = _mm_setzero_ps();
    int i = 0;
    for (; i + 4 <= Taps; i += 4) {
        const __m128 taps = _mm_loadu_ps(h + i);
        sumsL = _mm_add_ps(sumsL, _mm_mul_ps(_mm_loadu_ps(left + i), taps));
        sumsR = _mm_add_ps(sumsR, _mm_mul_ps(_mm_loadu_ps(right + i), taps));
    }
    for (; i < Taps; ++i) {  // the odd tap joins lane 0
        const __m128 tap = _mm_load_ss(h + i);
        sumsL = _mm_add_ss(sumsL, _mm_mul_ss(_mm_load_ss(left + i), tap));
        sumsR = _mm_add_ss(sumsR, _mm_mul_ss(_mm_load_ss(right + i), tap));
    }
    // (l0 + l2, r0 + r2, l1 + l3, r1 + r3), then lane 0 + lane 2 and lane 1 + lane 3.
    const __m128 halves = _mm_add_ps(_mm_unpacklo_ps(sumsL, sumsR), _mm_unpackhi_ps(sumsL, sumsR));
    const __m128 total = _mm_add_ps(halves, _mm_movehl_ps(halves, halves));
    outLeft = _mm_cvtss_f32(total);
    outRight = _mm_cvtss_f32(_mm_shuffle_ps(total, total, 1));
#else
    outLeft = dot(left, h, 0, Taps);
    outRight = dot(right, h, 0, Taps);
#endif
}

// std::floor for values well inside the int range, without a library call per output sample.
int floorToInt(double x) {
    const int truncated = static_cast<int>(x);
    return truncated - (x < truncated ? 1 : 0);
}

// One sample in the target width: 16-bit little-endian, or 8-bit offset by 128.
template <bool Wide>
std::uint8_t* emit(std::uint8_t* o, std::int32_t s) {
    if constexpr (Wide) {
        *o++ = static_cast<std::uint8_t>(s & 0xFF);
        *o++ = static_cast<std::uint8_t>((s >> 8) & 0xFF);
    } else {
        *o++ = static_cast<std::uint8_t>(s / 256 + 128);
    }
    return o;
}

// `produced` converted frames (`first` and, from a stereo source, `second`) in the target's
// channels and width, from `o` on; returns the end.
template <bool MonoIn, bool StereoOut, bool Wide>
std::uint8_t* formatFrames(const float* first, const float* second, int produced, std::uint8_t* o) {
    for (int k = 0; k < produced; ++k) {
        if constexpr (MonoIn) {
            const std::int32_t s = toSample(first[k]);
            o = emit<Wide>(o, s);
            if constexpr (StereoOut)
                o = emit<Wide>(o, s);
        } else if constexpr (!StereoOut) {
            // trunc((right + trunc(left)) * 0.5), the right channel only clamped.
            const float right = std::clamp(second[k], -32768.0f, 32767.0f);
            const float left = static_cast<float>(toSample(first[k]));
            o = emit<Wide>(o, static_cast<std::int32_t>((right + left) * 0.5f));
        } else {
            o = emit<Wide>(o, toSample(first[k]));
            o = emit<Wide>(o, toSample(second[k]));
        }
    }
    return o;
}

// 16-bit little-endian stereo frames into two float arrays.
void splitStereo16(const std::uint8_t* raw, int frames, float* left, float* right) {
    int f = 0;
#if defined(__SSE2__)
    for (; f + 4 <= frames; f += 4) {
        // Four frames: each 32-bit lane holds left in its low half and right in its high half.
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(raw + 4 * f));
        const __m128i l = _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
        const __m128i r = _mm_srai_epi32(v, 16);
        _mm_storeu_ps(left + f, _mm_cvtepi32_ps(l));
        _mm_storeu_ps(right + f, _mm_cvtepi32_ps(r));
    }
#endif
    for (; f < frames; ++f) {
        const std::uint8_t* p = raw + 4 * f;
        left[f] = static_cast<float>(static_cast<std::int16_t>(p[0] | (p[1] << 8)));
        right[f] = static_cast<float>(static_cast<std::int16_t>(p[2] | (p[3] << 8)));
    }
}

}  // namespace

CResamplingFilter::CResamplingFilter(std::unique_ptr<CEncoder> inner, const PcmFormat& source,
                                     const PcmFormat& target)
    : inner_(std::move(inner)) {
    state_.source = source;
    state_.target = target;
    state_.ratio = static_cast<double>(source.sampleRate) / target.sampleRate;
    inBlockBytes_ = source.bitsPerSample * source.channels * kBlockFrames / 8;
    outBlockBytes_ = target.bitsPerSample * target.channels * kBlockFrames / 8;
    // A block of kBlockFrames frames converts to at most this many frames.
    const std::size_t outFrames =
        std::max(static_cast<std::size_t>(kBlockFrames / state_.ratio) + 2, kBlockFrames);
    const std::size_t frameBytes =
        std::size_t(source.bitsPerSample == 16 ? 2 : 1) * source.channels;
    raw_.resize(std::max<std::size_t>(kBlockFrames * 4, frameBytes));
    for (int c = 0; c < 2; ++c) {
        joined_[c].resize(kMaxTaps + kBlockFrames);
        converted_[c].resize(outFrames);
    }
    bytes_.resize(outFrames * 2 * 2);
}

void CResamplingFilter::write(const void* data, std::size_t count, std::size_t* written) {
    push(static_cast<const std::uint8_t*>(data), count);
    drainOutput();
    // Every byte is taken (large writes are split, never dropped), so say so rather than leave
    // the caller's count unset.
    if (written != nullptr)
        *written = count;
}

void CResamplingFilter::finish() {
    const std::size_t frameBytes = state_.source.bitsPerSample / 8 * state_.source.channels;
    while (state_.input.size() >= frameBytes && convertBlock()) {
    }
    drainOutput();
    inner_->finish();
}

// Pushes are split so that a write larger than the input FIFO's free space is never lost.
void CResamplingFilter::push(const std::uint8_t* data, std::size_t count) {
    while (count > 0) {
        if (state_.input.freeSpace() < count)
            makeRoom();
        const std::size_t piece = std::min(count, state_.input.freeSpace());
        if (piece == 0) {
            convertBlock();
            continue;
        }
        state_.input.write(data, piece);
        data += piece;
        count -= piece;
        // (A frame wider than the limit waits for its rest instead of looping forever.)
        while (state_.input.size() > kQueuedLimit && convertBlock()) {
        }
    }
}

void CResamplingFilter::makeRoom() {
    const std::size_t outReserve = static_cast<std::size_t>(outBlockBytes_ / state_.ratio) + 128;
    while (state_.input.size() > inBlockBytes_ && state_.output.freeSpace() > outReserve)
        convertBlock();
}

void CResamplingFilter::drainOutput() {
    std::uint8_t piece[kDrainPiece];
    while (std::size_t n = state_.output.read(piece, sizeof piece))
        inner_->write(piece, n);
}

void CResamplingFilter::buildTable() {
    const auto sourceRate = static_cast<long>(state_.source.sampleRate);
    const auto targetRate = static_cast<long>(state_.target.sampleRate);
    state_.bpc = static_cast<int>(
        std::min<long>(targetRate / std::gcd(targetRate, sourceRate), kMaxPhasesPerSide));
    const double ratio = state_.ratio;
    const int integral = std::fabs(ratio - std::floor(ratio + 0.5)) < 0.0001 ? 1 : 0;
    state_.cutoff = std::min(1.0, 1.0 / ratio);
    state_.filterLength = 31 + integral;
    const int L = state_.filterLength;
    const int taps = L + 1;
    for (auto& h : state_.history)
        h.assign(taps, 0.0f);
    state_.timeOffset[0] = state_.timeOffset[1] = 0.0;

    const int rows = 2 * state_.bpc + 1;
    state_.phases.assign(rows, std::vector<float>(taps));
    for (int j = 0; j < rows; ++j) {
        const double offset = static_cast<double>(j - state_.bpc) / (2.0 * state_.bpc);
        std::vector<double> row(taps);
        for (int i = 0; i <= L; ++i)
            row[i] = window(i - offset, L, state_.cutoff);
        const double sum = std::accumulate(row.begin(), row.end(), 0.0);
        for (int i = 0; i <= L; ++i)
            state_.phases[j][i] = static_cast<float>(row[i] / sum);
    }
    state_.tableBuilt = true;
}

template <int Count>
int CResamplingFilter::convertPass(int first, int at, int len, int outAt, int wanted, int& used) {
    const int L = state_.filterLength;
    const int taps = L + 1;
    const int half = L / 2;
    const int bpc = state_.bpc;
    const int lastRow = 2 * bpc;
    const double ratio = state_.ratio;
    const double offsetC = state_.timeOffset[first];
    // The loop's integer constants as doubles once (exact conversions, the same arithmetic).
    const double centre = 0.5 * (L % 2);
    const double rows = 2 * bpc;
    const double sideRows = bpc;
    const float* base[Count];
    float* y[Count];
    for (int c = 0; c < Count; ++c) {
        base[c] = joined_[first + c].data() + at + taps;
        y[c] = converted_[first + c].data() + outAt;
    }

    int j = 0;
    int k = 0;
    for (; k < wanted; ++k) {
        const double t0 = k * ratio;
        j = floorToInt(t0 - offsetC);
        if (L - half + j >= len)
            break;
        const double offset = t0 - offsetC - (j + centre);
        const int row = std::clamp(floorToInt(rows * offset + sideRows + 0.5), 0, lastRow);
        const float* h = state_.phases[row].data();
        const int from = j - half;
        if (Count == 2 && from >= -taps && taps == 32) {
            dotPair<32>(base[0] + from, base[Count - 1] + from, h, y[0][k], y[Count - 1][k]);
            continue;
        }
        if (Count == 2 && from >= -taps && taps == 33) {
            dotPair<33>(base[0] + from, base[Count - 1] + from, h, y[0][k], y[Count - 1][k]);
            continue;
        }
        for (int c = 0; c < Count; ++c) {
            const float* s = base[c] + from;
            if (from < -taps) {
                y[c][k] = dot(s, h, -taps - from, taps);  // samples before the history are zero
            } else if (taps == 32) {
                y[c][k] = dotAll<32>(s, h);
            } else if (taps == 33) {
                y[c][k] = dotAll<33>(s, h);
            } else {
                y[c][k] = dot(s, h, 0, taps);
            }
        }
    }
    const int produced = k;
    used = std::min(len, L - half + j);
    for (int c = 0; c < Count; ++c)
        state_.timeOffset[first + c] = offsetC + used - produced * ratio;
    return produced;
}

template <int Count>
int CResamplingFilter::convertChannels(int first, int frames) {
    const double ratio = state_.ratio;
    const int taps = state_.filterLength + 1;
    int remaining = frames;
    int inPos = 0;
    int outPos = 0;
    while (remaining > 0) {
        int used = 0;
        const int wanted = static_cast<int>(remaining / ratio);
        outPos += convertPass<Count>(first, inPos, remaining, outPos, wanted, used);
        if (used <= 0)
            break;
        inPos += used;
        remaining -= used;
    }
    // When upsampling, a pass over the block's last few samples can produce an output without
    // using any of them. They still belong to the stream: the time offset moves on to the block's
    // end and the history ends with them, else each such block end would drop an input sample
    // (a small jump in the waveform, and a ringtone a little short).
    if (remaining > 0) {
        for (int c = first; c < first + Count; ++c)
            state_.timeOffset[c] += remaining;
        inPos += remaining;
    }
    // The last `taps` samples of the block are the next block's history.
    for (int c = first; c < first + Count; ++c)
        std::copy_n(joined_[c].begin() + inPos, taps, state_.history[c].begin());
    return outPos;
}

void CResamplingFilter::splitChannels(const std::uint8_t* raw, int frames, int historyLength) {
    const PcmFormat& src = state_.source;
    float* left = joined_[0].data() + historyLength;
    float* right = joined_[1].data() + historyLength;
    if (src.bitsPerSample == 16 && src.channels == 2) {
        splitStereo16(raw, frames, left, right);
        return;
    }
    const int channels = std::min<int>(src.channels, 2);
    const std::size_t frameBytes = static_cast<std::size_t>(src.bitsPerSample / 8) * src.channels;
    float* out[2] = {left, right};
    for (int c = 0; c < channels; ++c) {
        const std::uint8_t* p = raw + c * (src.bitsPerSample / 8);
        if (src.bitsPerSample == 16) {
            for (int f = 0; f < frames; ++f, p += frameBytes)
                out[c][f] = static_cast<float>(static_cast<std::int16_t>(p[0] | (p[1] << 8)));
        } else {
            for (int f = 0; f < frames; ++f, p += frameBytes)
                out[c][f] = static_cast<float>((p[0] - 128) * 256);
        }
    }
}

bool CResamplingFilter::convertBlock() {
    const PcmFormat& src = state_.source;
    const int channels = std::min<int>(src.channels, 2);
    const std::size_t sampleBytes = src.bitsPerSample == 16 ? 2 : 1;
    const std::size_t frameBytes = sampleBytes * src.channels;
    const std::size_t available = state_.input.size() / frameBytes * frameBytes;
    // A block is kBlockFrames frames of up to four bytes; sources with wider frames (more than
    // two 16-bit channels) take fewer frames per block rather than overrun the buffer.
    const std::size_t blockFrames = std::min(kBlockFrames, raw_.size() / frameBytes);
    const std::size_t wantBytes = std::min(blockFrames * frameBytes, available);
    if (wantBytes == 0)
        return false;

    const std::uint8_t* raw = raw_.data();
    const std::size_t got = state_.input.read(raw_.data(), wantBytes);
    const int frames = static_cast<int>(got / frameBytes);

    const double ratio = state_.ratio;
    const bool copy = ratio >= 0.9999 && ratio <= 1.0001;
    if (!copy && !state_.tableBuilt)
        buildTable();
    const int taps = copy ? 0 : state_.filterLength + 1;

    // Each channel's buffer starts with its history, so that the converter reads the history
    // and the new samples as one array.
    for (int c = 0; c < channels && !copy; ++c)
        std::copy(state_.history[c].begin(), state_.history[c].end(), joined_[c].begin());
    splitChannels(raw, frames, taps);

    int produced = frames;
    if (copy) {
        for (int c = 0; c < channels; ++c)
            std::copy_n(joined_[c].begin(), frames, converted_[c].begin());
    } else if (channels == 2 && state_.timeOffset[0] == state_.timeOffset[1]) {
        // Both channels are at the same time offset (they always are, as they are given the
        // same frames): one pass finds each output's position and phase for both.
        produced = convertChannels<2>(0, frames);
    } else {
        for (int c = 0; c < channels; ++c)
            produced = convertChannels<1>(c, frames);
    }

    const std::size_t bytes = formatOutput(produced);
    const std::size_t pieceBytes = outBlockBytes_;
    for (std::size_t at = 0; at < bytes; at += pieceBytes) {
        const std::size_t n = std::min(pieceBytes, bytes - at);
        if (!state_.output.write(bytes_.data() + at, n)) {
            drainOutput();  // room for the rest of the block, so nothing is dropped
            state_.output.write(bytes_.data() + at, n);
        }
    }
    return true;
}

// Channels and width of the target.
std::size_t CResamplingFilter::formatOutput(int produced) {
    const bool monoIn = state_.source.channels == 1;
    const bool stereoOut = state_.target.channels == 2;
    const bool wideOut = state_.target.bitsPerSample == 16;
    const float* first = converted_[0].data();
    const float* second = converted_[1].data();
    std::uint8_t* o = bytes_.data();
    const auto format =
        monoIn
            ? (stereoOut
                   ? (wideOut ? formatFrames<true, true, true> : formatFrames<true, true, false>)
                   : (wideOut ? formatFrames<true, false, true> : formatFrames<true, false, false>))
            : (stereoOut
                   ? (wideOut ? formatFrames<false, true, true> : formatFrames<false, true, false>)
                   : (wideOut ? formatFrames<false, false, true>
                              : formatFrames<false, false, false>));
    return static_cast<std::size_t>(format(first, second, produced, o) - o);
}

}  // namespace tolvane
