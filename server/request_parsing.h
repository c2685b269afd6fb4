// The parts of a client's request the service reads itself: the text it stores and shows, the
// query parameters, and the ringtone of an upload form. Everything here takes any bytes: a
// malformed request gives a refusal, never a crash.
#pragma once

#include <cstddef>
#include <istream>
#include <map>
#include <optional>
#include <string>

namespace skylet {

// Text fit to be stored and shown: well-formed UTF-8 (anything else becomes U+FFFD), no
// control characters, at most `limit` bytes (cut between characters).
std::string cleanText(const std::string& text, std::size_t limit);

std::string lower(std::string text);

// The decoded query parameters of a request target; nothing when it is malformed.
std::optional<std::multimap<std::string, std::string>> queryParameters(const std::string& target);

// The file name the client sent in a form part's Content-Disposition.
std::string dispositionFileName(const std::string& disposition);
// The last component of a client's path, with either separator.
std::string baseName(const std::string& path);
// "amr" for "Tune.AMR"; empty without a dot.
std::string extensionOf(const std::string& name);

// Reads at most `limit` bytes; false when the stream holds more.
bool readAtMost(std::istream& in, std::size_t limit, std::string& out);

// The part named "file" of a multipart/form-data body: its file name and bytes (at most
// `limit` + 1 of them are kept, so that an oversize file is still recognised as one).
bool readUploadForm(const std::string& contentType, const std::string& body, std::size_t limit,
                    std::string& fileName, std::string& bytes);

}  // namespace skylet
