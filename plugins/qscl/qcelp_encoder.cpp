#include "plugins/qscl/qcelp_encoder.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace tolvane::qcelp {
namespace {

constexpr int kWindowLength = 160;
constexpr int kWindowStart = kFrameLength + Encoder::kLookahead - kWindowLength;
constexpr double kLagWindowHz = 60.0;
// A -20 dB white-noise floor keeps the predictor (and the postfilter built from it) from
// over-sharpening formants: about 0.3 dB of segmental SNR on speech.
constexpr double kNoiseCorrection = 1.01;
constexpr double kWeightNumerator = 0.94;
constexpr double kWeightDenominator = 0.6;
constexpr int kLspSurvivors = 16;
constexpr int kCodebookCandidates = 8;
// Lags from here on read only the excitation history (also with the half-sample taps).
constexpr int kHistoryOnlyLag = kPitchSubframeLength + 4;

const std::array<float, kWindowLength>& hammingWindow() {
    static const auto window = [] {
        std::array<float, kWindowLength> w{};
        for (int n = 0; n < kWindowLength; ++n)
            w[n] = static_cast<float>(
                0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * n / (kWindowLength - 1)));
        return w;
    }();
    return window;
}

// The quantised LSPs as the decoder sums them: single precision running sum of 1e-4 units.
LspF decoderLsp(const std::array<std::uint8_t, 5>& index) {
    LspF lsp{};
    float sum = 0.0f;
    for (int k = 0; k < 5; ++k) {
        const auto& entry = kLspCodebooks[k].entries[index[k]];
        lsp[2 * k] = sum = static_cast<float>(sum + entry[0] * 0.0001);
        lsp[2 * k + 1] = sum = static_cast<float>(sum + entry[1] * 0.0001);
    }
    return lsp;
}

float pitchGainOf(int code) {
    return static_cast<float>((code + 1) * 0.25);
}

// y = h * v over one subframe (zero initial state), skipping the zero samples of v.
void convolve(const float* h, const float* v, float* y, int length) {
    std::fill(y, y + length, 0.0f);
    for (int m = 0; m < length; ++m) {
        const float vm = v[m];
        if (vm == 0.0f)
            continue;
        for (int n = m; n < length; ++n)
            y[n] += vm * h[n - m];
    }
}

double dot(const float* a, const float* b, int length) {
    float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
    int n = 0;
    for (; n + 4 <= length; n += 4) {
        s0 += a[n] * b[n];
        s1 += a[n + 1] * b[n + 1];
        s2 += a[n + 2] * b[n + 2];
        s3 += a[n + 3] * b[n + 3];
    }
    for (; n < length; ++n)
        s0 += a[n] * b[n];
    return static_cast<double>((s0 + s1) + (s2 + s3));
}

// One tap of the lagged excitation: offset relative to n - L, and its weight.
struct Tap {
    int offset;
    float weight;
};
using Taps = std::vector<Tap>;

const Taps& tapsFor(int frac) {
    static const Taps integer = {{0, 1.0f}};
    static const Taps half = [] {
        Taps t;
        for (int j = 0; j < 4; ++j) {
            t.push_back({j - 4, kHalfSampleSinc[j]});
            t.push_back({3 - j, kHalfSampleSinc[j]});
        }
        return t;
    }();
    return frac != 0 ? half : integer;
}

// Change of the weighted error energy for pitch gain b given <t,y_k> and <y_j,y_k>, where the
// pitch excitation is sum_k b^(k+1) v_k.
double pitchDelta(double b, int degree, const double* c, const double (*gram)[3]) {
    double powers[3] = {b, b * b, b * b * b};
    double delta = 0.0;
    for (int j = 0; j < degree; ++j) {
        delta -= 2.0 * powers[j] * c[j];
        for (int k = 0; k < degree; ++k)
            delta += powers[j] * powers[k] * gram[j][k];
    }
    return delta;
}

}  // namespace

Encoder::Encoder() {
    for (int i = 0; i < kLpcOrder; ++i) {
        previousQuantised_[i] = static_cast<float>((i + 1) / 11.0);
        previousUnquantised_[i] = (i + 1) / 11.0;
    }
    // Indices that are certain to pass the decoder's check, for frames whose own LSPs cannot.
    lastValidLsp_ = quantiseLsp(previousUnquantised_);
}

void Encoder::analyse(const float* samples, Lsp& lsp) {
    const auto& window = hammingWindow();
    std::array<float, kWindowLength> windowed;
    for (int n = 0; n < kWindowLength; ++n)
        windowed[n] = samples[kWindowStart + n] * window[n];
    const auto r = autocorrelation(windowed.data(), kWindowLength, kLagWindowHz, kNoiseCorrection);
    Lpc a;
    levinson(r, a);
    if (!lpcToLsp(a, lsp))
        lsp = previousUnquantised_;
}

std::array<std::uint8_t, 5> Encoder::quantiseLsp(const Lsp& target) {
    struct Path {
        double error;
        std::array<int, 10> units;
        std::array<std::uint8_t, 5> index;
    };
    struct Extension {
        double error;
        int path;
        int entry;
    };
    std::vector<Path> beam(1, Path{0.0, {}, {}});
    std::vector<Path> next;
    std::vector<Extension> extensions;
    extensions.reserve(kLspSurvivors * 128);
    for (int k = 0; k < 5; ++k) {
        extensions.clear();
        const LspCodebook& book = kLspCodebooks[k];
        const double t0 = target[2 * k] * 10000.0, t1 = target[2 * k + 1] * 10000.0;
        for (int p = 0; p < static_cast<int>(beam.size()); ++p) {
            const Path& path = beam[p];
            const int base = k == 0 ? 0 : path.units[2 * k - 1];
            for (int j = 0; j < book.size; ++j) {
                const int u0 = base + book.entries[j][0];
                const int u1 = u0 + book.entries[j][1];
                // Earlier LSPs never change again, so a broken spacing rules the path out now.
                if (k >= 2 &&
                    (u0 - path.units[2 * k - 4] < 932 || u1 - path.units[2 * k - 3] < 932))
                    continue;
                if (k == 4 && (u1 <= 6600 || u1 >= 9850))
                    continue;
                const double e = path.error + (u0 - t0) * (u0 - t0) + (u1 - t1) * (u1 - t1);
                extensions.push_back({e, p, j});
            }
        }
        if (extensions.empty())
            return lastValidLsp_;
        const auto keep = std::min<std::size_t>(extensions.size(), kLspSurvivors);
        std::partial_sort(extensions.begin(),
                          extensions.begin() + static_cast<std::ptrdiff_t>(keep), extensions.end(),
                          [](const Extension& a, const Extension& b) { return a.error < b.error; });
        next.clear();
        for (std::size_t i = 0; i < keep; ++i) {
            const Extension& x = extensions[i];
            Path p = beam[x.path];
            const int base = k == 0 ? 0 : p.units[2 * k - 1];
            p.units[2 * k] = base + book.entries[x.entry][0];
            p.units[2 * k + 1] = p.units[2 * k] + book.entries[x.entry][1];
            p.index[k] = static_cast<std::uint8_t>(x.entry);
            p.error = x.error;
            next.push_back(p);
        }
        beam.swap(next);
    }
    lastValidLsp_ = beam.front().index;
    return lastValidLsp_;
}

Encoder::SubframeFilters Encoder::subframeFilters(const LspF& quantised,
                                                  const Lsp& unquantised) const {
    SubframeFilters f;
    f.synthesis = decoderLpc(quantised);
    const Lpc a = lspToLpc(unquantised);
    double num = kWeightNumerator, den = kWeightDenominator;
    for (int k = 0; k < kLpcOrder; ++k) {
        f.wNum[k] = a[k] * num;
        f.wDen[k] = a[k] * den;
        num *= kWeightNumerator;
        den *= kWeightDenominator;
    }
    // Impulse response of the weighted synthesis filter: the decoded contribution of a unit
    // excitation, seen through the weighting (the sign of the error does not matter here).
    FilterState zero;
    std::array<float, kPitchSubframeLength> impulse{}, silence{};
    impulse[0] = 1.0f;
    weightedError(f, zero, silence.data(), impulse.data(), kPitchSubframeLength, f.impulse.data());
    for (float& v : f.impulse)
        v = -v;
    return f;
}

void Encoder::weightedError(const SubframeFilters& f, FilterState& s, const float* speech,
                            const float* excitation, int count, float* out) {
    for (int n = 0; n < count; ++n) {
        float decoded = excitation[n];
        for (int k = 0; k < kLpcOrder; ++k)
            decoded -= f.synthesis[k] * s.synthesis[k];
        std::copy_backward(s.synthesis.begin(), s.synthesis.end() - 1, s.synthesis.end());
        s.synthesis[0] = decoded;

        const double error = static_cast<double>(speech[n]) - decoded;
        double weighted = error;
        for (int k = 0; k < kLpcOrder; ++k)
            weighted += f.wNum[k] * s.error[k] - f.wDen[k] * s.weighted[k];
        std::copy_backward(s.error.begin(), s.error.end() - 1, s.error.end());
        s.error[0] = error;
        std::copy_backward(s.weighted.begin(), s.weighted.end() - 1, s.weighted.end());
        s.weighted[0] = weighted;
        out[n] = static_cast<float>(weighted);
    }
}

void Encoder::PitchBest::consider(int lag, int frac, int degree, const double* c,
                                  const double (*gram)[3]) {
    for (int code = 0; code < 8; ++code) {
        const double d = pitchDelta(pitchGainOf(code), degree, c, gram);
        if (d < delta) {
            delta = d;
            choice = {lag - 16, frac, code};
        }
    }
}

Encoder::PitchChoice Encoder::searchPitch(const SubframeFilters& f, const float* t) const {
    PitchBest best;
    searchShortLags(f, t, best);
    searchLongLags(f, t, best);
    return best.choice;
}

// Short lags: the lagged samples reach into the subframe itself, so (with the codebook left out)
// the excitation is a polynomial in the gain, x = b v1 + b^2 v2 + b^3 v3, and three filtered
// vectors give the exact error of every gain.
void Encoder::searchShortLags(const SubframeFilters& f, const float* t, PitchBest& best) const {
    constexpr int N = kPitchSubframeLength;
    const float* h = f.impulse.data();
    const float* history = excitation_.data() + kHistory;  // history[m] for m < 0
    for (int lag = kMinLag; lag < kHistoryOnlyLag; ++lag) {
        for (int frac = 0; frac < 2; ++frac) {
            float v[3][N] = {};
            for (int n = 0; n < N; ++n) {
                for (const Tap& tap : tapsFor(frac)) {
                    const int m = n - lag + tap.offset;
                    if (m < 0) {
                        v[0][n] += tap.weight * history[m];
                    } else {
                        v[1][n] += tap.weight * v[0][m];
                        v[2][n] += tap.weight * v[1][m];
                    }
                }
            }
            float y[3][N];
            double c[3] = {}, gram[3][3] = {};
            int degree = 0;
            for (int k = 0; k < 3; ++k) {
                if (std::all_of(v[k], v[k] + N, [](float x) { return x == 0.0f; }))
                    break;
                convolve(h, v[k], y[k], N);
                degree = k + 1;
            }
            for (int j = 0; j < degree; ++j) {
                c[j] = dot(t, y[j], N);
                for (int k = 0; k <= j; ++k)
                    gram[j][k] = gram[k][j] = dot(y[j], y[k], N);
            }
            if (degree > 0)
                best.consider(lag, frac, degree, c, gram);
        }
    }
}

// Long lags read only the history: each lag's vector is the previous one delayed by a sample
// with a new head, so its filtered version follows by the same recursion.
void Encoder::searchLongLags(const SubframeFilters& f, const float* t, PitchBest& best) const {
    constexpr int N = kPitchSubframeLength;
    const float* h = f.impulse.data();
    const float* history = excitation_.data() + kHistory;
    for (int frac = 0; frac < 2; ++frac) {
        const int lastLag = frac != 0 ? kMaxFracLag : kMaxLag;
        float v[N] = {}, y[N];
        for (int n = 0; n < N; ++n)
            for (const Tap& tap : tapsFor(frac))
                v[n] += tap.weight * history[n - kHistoryOnlyLag + tap.offset];
        convolve(h, v, y, N);
        for (int lag = kHistoryOnlyLag; lag <= lastLag; ++lag) {
            if (lag > kHistoryOnlyLag) {
                float head = 0.0f;
                for (const Tap& tap : tapsFor(frac))
                    head += tap.weight * history[-lag + tap.offset];
                for (int n = N - 1; n > 0; --n)
                    y[n] = y[n - 1] + head * h[n];
                y[0] = head * h[0];
            }
            const double c[3] = {dot(t, y, N)};
            const double gram[3][3] = {{dot(y, y, N)}};
            best.consider(lag, frac, 1, c, gram);
        }
    }
}

float Encoder::pitchContribution(const PitchChoice& p, int n) const {
    if (p.lagCode == 0)
        return 0.0f;
    const int lag = p.lagCode + 16;
    const float* lagged = excitation_.data() + kHistory + n - lag;
    float value;
    if (p.frac != 0) {
        value = 0.0f;
        for (int j = 0; j < 4; ++j)
            value += kHalfSampleSinc[j] * (lagged[j - 4] + lagged[3 - j]);
    } else {
        value = *lagged;
    }
    return pitchGainOf(p.gainCode) * value;
}

void Encoder::undoPostfilter(const float* s, const LpcF& lpc, float* out) {
    float zeros[kLpcOrder], poles[kLpcOrder];
    float p775 = 1.0f, p625 = 1.0f;
    for (int k = 0; k < kLpcOrder; ++k) {
        p775 *= 0.775f;
        p625 *= 0.625f;
        zeros[k] = lpc[k] * p775;
        poles[k] = lpc[k] * p625;
    }
    double inputEnergy = 0.0, shapedEnergy = 0.0;
    for (int n = 0; n < kFrameLength; ++n) {
        float v = s[n];
        for (int k = 0; k < kLpcOrder; ++k)
            v += zeros[k] * postInput_[k] - poles[k] * postPoles_[k];
        std::copy_backward(postInput_.begin(), postInput_.end() - 1, postInput_.end());
        postInput_[0] = s[n];
        std::copy_backward(postPoles_.begin(), postPoles_.end() - 1, postPoles_.end());
        postPoles_[0] = v;
        postTilt_ = v + 0.3f * postTilt_;
        out[n] = postTilt_;
        inputEnergy += static_cast<double>(s[n]) * s[n];
        shapedEnergy += static_cast<double>(out[n]) * out[n];
    }
    const float scale =
        shapedEnergy > 0.0 ? static_cast<float>(std::sqrt(inputEnergy / shapedEnergy)) : 1.0f;
    for (int n = 0; n < kFrameLength; ++n)
        out[n] *= scale;
}

void Encoder::prefilter(const PitchChoice& p, float* out) {
    constexpr int N = kPitchSubframeLength;
    const float* in = excitation_.data() + kHistory;
    float* q = prefiltered_.data() + kHistory;
    const float gain = p.lagCode != 0 ? 0.5f * std::min(pitchGainOf(p.gainCode), 1.0f) : 0.0f;
    const int lag = p.lagCode + 16;
    for (int n = 0; n < N; ++n) {
        if (gain == 0.0f) {
            q[n] = in[n];
            continue;
        }
        const float* lagged = q + n - lag;
        float value;
        if (p.frac != 0) {
            value = 0.0f;
            for (int j = 0; j < 4; ++j)
                value += kHalfSampleSinc[j] * (lagged[j - 4] + lagged[3 - j]);
        } else {
            value = *lagged;
        }
        q[n] = in[n] + gain * value;
    }
    const float target = static_cast<float>(dot(in, in, N));
    float energy = static_cast<float>(dot(q, q, N));
    if (energy != 0.0f)
        energy = std::sqrt(target / energy);
    for (int n = 0; n < N; ++n)
        out[n] = q[n] * energy;
}

Encoder::CodebookChoice Encoder::searchCodebook(const SubframeFilters& f, const float* t,
                                                int subframe, const std::array<int, 16>& g1) const {
    constexpr int N = kCodebookSubframeLength;
    struct Candidate {
        int shift;
        double corr;
        double energy;
        double score;
    };
    std::array<Candidate, 128> candidates;
    // Shift I+1 is shift I delayed by one sample with a new head, so its filtered vector follows
    // from the previous one.
    float v[N], y[N];
    for (int j = 0; j < N; ++j)
        v[j] = kCircularCodebook[j & 127];
    convolve(f.impulse.data(), v, y, N);
    for (int shift = 0; shift < 128; ++shift) {
        if (shift > 0) {
            const float head = kCircularCodebook[(-shift) & 127];
            for (int n = N - 1; n > 0; --n)
                y[n] = y[n - 1] + head * f.impulse[n];
            y[0] = head * f.impulse[0];
        }
        const double corr = dot(t, y, N), energy = dot(y, y, N);
        candidates[shift] = {shift, corr, energy, energy > 0.0 ? corr * corr / energy : 0.0};
    }
    std::partial_sort(candidates.begin(), candidates.begin() + kCodebookCandidates,
                      candidates.end(),
                      [](const Candidate& a, const Candidate& b) { return a.score > b.score; });

    const bool predicted = (subframe + 1) % 4 == 0;
    const int codes = predicted ? 8 : 16;
    const int offset =
        predicted
            ? std::clamp((g1[subframe - 1] + g1[subframe - 2] + g1[subframe - 3]) / 3 - 6, 0, 32)
            : 0;
    CodebookChoice best;
    double bestError = 0.0;
    bool first = true;
    for (int i = 0; i < kCodebookCandidates; ++i) {
        const Candidate& cand = candidates[i];
        const double sign = cand.corr < 0.0 ? -1.0 : 1.0;
        for (int code = 0; code < codes; ++code) {
            const int g = 4 * code + offset;
            const double gain = sign * static_cast<float>(kCodebookGain[g] * 0.01);
            const double error = -2.0 * gain * cand.corr + gain * gain * cand.energy;
            if (first || error < bestError) {
                first = false;
                bestError = error;
                best = {cand.shift, sign < 0.0, code, g};
            }
        }
    }
    return best;
}

FullRateFrame Encoder::encode(const float* samples) {
    FullRateFrame frame;
    Lsp lsp;
    analyse(samples, lsp);
    frame.lspIndex = quantiseLsp(lsp);
    const LspF quantised = decoderLsp(frame.lspIndex);
    float shaped[kFrameLength];
    undoPostfilter(samples, decoderLpc(quantised), shaped);

    std::array<int, 16> g1{};
    for (int i = 0; i < kPitchSubframes; ++i) {
        // The decoder's interpolation, in its single precision; the weighting follows the
        // unquantised LSPs the same way.
        const float w = 0.25f * static_cast<float>(i + 1);
        LspF q;
        Lsp u;
        for (int k = 0; k < kLpcOrder; ++k) {
            q[k] = w * quantised[k] + (1.0f - w) * previousQuantised_[k];
            u[k] = w * lsp[k] + (1.0 - w) * previousUnquantised_[k];
        }
        codePitchSubframe(subframeFilters(q, u), i, shaped + kPitchSubframeLength * i, frame, g1);
    }
    previousQuantised_ = quantised;
    previousUnquantised_ = lsp;
    return frame;
}

void Encoder::codePitchSubframe(const SubframeFilters& f, int i, const float* speech,
                                FullRateFrame& frame, std::array<int, 16>& g1) {
    std::array<float, kPitchSubframeLength> target, zero{};
    FilterState ringing = state_;
    weightedError(f, ringing, speech, zero.data(), kPitchSubframeLength, target.data());
    const PitchChoice pitch = searchPitch(f, target.data());
    frame.pitchLag[i] = static_cast<std::uint8_t>(pitch.lagCode);
    frame.pitchFrac[i] = static_cast<std::uint8_t>(pitch.frac);
    frame.pitchGain[i] = static_cast<std::uint8_t>(pitch.lagCode != 0 ? pitch.gainCode : 0);

    const FilterState start = state_;
    for (int c = 0; c < kPitchSubframeLength / kCodebookSubframeLength; ++c)
        codeCodebookSubframe(f, pitch, speech, c, 4 * i + c, frame, g1);

    // Replay the subframe with what the decoder really feeds its formant filter, so the next
    // subframe starts from the decoder's own filter memories.
    float excitation[kPitchSubframeLength], unused[kPitchSubframeLength];
    prefilter(pitch, excitation);
    state_ = start;
    weightedError(f, state_, speech, excitation, kPitchSubframeLength, unused);

    std::copy(excitation_.begin() + kPitchSubframeLength, excitation_.end(), excitation_.begin());
    std::copy(prefiltered_.begin() + kPitchSubframeLength, prefiltered_.end(),
              prefiltered_.begin());
}

void Encoder::codeCodebookSubframe(const SubframeFilters& f, const PitchChoice& pitch,
                                   const float* speech, int c, int subframe, FullRateFrame& frame,
                                   std::array<int, 16>& g1) {
    constexpr int N = kCodebookSubframeLength;
    const int n0 = N * c;
    // The pitch part of this codebook subframe only reads excitation already decided.
    float lagged[N], t[N], excitation[N];
    for (int n = 0; n < N; ++n)
        lagged[n] = pitchContribution(pitch, n0 + n);
    FilterState probe = state_;
    weightedError(f, probe, speech + n0, lagged, N, t);
    const CodebookChoice cb = searchCodebook(f, t, subframe, g1);

    g1[subframe] = cb.g1;
    frame.cbGain[subframe] = static_cast<std::uint8_t>(cb.gainCode);
    frame.cbSign[subframe] = cb.negative ? 1 : 0;
    frame.cbIndex[subframe] =
        static_cast<std::uint8_t>(cb.negative ? (cb.shift + 89) & 127 : cb.shift);

    // The excitation exactly as the decoder forms it: scaled codebook vector plus pitch part.
    float gain = kCodebookGain[cb.g1];
    if (cb.negative)
        gain = -gain;
    const float scaled = static_cast<float>(gain * 0.01);
    float* current = excitation_.data() + kHistory + n0;
    for (int n = 0; n < N; ++n) {
        excitation[n] = scaled * kCircularCodebook[(n - cb.shift) & 127] + lagged[n];
        current[n] = excitation[n];
    }
    weightedError(f, state_, speech + n0, excitation, N, t);
}

}  // namespace tolvane::qcelp
