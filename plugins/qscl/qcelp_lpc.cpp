#include "plugins/qscl/qcelp_lpc.h"

#include <cmath>
#include <numbers>

namespace tolvane::qcelp {
namespace {

constexpr int kHalf = kLpcOrder / 2;

// Coefficients of prod_k (1 - 2 cos(w_k) z^-1 + z^-2) over the roots lsp[0], lsp[2], ... (or
// lsp[1], lsp[3], ... with offset 1); `cosines` holds cos(pi * lsp).
template <typename Real>
void productPolynomial(const Real* cosines, double* f) {
    f[0] = 1.0;
    f[1] = -2.0 * cosines[0];
    for (int i = 2; i <= kHalf; ++i) {
        const double c = -2.0 * cosines[2 * (i - 1)];
        f[i] = c * f[i - 1] + 2.0 * f[i - 2];
        for (int j = i - 1; j > 1; --j)
            f[j] += f[j - 1] * c + f[j - 2];
        f[1] += c;
    }
}

template <typename Out>
void polynomialsToLpc(const double* p, const double* q, Out* a) {
    for (int i = kHalf - 1; i >= 0; --i) {
        const double pf = p[i + 1] + p[i];
        const double qf = q[i + 1] - q[i];
        a[i] = static_cast<Out>(0.5 * (pf + qf));
        a[kLpcOrder - 1 - i] = static_cast<Out>(0.5 * (pf - qf));
    }
}

// Value of a symmetric degree-10 polynomial with coefficients c[0..5] at frequency w, without
// the linear-phase factor: 2 sum c[k] cos((5-k) w) + c[5], with cos(k w) by the Chebyshev
// recursion from x = cos(w).
double symmetricValue(const double* c, double w) {
    const double x = std::cos(w);
    double tPrev = 1.0, t = x;  // cos(0 w), cos(1 w)
    double v = c[kHalf] + 2.0 * c[kHalf - 1] * t;
    for (int k = 2; k <= kHalf; ++k) {
        const double next = 2.0 * x * t - tPrev;
        tPrev = t;
        t = next;
        v += 2.0 * c[kHalf - k] * t;
    }
    return v;
}

}  // namespace

std::array<double, kLpcOrder + 1> autocorrelation(const float* x, int length, double bandwidthHz,
                                                  double noiseFactor) {
    std::array<double, kLpcOrder + 1> r{};
    for (int k = 0; k <= kLpcOrder; ++k) {
        double sum = 0.0;
        for (int n = k; n < length; ++n)
            sum += static_cast<double>(x[n]) * x[n - k];
        const double arg = 2.0 * std::numbers::pi * bandwidthHz * k / 8000.0;
        r[k] = sum * std::exp(-0.5 * arg * arg);
    }
    r[0] *= noiseFactor;
    return r;
}

bool levinson(const std::array<double, kLpcOrder + 1>& r, Lpc& a) {
    a.fill(0.0);
    if (!(r[0] > 0.0))
        return false;
    double err = r[0];
    std::array<double, kLpcOrder> prev{};
    for (int i = 0; i < kLpcOrder; ++i) {
        double acc = r[i + 1];
        for (int j = 0; j < i; ++j)
            acc += a[j] * r[i - j];
        const double k = -acc / err;
        if (!(std::fabs(k) < 1.0)) {
            a.fill(0.0);
            return false;
        }
        prev = a;
        for (int j = 0; j < i; ++j)
            a[j] = prev[j] + k * prev[i - 1 - j];
        a[i] = k;
        err *= 1.0 - k * k;
    }
    return true;
}

bool lpcToLsp(const Lpc& a, Lsp& lsp) {
    // P(z) = A(z) + z^-11 A(1/z) divided by (1 + z^-1); Q(z) = A(z) - z^-11 A(1/z) divided by
    // (1 - z^-1). Both are symmetric of degree 10; their roots interleave, P's first.
    double full[kLpcOrder + 2] = {1.0};
    for (int k = 0; k < kLpcOrder; ++k)
        full[k + 1] = a[k];
    double p[kLpcOrder + 1], q[kLpcOrder + 1];
    double pPrev = 0.0, qPrev = 0.0;
    for (int k = 0; k <= kLpcOrder; ++k) {
        const double sum = full[k] + full[kLpcOrder + 1 - k];
        const double diff = full[k] - full[kLpcOrder + 1 - k];
        p[k] = sum - pPrev;   // deflate by (1 + z^-1)
        q[k] = diff + qPrev;  // deflate by (1 - z^-1)
        pPrev = p[k];
        qPrev = q[k];
    }
    constexpr int kGrid = 512;
    int found = 0;
    const double* poly = p;
    double wPrev = 0.0;
    double vPrev = symmetricValue(poly, 0.0);
    for (int g = 1; g <= kGrid && found < kLpcOrder; ++g) {
        const double w = std::numbers::pi * g / kGrid;
        const double v = symmetricValue(poly, w);
        if ((vPrev <= 0.0) != (v <= 0.0)) {
            double lo = wPrev, hi = w, vLo = vPrev;
            for (int it = 0; it < 24; ++it) {
                const double mid = 0.5 * (lo + hi);
                const double vMid = symmetricValue(poly, mid);
                if ((vMid <= 0.0) == (vLo <= 0.0)) {
                    lo = mid;
                    vLo = vMid;
                } else {
                    hi = mid;
                }
            }
            const double root = 0.5 * (lo + hi);
            lsp[found++] = root / std::numbers::pi;
            // The next root belongs to the other polynomial: restart the scan from this root.
            poly = (found % 2 == 0) ? p : q;
            wPrev = root;
            vPrev = symmetricValue(poly, root);
            --g;  // scan the rest of this grid cell for the other polynomial's root
            continue;
        }
        wPrev = w;
        vPrev = v;
    }
    return found == kLpcOrder;
}

LpcF decoderLpc(const LspF& lsp) {
    double cosines[kLpcOrder];
    for (int i = 0; i < kLpcOrder; ++i)
        cosines[i] = std::cos(std::numbers::pi * lsp[i]);
    double p[kHalf + 1], q[kHalf + 1];
    productPolynomial(cosines, p);
    productPolynomial(cosines + 1, q);
    LpcF a{};
    polynomialsToLpc(p, q, a.data());
    double expansion = kBandwidthExpansion;
    for (int i = 0; i < kLpcOrder; ++i) {
        a[i] = static_cast<float>(a[i] * expansion);
        expansion *= kBandwidthExpansion;
    }
    return a;
}

Lpc lspToLpc(const Lsp& lsp) {
    double cosines[kLpcOrder];
    for (int i = 0; i < kLpcOrder; ++i)
        cosines[i] = std::cos(std::numbers::pi * lsp[i]);
    double p[kHalf + 1], q[kHalf + 1];
    productPolynomial(cosines, p);
    productPolynomial(cosines + 1, q);
    Lpc a{};
    polynomialsToLpc(p, q, a.data());
    return a;
}

}  // namespace tolvane::qcelp
