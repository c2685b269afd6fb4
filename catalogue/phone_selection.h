// Choosing a phone by name outside the wizard (the batch front end's --phone and --list-phones):
// the same lists and rules as the Format page.
#pragma once

#include "catalogue/catalogue.h"
#include "catalogue/format_choice.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tolvane::catalogue {

// A phone name that names no offered model; what() is a line for the user.
class PhoneNotFound : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PhoneSelection {
    std::uint32_t modelId = 0;
    // The page's state after picking the phone: positions to store and the checked format.
    LeavingValues values;
};

// Picks "VENDOR/MODEL" (names compared without case; the vendor is everything before the first
// "/") as the Format page would, starting from the stored format: the stored format is kept when
// the model plays it, otherwise it is replaced by the page's rule. Of two models of one vendor
// with the same name, the first in the page's list is taken. PhoneNotFound for an unknown vendor
// or model, or a model that plays none of the formats.
PhoneSelection selectPhone(std::string_view phone, std::uint32_t storedFormat);

// "<model id>\t<vendor name>\t<model name>\t0x<mask, at least two hex digits>"
std::string catalogueLine(const PhoneModel& model);
// Every model row in table order, one catalogueLine each.
void listPhones(std::ostream& out);

}  // namespace tolvane::catalogue
