// kessin's messages, in English and Japanese under the same ids; the user's locale picks one.
#pragma once

#include <string>

namespace kessin {

enum StringId : int {
    kMsgCannotOpen = 1,
    kMsgBadExtension = 2,
    kMsgUnsupportedFormat = 4,
    kMsgCannotSave = 5,
    kMsgSizePrefix = 6,
    kMsgNameTooLong = 10,
    kMsgShortPlaytime = 11,
    kMsgDiskFull = 12,
    kMsgUnsupportedRate = 13,
    kMsgUnsupportedBits = 14,
    kMsgUnsupportedChannels = 15,
};

// True when the user's messages locale (LC_ALL, LC_MESSAGES, LANG) is Japanese.
bool japaneseLocale();

// The text of `id` in the locale's language; empty for an unknown id.
std::string loadString(int id);

}  // namespace kessin
