// The Format page's rules: sorted lists mapped through ids, enabling of the nine choices, the
// replacement of a checked choice that became disabled, and what is stored on leaving.
#include "catalogue/format_choice.h"
#include "encoders/ringtone_formats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

using namespace tolvane::catalogue;

namespace {

constexpr int WavMedium = 0, WavHigh = 1, Mp3Medium = 2, Mp3High = 3, Smaf = 4, Amr = 5, Qcp = 6,
              M4r = 7, Ogg = 8;
constexpr FormatSet kAllEnabled{true, true, true, true, true, true, true, true, true};
// The seven choices of the phones of 2005-2008.
constexpr FormatSet kClassicEnabled{true, true, true, true, true, true, true, false, false};

// The offered models of a list that are rows of the phones of 2005-2008.
std::size_t classicRows(const std::vector<CatalogueEntry>& list) {
    return static_cast<std::size_t>(
        std::count_if(list.begin(), list.end(), [](auto& e) { return e.id < kClassicModelCount; }));
}

std::size_t positionOf(const std::vector<CatalogueEntry>& list, std::string_view name) {
    auto hit = std::find_if(list.begin(), list.end(), [&](auto& e) { return e.name == name; });
    EXPECT_NE(hit, list.end()) << name;
    return static_cast<std::size_t>(hit - list.begin());
}

std::vector<std::string> namesOf(const std::vector<CatalogueEntry>& list) {
    std::vector<std::string> names;
    for (const CatalogueEntry& e : list)
        names.emplace_back(e.name);
    return names;
}

// The page opened on the stored phone `vendor`/`model` with `storedFormat` checked.
FormatPageState pageWith(std::string_view vendor, std::string_view model,
                         std::uint32_t storedFormat) {
    FormatPageState lists({0, 0, storedFormat});
    const std::size_t vendorPosition = positionOf(lists.vendorList(), vendor);
    lists.chooseVendor(vendorPosition);
    const std::size_t modelPosition = positionOf(lists.modelList(), model);
    return FormatPageState({static_cast<std::uint32_t>(vendorPosition),
                            static_cast<std::uint32_t>(modelPosition), storedFormat});
}

// The name of the first Nokia model whose mask is `mask`.
std::string_view nokiaWithMask(std::uint32_t mask) {
    for (const PhoneModel& row : models()) {
        if (row.vendorId == 1 && row.formatMask == mask)
            return row.name;
    }
    ADD_FAILURE() << "no Nokia model with mask " << mask;
    return "";
}

}  // namespace

TEST(FormatRules, MaskBitsEnableTheirChoices) {
    struct Case {
        std::uint32_t mask;
        FormatSet enabled;
    };
    const Case cases[] = {
        {0x01, {true, true, false, false, false, false, false}},
        {0x02, {false, false, true, true, false, false, false}},
        {0x04, {false, false, false, false, true, false, false}},
        {0x10, {false, false, false, false, false, true, false}},
        {0x20, {false, false, false, false, false, false, true}},
        {0x48, {false, false, false, false, false, false, false}},  // bits no choice reads
        {0x7F, kClassicEnabled},
        {0x3A, {false, false, true, true, false, true, true}},
        {0x80, {false, false, false, false, false, false, false, true, false}},
        {0x100, {false, false, false, false, false, false, false, false, true}},
        {0x113, {true, true, true, true, false, true, false, false, true}},  // Android
        {0x1FF, kAllEnabled},
    };
    for (const Case& c : cases)
        EXPECT_EQ(enabledFormats(c.mask), c.enabled) << std::hex << c.mask;
}

TEST(FormatRules, CheckedChoiceKeptOrReplaced) {
    struct Case {
        std::optional<int> checked;
        std::uint32_t mask;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {Mp3High, 0x10, Amr},                // AMR only
        {Smaf, 0x03, Mp3High},               // MP3 preferred
        {Mp3High, 0x20, Qcp},                // QCP only
        {WavMedium, 0x20, Qcp},              //
        {WavMedium, 0x01, WavMedium},        // still enabled: kept, not moved to WavHigh
        {Mp3Medium, 0x05, WavHigh},          // no MP3: high-quality WAV
        {Qcp, 0x14, Smaf},                   // SMAF before AMR
        {Amr, 0x02, Mp3High},                //
        {Qcp, 0x3A, Qcp},                    //
        {std::nullopt, 0x20, std::nullopt},  // nothing checked: nothing changes
        {WavHigh, 0x08, Qcp},                // nothing enabled: the last resort
        {Smaf, 0x113, Ogg},                  // Ogg before every other choice
        {Mp3High, 0x113, Mp3High},           // still enabled on Android: kept
        {Amr, 0x80, M4r},                    // iPhone
        {Ogg, 0x80, M4r},                    //
        {M4r, 0x113, Ogg},                   //
        {Qcp, 0x193, Ogg},                   // Ogg before M4R
        {M4r, 0x7F, Mp3High},                // a phone of 2005-2008: the old order
        {Ogg, 0x14, Smaf},                   //
        {9, 0x1FF, std::nullopt},            // not a choice: nothing checked
    };
    for (const Case& c : cases) {
        EXPECT_EQ(checkedAfterApplying(c.checked, enabledFormats(c.mask)), c.expected)
            << "checked " << c.checked.value_or(-1) << " mask " << std::hex << c.mask;
    }
}

TEST(FormatRules, LabelsOfTheChoices) {
    EXPECT_EQ(formatLabel(WavMedium), "M&eduim quality WAV");
    EXPECT_EQ(formatLabel(Mp3High), "High quality M&P3");
    EXPECT_EQ(formatLabel(Qcp), "&Qualcomm Purevoice (QCP)");
    EXPECT_EQ(formatLabel(M4r), "&iPhone ringtone (M4R)");
    EXPECT_EQ(formatLabel(Ogg), "An&droid ringtone (Ogg)");
    EXPECT_EQ(formatLabel(9), "");
}

TEST(FormatRules, TheNewChoicesHaveAccessKeysOfTheirOwn) {
    const auto keyOf = [](std::string_view label) {
        const auto amp = label.find('&');
        EXPECT_NE(amp, std::string_view::npos) << label;
        return static_cast<char>(std::tolower(static_cast<unsigned char>(label[amp + 1])));
    };
    // The page's lists ("Phone &vendor:", "Phone m&odel:") and the wizard's buttons ("&Help",
    // "< &Back", "&Next >").
    std::string taken = "vohbn";
    for (int i = 0; i < M4r; ++i)
        taken += keyOf(formatLabel(i));
    for (int i : {M4r, Ogg}) {
        const char key = keyOf(formatLabel(i));
        EXPECT_EQ(taken.find(key), std::string::npos) << formatLabel(i);
        taken += key;
    }
}

TEST(SortedLists, OrderOfTheDropDown) {
    EXPECT_TRUE(sortsBefore("Helio", "HP"));  // without case
    EXPECT_TRUE(sortsBefore("HP", "HTC"));
    EXPECT_TRUE(sortsBefore("SCH-i600", "SCH-I730"));
    EXPECT_TRUE(sortsBefore("> Not listed <", "3205"));  // punctuation, digits, letters
    EXPECT_TRUE(sortsBefore("3205", "N70"));
    EXPECT_TRUE(sortsBefore("N-Gage", "N70"));
    EXPECT_TRUE(sortsBefore("T-Mobile", "Toshiba"));
    EXPECT_TRUE(sortsBefore("6500", "6500 classic"));
    EXPECT_FALSE(sortsBefore("lg", "LG"));
    EXPECT_FALSE(sortsBefore("LG", "lg"));
}

TEST(SortedLists, VendorList) {
    FormatPageState page({0, 0, 0});
    const std::vector<std::string> expected = {
        "> Not listed <", "Alcatel",    "Alltel",   "Apple",       "Audiovox",
        "BenQ-Siemens",   "Blackberry", "Cingular", "Fairphone",   "Fly",
        "Google",         "Helio",      "HMD",      "HP",          "HTC",
        "Kyocera",        "LG",         "Motorola", "NEC",         "Nextel",
        "Nokia",          "OnePlus",    "Other",    "Palm (Treo)", "Panasonic",
        "Pantech",        "Philips",    "Sagem",    "Samsung",     "Sanyo",
        "Sendo",          "Sharp",      "Siemens",  "Sony",        "SonyEricsson",
        "Sprint",         "T-Mobile",   "Toshiba",  "Verizon",     "Xiaomi",
    };
    EXPECT_EQ(namesOf(page.vendorList()), expected);
    // Entries carry the vendor ids.
    for (const CatalogueEntry& entry : page.vendorList()) {
        EXPECT_EQ(entry.name, findVendor(entry.id)->name);
    }
}

TEST(SortedLists, ModelListMapsPositionsThroughIds) {
    FormatPageState page({0, 0, Mp3High});
    page.chooseVendor(positionOf(page.vendorList(), "Nokia"));
    ASSERT_EQ(page.selectedVendorId(), 1u);
    const std::vector<CatalogueEntry>& models = page.modelList();
    ASSERT_EQ(classicRows(models), 245u);
    EXPECT_TRUE(std::is_sorted(models.begin(), models.end(),
                               [](auto& a, auto& b) { return sortsBefore(a.name, b.name); }));
    EXPECT_EQ(std::count_if(models.begin(), models.end(), [](auto& e) { return e.name == "3410"; }),
              0);

    // Both "6103" rows are listed, next to each other, in table order, each with its own formats.
    const std::size_t first = positionOf(models, "6103");
    ASSERT_EQ(models.at(first + 1).name, "6103");
    EXPECT_EQ(models[first].id, 114u);
    EXPECT_EQ(models[first + 1].id, 179u);
    page.chooseModel(first);
    EXPECT_EQ(page.enabled(), enabledFormats(0x12));
    page.chooseModel(first + 1);
    EXPECT_EQ(page.enabled(), enabledFormats(0x02));

    // The list's first entry is not the table's first Nokia row: positions are not row numbers.
    page.chooseModel(positionOf(models, "6600"));
    EXPECT_EQ(page.selectedModelId(), 20u);
    EXPECT_EQ(page.enabled(), enabledFormats(0x52));
}

TEST(FormatPage, FirstRunSelectsNotListedWithEveryChoice) {
    FormatPageState page({});
    EXPECT_EQ(page.vendorSelection(), 0u);
    EXPECT_EQ(page.selectedVendorId(), kNotListedVendorId);
    EXPECT_EQ(namesOf(page.modelList()), std::vector<std::string>{"> Not listed <"});
    EXPECT_EQ(page.selectedModelId(), kNotListedModelId);
    EXPECT_EQ(page.enabled(), kAllEnabled);
    EXPECT_EQ(page.checkedFormat(), WavMedium);
    const LeavingValues left = page.leave();
    EXPECT_EQ(left.vendorPosition, 0u);
    EXPECT_EQ(left.modelPosition, 0u);
    EXPECT_EQ(left.format, WavMedium);
}

TEST(FormatPage, ChangingTheVendorSelectsItsFirstModel) {
    FormatPageState page({0, 0, Mp3High});
    page.chooseVendor(positionOf(page.vendorList(), "Apple"));
    EXPECT_EQ(page.modelSelection(), 0u);
    EXPECT_EQ(page.selectedModelId(), 1752u);
    EXPECT_EQ(page.enabled(), enabledFormats(0x43));
    EXPECT_EQ(page.checkedFormat(), Mp3High);
}

TEST(FormatPage, ReplacementFollowsTheModel) {
    // Nokia "3205" plays QCP only; "3310" SMAF only.
    EXPECT_EQ(pageWith("Nokia", "3205", Mp3High).checkedFormat(), Qcp);
    EXPECT_EQ(pageWith("Nokia", "3310", Mp3High).checkedFormat(), Smaf);
    EXPECT_EQ(pageWith("Nokia", "6236i", Smaf).checkedFormat(), Mp3High);
    EXPECT_EQ(pageWith("Nokia", nokiaWithMask(0x10), Mp3High).checkedFormat(), Amr);
    EXPECT_EQ(pageWith("Nokia", nokiaWithMask(0x01), WavMedium).checkedFormat(), WavMedium);
    EXPECT_EQ(pageWith("Nokia", nokiaWithMask(0x01), Smaf).checkedFormat(), WavHigh);
    EXPECT_EQ(pageWith("Apple", "iPhone", Qcp).checkedFormat(), Mp3High);
}

TEST(FormatPage, TodaysPhonesGetTheirOwnFormats) {
    struct Case {
        const char* vendor;
        const char* model;
        int stored;
        int checked;
    };
    const Case cases[] = {
        {"Apple", "iPhone 15", Mp3High, M4r},
        {"Apple", "iPhone 17 Pro Max", Ogg, M4r},
        {"Google", "Pixel 8", Smaf, Ogg},
        {"Samsung", "Galaxy S24", M4r, Ogg},
        {"Samsung", "Galaxy A54 5G", Mp3High, Mp3High},  // Android plays MP3 too
        {"Xiaomi", "Redmi Note 13", Amr, Amr},
        {"Nokia", "105 4G", Ogg, Mp3High},
        {"HMD", "2660 Flip", Qcp, Mp3High},
        {"Fairphone", "Fairphone 5", Qcp, Ogg},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pageWith(c.vendor, c.model, static_cast<std::uint32_t>(c.stored)).checkedFormat(),
                  c.checked)
            << c.vendor << "/" << c.model;
    }
    // "> Not listed <" keeps its mask of seven bits but offers all nine choices.
    EXPECT_EQ(modelFormats(kNotListedModelId), kAllEnabled);
    EXPECT_EQ(pageWith("> Not listed <", "> Not listed <", Ogg).checkedFormat(), Ogg);
    EXPECT_TRUE(pageWith("Apple", "iPhone 15", M4r).checkFormat(M4r));
    EXPECT_FALSE(pageWith("Apple", "iPhone 15", M4r).checkFormat(Ogg));
}

TEST(FormatPage, EachUserChoiceAppliesItsModel) {
    // Picking a vendor applies its first listed model before the user picks another one, so a
    // choice replaced on the way stays replaced.
    FormatPageState page({0, 0, Amr});
    page.chooseVendor(positionOf(page.vendorList(), "Apple"));  // iPhone: no AMR
    EXPECT_EQ(page.checkedFormat(), Mp3High);
    page.chooseVendor(positionOf(page.vendorList(), "Nokia"));
    page.chooseModel(positionOf(page.modelList(), nokiaWithMask(0x10)));
    EXPECT_EQ(page.checkedFormat(), Amr);  // Mp3High disabled: AMR is the replacement
    page.chooseModel(positionOf(page.modelList(), "6600"));  // 0x52: MP3 and AMR
    EXPECT_EQ(page.checkedFormat(), Amr);
}

TEST(FormatPage, CheckingAChoice) {
    FormatPageState page = pageWith("Nokia", "3310", WavMedium);  // SMAF only
    EXPECT_FALSE(page.checkFormat(Mp3High));
    EXPECT_FALSE(page.checkFormat(7));
    EXPECT_FALSE(page.checkFormat(-1));
    EXPECT_EQ(page.checkedFormat(), Smaf);
    page.chooseVendor(0);
    EXPECT_TRUE(page.checkFormat(Mp3High));
    EXPECT_EQ(page.leave().format, Mp3High);
}

TEST(FormatPage, StoredPositionsRestoreThePhone) {
    const FormatPageState first = pageWith("Motorola", "RAZR V3", Amr);  // 0x0A: MP3 only
    const LeavingValues left = first.leave();
    ASSERT_TRUE(left.format);
    EXPECT_EQ(*left.format, Mp3High);
    FormatPageState again(
        {left.vendorPosition, left.modelPosition, static_cast<std::uint32_t>(*left.format)});
    EXPECT_EQ(again.selectedVendorId(), 5u);
    EXPECT_EQ(again.selectedModelId(), 1204u);
    EXPECT_EQ(again.enabled(), enabledFormats(0x0A));
    EXPECT_EQ(again.checkedFormat(), Mp3High);
}

TEST(FormatPage, StoredPositionPastTheEndSelectsNothing) {
    // Vendor past the end: no vendor, an empty model list, the choices as they were.
    FormatPageState noVendor({99, 0, Qcp});
    EXPECT_FALSE(noVendor.vendorSelection());
    EXPECT_TRUE(noVendor.modelList().empty());
    EXPECT_FALSE(noVendor.modelSelection());
    EXPECT_EQ(noVendor.enabled(), kAllEnabled);
    EXPECT_EQ(noVendor.checkedFormat(), Qcp);
    LeavingValues left = noVendor.leave();
    EXPECT_EQ(left.vendorPosition, kNoSelection);
    EXPECT_EQ(left.modelPosition, kNoSelection);
    EXPECT_EQ(left.format, Qcp);
    // ... and the stored "no selection" stays no selection.
    EXPECT_FALSE(FormatPageState({kNoSelection, kNoSelection, Qcp}).vendorSelection());

    // Model past the end: the vendor's list is filled, no model, the choices as they were.
    const auto nokia =
        static_cast<std::uint32_t>(positionOf(FormatPageState({}).vendorList(), "Nokia"));
    FormatPageState noModel({nokia, 5000, Mp3High});
    EXPECT_EQ(noModel.selectedVendorId(), 1u);
    EXPECT_EQ(classicRows(noModel.modelList()), 245u);
    EXPECT_FALSE(noModel.modelSelection());
    EXPECT_EQ(noModel.enabled(), kAllEnabled);
    left = noModel.leave();
    EXPECT_EQ(left.vendorPosition, nokia);
    EXPECT_EQ(left.modelPosition, kNoSelection);
}

TEST(FormatPage, NoCheckedChoiceStoresNoFormat) {
    const auto nokia =
        static_cast<std::uint32_t>(positionOf(FormatPageState({}).vendorList(), "Nokia"));
    FormatPageState page({nokia, 0, 9});
    EXPECT_FALSE(page.checkedFormat());
    page.chooseModel(positionOf(page.modelList(), "3205"));
    EXPECT_FALSE(page.checkedFormat());
    EXPECT_FALSE(page.leave().format);
}

TEST(FormatPage, ClosingTheReportSelectsNotListed) {
    FormatPageState page = pageWith("Nokia", "3205", Mp3High);
    ASSERT_EQ(page.checkedFormat(), Qcp);
    page.reportClosed();
    EXPECT_EQ(page.vendorSelection(), 0u);
    EXPECT_EQ(page.selectedVendorId(), kNotListedVendorId);
    EXPECT_EQ(page.modelSelection(), 0u);
    EXPECT_EQ(page.enabled(), kAllEnabled);
    EXPECT_EQ(page.checkedFormat(), Qcp);
}
