#include "catalogue/phone_selection.h"

#include <algorithm>
#include <cstdio>

namespace tolvane::catalogue {

namespace {

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](char x, char y) { return lower(x) == lower(y); });
}

std::optional<std::size_t> positionOf(const std::vector<CatalogueEntry>& list,
                                      std::string_view name) {
    auto hit = std::find_if(list.begin(), list.end(), [&](const CatalogueEntry& entry) {
        return equalIgnoringCase(entry.name, name);
    });
    if (hit == list.end())
        return std::nullopt;
    return static_cast<std::size_t>(hit - list.begin());
}

bool vendorHasModel(std::uint32_t vendorId, std::string_view name) {
    return std::any_of(models().begin(), models().end(), [&](const PhoneModel& row) {
        return row.vendorId == vendorId && equalIgnoringCase(row.name, name);
    });
}

}  // namespace

PhoneSelection selectPhone(std::string_view phone, std::uint32_t storedFormat) {
    const std::size_t slash = phone.find('/');
    if (slash == std::string_view::npos) {
        throw PhoneNotFound("phone \"" + std::string(phone) + "\" is not of the form VENDOR/MODEL");
    }
    const std::string_view vendorName = phone.substr(0, slash);
    const std::string_view modelName = phone.substr(slash + 1);

    // The lists tell the positions; the page is then opened on the stored phone, so the stored
    // format meets this model's formats only (not those of the models passed on the way).
    FormatPageState lists({0, 0, storedFormat});
    const std::optional<std::size_t> vendorPosition = positionOf(lists.vendorList(), vendorName);
    if (!vendorPosition) {
        throw PhoneNotFound("unknown phone vendor \"" + std::string(vendorName) + "\"");
    }
    lists.chooseVendor(*vendorPosition);
    const std::optional<std::size_t> modelPosition = positionOf(lists.modelList(), modelName);
    if (!modelPosition) {
        const std::uint32_t vendorId = *lists.selectedVendorId();
        const std::string shown = std::string(vendorName) + "/" + std::string(modelName);
        if (vendorHasModel(vendorId, modelName)) {
            throw PhoneNotFound("phone \"" + shown + "\" plays none of the ringtone formats");
        }
        throw PhoneNotFound("unknown phone \"" + shown + "\"");
    }
    const FormatPageState page({static_cast<std::uint32_t>(*vendorPosition),
                                static_cast<std::uint32_t>(*modelPosition), storedFormat});
    return {*page.selectedModelId(), page.leave()};
}

std::string catalogueLine(const PhoneModel& model) {
    const PhoneVendor* vendor = findVendor(model.vendorId);
    char mask[16];
    std::snprintf(mask, sizeof mask, "0x%02X", static_cast<unsigned>(model.formatMask));
    return std::to_string(model.id) + "\t" + (vendor ? vendor->name : "") + "\t" + model.name +
           "\t" + mask;
}

void listPhones(std::ostream& out) {
    for (const PhoneModel& model : models())
        out << catalogueLine(model) << '\n';
}

}  // namespace tolvane::catalogue
