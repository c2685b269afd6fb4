// Feeds arbitrary text to the parts that take names from users and installers: the phone name of
// the batch front end, the report address built from HomeURL and the typed vendor and model, and
// the drop-down sort order.
#include <cstdint>
#include <string>
#include <string_view>

#include "catalogue/format_choice.h"
#include "catalogue/phone_report.h"
#include "catalogue/phone_selection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // Up to three fields separated by NUL bytes: home address, vendor, model.
    const std::size_t first = input.find('\0');
    const std::string_view home = input.substr(0, first);
    const std::string_view rest = first == std::string_view::npos ? "" : input.substr(first + 1);
    const std::size_t second = rest.find('\0');
    const std::string_view vendor = rest.substr(0, second);
    const std::string_view model = second == std::string_view::npos ? "" : rest.substr(second + 1);

    tolvane::catalogue::phoneReportUrl(home, vendor, model);
    tolvane::catalogue::sortsBefore(vendor, model);
    try {
        tolvane::catalogue::selectPhone(input, static_cast<std::uint32_t>(size % 9));
    } catch (const tolvane::catalogue::PhoneNotFound&) {
    }
    return 0;
}
