// The Format page's rules without the widgets: the sorted vendor and model lists, which of the
// nine ringtone formats a model enables, the replacement when the checked format becomes
// unavailable, and the values stored when the page is left. The Qt page is a thin view over
// FormatPageState.
#pragma once

#include "catalogue/catalogue.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tolvane::catalogue {

// The choices, one per row of the format table, in index order.
inline constexpr int kFormatCount = kRingtoneFormatCount;
using FormatSet = std::array<bool, kFormatCount>;

// The labels of the choices, as the page shows them ("&" marks the mnemonic).
std::string_view formatLabel(int formatIndex);

// Every choice enabled, as the page's controls start.
constexpr FormatSet allEnabled() {
    FormatSet all{};
    all.fill(true);
    return all;
}

// Which choices a format mask enables: each by its row's mask bit.
FormatSet enabledFormats(std::uint32_t formatMask);
// The choices a model enables: those of its mask, and every choice for "> Not listed <", whose
// row keeps the mask it always had (0x7F) although the user picks any format by hand there.
FormatSet modelFormats(std::uint32_t modelId);

// The choice that replaces a checked choice that became disabled: Ogg, else M4r, else Mp3High,
// else WavHigh, else Smaf, else Amr, else Qcp (the last resort, even when disabled).
int replacementFormat(const FormatSet& enabled);

// The checked choice after a model's formats were applied: kept while it is enabled, replaced
// when it became disabled, and nothing when nothing was checked.
std::optional<int> checkedAfterApplying(std::optional<int> checked, const FormatSet& enabled);

// The order of the page's sorted drop-down lists: case-insensitive, spaces and punctuation
// before digits before letters; names that compare equal keep the order they were added in.
bool sortsBefore(std::string_view a, std::string_view b);
// `entries` sorted that way (stable).
std::vector<CatalogueEntry> sortedForList(std::vector<CatalogueEntry> entries);

// The three values the page keeps in the settings store. Positions are positions in the sorted
// lists, not catalogue ids; a position past the end of its list selects nothing.
struct StoredFormatChoice {
    std::uint32_t vendorPosition = 0;  // LastUsedPhoneVendor
    std::uint32_t modelPosition = 0;   // LastUsedPhoneModel
    std::uint32_t format = 0;          // LastUsedFormat
};

// A list position that selects nothing, as stored when a list had no selection.
inline constexpr std::uint32_t kNoSelection = 0xFFFFFFFF;

// What leaving the page stores: both positions always (kNoSelection for a list without a
// selection), the format only when a choice is checked.
struct LeavingValues {
    std::uint32_t vendorPosition = kNoSelection;
    std::uint32_t modelPosition = kNoSelection;
    std::optional<int> format;
};

class FormatPageState {
public:
    // The page's initialisation: the stored format is checked (nothing when it names no format),
    // the vendor list selects the stored position, the model list is filled for that vendor and
    // selects the stored model position, and the model's formats are applied. All choices start
    // enabled, as the page's controls do.
    explicit FormatPageState(const StoredFormatChoice& stored);

    const std::vector<CatalogueEntry>& vendorList() const { return vendors_; }
    const std::vector<CatalogueEntry>& modelList() const { return models_; }
    std::optional<std::size_t> vendorSelection() const { return vendorSelection_; }
    std::optional<std::size_t> modelSelection() const { return modelSelection_; }
    // The catalogue ids behind the selections, through the entries, never through positions.
    std::optional<std::uint32_t> selectedVendorId() const;
    std::optional<std::uint32_t> selectedModelId() const;

    const FormatSet& enabled() const { return enabled_; }
    std::optional<int> checkedFormat() const { return checked_; }

    // The user picks a vendor: the model list is refilled for it, selects its first entry and
    // that model's formats are applied. A position past the end clears the vendor selection and
    // leaves the model list and the choices as they are.
    void chooseVendor(std::size_t position);
    // The user picks a model: its formats are applied. A position past the end clears the model
    // selection and leaves the choices as they are.
    void chooseModel(std::size_t position);
    // The user checks a choice. Refused (false) for a disabled choice or an index that names no
    // format.
    bool checkFormat(int formatIndex);
    // The unlisted-phone report was closed, whatever its outcome: "> Not listed <" is selected
    // with its single model, which enables every choice.
    void reportClosed();

    // The values stored when the page loses activation or the wizard is cancelled on it.
    LeavingValues leave() const;

private:
    void fillModels();
    void selectModel(std::size_t position);
    void applyModelFormats();

    std::vector<CatalogueEntry> vendors_;
    std::vector<CatalogueEntry> models_;
    std::optional<std::size_t> vendorSelection_;
    std::optional<std::size_t> modelSelection_;
    FormatSet enabled_ = allEnabled();
    std::optional<int> checked_;
};

}  // namespace tolvane::catalogue
