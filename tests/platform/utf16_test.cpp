#include <gtest/gtest.h>

#include "platform/utf16.h"

using namespace tolvane;

TEST(Utf16, RoundTripsAndCountsUnits) {
    const std::string text = "R\xC3\xA9sum\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9D\x84\x9E";
    EXPECT_EQ(fromUtf16(toUtf16(text)), text);
    EXPECT_EQ(utf16Length(text), 12u);  // the clef takes two units
    EXPECT_EQ(truncateUtf16(text, 11), text.substr(0, text.size() - 4));  // never half a pair
    EXPECT_EQ(truncateUtf8Bytes("\xC3\xA9\xC3\xA9", 3), "\xC3\xA9");
}

TEST(Utf16, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(fromUtf16(toUtf16("a\xFF"
                                "b")),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(fromUtf16(toUtf16("\xE6\x97")), "\xEF\xBF\xBD\xEF\xBF\xBD");  // truncated sequence
    EXPECT_EQ(fromUtf16(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}
