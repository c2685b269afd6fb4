#include "encoders/ringtone_formats.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "pipeline/resampling_filter.h"
#include "pipeline/wave_encoder.h"

namespace tolvane {
namespace {

static_assert(
    [] {
        for (int i = 0; i < kRingtoneFormatCount; ++i)
            if (kRingtoneFormats[i].index != i)
                return false;
        return true;
    }(),
    "the format table is in index order");

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view withoutDot(std::string_view extension) {
    if (!extension.empty() && extension.front() == '.')
        extension.remove_prefix(1);
    return extension;
}

// The accepted value of one field: the table's, or the source's where the table says so.
int acceptedValue(int tableValue, int sourceValue) {
    return tableValue == kSourceValue ? sourceValue : tableValue;
}

int acceptedChannels(const AcceptedPcm& accepts, int sourceChannels) {
    const int channels = acceptedValue(accepts.channels, sourceChannels);
    return accepts.maxChannels > 0 ? std::min(channels, accepts.maxChannels) : channels;
}

int acceptedRate(const AcceptedPcm& accepts, int sourceRate) {
    if (accepts.keptRatesTo > 0 && sourceRate >= accepts.keptRatesFrom &&
        sourceRate <= accepts.keptRatesTo)
        return sourceRate;
    return acceptedValue(accepts.rate, sourceRate);
}

}  // namespace

const RingtoneFormatRow& ringtoneFormat(int formatIndex) {
    if (formatIndex < 0 || formatIndex >= kRingtoneFormatCount)
        throw std::logic_error("bad format descriptor");
    return kRingtoneFormats[formatIndex];
}

std::string ringtoneExtension(int formatIndex) {
    return std::string(ringtoneFormat(formatIndex).extension);
}

int ringtoneMaximumSeconds(int formatIndex) {
    return ringtoneFormat(formatIndex).maxSeconds;
}

const RingtoneFormatRow* ringtoneFormatOfExtension(std::string_view extension) {
    extension = withoutDot(extension);
    for (const RingtoneFormatRow& row : kRingtoneFormats)
        if (equalIgnoringCase(withoutDot(row.extension), extension))
            return &row;
    return nullptr;
}

std::string_view mediaTypeOfExtension(std::string_view extension) {
    if (const RingtoneFormatRow* row = ringtoneFormatOfExtension(extension))
        return row->mediaType;
    if (equalIgnoringCase(withoutDot(extension), "mid"))
        return "audio/midi";
    return {};
}

std::unique_ptr<CEncoder> makeWaveEncoder(const std::string& path) {
    return std::make_unique<CWaveEncoder>(path);
}

std::unique_ptr<CEncoder> createEncoder(int formatIndex, const PcmFormat& source,
                                        const std::string& path) {
    const RingtoneFormatRow& row = ringtoneFormat(formatIndex);
    auto encoder = row.make(path);
    const PcmFormat accepted = PcmFormat::pcm(
        static_cast<unsigned>(acceptedChannels(row.accepts, source.channels)),
        static_cast<unsigned>(acceptedRate(row.accepts, static_cast<int>(source.sampleRate))),
        static_cast<unsigned>(acceptedValue(row.accepts.bits, source.bitsPerSample)));
    encoder->setInputFormat(static_cast<std::int32_t>(accepted.sampleRate), accepted.channels,
                            accepted.bitsPerSample);
    const bool needsFilter = accepted.sampleRate != source.sampleRate ||
                             accepted.channels != source.channels ||
                             accepted.bitsPerSample != source.bitsPerSample;
    if (!needsFilter)
        return encoder;
    return std::make_unique<CResamplingFilter>(std::move(encoder), source, accepted);
}

}  // namespace tolvane
