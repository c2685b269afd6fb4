// The Target page ("Select destination") without its widgets: which carrier and delivery method
// are selected, which controls are enabled, and the checks made on Next. The Qt page is a view
// over this class: it forwards the user's changes and draws what the rules say.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "delivery/carriers.h"

namespace tolvane {
class Settings;
}

namespace tolvane::delivery {

// The page's values as stored between runs.
struct TargetChoices {
    bool save = true;
    std::string folder;
    bool send = true;
    std::uint32_t carrier = 0;
    std::string delivery{kDeliveryWap};
    std::string phoneNumber;
    std::string email;
};

// What each control may do right now.
struct TargetEnabling {
    bool folderField = false;  // with its browse button
    bool carrierList = false;
    bool deliveryList = false;
    bool phoneNumber = false;
    bool email = false;
    bool noteVisible = false;  // the note about personal data
    bool next = false;
};

enum class TargetField { PhoneNumber, Email };

// A refused Next: the message box text and the field that gets the keyboard focus.
struct TargetRefusal {
    std::string message;
    TargetField focus;
};

class TargetRules {
public:
    // Page initialisation from the stored values: the stored carrier is selected (the first
    // entry of the sorted list when it is unknown) and the stored delivery method when the
    // carrier offers it (its first method otherwise).
    explicit TargetRules(TargetChoices stored);

    // The carrier list as shown: sorted by name, each entry with its carrier id.
    const std::vector<const Carrier*>& carrierList() const { return carriers_; }
    std::size_t carrierIndex() const { return carrierIndex_; }
    // The delivery list for the selected carrier, in the order shown.
    const std::vector<std::string>& deliveryList() const { return deliveries_; }
    std::size_t deliveryIndex() const { return deliveryIndex_; }

    // The user's changes. Choosing another carrier refills the delivery list and selects its
    // first (richest) method. Out-of-range indexes are ignored.
    void setStore(bool checked) { choices_.save = checked; }
    void setFolder(std::string folder);
    void setSend(bool checked) { choices_.send = checked; }
    void selectCarrier(std::size_t index);
    void selectDelivery(std::size_t index);
    void setPhoneNumber(std::string digits) { choices_.phoneNumber = std::move(digits); }
    void setEmail(std::string address) { choices_.email = std::move(address); }

    TargetEnabling enabling() const;

    // The checks on Next, in order; nothing when the user may go on.
    std::optional<TargetRefusal> checkOnNext() const;

    // The values to store when the page is left (the folder cut to 259 characters).
    TargetChoices choices() const;

private:
    void fillDeliveryList(const std::string& preferred);

    TargetChoices choices_;
    std::vector<const Carrier*> carriers_;
    std::size_t carrierIndex_ = 0;
    std::vector<std::string> deliveries_;
    std::size_t deliveryIndex_ = 0;
};

// The page's stored values, and storing them back when the page is left, in the order save,
// folder, send, carrier, delivery, phone number, e-mail.
TargetChoices targetChoicesFrom(const Settings& settings);
void storeTargetChoices(const TargetChoices& choices, Settings& settings);

// The checks on Next for a sending choice, shared with the batch front end: nothing when
// sending is off or the method is "WAP", else the first refusal of the phone number and e-mail
// checks.
std::optional<TargetRefusal> checkSendingContact(bool send, const std::string& delivery,
                                                 const std::string& phoneNumber,
                                                 const std::string& email);

}  // namespace tolvane::delivery
