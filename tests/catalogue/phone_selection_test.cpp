// Picking a phone by name as the batch front end does, and the catalogue listing.
#include "catalogue/phone_selection.h"
#include "encoders/ringtone_formats.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

using namespace tolvane::catalogue;

TEST(PhoneSelection, ChoosesTheFormatAsThePageWould) {
    struct Case {
        const char* phone;
        std::uint32_t storedFormat;
        std::uint32_t modelId;
        std::optional<int> format;
    };
    const Case cases[] = {
        {"Nokia/3205", 3, 1, 6},       // QCP only: replaced
        {"Nokia/6600", 3, 20, 3},      // kept
        {"nokia/n91", 5, 49, 3},       // names without case; AMR replaced by Mp3High
        {"Apple/iPhone", 0, 1752, 0},  // WavMedium still enabled
        {"Palm (Treo)/Treo 650", 9, 1880, std::nullopt},  // nothing checked stays unchecked
        {"> Not listed </> Not listed <", 6, 0, 6},
        {"Nokia/6103", 5, 114, 5},  // the first of the two rows, which plays AMR
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phone);
        const PhoneSelection selection = selectPhone(c.phone, c.storedFormat);
        EXPECT_EQ(selection.modelId, c.modelId);
        EXPECT_EQ(selection.values.format, c.format);
        // The positions restore the same phone on the page.
        FormatPageState page({selection.values.vendorPosition, selection.values.modelPosition, 0});
        EXPECT_EQ(page.selectedModelId(), selection.modelId);
    }
}

TEST(PhoneSelection, RefusesWhatThePageWouldNotList) {
    const std::pair<const char*, const char*> cases[] = {
        {"Nokia", "not of the form VENDOR/MODEL"},
        {"Nokla/3310", "unknown phone vendor \"Nokla\""},
        {"Nokia/9999", "unknown phone \"Nokia/9999\""},
        {"Nokia/3410", "plays none of the ringtone formats"},
        {"/3310", "unknown phone vendor \"\""},
    };
    for (const auto& [phone, message] : cases) {
        try {
            selectPhone(phone, 0);
            ADD_FAILURE() << phone << " was accepted";
        } catch (const PhoneNotFound& error) {
            EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
        }
    }
}

TEST(PhoneListing, EveryRowInTableOrderAsInTheTableFile) {
    EXPECT_EQ(catalogueLine(kModelTable[0]), "0\t> Not listed <\t> Not listed <\t0x7F");
    EXPECT_EQ(catalogueLine(kModelTable[1752]), "1752\tApple\tiPhone\t0x43");

    std::ostringstream listing;
    listPhones(listing);
    std::ifstream file(std::string(TOLVANE_SOURCE_DIR) + "/catalogue/models.tsv");
    std::string rows, line;
    while (std::getline(file, line)) {
        if (!line.empty() && line[0] != '#')
            rows += line + "\n";
    }
    EXPECT_EQ(listing.str(), rows);
}
