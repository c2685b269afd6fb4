#include "delivery/target_rules.h"

#include <locale.h>
#include <wctype.h>
#include <algorithm>
#include <clocale>
#include <cwctype>

#include "pipeline/settings.h"
#include "platform/utf16.h"

namespace tolvane::delivery {
namespace {

constexpr std::size_t kFolderFieldUnits = 259;

// A letter in the sense of the platform's character classes, also outside ASCII ("Émile@...").
bool startsWithLetter(const std::string& text) {
    const std::u16string units = toUtf16(text);
    if (units.empty())
        return false;
    const char16_t first = units[0];
    if (first < 0x80)
        return (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    return utf8 != locale_t(0) && iswalpha_l(wint_t(first), utf8);
}

}  // namespace

TargetRules::TargetRules(TargetChoices stored)
    : choices_(std::move(stored)), carriers_(carriersSortedByName()) {
    auto found = std::find_if(carriers_.begin(), carriers_.end(),
                              [&](const Carrier* c) { return c->id == choices_.carrier; });
    carrierIndex_ = found == carriers_.end() ? 0 : std::size_t(found - carriers_.begin());
    choices_.carrier = carriers_[carrierIndex_]->id;
    fillDeliveryList(choices_.delivery);
}

void TargetRules::fillDeliveryList(const std::string& preferred) {
    deliveries_ = deliveryMethodsFor(choices_.carrier);
    auto found = std::find(deliveries_.begin(), deliveries_.end(), preferred);
    deliveryIndex_ = found == deliveries_.end() ? 0 : std::size_t(found - deliveries_.begin());
    choices_.delivery = deliveries_[deliveryIndex_];
}

void TargetRules::setFolder(std::string folder) {
    choices_.folder = std::move(folder);
}

void TargetRules::selectCarrier(std::size_t index) {
    if (index >= carriers_.size())
        return;
    carrierIndex_ = index;
    choices_.carrier = carriers_[index]->id;
    fillDeliveryList({});  // the richest method the carrier offers
}

void TargetRules::selectDelivery(std::size_t index) {
    if (index >= deliveries_.size())
        return;
    deliveryIndex_ = index;
    choices_.delivery = deliveries_[index];
}

TargetEnabling TargetRules::enabling() const {
    TargetEnabling e;
    e.folderField = choices_.save;
    e.carrierList = choices_.send;
    e.deliveryList = choices_.send;
    const bool needsContact = choices_.send && choices_.delivery != kDeliveryWap;
    e.phoneNumber = needsContact;
    e.email = needsContact;
    e.noteVisible = choices_.delivery != kDeliveryWap;
    e.next = choices_.save || choices_.send;
    return e;
}

std::optional<TargetRefusal> TargetRules::checkOnNext() const {
    return checkSendingContact(choices_.send, choices_.delivery, choices_.phoneNumber,
                               choices_.email);
}

TargetChoices TargetRules::choices() const {
    TargetChoices out = choices_;
    out.folder = truncateUtf16(out.folder, kFolderFieldUnits);
    return out;
}

TargetChoices targetChoicesFrom(const Settings& settings) {
    TargetChoices choices;
    choices.save = settings.save() != 0;
    choices.folder = settings.folder();
    choices.send = settings.send() != 0;
    choices.carrier = std::uint32_t(settings.carrier());
    choices.delivery = settings.delivery();
    choices.phoneNumber = settings.phoneNumber();
    choices.email = settings.email();
    return choices;
}

void storeTargetChoices(const TargetChoices& choices, Settings& settings) {
    settings.setSave(choices.save ? 1 : 0);
    settings.setFolder(choices.folder);
    settings.setSend(choices.send ? 1 : 0);
    settings.setCarrier(std::int32_t(choices.carrier));
    settings.setDelivery(choices.delivery);
    settings.setPhoneNumber(choices.phoneNumber);
    settings.setEmail(choices.email);
}

std::optional<TargetRefusal> checkSendingContact(bool send, const std::string& delivery,
                                                 const std::string& phoneNumber,
                                                 const std::string& email) {
    if (!send)
        return std::nullopt;
    // Only "MMS" and "SMS+WAP" reach the phone by mail and need the number and address.
    if (delivery.empty() || (delivery[0] != 'M' && delivery[0] != 'S'))
        return std::nullopt;
    if (phoneNumber.empty())
        return TargetRefusal{"You cannot proceed without entering your phone number.",
                             TargetField::PhoneNumber};
    if (!std::all_of(phoneNumber.begin(), phoneNumber.end(),
                     [](char c) { return c >= '0' && c <= '9'; }))
        return TargetRefusal{"Only digits are allowed in phone number.", TargetField::PhoneNumber};
    if (email.empty())
        return TargetRefusal{"You cannot proceed without entering your e-mail address.",
                             TargetField::Email};
    if (email.find('@') == std::string::npos || !startsWithLetter(email))
        return TargetRefusal{"E-mail address you entered seems to be invalid.", TargetField::Email};
    return std::nullopt;
}

}  // namespace tolvane::delivery
