#include "server/request_parsing.h"

#include <Poco/Exception.h>
#include <Poco/Net/MessageHeader.h>
#include <Poco/Net/MultipartReader.h>
#include <Poco/URI.h>

#include <cctype>
#include <sstream>
#include <string_view>

namespace skylet {
namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0. Overlong forms,
// surrogates, code points past U+10FFFF and the noncharacters U+FFFE/U+FFFF (not allowed in
// XML) are not well-formed here.
std::size_t utf8SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    char32_t code = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE ||
        code == 0xFFFF)
        return 0;
    return length;
}

}  // namespace

std::string cleanText(const std::string& text, std::size_t limit) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
    std::string out;
    std::string_view rest(text);
    while (!rest.empty()) {
        const std::size_t length = utf8SequenceLength(rest);
        if (length == 0) {
            out += kReplacement;
            rest.remove_prefix(1);
            continue;
        }
        const auto c = static_cast<unsigned char>(rest[0]);
        // Control characters would break the pages and the report file.
        const bool control = length == 1 && (c < 0x20 || c == 0x7F);
        if (!control) {
            if (out.size() + length > limit)
                break;
            out.append(rest.substr(0, length));
        }
        rest.remove_prefix(length);
    }
    return out;
}

std::string lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::optional<std::multimap<std::string, std::string>> queryParameters(const std::string& target) {
    try {
        std::multimap<std::string, std::string> params;
        for (const auto& [name, value] : Poco::URI(target).getQueryParameters())
            params.emplace(name, value);
        return params;
    } catch (const Poco::Exception&) {
        return std::nullopt;
    }
}

// Backslashes are not interpreted (a Windows path keeps its separators). The client does not
// escape quotes in the path, so the name runs to the last quote of the field.
std::string dispositionFileName(const std::string& disposition) {
    const std::string key = "filename=\"";
    const std::size_t at = disposition.find(key);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + key.size();
    const std::size_t end = disposition.rfind('"');
    return end == std::string::npos || end < start ? std::string()
                                                   : disposition.substr(start, end - start);
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string extensionOf(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : lower(name.substr(dot + 1));
}

bool readAtMost(std::istream& in, std::size_t limit, std::string& out) {
    char buffer[16384];
    while (in) {
        in.read(buffer, sizeof buffer);
        out.append(buffer, std::size_t(in.gcount()));
        if (out.size() > limit)
            return false;
    }
    return true;
}

bool readUploadForm(const std::string& contentType, const std::string& body, std::size_t limit,
                    std::string& fileName, std::string& bytes) {
    try {
        std::string mediaType;
        Poco::Net::NameValueCollection typeParams;
        Poco::Net::MessageHeader::splitParameters(contentType, mediaType, typeParams);
        if (lower(mediaType) != "multipart/form-data" || !typeParams.has("boundary"))
            return false;
        std::istringstream in(body);
        Poco::Net::MultipartReader reader(in, typeParams.get("boundary"));
        while (reader.hasNextPart()) {
            Poco::Net::MessageHeader header;
            reader.nextPart(header);
            const std::string disposition = header.get("Content-Disposition", "");
            std::string kind;
            Poco::Net::NameValueCollection dispositionParams;
            Poco::Net::MessageHeader::splitParameters(disposition, kind, dispositionParams);
            std::string content;
            readAtMost(reader.stream(), limit + 1, content);
            if (dispositionParams.get("name", "") == "file") {
                fileName = dispositionFileName(disposition);
                bytes = std::move(content);
                return !fileName.empty();
            }
        }
    } catch (const Poco::Exception&) {
    }
    return false;
}

}  // namespace skylet
