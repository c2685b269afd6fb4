// The carrier table, gateway addresses and the Target page's rules.
#include <gtest/gtest.h>

#include <set>

#include "delivery/account.h"
#include "delivery/carriers.h"
#include "delivery/target_rules.h"

namespace tolvane::delivery {
namespace {

TEST(CarrierTable, HoldsTheCarriersInOrderWithTheirGateways) {
    const auto table = carrierTable();
    ASSERT_EQ(table.size(), 63u);
    for (std::size_t i = 0; i < 62; ++i) {
        EXPECT_EQ(table[i].id, i + 1);
        ASSERT_NE(table[i].smsGateway, nullptr) << table[i].name;
    }
    EXPECT_EQ(table[62].id, 0u);
    EXPECT_STREQ(table[62].name, "> Not listed <");
    EXPECT_EQ(table[62].smsGateway, nullptr);
    EXPECT_EQ(table[62].mmsGateway, nullptr);
    EXPECT_STREQ(table[2].name, "AT&T");
    EXPECT_STREQ(table[28].name, "Sprint PCS");
    EXPECT_STREQ(table[61].name, "3 River");

    std::set<std::uint32_t> withMms;
    for (const Carrier& carrier : table) {
        if (carrier.mmsGateway)
            withMms.insert(carrier.id);
        for (const char* pattern : {carrier.smsGateway, carrier.mmsGateway}) {
            if (!pattern)
                continue;
            const std::string text = pattern;
            EXPECT_EQ(text.rfind("phonenumber@", 0), 0u) << text;
            EXPECT_NE(text.find('.', 12), std::string::npos) << text;
        }
    }
    EXPECT_EQ(withMms, (std::set<std::uint32_t>{1, 2, 15, 16, 22, 23}));
}

TEST(CarrierTable, GatewayLookupAndAddress) {
    const auto sprint = carrierGateway(29, GatewayKind::Sms);
    ASSERT_TRUE(sprint);
    const std::string address = gatewayAddress(*sprint, "5551234567");
    EXPECT_EQ(address, "5551234567" + sprint->substr(11));
    EXPECT_EQ(address.find('@'), 10u);

    EXPECT_FALSE(carrierGateway(29, GatewayKind::Mms));
    EXPECT_FALSE(carrierGateway(0, GatewayKind::Sms));
    EXPECT_FALSE(carrierGateway(63, GatewayKind::Sms));
    EXPECT_FALSE(carrierGateway(0xFFFFFFFF, GatewayKind::Mms));
    EXPECT_TRUE(carrierGateway(15, GatewayKind::Mms));
}

TEST(CarrierTable, DeliveryMethodsPerCarrier) {
    using V = std::vector<std::string>;
    EXPECT_EQ(deliveryMethodsFor(15), (V{"MMS", "SMS+WAP", "WAP"}));
    EXPECT_EQ(deliveryMethodsFor(3), (V{"SMS+WAP", "WAP"}));
    EXPECT_EQ(deliveryMethodsFor(0), (V{"WAP"}));
    EXPECT_EQ(deliveryMethodsFor(999), (V{"WAP"}));
}

TEST(CarrierTable, SortedListStartsWithNotListed) {
    const auto sorted = carriersSortedByName();
    ASSERT_EQ(sorted.size(), 63u);
    EXPECT_STREQ(sorted[0]->name, "> Not listed <");
    EXPECT_STREQ(sorted[1]->name, "3 River");
    EXPECT_STREQ(sorted[2]->name, "Alltel");
    EXPECT_STREQ(sorted[3]->name, "AT&T");
    EXPECT_STREQ(sorted.back()->name, "West Central");
}

TargetChoices stored(std::uint32_t carrier, std::string delivery) {
    TargetChoices choices;
    choices.carrier = carrier;
    choices.delivery = std::move(delivery);
    return choices;
}

TEST(TargetRules, InitialSelection) {
    struct Case {
        std::uint32_t carrier;
        std::string delivery;
        std::uint32_t selectedCarrier;
        std::string selectedDelivery;
    } cases[] = {
        {0, "WAP", 0, "WAP"},            // first run
        {3, "MMS", 3, "SMS+WAP"},        // stored MMS, carrier without MMS gateway
        {15, "SMS+WAP", 15, "SMS+WAP"},  // stored method offered
        {4711, "WAP", 0, "WAP"},         // unknown carrier: first entry of the sorted list
        {0, "MMS", 0, "WAP"},
    };
    for (const Case& c : cases) {
        TargetRules rules(stored(c.carrier, c.delivery));
        EXPECT_EQ(rules.choices().carrier, c.selectedCarrier) << c.carrier;
        EXPECT_EQ(rules.choices().delivery, c.selectedDelivery) << c.carrier << c.delivery;
        EXPECT_EQ(rules.deliveryList()[rules.deliveryIndex()], c.selectedDelivery);
    }
}

std::size_t indexOf(const TargetRules& rules, std::uint32_t id) {
    for (std::size_t i = 0; i < rules.carrierList().size(); ++i)
        if (rules.carrierList()[i]->id == id)
            return i;
    return SIZE_MAX;
}

TEST(TargetRules, ChangingCarrierPreselectsRichestMethod) {
    TargetRules rules(stored(3, "WAP"));
    EXPECT_EQ(rules.deliveryList(), (std::vector<std::string>{"SMS+WAP", "WAP"}));
    EXPECT_EQ(rules.choices().delivery, "WAP");
    rules.selectCarrier(indexOf(rules, 15));
    EXPECT_EQ(rules.deliveryList(), (std::vector<std::string>{"MMS", "SMS+WAP", "WAP"}));
    EXPECT_EQ(rules.choices().delivery, "MMS");
    EXPECT_EQ(rules.choices().carrier, 15u);
    rules.selectCarrier(9999);  // ignored
    EXPECT_EQ(rules.choices().carrier, 15u);
}

TEST(TargetRules, Enabling) {
    TargetRules rules(stored(15, "MMS"));
    auto e = rules.enabling();
    EXPECT_TRUE(e.folderField && e.carrierList && e.deliveryList && e.phoneNumber && e.email &&
                e.noteVisible && e.next);

    rules.selectDelivery(2);  // WAP
    e = rules.enabling();
    EXPECT_FALSE(e.phoneNumber || e.email || e.noteVisible);
    EXPECT_TRUE(e.carrierList && e.deliveryList);

    rules.selectDelivery(0);
    rules.setSend(false);
    e = rules.enabling();
    EXPECT_FALSE(e.carrierList || e.deliveryList || e.phoneNumber || e.email);
    EXPECT_TRUE(e.next);
    rules.setStore(false);
    e = rules.enabling();
    EXPECT_FALSE(e.next || e.folderField);

    TargetRules notListed(stored(0, "WAP"));
    e = notListed.enabling();
    EXPECT_FALSE(e.phoneNumber || e.email);
}

TEST(TargetRules, ChecksOnNext) {
    using F = TargetField;
    struct Case {
        bool send;
        std::string delivery, phone, email;
        std::optional<std::pair<std::string, F>> refusal;
    } cases[] = {
        {false, "MMS", "", "", std::nullopt},
        {true, "WAP", "", "", std::nullopt},
        {true,
         "MMS",
         "",
         "a@b",
         {{"You cannot proceed without entering your phone number.", F::PhoneNumber}}},
        {true,
         "MMS",
         "555-1234",
         "a@b",
         {{"Only digits are allowed in phone number.", F::PhoneNumber}}},
        {true,
         "SMS+WAP",
         "5551234",
         "",
         {{"You cannot proceed without entering your e-mail address.", F::Email}}},
        {true,
         "SMS+WAP",
         "5551234",
         "1a@b",
         {{"E-mail address you entered seems to be invalid.", F::Email}}},
        {true,
         "SMS+WAP",
         "5551234",
         "ab.example",
         {{"E-mail address you entered seems to be invalid.", F::Email}}},
        {true, "MMS", "5551234", "a@b", std::nullopt},
        {true, "MMS", "5551234", "\xC3\x89mile@example.org", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto refusal = checkSendingContact(c.send, c.delivery, c.phone, c.email);
        ASSERT_EQ(refusal.has_value(), c.refusal.has_value()) << c.phone << " " << c.email;
        if (refusal) {
            EXPECT_EQ(refusal->message, c.refusal->first);
            EXPECT_EQ(refusal->focus, c.refusal->second);
        }
    }
    TargetRules rules(stored(15, "MMS"));
    rules.setPhoneNumber("12ab");
    rules.setEmail("me@example.org");
    ASSERT_TRUE(rules.checkOnNext());
    EXPECT_EQ(rules.checkOnNext()->focus, F::PhoneNumber);
}

TEST(TargetRules, FolderIsCutTo259Characters) {
    TargetRules rules(stored(0, "WAP"));
    rules.setFolder(std::string(300, 'x'));
    EXPECT_EQ(rules.choices().folder.size(), 259u);
}

TEST(PickUp, HostAndLink) {
    EXPECT_EQ(pickUpHost("http://127.0.0.1:8099/"), "127.0.0.1:8099");
    EXPECT_EQ(pickUpHost("http://ringtones.example/"), "ringtones.example");
    EXPECT_EQ(pickUpHost(""), "");
    EXPECT_EQ(pickUpLink("http://ringtones.example/", "0007"), "http://ringtones.example/?id=0007");
}

}  // namespace
}  // namespace tolvane::delivery
