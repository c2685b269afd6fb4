#include "speech_quality.h"

#include <algorithm>
#include <cmath>

namespace tolvane::test {
namespace {

double crossCorrelation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b,
                        int lag, std::size_t n) {
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const long j = static_cast<long>(i) + lag;
        if (j < 0 || static_cast<std::size_t>(j) >= n)
            continue;
        sum += static_cast<double>(a[i]) * b[static_cast<std::size_t>(j)];
    }
    return sum;
}

}  // namespace

SpeechQuality measureSpeech(const std::vector<std::int16_t>& input,
                            const std::vector<std::int16_t>& output, int maxLag) {
    SpeechQuality q;
    const std::size_t n = std::min(input.size(), output.size());
    if (n == 0)
        return q;

    double best = -1e300;
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        const double c = crossCorrelation(input, output, lag, n);
        if (c > best) {
            best = c;
            q.lag = lag;
        }
    }

    const double silence = 160.0 * std::pow(32768.0 * std::pow(10.0, -50.0 / 20.0), 2.0);
    double snrSum = 0.0;
    for (std::size_t start = 0; start + 160 <= n; start += 160) {
        double signal = 0.0, noise = 0.0;
        for (std::size_t i = start; i < start + 160; ++i) {
            const double d = static_cast<double>(input[i]) - output[i];
            signal += static_cast<double>(input[i]) * input[i];
            noise += d * d;
        }
        if (signal < silence)
            continue;
        const double snr = 10.0 * std::log10(signal / std::max(noise, 1e-9));
        snrSum += std::clamp(snr, -10.0, 35.0);
        ++q.frames;
    }
    q.segmentalSnrDb = q.frames > 0 ? snrSum / q.frames : 0.0;

    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = input[i], y = output[i];
        sx += x;
        sy += y;
        sxx += x * x;
        syy += y * y;
        sxy += x * y;
    }
    const double dn = static_cast<double>(n);
    const double cov = sxy - sx * sy / dn;
    const double vx = sxx - sx * sx / dn, vy = syy - sy * sy / dn;
    q.correlation = vx > 0 && vy > 0 ? cov / std::sqrt(vx * vy) : 0.0;
    q.levelDb = sxx > 0 && syy > 0 ? 10.0 * std::log10(syy / sxx) : -300.0;
    return q;
}

}  // namespace tolvane::test
