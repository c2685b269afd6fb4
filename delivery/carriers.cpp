#include "delivery/carriers.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace tolvane::delivery {
namespace {

#define SMS(domain) "phonenumber@" domain
#define MMS(domain) "phonenumber@" domain

// The carriers' e-mail-to-SMS and e-mail-to-MMS gateways. Rows with "#1", "#2", "#3" are one
// carrier reached through several gateway domains.
constexpr std::array<Carrier, 63> kCarriers{{
    {1, "Cingular #1", SMS("txt.att.net"), MMS("mms.att.net")},
    {2, "Cingular #2", SMS("cingularme.com"), MMS("mms.mycingular.com")},
    {3, "AT&T", SMS("mobile.att.net"), nullptr},
    {4, "Bell Canada #1", SMS("txt.bell.ca"), nullptr},
    {5, "Bell Canada #2", SMS("txt.bellmobility.ca"), nullptr},
    {6, "Bell Canada #3", SMS("bellmobility.ca"), nullptr},
    {7, "Bell Atlantic", SMS("message.bam.com"), nullptr},
    {8, "Fido Canada", SMS("fido.ca"), nullptr},
    {9, "Rogers Canada", SMS("pcs.rogers.com"), nullptr},
    {10, "Cellular One #1", SMS("mobile.celloneusa.com"), nullptr},
    {11, "Cellular One #2", SMS("cellularone.txtmsg.com"), nullptr},
    {12, "Cellular One #3", SMS("cell1.textmsg.com"), nullptr},
    {13, "Cellular One South", SMS("phone.cellone.net"), nullptr},
    {14, "Cellular One West", SMS("mycellone.com"), nullptr},
    {15, "Verizon", SMS("vtext.com"), MMS("vzwpix.com")},
    {16, "T-Mobile USA", SMS("tmomail.net"), MMS("tmomail.net")},
    {17, "T-Mobile Germany", SMS("t-d1-sms.de"), nullptr},
    {18, "T-Mobile UK", SMS("t-mobile.uk.net"), nullptr},
    {19, "T-Mobile Austria", SMS("sms.t-mobile.at"), nullptr},
    {20, "Telenor Norway", SMS("mobilpost.no"), nullptr},
    {21, "Netcom Norway", SMS("sms.netcom.no"), nullptr},
    {22, "O2 UK #1", SMS("o2imail.co.uk"), MMS("o2imail.co.uk")},
    {23, "O2 UK #2", SMS("mmail.co.uk"), MMS("mmail.co.uk")},
    {24, "One Connect Austria", SMS("onemail.at"), nullptr},
    {25, "Alltel", SMS("message.alltel.com"), nullptr},
    {26, "Orange", SMS("orange.net"), nullptr},
    {27, "Dutchtone", SMS("sms.orange.nl"), nullptr},
    {28, "Nextel", SMS("messaging.nextel.com"), nullptr},
    {29, "Sprint PCS", SMS("messaging.sprintpcs.com"), nullptr},
    {30, "Boost Mobile", SMS("myboostmobile.com"), nullptr},
    {31, "Suncom #1", SMS("tms.suncom.com"), nullptr},
    {32, "Suncom #2", SMS("suncom1.com"), nullptr},
    {33, "Qwest", SMS("qwestmp.com"), nullptr},
    {34, "Virgin Canada", SMS("vmobile.ca"), nullptr},
    {35, "Virgin Mobile USA", SMS("vmobl.com"), nullptr},
    {36, "Vodafone UK", SMS("vodafone.net"), nullptr},
    {37, "Vodafone Italy", SMS("sms.vodafone.it"), nullptr},
    {38, "Vodafone Japan #1", SMS("t.vodafone.ne.jp"), nullptr},
    {39, "Vodafone Japan #2", SMS("c.vodafone.ne.jp"), nullptr},
    {40, "Vodafone Japan #3", SMS("h.vodafone.ne.jp"), nullptr},
    {41, "West Central", SMS("sms.wcc.net"), nullptr},
    {42, "US Cellular #1", SMS("email.uscc.net"), nullptr},
    {43, "US Cellular #2", SMS("uscc.textmsg.com"), nullptr},
    {44, "Swisscom", SMS("bluewin.ch"), nullptr},
    {45, "Sunrise Mobile #1", SMS("freesurf.ch"), nullptr},
    {46, "Sunrise Mobile #2", SMS("mysunrise.ch"), nullptr},
    {47, "SFR France", SMS("sfr.fr"), nullptr},
    {48, "Pacific Bell", SMS("pacbellpcs.net"), nullptr},
    {49, "P&T Luxembourg", SMS("sms.luxgsm.lu"), nullptr},
    {50, "Omnipoint #1", SMS("omnipointpcs.com"), nullptr},
    {51, "Omnipoint #2", SMS("omnipoint.com"), nullptr},
    {52, "Nextel Brazil", SMS("nextel.com.br"), nullptr},
    {53, "Ntelos", SMS("pcs.ntelos.com"), nullptr},
    {54, "Mobistar Belgium", SMS("mobistar.be"), nullptr},
    {55, "Mobilfone", SMS("page.mobilfone.com"), nullptr},
    {56, "Mobilecomm", SMS("mobilecomm.net"), nullptr},
    {57, "Metro PCS #1", SMS("mymetropcs.com"), nullptr},
    {58, "Metro PCS #2", SMS("metropcs.sms.us"), nullptr},
    {59, "Manitoba Telecom", SMS("text.mtsmobility.com"), nullptr},
    {60, "Edge Wireless", SMS("sms.edgewireless.com"), nullptr},
    {61, "Cincinnati Bell", SMS("gocbw.com"), nullptr},
    {62, "3 River", SMS("sms.3rivers.net"), nullptr},
    {0, "> Not listed <", nullptr, nullptr},
}};

#undef SMS
#undef MMS

constexpr std::size_t kPatternPrefixLength = 11;  // "phonenumber"

// Sort key of one character: punctuation, then digits, then letters, letters without case.
std::pair<int, int> sortKey(unsigned char c) {
    if (std::isalpha(c))
        return {2, std::tolower(c)};
    if (std::isdigit(c))
        return {1, c};
    if (c == ' ')
        return {-1, c};
    return {0, c};
}

bool sortsBefore(const Carrier* a, const Carrier* b) {
    std::string_view x = a->name, y = b->name;
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(),
                                        [](char l, char r) { return sortKey(l) < sortKey(r); });
}

}  // namespace

std::span<const Carrier> carrierTable() {
    return kCarriers;
}

const Carrier* findCarrier(std::uint32_t id) {
    // Walks the table from the first row, as the sending phase expects.
    for (const Carrier& carrier : kCarriers)
        if (carrier.id == id)
            return &carrier;
    return nullptr;
}

std::optional<std::string> carrierGateway(std::uint32_t carrierId, GatewayKind kind) {
    const Carrier* carrier = findCarrier(carrierId);
    if (!carrier)
        return std::nullopt;
    const char* pattern = kind == GatewayKind::Sms ? carrier->smsGateway : carrier->mmsGateway;
    if (!pattern)
        return std::nullopt;
    return std::string(pattern);
}

std::string gatewayAddress(std::string_view pattern, std::string_view phoneNumber) {
    std::string address(phoneNumber);
    if (pattern.size() > kPatternPrefixLength)
        address += pattern.substr(kPatternPrefixLength);
    return address;
}

std::vector<std::string> deliveryMethodsFor(std::uint32_t carrierId) {
    std::vector<std::string> methods;
    if (carrierGateway(carrierId, GatewayKind::Mms))
        methods.emplace_back(kDeliveryMms);
    if (carrierGateway(carrierId, GatewayKind::Sms))
        methods.emplace_back(kDeliverySmsWap);
    methods.emplace_back(kDeliveryWap);
    return methods;
}

std::vector<const Carrier*> carriersSortedByName() {
    std::vector<const Carrier*> sorted;
    for (const Carrier& carrier : kCarriers)
        sorted.push_back(&carrier);
    std::stable_sort(sorted.begin(), sorted.end(), sortsBefore);
    return sorted;
}

}  // namespace tolvane::delivery
