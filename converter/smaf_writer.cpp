#include "converter/smaf_writer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "converter/adpcm_encoder.h"

namespace kessin {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kCheckMask = 0x515A;
constexpr std::size_t kMaxValueBytes = 256;
constexpr std::uint32_t kTickMs = 4;
constexpr std::uint32_t kMaxPlayMs = 66040;

// Option tags in the order they are written, with the slot each takes its value from.
struct OptionTag {
    const char* tag;
    std::size_t slot;
};
constexpr OptionTag kOptionOrder[] = {{"VN", 0}, {"CN", 1},  {"CA", 2}, {"ST", 3},
                                      {"AN", 4}, {"WW", 5},  {"SW", 6}, {"AW", 7},
                                      {"CR", 8}, {"CD", 11}, {"UD", 12}};

void append(Bytes& b, std::string_view text) {
    b.insert(b.end(), text.begin(), text.end());
}
void append(Bytes& b, std::initializer_list<std::uint8_t> bytes) {
    b.insert(b.end(), bytes);
}
void append(Bytes& b, const Bytes& other) {
    b.insert(b.end(), other.begin(), other.end());
}
void appendU32(Bytes& b, std::uint32_t v) {
    append(b,
           {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)});
}
void storeU32(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = std::uint8_t(v >> 24);
    b[at + 1] = std::uint8_t(v >> 16);
    b[at + 2] = std::uint8_t(v >> 8);
    b[at + 3] = std::uint8_t(v);
}
// A chunk header with a length to be stored once the data is complete.
Bytes beginChunk(std::string_view id) {
    Bytes b;
    append(b, id);
    appendU32(b, 0);
    return b;
}
void endChunk(Bytes& chunk) {
    storeU32(chunk, 4, std::uint32_t(chunk.size() - 8));
}

// The length of a UTF-8 sequence from its lead byte, with the lead's payload bits; 0 for a byte
// that cannot lead a sequence.
std::size_t sequenceLength(std::uint8_t lead, std::uint32_t& bits) {
    struct Lead {
        std::uint8_t from, to, mask;
        std::size_t length;
    };
    static constexpr Lead kLeads[] = {
        {0x00, 0x7F, 0x7F, 1}, {0xC2, 0xDF, 0x1F, 2}, {0xE0, 0xEF, 0x0F, 3}, {0xF0, 0xF4, 0x07, 4}};
    for (const Lead& l : kLeads) {
        if (lead >= l.from && lead <= l.to) {
            bits = lead & l.mask;
            return l.length;
        }
    }
    return 0;
}

// Strict UTF-8 to UTF-16 units; nothing when the text is not valid UTF-8.
std::optional<std::u16string> toUtf16(std::string_view s) {
    static constexpr std::uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        std::uint32_t cp = 0;
        const std::size_t n = sequenceLength(std::uint8_t(s[i]), cp);
        if (n == 0 || i + n > s.size())
            return std::nullopt;
        for (std::size_t k = 1; k < n; ++k) {
            const auto c = std::uint8_t(s[i + k]);
            if ((c & 0xC0) != 0x80)
                return std::nullopt;
            cp = cp << 6 | (c & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if (cp < kShortest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000))
            return std::nullopt;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += n;
    }
    return out;
}

// UTF-8 of one UTF-16 unit; surrogates are written one by one in the three-byte form.
std::size_t unitToUtf8(char16_t u, std::uint8_t out[3]) {
    if (u < 0x80) {
        out[0] = std::uint8_t(u);
        return 1;
    }
    if (u < 0x800) {
        out[0] = std::uint8_t(0xC0 | (u >> 6));
        out[1] = std::uint8_t(0x80 | (u & 0x3F));
        return 2;
    }
    out[0] = std::uint8_t(0xE0 | (u >> 12));
    out[1] = std::uint8_t(0x80 | ((u >> 6) & 0x3F));
    out[2] = std::uint8_t(0x80 | (u & 0x3F));
    return 3;
}

// The option's value: escaped, cut at 256 value bytes (escapes not counted).
void appendValue(Bytes& b, std::string_view text) {
    const auto units = toUtf16(text);
    if (!units)
        return;
    std::size_t count = 0;
    for (const char16_t u : *units) {
        if (u == u',' || u == u'\\') {
            if (count > kMaxValueBytes - 2)
                return;
            b.push_back('\\');
            b.push_back(std::uint8_t(u));
            count += 1;
            continue;
        }
        std::uint8_t utf8[3];
        const std::size_t n = unitToUtf8(u, utf8);
        if (count + n > kMaxValueBytes)
            return;
        b.insert(b.end(), utf8, utf8 + n);
        count += n;
    }
}

std::string_view slotText(const SmafOptions& options, std::size_t slot) {
    const auto& s = options.text[slot];
    return std::string_view(s.data(), ::strnlen(s.data(), s.size()));
}

struct ContentsInfo {
    Bytes chunk;
    std::size_t a0Position = 0;
};

ContentsInfo buildContentsInfo(const SmafOptions& options) {
    ContentsInfo info{beginChunk("CNTI")};
    Bytes& b = info.chunk;
    append(b, {0x00, 0x01, options.codeType, std::uint8_t(options.copyStatus & 0x03), 0x00});
    append(b, {'K', '7', ':', 0x00, ','});
    for (const auto& option : kOptionOrder) {
        const std::string_view text = slotText(options, option.slot);
        if (text.empty())
            continue;
        append(b, option.tag);
        b.push_back(':');
        appendValue(b, text);
        b.push_back(',');
    }
    // The check codes replace the "00" before each closing comma.
    append(b, "A0:KS2100,");
    info.a0Position = b.size() - 3;
    append(b, "A2:KS2100,");
    const std::size_t a2Position = b.size() - 3;
    endChunk(b);
    const std::string a2 = checkCode(b.data(), b.size());
    std::copy(a2.begin(), a2.end(), b.begin() + long(a2Position));
    return info;
}

// The two-byte duration form: one byte below 128, else two bytes of 7 bits after subtracting 128.
void appendDuration(Bytes& b, std::uint32_t v) {
    if (v < 128) {
        b.push_back(std::uint8_t(v));
    } else {
        b.push_back(std::uint8_t(0x80 | ((v - 128) >> 7)));
        b.push_back(std::uint8_t((v - 128) & 0x7F));
    }
}

Bytes buildTrack(Bytes wave, std::uint32_t frames, std::uint32_t rate) {
    Bytes track = beginChunk(std::string_view("ATR\0", 4));
    append(track, {0x00, 0x00, std::uint8_t(rate == 4000 ? 0x10 : 0x11), 0x00, 0x02, 0x02});

    std::uint32_t ticks = playTicks(frames, rate);
    if (ticks > kMaxTicks) {
        ticks = kMaxTicks;
        wave.resize(std::size_t(rate) * kMaxPlayMs / 1000 / 2, 0);
    }

    Bytes sequence = beginChunk("Atsq");
    append(sequence, {0x01, 0x00, 0x37, 0x7F, 0x01, 0x01});
    appendDuration(sequence, ticks);
    appendDuration(sequence, ticks + 1);
    append(sequence, {0xFF, 0x00, 0x00, 0x00, 0x00, 0x00});
    endChunk(sequence);

    Bytes seek = beginChunk("AspI");
    append(seek, "st:");
    appendU32(seek, 0);
    seek.push_back(',');
    append(seek, "sp:");
    appendU32(seek, std::uint32_t(sequence.size() - 8 - 4));  // offset of the end of sequence
    seek.push_back(',');
    endChunk(seek);

    Bytes waveChunk = beginChunk(std::string_view("Awa\x01", 4));
    append(waveChunk, wave);
    endChunk(waveChunk);

    append(track, seek);
    append(track, sequence);
    append(track, waveChunk);
    endChunk(track);
    return track;
}

Bytes buildImage(const PcmBuffer& pcm, const SmafOptions& options) {
    const std::uint32_t frames = pcm.info().frameCount;
    Bytes wave((std::size_t(frames) * 2 + 3) / 4, 0);
    AdpcmEncoder encoder;
    encoder.encode(pcm.samples().data(), wave.data(), long(frames));

    ContentsInfo contents = buildContentsInfo(options);
    const Bytes track = buildTrack(std::move(wave), frames, pcm.info().sampleRate);
    const std::string a0 = checkCode(track.data(), track.size());
    std::copy(a0.begin(), a0.end(), contents.chunk.begin() + long(contents.a0Position));

    Bytes image = beginChunk("MMMD");
    append(image, contents.chunk);
    append(image, track);
    // The length counts everything after the header, including the CRC appended below.
    storeU32(image, 4, std::uint32_t(image.size() - 6));
    const std::uint16_t crc = crc16(image.data(), image.size());
    append(image, {std::uint8_t(crc >> 8), std::uint8_t(crc)});
    return image;
}

constexpr std::array<std::uint16_t, 256> makeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t r = std::uint16_t(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            r = std::uint16_t((r & 0x8000) ? (r << 1) ^ 0x1021 : r << 1);
        table[i] = r;
    }
    return table;
}
constexpr auto kCrcTable = makeCrcTable();

}  // namespace

std::uint32_t playTicks(std::uint32_t frames, std::uint32_t rate) {
    const auto ms = std::uint32_t(double(frames) / rate * 1000);
    return (ms + kTickMs - 1) / kTickMs;
}

std::uint32_t framesThatMatter(std::uint32_t rate) {
    // Beyond the cut only the first rate × 66.04 s samples are coded; the count is first past
    // the cut a few milliseconds later.
    std::uint32_t frames = std::uint32_t(std::uint64_t(rate) * kMaxPlayMs / 1000);
    while (playTicks(frames, rate) <= kMaxTicks)
        ++frames;
    return frames;
}

void SmafOptions::setText(std::size_t slot, std::string_view value) {
    auto& s = text.at(slot);
    s.fill(0);
    const std::size_t n = std::min(value.size(), kSlotSize - 1);
    std::copy_n(value.begin(), n, s.begin());
}

std::uint16_t crc16(const std::uint8_t* bytes, std::size_t length) {
    std::uint16_t r = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i)
        r = std::uint16_t(kCrcTable[(bytes[i] ^ (r >> 8)) & 0xFF] ^ (r << 8));
    return std::uint16_t(r ^ 0xFFFF);
}

std::string checkCode(const std::uint8_t* bytes, std::size_t length) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const std::uint16_t v = crc16(bytes, length) ^ kCheckMask;
    return {kDigits[(v >> 8) & 0xF], kDigits[v & 0xF]};
}

std::int32_t encodeSmaf(const PcmBuffer& pcm, const SmafOptions& options, std::uint8_t* destination,
                        std::size_t capacity) {
    const PcmInfo& info = pcm.info();
    if (info.byteCount < 2 || info.frameCount == 0 || pcm.samples().size() < info.frameCount)
        return kSmafNoSamples;
    try {
        const Bytes image = buildImage(pcm, options);
        if (image.size() > capacity)
            return kSmafTooLarge;
        std::copy(image.begin(), image.end(), destination);
        return std::int32_t(image.size());
    } catch (const std::bad_alloc&) {
        return kSmafNoMemory;
    }
}

}  // namespace kessin
