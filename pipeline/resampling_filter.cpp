#include "pipeline/resampling_filter.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

namespace tolvane {
namespace {

constexpr std::size_t kBlockFrames = 1152;
constexpr std::size_t kQueuedLimit = 16000;  // input bytes kept queued between pushes
constexpr std::size_t kDrainPiece = 4096;    // bytes per write to the inner encoder
constexpr int kMaxPhasesPerSide = 320;

// Blackman-windowed sinc over t in [0, L], centred at L/2, with cut-off `fcn`.
double window(double t, int L, double fcn) {
    const double u = std::clamp(t / L, 0.0, 1.0);
    const double v = u - 0.5;
    if (std::fabs(v) < 1e-9) return fcn;
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
        for (int lane = 0; lane < 4; ++lane) a[lane] += s[i + lane] * h[i + lane];
    }
    for (; i < to; ++i) a[0] += s[i] * h[i];
    return (a[0] + a[2]) + (a[1] + a[3]);
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
}

void CResamplingFilter::write(const void* data, std::size_t count, std::size_t* written) {
    push(static_cast<const std::uint8_t*>(data), count);
    drainOutput();
    // Every byte is taken (large writes are split, never dropped), so say so rather than leave
    // the caller's count unset.
    if (written != nullptr) *written = count;
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
        if (state_.input.freeSpace() < count) makeRoom();
        const std::size_t piece = std::min(count, state_.input.freeSpace());
        if (piece == 0) {
            convertBlock();
            continue;
        }
        state_.input.write(data, piece);
        data += piece;
        count -= piece;
        while (state_.input.size() > kQueuedLimit) convertBlock();
    }
}

void CResamplingFilter::makeRoom() {
    const std::size_t outReserve =
        static_cast<std::size_t>(outBlockBytes_ / state_.ratio) + 128;
    while (state_.input.size() > inBlockBytes_ && state_.output.freeSpace() > outReserve)
        convertBlock();
}

void CResamplingFilter::drainOutput() {
    std::uint8_t piece[kDrainPiece];
    while (std::size_t n = state_.output.read(piece, sizeof piece)) inner_->write(piece, n);
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
    for (auto& h : state_.history) h.assign(taps, 0.0f);
    state_.timeOffset[0] = state_.timeOffset[1] = 0.0;

    const int rows = 2 * state_.bpc + 1;
    state_.phases.assign(rows, std::vector<float>(taps));
    for (int j = 0; j < rows; ++j) {
        const double offset = static_cast<double>(j - state_.bpc) / (2.0 * state_.bpc);
        std::vector<double> row(taps);
        for (int i = 0; i <= L; ++i) row[i] = window(i - offset, L, state_.cutoff);
        const double sum = std::accumulate(row.begin(), row.end(), 0.0);
        for (int i = 0; i <= L; ++i) state_.phases[j][i] = static_cast<float>(row[i] / sum);
    }
    state_.tableBuilt = true;
}

int CResamplingFilter::convertChannel(int c, const float* x, int len, float* y, int wanted,
                                      int& used) {
    if (!state_.tableBuilt) buildTable();
    const int L = state_.filterLength;
    const int taps = L + 1;
    const int half = L / 2;
    const int bpc = state_.bpc;
    const int lastRow = 2 * bpc;
    const double ratio = state_.ratio;
    const double offsetC = state_.timeOffset[c];
    std::vector<float>& history = state_.history[c];

    // The history followed by the block, so that the inner loop reads one contiguous array
    // without a branch per tap.
    std::vector<float>& joined = scratch_;
    joined.resize(static_cast<std::size_t>(taps + len));
    std::copy(history.begin(), history.end(), joined.begin());
    std::copy(x, x + len, joined.begin() + taps);
    const float* base = joined.data() + taps;

    int j = 0;
    int k = 0;
    for (; k < wanted; ++k) {
        const double t0 = k * ratio;
        j = static_cast<int>(std::floor(t0 - offsetC));
        if (L - half + j >= len) break;
        const double offset = t0 - offsetC - (j + 0.5 * (L % 2));
        const int row = std::clamp(static_cast<int>(std::floor(2 * bpc * offset + bpc + 0.5)), 0,
                                   lastRow);
        const float* h = state_.phases[row].data();
        const int first = j - half;
        // Samples further back than the history are zero.
        const int skip = first < -taps ? -taps - first : 0;
        const float* s = base + first;
        y[k] = dot(s, h, skip, L + 1);
    }
    const int produced = k;
    used = std::min(len, L - half + j);
    state_.timeOffset[c] = offsetC + used - produced * ratio;
    if (used >= taps) {
        std::copy(x + used - taps, x + used, history.begin());
    } else if (used > 0) {
        std::copy(history.begin() + used, history.end(), history.begin());
        std::copy(x, x + used, history.end() - used);
    }
    return produced;
}

bool CResamplingFilter::convertBlock() {
    const PcmFormat& src = state_.source;
    const PcmFormat& dst = state_.target;
    const int srcChannels = src.channels;
    const std::size_t sampleBytes = src.bitsPerSample == 16 ? 2 : 1;
    const std::size_t frameBytes = sampleBytes * srcChannels;
    const std::size_t available = state_.input.size() / frameBytes * frameBytes;
    const std::size_t wantBytes = std::min(kBlockFrames * frameBytes, available);
    if (wantBytes == 0) return false;

    std::uint8_t raw[kBlockFrames * 4];
    const std::size_t got = state_.input.read(raw, wantBytes);
    const int frames = static_cast<int>(got / frameBytes);

    // Split into one float array per channel.
    float in[2][kBlockFrames];
    for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < srcChannels && c < 2; ++c) {
            const std::uint8_t* p = raw + f * frameBytes + c * sampleBytes;
            in[c][f] = sampleBytes == 2 ? static_cast<float>(static_cast<std::int16_t>(p[0] | (p[1] << 8)))
                                        : static_cast<float>((p[0] - 128) * 256);
        }
    }

    // Rate conversion per source channel.
    const double ratio = state_.ratio;
    const bool copy = ratio >= 0.9999 && ratio <= 1.0001;
    const std::size_t outCapacity = static_cast<std::size_t>(frames / ratio) + 2;
    std::vector<float> out[2];
    int produced = 0;
    for (int c = 0; c < srcChannels && c < 2; ++c) {
        out[c].resize(std::max<std::size_t>(outCapacity, frames));
        if (copy) {
            std::copy(in[c], in[c] + frames, out[c].begin());
            produced = frames;
            continue;
        }
        int remaining = frames;
        int inPos = 0;
        int outPos = 0;
        while (remaining > 0) {
            int used = 0;
            const int wanted = static_cast<int>(remaining / ratio);
            outPos += convertChannel(c, in[c] + inPos, remaining, out[c].data() + outPos, wanted,
                                     used);
            if (used <= 0) break;  // cannot happen with a sane time offset; never loop forever
            inPos += used;
            remaining -= used;
        }
        produced = outPos;
    }

    // Channels and width of the target, in pieces of at most one block.
    const bool stereoOut = dst.channels == 2;
    const bool wideOut = dst.bitsPerSample == 16;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(produced) * dst.channels * (wideOut ? 2 : 1));
    auto emit = [&](std::int32_t s) {
        if (wideOut) {
            bytes.push_back(static_cast<std::uint8_t>(s & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
        } else {
            bytes.push_back(static_cast<std::uint8_t>(s / 256 + 128));
        }
    };
    for (int k = 0; k < produced; ++k) {
        if (srcChannels == 1) {
            const std::int32_t s = toSample(out[0][k]);
            emit(s);
            if (stereoOut) emit(s);
        } else if (!stereoOut) {
            const float right = std::clamp(out[1][k], -32768.0f, 32767.0f);
            const float left = static_cast<float>(toSample(out[0][k]));
            emit(static_cast<std::int32_t>((right + left) * 0.5f));
        } else {
            emit(toSample(out[0][k]));
            emit(toSample(out[1][k]));
        }
    }
    const std::size_t pieceBytes = outBlockBytes_;
    for (std::size_t at = 0; at < bytes.size(); at += pieceBytes) {
        const std::size_t n = std::min(pieceBytes, bytes.size() - at);
        if (!state_.output.write(bytes.data() + at, n)) {
            drainOutput();  // room for the rest of the block, so nothing is dropped
            state_.output.write(bytes.data() + at, n);
        }
    }
    return true;
}

}  // namespace tolvane
