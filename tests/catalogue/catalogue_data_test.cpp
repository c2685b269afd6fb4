// The catalogue data: the table file models.tsv, the compiled table built from it, and the
// figures the catalogue must keep (vendor counts, mask statistics, the rows other parts rely on).
#include "catalogue/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace tolvane;
using namespace tolvane::catalogue;

namespace {

struct FileRow {
    std::uint32_t id;
    std::string vendor;
    std::string name;
    std::uint32_t mask;
};

std::vector<FileRow> readTableFile() {
    std::ifstream in(std::string(TOLVANE_SOURCE_DIR) + "/catalogue/models.tsv");
    std::vector<FileRow> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string id, vendor, name, mask;
        std::getline(fields, id, '\t');
        std::getline(fields, vendor, '\t');
        std::getline(fields, name, '\t');
        std::getline(fields, mask, '\t');
        rows.push_back({static_cast<std::uint32_t>(std::stoul(id)), vendor, name,
                        static_cast<std::uint32_t>(std::stoul(mask, nullptr, 16))});
    }
    return rows;
}

const std::vector<FileRow>& tableFile() {
    static const std::vector<FileRow> rows = readTableFile();
    return rows;
}

// The real models of 2005-2008: every row before the phones of today, but row 0. Their figures
// are fixed; the rows of today's phones follow them.
std::vector<FileRow> realModels() {
    return {tableFile().begin() + 1, tableFile().begin() + kClassicModelCount};
}

std::vector<FileRow> todaysModels() {
    return {tableFile().begin() + kClassicModelCount, tableFile().end()};
}

std::map<std::uint32_t, int> maskCounts() {
    std::map<std::uint32_t, int> counts;
    for (const FileRow& row : realModels())
        ++counts[row.mask];
    return counts;
}

}  // namespace

TEST(CatalogueTable, CompiledTableIsTheTableFile) {
    ASSERT_EQ(tableFile().size(), kModelCount);
    for (std::size_t i = 0; i < kModelCount; ++i) {
        const FileRow& file = tableFile()[i];
        const PhoneModel& compiled = kModelTable[i];
        SCOPED_TRACE("row " + std::to_string(i));
        EXPECT_EQ(file.id, i);
        EXPECT_EQ(compiled.id, i);
        ASSERT_NE(findVendor(compiled.vendorId), nullptr);
        EXPECT_EQ(file.vendor, findVendor(compiled.vendorId)->name);
        EXPECT_EQ(file.name, compiled.name);
        EXPECT_EQ(file.mask, compiled.formatMask);
    }
    const PhoneModel& end = kModelTable[kModelCount];
    EXPECT_EQ(end.id, kEndOfTable);
    EXPECT_EQ(end.vendorId, 0u);
    EXPECT_EQ(end.name, nullptr);
    EXPECT_EQ(end.formatMask, 0u);
}

TEST(CatalogueTable, VendorsInOrderWithTheirModelCounts) {
    struct Expected {
        const char* name;
        int models;
    };
    const std::vector<Expected> expected = {
        {"> Not listed <", 1}, {"Nokia", 264},  {"Samsung", 549},
        {"LG", 284},           {"Siemens", 60}, {"Motorola", 225},
        {"SonyEricsson", 144}, {"Philips", 17}, {"Panasonic", 20},
        {"Audiovox", 26},      {"Sanyo", 50},   {"NEC", 8},
        {"Blackberry", 35},    {"Other", 5},    {"HP", 4},
        {"HTC", 60},           {"Apple", 1},    {"Toshiba", 10},
        {"Sagem", 16},         {"Helio", 5},    {"Pantech", 20},
        {"Kyocera", 37},       {"Sharp", 34},   {"Palm (Treo)", 14},
        {"Cingular", 68},      {"Sprint", 95},  {"T-Mobile", 76},
        {"Verizon", 105},      {"Nextel", 27},  {"Alltel", 20},
        {"Fly", 15},           {"Sendo", 4},    {"Alcatel", 10},
        {"BenQ-Siemens", 11},
    };
    ASSERT_EQ(vendors().size(), expected.size() + 6);
    EXPECT_EQ(kVendorTable[kVendorCount].id, kEndOfTable);
    EXPECT_EQ(kVendorTable[kVendorCount].name, nullptr);

    // The rows of 2005-2008 are grouped by vendor in ascending vendor id, in the counts above.
    std::size_t row = 0;
    for (std::uint32_t id = 0; id < expected.size(); ++id) {
        EXPECT_EQ(vendors()[id].id, id);
        EXPECT_STREQ(vendors()[id].name, expected[id].name);
        for (int n = 0; n < expected[id].models; ++n, ++row) {
            ASSERT_LT(row, kModelCount);
            ASSERT_EQ(kModelTable[row].vendorId, id) << "row " << row;
        }
    }
    EXPECT_EQ(row, kClassicModelCount);
}

TEST(CatalogueTable, TodaysPhonesFollowTheClassicRows) {
    // The makers of today's phones that the catalogue of 2005-2008 did not know.
    const char* added[] = {"Google", "Xiaomi", "OnePlus", "Sony", "HMD", "Fairphone"};
    for (std::uint32_t i = 0; i < std::size(added); ++i) {
        EXPECT_EQ(vendors()[34 + i].id, 34 + i);
        EXPECT_STREQ(vendors()[34 + i].name, added[i]);
    }
    // Grouped by vendor in ascending vendor id, in these counts.
    const std::vector<std::pair<std::string, int>> expected = {
        {"Nokia", 76},  {"Samsung", 107}, {"Motorola", 102}, {"Apple", 33}, {"Google", 29},
        {"Xiaomi", 77}, {"OnePlus", 33},  {"Sony", 24},      {"HMD", 14},   {"Fairphone", 5},
    };
    std::vector<std::pair<std::string, int>> groups;
    std::uint32_t lastVendor = 0;
    for (const FileRow& row : todaysModels()) {
        const std::uint32_t vendor = kModelTable[row.id].vendorId;
        ASSERT_GE(vendor, lastVendor) << row.name;
        if (groups.empty() || groups.back().first != row.vendor)
            groups.push_back({row.vendor, 0});
        ++groups.back().second;
        lastVendor = vendor;
    }
    EXPECT_EQ(groups, expected);
    EXPECT_EQ(tableFile()[kClassicModelCount].id, kClassicModelCount);
    EXPECT_EQ(tableFile().back().id, kModelCount - 1);
}

TEST(CatalogueTable, TodaysPhonesPlayWhatTheyReallyPlay) {
    // iPhones take AAC ringtones only; Android phones Ogg, MP3, AMR and WAV; the 4G feature
    // phones MP3 and AMR.
    constexpr std::uint32_t iphone = kMaskM4r;
    constexpr std::uint32_t android = kMaskOgg | kMaskMp3 | kMaskAmr | kMaskWav;
    constexpr std::uint32_t feature = kMaskMp3 | kMaskAmr;
    std::map<std::uint32_t, int> counts;
    std::set<std::pair<std::string, std::string>> names;
    for (const FileRow& row : todaysModels()) {
        ++counts[row.mask];
        EXPECT_EQ(row.mask == iphone, row.vendor == "Apple") << row.name;
        EXPECT_TRUE(row.mask == iphone || row.mask == android || row.mask == feature) << row.name;
        EXPECT_TRUE(isOffered(row.mask)) << row.name;
        std::string lower = row.name;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(names.insert({row.vendor, lower}).second) << "twice: " << row.name;
    }
    EXPECT_EQ(counts[iphone], 33);
    EXPECT_EQ(counts[feature], 22);
    EXPECT_EQ(counts[android], 445);

    struct Telling {
        const char* vendor;
        const char* name;
        std::uint32_t mask;
    };
    const Telling rows[] = {
        {"Apple", "iPhone XR", iphone},
        {"Apple", "iPhone 15", iphone},
        {"Apple", "iPhone 17 Pro Max", iphone},
        {"Samsung", "Galaxy S24 Ultra", android},
        {"Samsung", "Galaxy Z Flip5", android},
        {"Google", "Pixel 3", android},
        {"Google", "Pixel 10", android},
        {"Motorola", "moto g54 5G", android},
        {"Xiaomi", "Redmi Note 13 Pro", android},
        {"OnePlus", "12", android},
        {"Sony", "Xperia 1 V", android},
        {"Nokia", "G21", android},
        {"Nokia", "105 4G", feature},
        {"HMD", "2660 Flip", feature},
        {"Fairphone", "Fairphone 5", android},
    };
    const std::vector<FileRow> today = todaysModels();
    for (const Telling& t : rows) {
        auto hit = std::find_if(today.begin(), today.end(),
                                [&](auto& r) { return r.vendor == t.vendor && r.name == t.name; });
        ASSERT_NE(hit, today.end()) << t.vendor << " " << t.name;
        EXPECT_EQ(hit->mask, t.mask) << t.name;
    }
}

TEST(CatalogueTable, RowZeroStandsForPhonesNotListed) {
    const PhoneModel& row = kModelTable[0];
    EXPECT_EQ(row.id, 0u);
    EXPECT_EQ(row.vendorId, kNotListedVendorId);
    EXPECT_STREQ(row.name, "> Not listed <");
    EXPECT_EQ(row.formatMask, 0x7Fu);
}

TEST(CatalogueStatistics, BitCounts) {
    const int expected[7] = {286, 1557, 440, 578, 265, 259, 518};
    int counts[7] = {};
    for (const FileRow& row : realModels()) {
        for (int bit = 0; bit < 7; ++bit)
            counts[bit] += (row.mask >> bit) & 1;
        EXPECT_EQ(row.mask & ~0x7Fu, 0u) << row.name;
    }
    for (int bit = 0; bit < 7; ++bit)
        EXPECT_EQ(counts[bit], expected[bit]) << "bit " << bit;
}

TEST(CatalogueStatistics, OfferedAndNeverOffered) {
    int offered = 0;
    std::set<std::uint32_t> neverOfferedMasks;
    for (const FileRow& row : realModels()) {
        if (isOffered(row.mask)) {
            ++offered;
        } else {
            neverOfferedMasks.insert(row.mask);
        }
    }
    EXPECT_EQ(offered, 2172);
    EXPECT_EQ(maskCounts()[0x08], 147);
    EXPECT_EQ(neverOfferedMasks, std::set<std::uint32_t>{0x08});
}

TEST(CatalogueStatistics, MostFrequentAndDistinctMasks) {
    const std::vector<std::pair<std::uint32_t, int>> top = {
        {0x02, 684}, {0x42, 285}, {0x08, 147}, {0x04, 147}, {0x0C, 94}, {0x03, 88},
        {0x28, 77},  {0x06, 73},  {0x10, 70},  {0x20, 68},  {0x01, 57}, {0x0A, 51},
    };
    std::map<std::uint32_t, int> counts = maskCounts();
    for (const auto& [mask, count] : top)
        EXPECT_EQ(counts[mask], count) << std::hex << mask;
    // Every other mask is rarer than the twelfth.
    for (const auto& [mask, count] : counts) {
        const bool isTop =
            std::any_of(top.begin(), top.end(), [&](auto& t) { return t.first == mask; });
        if (!isTop) {
            EXPECT_LT(count, 51) << std::hex << mask;
        }
    }
    EXPECT_EQ(counts.size(), 54u);
    EXPECT_EQ(counts.count(0x7F), 0u);
    counts[tableFile()[0].mask] += 1;
    EXPECT_EQ(counts.size(), 55u);
}

TEST(CatalogueStatistics, SameNamePairsWithinAVendor) {
    std::map<std::pair<std::string, std::string>, std::vector<std::uint32_t>> byName;
    for (const FileRow& row : realModels())
        byName[{row.vendor, row.name}].push_back(row.mask);
    int pairs = 0;
    for (const auto& [key, masks] : byName) {
        ASSERT_LE(masks.size(), 2u) << key.first << " " << key.second;
        if (masks.size() == 2) {
            ++pairs;
            EXPECT_NE(masks[0], masks[1]) << key.first << " " << key.second;
        }
    }
    EXPECT_EQ(pairs, 47);
    const std::pair<std::string, std::string> nokia6103{"Nokia", "6103"};
    EXPECT_EQ(byName[nokia6103], (std::vector<std::uint32_t>{0x12, 0x02}));
}

TEST(CatalogueStatistics, TellingRows) {
    struct Telling {
        std::uint32_t id;
        const char* vendor;
        const char* name;
        std::uint32_t mask;
    };
    const Telling rows[] = {
        {1, "Nokia", "3205", 0x20},
        {20, "Nokia", "6600", 0x52},
        {49, "Nokia", "N91", 0x02},
        {51, "Nokia", "6236i", 0x3A},
        {103, "Nokia", "3410", 0x08},
        {165, "Nokia", "3310", 0x0C},
        {569, "Samsung", "SGH-D900", 0x02},
        {872, "LG", "VX8300", 0x02},
        {1204, "Motorola", "RAZR V3", 0x0A},
        {1211, "Motorola", "KRZR K1m", 0x42},
        {1426, "SonyEricsson", "W810i", 0x42},
        {1451, "SonyEricsson", "K750i", 0x02},
        {1752, "Apple", "iPhone", 0x43},
    };
    for (const Telling& t : rows) {
        const FileRow& row = tableFile().at(t.id);
        EXPECT_EQ(row.vendor, t.vendor) << t.id;
        EXPECT_EQ(row.name, t.name) << t.id;
        EXPECT_EQ(row.mask, t.mask) << t.id;
    }
}

TEST(CatalogueLookups, ModelMaskWalksTheTable) {
    EXPECT_EQ(modelMask(0), 0x7Fu);
    EXPECT_EQ(modelMask(20), 0x52u);
    EXPECT_EQ(modelMask(1752), 0x43u);
    EXPECT_EQ(modelMask(2319), kModelTable[2319].formatMask);
    EXPECT_EQ(modelMask(kModelCount - 1), kModelTable[kModelCount - 1].formatMask);
    // An id that is not in the table yields the terminator's mask.
    EXPECT_EQ(modelMask(kModelCount), 0u);
    EXPECT_EQ(modelMask(kEndOfTable), 0u);
}

TEST(CatalogueLookups, OfferedModelsOfAVendor) {
    const std::vector<CatalogueEntry> nokia = offeredModels(1);
    EXPECT_EQ(std::count_if(nokia.begin(), nokia.end(),
                            [](const CatalogueEntry& e) { return e.id < kClassicModelCount; }),
              245);
    EXPECT_EQ(nokia.size(), 245u + 76u);
    auto named = [&](std::string_view name) {
        return std::count_if(nokia.begin(), nokia.end(),
                             [&](const CatalogueEntry& e) { return e.name == name; });
    };
    EXPECT_EQ(named("3410"), 0);
    EXPECT_EQ(named("6103"), 2);
    EXPECT_EQ(named("3310"), 1);
    // Table order, ids are the rows' ids.
    EXPECT_TRUE(
        std::is_sorted(nokia.begin(), nokia.end(), [](auto& a, auto& b) { return a.id < b.id; }));
    EXPECT_EQ(nokia.front(), (CatalogueEntry{1, "3205"}));

    EXPECT_EQ(offeredModels(kNotListedVendorId),
              (std::vector<CatalogueEntry>{{0, "> Not listed <"}}));
    const std::vector<CatalogueEntry> apple = offeredModels(16);
    ASSERT_EQ(apple.size(), 34u);
    EXPECT_EQ(apple.front(), (CatalogueEntry{1752, "iPhone"}));
    EXPECT_EQ(apple[1].name, "iPhone XR");
    EXPECT_TRUE(offeredModels(kVendorCount).empty());
}
