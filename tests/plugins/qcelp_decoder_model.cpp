#include "qcelp_decoder_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "plugins/qscl/qcelp_lpc.h"
#include "plugins/qscl/qcelp_tables.h"

namespace tolvane::test {

using namespace qcelp;

QcelpDecoderModel::QcelpDecoderModel() {
    for (int i = 0; i < 10; ++i)
        previousLsp_[i] = static_cast<float>((i + 1) / 11.0);
}

void QcelpDecoderModel::pitchFilter(std::array<float, 303>& memory, const float* in,
                                    const float* gain, const int* lag, const std::uint8_t* frac,
                                    float* out) {
    float* p = memory.data() + 143;
    for (int i = 0; i < 4; ++i) {
        for (int n = 0; n < 40; ++n) {
            const int at = 40 * i + n;
            if (gain[i] == 0.0f) {
                p[at] = in[at];
                continue;
            }
            const float* lagged = p + at - lag[i];
            float v;
            if (frac[i] != 0) {
                v = 0.0f;
                for (int j = 0; j < 4; ++j)
                    v += kHalfSampleSinc[j] * (lagged[j - 4] + lagged[3 - j]);
            } else {
                v = *lagged;
            }
            p[at] = in[at] + gain[i] * v;
        }
    }
    std::copy(p, p + 160, out);
    std::memmove(memory.data(), memory.data() + 160, 143 * sizeof(float));
}

bool QcelpDecoderModel::decode(const Payload& payload, std::array<float, 160>& out) {
    const FullRateFrame f = unpack(payload);
    if (f.reserved != 0)
        return false;
    for (int i = 0; i < 4; ++i)
        if (f.pitchFrac[i] != 0 && f.pitchLag[i] >= 124)
            return false;

    // Codebook gains and the scaled circular codebook vectors.
    int g1[16];
    float excitation[160];
    for (int i = 0; i < 16; ++i) {
        g1[i] = 4 * f.cbGain[i];
        if ((i + 1) % 4 == 0)
            g1[i] += std::clamp((g1[i - 1] + g1[i - 2] + g1[i - 3]) / 3 - 6, 0, 32);
        float gain = kCodebookGain[g1[i]];
        int index = f.cbIndex[i];
        if (f.cbSign[i] != 0) {
            gain = -gain;
            index = (index - 89) & 127;
        }
        const float scaled = static_cast<float>(gain * 0.01);
        for (int j = 0; j < 10; ++j)
            excitation[10 * i + j] = scaled * kCircularCodebook[(j - index) & 127];
    }

    // LSPs and the erasure rule.
    LspF lsp;
    float sum = 0.0f;
    for (int k = 0; k < 5; ++k) {
        const auto& e = kLspCodebooks[k].entries[f.lspIndex[k]];
        lsp[2 * k] = sum = static_cast<float>(sum + e[0] * 0.0001);
        lsp[2 * k + 1] = sum = static_cast<float>(sum + e[1] * 0.0001);
    }
    if (lsp[9] <= 0.66 || lsp[9] >= 0.985)
        return false;
    for (int i = 4; i < 10; ++i)
        if (std::fabs(lsp[i] - lsp[i - 4]) < 0.0931)
            return false;

    // Pitch synthesis, then the prefilter with half the gain, brought back to the energy of the
    // synthesis output every 40 samples.
    float gain[4];
    int lag[4];
    for (int i = 0; i < 4; ++i) {
        gain[i] = f.pitchLag[i] != 0 ? (f.pitchGain[i] + 1) * 0.25f : 0.0f;
        lag[i] = f.pitchLag[i] + 16;
    }
    float synthesised[160], prefiltered[160];
    pitchFilter(pitchSynthesis_, excitation, gain, lag, f.pitchFrac.data(), synthesised);
    for (float& g : gain)
        g = 0.5f * std::min(g, 1.0f);
    pitchFilter(pitchPrefilter_, synthesised, gain, lag, f.pitchFrac.data(), prefiltered);
    for (int i = 0; i < 160; i += 40) {
        float target = 0.0f, energy = 0.0f;
        for (int n = i; n < i + 40; ++n) {
            target += synthesised[n] * synthesised[n];
            energy += prefiltered[n] * prefiltered[n];
        }
        if (energy != 0.0f)
            energy = std::sqrt(target / energy);
        for (int n = i; n < i + 40; ++n)
            excitation[n] = prefiltered[n] * energy;
    }

    // Formant synthesis with LSPs interpolated per pitch subframe.
    LpcF lpc{};
    float* y = formant_.data() + 10;
    for (int i = 0; i < 4; ++i) {
        const float w = 0.25f * static_cast<float>(i + 1);
        LspF interpolated;
        for (int k = 0; k < 10; ++k)
            interpolated[k] = w * lsp[k] + static_cast<float>(1.0 - w) * previousLsp_[k];
        lpc = decoderLpc(i == 3 ? lsp : interpolated);
        for (int n = 40 * i; n < 40 * i + 40; ++n) {
            float v = excitation[n];
            for (int k = 0; k < 10; ++k)
                v -= lpc[k] * y[n - 1 - k];
            y[n] = v;
        }
    }
    std::copy(y, y + 160, unfiltered_.begin());

    // Postfilter: A(z/0.625) / A(z/0.775), tilt 1 - 0.3 z^-1, then gain control.
    float zeros[10], poles[10];
    double p625 = 1.0, p775 = 1.0;
    for (int k = 0; k < 10; ++k) {
        p625 *= 0.625;
        p775 *= 0.775;
        zeros[k] = lpc[k] * static_cast<float>(p625);
        poles[k] = lpc[k] * static_cast<float>(p775);
    }
    float zeroOut[160], poleOut[170];
    for (int n = 0; n < 160; ++n) {
        float v = y[n];
        for (int k = 0; k < 10; ++k)
            v += zeros[k] * y[n - 1 - k];
        zeroOut[n] = v;
    }
    std::copy(postfilterPoles_.begin(), postfilterPoles_.end(), poleOut);
    for (int n = 0; n < 160; ++n) {
        float v = zeroOut[n];
        for (int k = 0; k < 10; ++k)
            v -= poles[k] * poleOut[10 + n - 1 - k];
        poleOut[10 + n] = v;
    }
    std::copy(poleOut + 160, poleOut + 170, postfilterPoles_.begin());
    float* s = poleOut + 10;
    const float lastBeforeTilt = s[159];
    for (int n = 159; n > 0; --n)
        s[n] -= 0.3f * s[n - 1];
    s[0] -= 0.3f * tiltMemory_;
    tiltMemory_ = lastBeforeTilt;

    float speechEnergy = 0.0f, filteredEnergy = 0.0f;
    for (int n = 0; n < 160; ++n) {
        speechEnergy += y[n] * y[n];
        filteredEnergy += s[n] * s[n];
    }
    float scale = 1.0f;
    if (filteredEnergy != 0.0f)
        scale = std::sqrt(speechEnergy / filteredEnergy);
    scale *= 1.0f - 0.9375f;
    float memory = gainMemory_;
    for (int n = 0; n < 160; ++n) {
        memory = 0.9375f * memory + scale;
        out[n] = s[n] * memory;
    }
    gainMemory_ = memory;

    std::memmove(formant_.data(), formant_.data() + 160, 10 * sizeof(float));
    previousLsp_ = lsp;
    return true;
}

std::vector<float> decodeQcpWithModel(const std::vector<std::uint8_t>& file, int* erased) {
    std::vector<float> samples;
    QcelpDecoderModel model;
    if (erased != nullptr)
        *erased = 0;
    constexpr std::size_t kHeader = 194;
    if (file.size() < kHeader)
        return samples;
    const std::uint32_t dataBytes = file[190] | (file[191] << 8) | (file[192] << 16) |
                                    (static_cast<std::uint32_t>(file[193]) << 24);
    const std::size_t end = std::min<std::size_t>(file.size(), kHeader + dataBytes);
    for (std::size_t at = kHeader; at + 35 <= end; at += 35) {
        Payload payload;
        std::copy(file.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                  file.begin() + static_cast<std::ptrdiff_t>(at) + 35, payload.begin());
        std::array<float, 160> out{};
        if (file[at] != 4 || !model.decode(payload, out)) {
            if (erased != nullptr)
                ++*erased;
            out.fill(0.0f);
        }
        samples.insert(samples.end(), out.begin(), out.end());
    }
    return samples;
}

}  // namespace tolvane::test
