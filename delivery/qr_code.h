// QR codes of pick-up addresses: as a PNG image (the service's /qr.png, the wizard's Uploads
// page) and as text drawn with Unicode half blocks (a terminal).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tolvane::delivery {

// The modules of a QR code, row by row, true for dark; `size` modules a side, without the quiet
// zone.
struct QrCode {
    int size = 0;
    std::vector<bool> dark;
    bool at(int x, int y) const {
        return x >= 0 && y >= 0 && x < size && y < size && dark[std::size_t(y * size + x)];
    }
};

// Nothing when the text does not fit a QR code.
std::optional<QrCode> makeQrCode(const std::string& text);

// A grey-scale PNG, `scale` pixels a module, with the four-module quiet zone.
std::string qrCodePng(const QrCode& code, int scale);

// Lines of "█", "▀", "▄" and spaces, two modules a character cell, dark on a light terminal
// drawn inverted so that it scans on dark and light themes alike (light modules are drawn).
std::string qrCodeHalfBlocks(const QrCode& code);

}  // namespace tolvane::delivery
