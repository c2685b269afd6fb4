// Linear prediction helpers: autocorrelation analysis, LPC <-> LSP conversion and the LSP-to-LPC
// conversion exactly as a decoder performs it. A(z) = 1 + sum a[k] z^-(k+1); LSPs are normalised
// frequencies in (0, 1), 1 standing for half the sampling rate.
#pragma once

#include <array>

#include "plugins/qscl/qcelp_tables.h"

namespace tolvane::qcelp {

using Lpc = std::array<double, kLpcOrder>;
using Lsp = std::array<double, kLpcOrder>;
using LpcF = std::array<float, kLpcOrder>;
using LspF = std::array<float, kLpcOrder>;

// Autocorrelation of `length` windowed samples, lags 0..kLpcOrder, with a Gaussian lag window of
// `bandwidthHz` and white-noise correction `noiseFactor` applied to lag 0.
std::array<double, kLpcOrder + 1> autocorrelation(const float* samples, int length,
                                                  double bandwidthHz, double noiseFactor);

// Levinson-Durbin recursion. Returns false (and a flat predictor) when r[0] is not positive or
// the recursion becomes unstable.
bool levinson(const std::array<double, kLpcOrder + 1>& r, Lpc& a);

// Roots of the sum and difference polynomials; false when fewer than ten were found.
bool lpcToLsp(const Lpc& a, Lsp& lsp);

// The predictor the decoder builds from (interpolated) LSPs, in single precision, with its
// bandwidth expansion a[k] * 0.9883^(k+1).
LpcF decoderLpc(const LspF& lsp);

// The predictor of unquantised LSPs (no expansion), for the perceptual weighting.
Lpc lspToLpc(const Lsp& lsp);

}  // namespace tolvane::qcelp
