// The phone catalogue: the vendors and models the wizard knows, and the ringtone formats each
// model plays. Constant data compiled into the program; nothing edits it at run time.
//
// The model rows come from catalogue/models.tsv (one row per line), which the build turns into
// kModelTable. Both tables end with a terminator row whose id is kEndOfTable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "encoders/ringtone_formats.h"

namespace tolvane::catalogue {

inline constexpr std::uint32_t kEndOfTable = 0xFFFFFFFF;

struct PhoneVendor {
    std::uint32_t id;
    const char* name;  // UTF-8; null in the terminator row
};

struct PhoneModel {
    std::uint32_t id;  // equals the row's position in kModelTable
    std::uint32_t vendorId;
    const char* name;  // UTF-8; null in the terminator row
    std::uint32_t formatMask;
};

// FormatMask bits are the format table's (kMaskWav ... and kPlayableBits).

// A model is offered on the Format page only when it plays at least one format.
constexpr bool isOffered(std::uint32_t formatMask) {
    return (formatMask & kPlayableBits) != 0;
}

// The entry for phones missing from the catalogue: vendor 0 with its single model 0.
inline constexpr std::uint32_t kNotListedVendorId = 0;
inline constexpr std::uint32_t kNotListedModelId = 0;
inline constexpr std::string_view kNotListedName = "> Not listed <";

inline constexpr std::size_t kVendorCount = 40;
inline constexpr std::size_t kModelCount = 2820;
// The rows of the phones of 2005-2008 (row 0 included); the phones of 2018-2026 follow them.
inline constexpr std::size_t kClassicModelCount = 2320;

// Vendor rows in catalogue order (not sorted), ids equal to positions, then the terminator.
// clang-format off
inline constexpr PhoneVendor kVendorTable[kVendorCount + 1] = {
    {0, "> Not listed <"},
    {1, "Nokia"},
    {2, "Samsung"},
    {3, "LG"},
    {4, "Siemens"},
    {5, "Motorola"},
    {6, "SonyEricsson"},
    {7, "Philips"},
    {8, "Panasonic"},
    {9, "Audiovox"},
    {10, "Sanyo"},
    {11, "NEC"},
    {12, "Blackberry"},
    {13, "Other"},
    {14, "HP"},
    {15, "HTC"},
    {16, "Apple"},
    {17, "Toshiba"},
    {18, "Sagem"},
    {19, "Helio"},
    {20, "Pantech"},
    {21, "Kyocera"},
    {22, "Sharp"},
    {23, "Palm (Treo)"},
    {24, "Cingular"},
    {25, "Sprint"},
    {26, "T-Mobile"},
    {27, "Verizon"},
    {28, "Nextel"},
    {29, "Alltel"},
    {30, "Fly"},
    {31, "Sendo"},
    {32, "Alcatel"},
    {33, "BenQ-Siemens"},
    {34, "Google"},
    {35, "Xiaomi"},
    {36, "OnePlus"},
    {37, "Sony"},
    {38, "HMD"},
    {39, "Fairphone"},
    {kEndOfTable, nullptr},
};
// clang-format on

// Model rows, ids equal to positions, then the terminator (generated from models.tsv). The
// phones of 2005-2008 come first, grouped by vendor in ascending vendor id; the phones of
// 2018-2026 follow, grouped the same way.
extern const PhoneModel kModelTable[kModelCount + 1];

// The id of the vendor called `name`. Used by the generated model table, where an unknown
// vendor name stops the build (a constant expression cannot throw).
consteval std::uint32_t vendorIdOf(std::string_view name) {
    for (const PhoneVendor& vendor : kVendorTable) {
        if (vendor.name != nullptr && name == vendor.name)
            return vendor.id;
    }
    throw "unknown vendor name in models.tsv";
}

// The tables without their terminator rows.
std::span<const PhoneVendor> vendors();
std::span<const PhoneModel> models();

// A catalogue row as the Format page's lists carry it: the name shown and the row's id.
struct CatalogueEntry {
    std::uint32_t id;
    std::string_view name;
    friend bool operator==(const CatalogueEntry&, const CatalogueEntry&) = default;
};

// Every vendor row in table order.
std::vector<CatalogueEntry> vendorEntries();
// Every offered model of `vendorId` in table order (rows whose mask plays no format are left out).
std::vector<CatalogueEntry> offeredModels(std::uint32_t vendorId);
// The mask of model `modelId`, found by walking the table from row 0; an id that is not in the
// table yields the terminator row's mask 0.
std::uint32_t modelMask(std::uint32_t modelId);

// Row lookups by id; null when there is no such row.
const PhoneVendor* findVendor(std::uint32_t vendorId);
const PhoneModel* findModel(std::uint32_t modelId);

}  // namespace tolvane::catalogue
