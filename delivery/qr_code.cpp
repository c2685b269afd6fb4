#include "delivery/qr_code.h"

#include <png.h>
#include <qrencode.h>

#include <memory>

namespace tolvane::delivery {
namespace {

constexpr int kQuietZone = 4;

void appendToString(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), length);
}

}  // namespace

std::optional<QrCode> makeQrCode(const std::string& text) {
    std::unique_ptr<QRcode, void (*)(QRcode*)> encoded(
        QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M), QRcode_free);
    if (!encoded)
        return std::nullopt;
    QrCode code;
    code.size = encoded->width;
    code.dark.resize(std::size_t(code.size) * std::size_t(code.size));
    for (std::size_t i = 0; i < code.dark.size(); ++i)
        code.dark[i] = (encoded->data[i] & 1) != 0;
    return code;
}

std::string qrCodePng(const QrCode& code, int scale) {
    const int side = (code.size + 2 * kQuietZone) * scale;
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, appendToString, nullptr);
    png_set_IHDR(png, info, png_uint_32(side), png_uint_32(side), 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<std::size_t>(side));
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x)
            row[std::size_t(x)] = code.at(x / scale - kQuietZone, y / scale - kQuietZone) ? 0 : 255;
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string qrCodeHalfBlocks(const QrCode& code) {
    // Light modules are drawn (the quiet zone too), dark ones left as the terminal's
    // background: on the usual dark terminal that gives dark modules on a light field.
    const int first = -kQuietZone, last = code.size + kQuietZone;
    std::string out;
    for (int y = first; y < last; y += 2) {
        for (int x = first; x < last; ++x) {
            const bool top = !code.at(x, y);
            const bool bottom = y + 1 < last && !code.at(x, y + 1);
            out += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
        }
        out += '\n';
    }
    return out;
}

}  // namespace tolvane::delivery
