#include "catalogue/format_choice.h"

#include <algorithm>
#include <tuple>

namespace tolvane::catalogue {

namespace {

// The formats today's phones play best come first: Ogg, M4r; then Mp3High, WavHigh, Smaf, Amr;
// Qcp when none of them is enabled.
constexpr std::array<int, 6> kReplacementOrder = {Ogg, M4r, Mp3High, WavHigh, Smaf, Amr};
constexpr int kLastResort = Qcp;

// Sort key of one byte: spaces and punctuation, then digits, then letters and everything else
// (bytes of non-ASCII characters), letters compared without case.
std::tuple<int, unsigned char> sortKey(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        c = static_cast<unsigned char>(c - 'A' + 'a');
    if (c >= '0' && c <= '9')
        return {1, c};
    if ((c >= 'a' && c <= 'z') || c >= 0x80)
        return {2, c};
    return {0, c};
}

bool validFormat(int formatIndex) {
    return formatIndex >= 0 && formatIndex < kFormatCount;
}

}  // namespace

std::string_view formatLabel(int formatIndex) {
    return validFormat(formatIndex) ? kRingtoneFormats[formatIndex].label : "";
}

FormatSet modelFormats(std::uint32_t modelId) {
    if (modelId == kNotListedModelId)
        return allEnabled();
    return enabledFormats(modelMask(modelId));
}

FormatSet enabledFormats(std::uint32_t formatMask) {
    FormatSet enabled{};
    for (std::size_t i = 0; i < enabled.size(); ++i)
        enabled[i] = (formatMask & kRingtoneFormats[i].maskBit) != 0;
    return enabled;
}

int replacementFormat(const FormatSet& enabled) {
    for (int candidate : kReplacementOrder) {
        if (enabled[static_cast<std::size_t>(candidate)])
            return candidate;
    }
    return kLastResort;
}

std::optional<int> checkedAfterApplying(std::optional<int> checked, const FormatSet& enabled) {
    if (!checked || !validFormat(*checked))
        return std::nullopt;
    if (enabled[static_cast<std::size_t>(*checked)])
        return checked;
    return replacementFormat(enabled);
}

bool sortsBefore(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return sortKey(static_cast<unsigned char>(x)) < sortKey(static_cast<unsigned char>(y));
    });
}

std::vector<CatalogueEntry> sortedForList(std::vector<CatalogueEntry> entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const CatalogueEntry& a, const CatalogueEntry& b) {
                         return sortsBefore(a.name, b.name);
                     });
    return entries;
}

FormatPageState::FormatPageState(const StoredFormatChoice& stored) {
    if (stored.format < static_cast<std::uint32_t>(kFormatCount)) {
        checked_ = static_cast<int>(stored.format);
    }
    vendors_ = sortedForList(vendorEntries());
    if (stored.vendorPosition < vendors_.size())
        vendorSelection_ = stored.vendorPosition;
    fillModels();
    selectModel(stored.modelPosition);
    applyModelFormats();
}

std::optional<std::uint32_t> FormatPageState::selectedVendorId() const {
    if (!vendorSelection_)
        return std::nullopt;
    return vendors_[*vendorSelection_].id;
}

std::optional<std::uint32_t> FormatPageState::selectedModelId() const {
    if (!modelSelection_)
        return std::nullopt;
    return models_[*modelSelection_].id;
}

void FormatPageState::chooseVendor(std::size_t position) {
    if (position >= vendors_.size()) {
        vendorSelection_.reset();
        return;
    }
    vendorSelection_ = position;
    fillModels();
    selectModel(0);
    applyModelFormats();
}

void FormatPageState::chooseModel(std::size_t position) {
    selectModel(position);
    applyModelFormats();
}

bool FormatPageState::checkFormat(int formatIndex) {
    if (!validFormat(formatIndex) || !enabled_[static_cast<std::size_t>(formatIndex)])
        return false;
    checked_ = formatIndex;
    return true;
}

void FormatPageState::reportClosed() {
    // "> Not listed <" sorts ahead of every vendor name, so it is the first entry.
    chooseVendor(0);
}

LeavingValues FormatPageState::leave() const {
    LeavingValues values;
    if (vendorSelection_)
        values.vendorPosition = static_cast<std::uint32_t>(*vendorSelection_);
    if (modelSelection_)
        values.modelPosition = static_cast<std::uint32_t>(*modelSelection_);
    values.format = checked_;
    return values;
}

void FormatPageState::fillModels() {
    // Without a vendor the model list stays as it is.
    if (!vendorSelection_)
        return;
    models_ = sortedForList(offeredModels(vendors_[*vendorSelection_].id));
    modelSelection_.reset();
}

void FormatPageState::selectModel(std::size_t position) {
    if (position < models_.size()) {
        modelSelection_ = position;
    } else {
        modelSelection_.reset();
    }
}

void FormatPageState::applyModelFormats() {
    const std::optional<std::uint32_t> modelId = selectedModelId();
    if (!modelId)
        return;
    enabled_ = modelFormats(*modelId);
    checked_ = checkedAfterApplying(checked_, enabled_);
}

}  // namespace tolvane::catalogue
