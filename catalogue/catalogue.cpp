#include "catalogue/catalogue.h"

namespace tolvane::catalogue {

std::span<const PhoneVendor> vendors() {
    return {kVendorTable, kVendorCount};
}

std::span<const PhoneModel> models() {
    return {kModelTable, kModelCount};
}

std::vector<CatalogueEntry> vendorEntries() {
    std::vector<CatalogueEntry> entries;
    for (const PhoneVendor* row = kVendorTable; row->id != kEndOfTable; ++row) {
        entries.push_back({row->id, row->name});
    }
    return entries;
}

std::vector<CatalogueEntry> offeredModels(std::uint32_t vendorId) {
    std::vector<CatalogueEntry> entries;
    for (const PhoneModel* row = kModelTable; row->id != kEndOfTable; ++row) {
        if (row->vendorId == vendorId && isOffered(row->formatMask)) {
            entries.push_back({row->id, row->name});
        }
    }
    return entries;
}

std::uint32_t modelMask(std::uint32_t modelId) {
    const PhoneModel* row = kModelTable;
    while (row->id != kEndOfTable && row->id != modelId)
        ++row;
    return row->formatMask;
}

const PhoneVendor* findVendor(std::uint32_t vendorId) {
    for (const PhoneVendor& row : vendors()) {
        if (row.id == vendorId)
            return &row;
    }
    return nullptr;
}

const PhoneModel* findModel(std::uint32_t modelId) {
    for (const PhoneModel& row : models()) {
        if (row.id == modelId)
            return &row;
    }
    return nullptr;
}

}  // namespace tolvane::catalogue
