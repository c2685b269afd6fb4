// skyletd's reading of a client's request: the request target's query, the upload form and the
// names it stores and shows. The input is "<target>\n<content type>\n<body>"; any bytes must
// give a value or a refusal, never a crash, and what is kept for showing is clean UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/account_store.h"
#include "server/request_parsing.h"

namespace {

std::string_view nextLine(std::string_view& rest) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    return line;
}

// Control characters never reach a page; a shown name never exceeds its bound.
void checkShown(const std::string& text, std::size_t limit) {
    const std::string clean = skylet::cleanText(text, limit);
    if (clean.size() > limit || skylet::cleanText(clean, limit) != clean)
        std::abort();
    for (unsigned char c : clean)
        if (c < 0x20 || c == 0x7F)
            std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string target(nextLine(rest));
    const std::string contentType(nextLine(rest));
    const std::string body(rest);

    if (const auto params = skylet::queryParameters(target)) {
        for (const auto& [name, value] : *params) {
            (void)skylet::parseAccountNumber(value);
            checkShown(value, 200);
        }
    }
    std::string fileName, bytes;
    if (skylet::readUploadForm(contentType, body, 4096, fileName, bytes)) {
        if (bytes.size() > 4097)
            std::abort();
        const std::string name = skylet::baseName(fileName);
        checkShown(name, 120);
        (void)skylet::extensionOf(skylet::cleanText(name, 120));
    }
    (void)skylet::dispositionFileName(contentType);
    return 0;
}
