#include "plugins/qscl/qcelp_frame.h"

#include <cstddef>

namespace tolvane::qcelp {
namespace {

enum class Field : std::uint8_t { Lsp, Lag, Frac, PGain, CbIndex, CbSign, CbGain, Reserved };

struct BitField {
    Field field;
    std::uint8_t index;
    std::uint8_t shift;  // position of the part's lowest bit within the value
    std::uint8_t width;
};

// IS-733 Table 2.4.7.1-1: the full-rate packet in transmission order.
constexpr BitField kFullRateOrder[] = {
    {Field::Lsp, 2, 0, 3},      {Field::Lsp, 1, 0, 7},      {Field::Lsp, 0, 0, 6},
    {Field::Lsp, 4, 0, 6},      {Field::Lsp, 3, 0, 6},      {Field::Lsp, 2, 3, 4},
    {Field::CbSign, 0, 0, 1},   {Field::CbGain, 0, 0, 4},   {Field::Frac, 0, 0, 1},
    {Field::Lag, 0, 0, 7},      {Field::PGain, 0, 0, 3},    {Field::CbIndex, 1, 0, 4},
    {Field::CbSign, 1, 0, 1},   {Field::CbGain, 1, 0, 4},   {Field::CbIndex, 0, 0, 7},
    {Field::CbGain, 3, 0, 1},   {Field::CbIndex, 2, 0, 7},  {Field::CbSign, 2, 0, 1},
    {Field::CbGain, 2, 0, 4},   {Field::CbIndex, 1, 4, 3},  {Field::Lag, 1, 0, 3},
    {Field::PGain, 1, 0, 3},    {Field::CbIndex, 3, 0, 7},  {Field::CbSign, 3, 0, 1},
    {Field::CbGain, 3, 1, 2},   {Field::CbIndex, 4, 0, 6},  {Field::CbSign, 4, 0, 1},
    {Field::CbGain, 4, 0, 4},   {Field::Frac, 1, 0, 1},     {Field::Lag, 1, 3, 4},
    {Field::CbGain, 6, 0, 3},   {Field::CbIndex, 5, 0, 7},  {Field::CbSign, 5, 0, 1},
    {Field::CbGain, 5, 0, 4},   {Field::CbIndex, 4, 6, 1},  {Field::CbIndex, 7, 0, 3},
    {Field::CbSign, 7, 0, 1},   {Field::CbGain, 7, 0, 3},   {Field::CbIndex, 6, 0, 7},
    {Field::CbSign, 6, 0, 1},   {Field::CbGain, 6, 3, 1},   {Field::CbGain, 8, 0, 1},
    {Field::Frac, 2, 0, 1},     {Field::Lag, 2, 0, 7},      {Field::PGain, 2, 0, 3},
    {Field::CbIndex, 7, 3, 4},  {Field::CbSign, 9, 0, 1},   {Field::CbGain, 9, 0, 4},
    {Field::CbIndex, 8, 0, 7},  {Field::CbSign, 8, 0, 1},   {Field::CbGain, 8, 1, 3},
    {Field::CbIndex, 10, 0, 4}, {Field::CbSign, 10, 0, 1},  {Field::CbGain, 10, 0, 4},
    {Field::CbIndex, 9, 0, 7},  {Field::PGain, 3, 0, 2},    {Field::CbIndex, 11, 0, 7},
    {Field::CbSign, 11, 0, 1},  {Field::CbGain, 11, 0, 3},  {Field::CbIndex, 10, 4, 3},
    {Field::CbIndex, 12, 0, 2}, {Field::CbSign, 12, 0, 1},  {Field::CbGain, 12, 0, 4},
    {Field::Frac, 3, 0, 1},     {Field::Lag, 3, 0, 7},      {Field::PGain, 3, 2, 1},
    {Field::CbIndex, 13, 0, 6}, {Field::CbSign, 13, 0, 1},  {Field::CbGain, 13, 0, 4},
    {Field::CbIndex, 12, 2, 5}, {Field::CbGain, 15, 0, 3},  {Field::CbIndex, 14, 0, 7},
    {Field::CbSign, 14, 0, 1},  {Field::CbGain, 14, 0, 4},  {Field::CbIndex, 13, 6, 1},
    {Field::Reserved, 0, 0, 2}, {Field::CbIndex, 15, 0, 7}, {Field::CbSign, 15, 0, 1},
};

std::uint8_t& slot(FullRateFrame& f, const BitField& b) {
    switch (b.field) {
        case Field::Lsp:
            return f.lspIndex[b.index];
        case Field::Lag:
            return f.pitchLag[b.index];
        case Field::Frac:
            return f.pitchFrac[b.index];
        case Field::PGain:
            return f.pitchGain[b.index];
        case Field::CbIndex:
            return f.cbIndex[b.index];
        case Field::CbSign:
            return f.cbSign[b.index];
        case Field::CbGain:
            return f.cbGain[b.index];
        case Field::Reserved:
            break;
    }
    return f.reserved;
}

}  // namespace

Payload pack(const FullRateFrame& frame) {
    Payload out{};
    FullRateFrame copy = frame;
    std::size_t bit = 0;
    for (const BitField& b : kFullRateOrder) {
        const unsigned part = (slot(copy, b) >> b.shift) & ((1u << b.width) - 1u);
        for (int k = b.width - 1; k >= 0; --k, ++bit) {
            if ((part >> k) & 1u)
                out[bit / 8] |= static_cast<std::uint8_t>(0x80u >> (bit % 8));
        }
    }
    return out;
}

FullRateFrame unpack(const Payload& payload) {
    FullRateFrame frame;
    std::size_t bit = 0;
    for (const BitField& b : kFullRateOrder) {
        unsigned part = 0;
        for (int k = 0; k < b.width; ++k, ++bit)
            part = (part << 1) | ((payload[bit / 8] >> (7 - bit % 8)) & 1u);
        slot(frame, b) |= static_cast<std::uint8_t>(part << b.shift);
    }
    return frame;
}

std::array<int, 10> lspUnits(const std::array<std::uint8_t, 5>& lspIndex) {
    std::array<int, 10> units{};
    int sum = 0;
    for (int k = 0; k < 5; ++k) {
        const auto& entry = kLspCodebooks[k].entries[lspIndex[k]];
        units[2 * k] = sum += entry[0];
        units[2 * k + 1] = sum += entry[1];
    }
    return units;
}

bool lspsValid(const std::array<int, 10>& units) {
    if (units[9] <= 6600 || units[9] >= 9850)
        return false;
    for (int i = 4; i < 10; ++i)
        if (units[i] - units[i - 4] < 932)
            return false;
    return true;
}

}  // namespace tolvane::qcelp
