// UTF-8 <-> UTF-16 conversion. Strings are UTF-8 everywhere in the program; limits that the
// design states in UTF-16 characters are counted in UTF-16 code units and cut on a code-point
// boundary.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tolvane {

// Invalid UTF-8 bytes become U+FFFD.
std::u16string toUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string fromUtf16(std::u16string_view utf16);

// Number of UTF-16 code units the UTF-8 text takes.
std::size_t utf16Length(std::string_view utf8);

// The longest prefix of `utf8` that takes at most `maxUnits` UTF-16 code units, cut on a
// code-point boundary.
std::string truncateUtf16(std::string_view utf8, std::size_t maxUnits);

// The longest prefix of `utf8` of at most `maxBytes` bytes, cut on a code-point boundary.
std::string truncateUtf8Bytes(std::string_view utf8, std::size_t maxBytes);

}  // namespace tolvane
