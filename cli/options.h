// The command line of tolvane-convert. Scripts depend on it, so options and exit statuses are
// fixed:
//
//   tolvane-convert [options] FILE...
//     -f, --format NAME      wav-medium | wav-high | mp3-medium | mp3-high | smaf | amr | qcp |
//                            m4r | ogg, or the index 0..8
//     -o, --out DIR          output folder (default: the wizard's stored folder)
//         --part START+LEN   mark a part, in whole seconds, of the FILE that follows
//         --fade-in SEC      fade in over SEC seconds (0 to 60, up to three decimals)
//         --fade-out SEC     fade out over the last SEC seconds
//     -j, --jobs N           convert N files at the same time, 1..64 (default: one per processor)
//         --skip-existing    answer "Skip All" to the already-converted question
//         --reconvert        answer "Reconvert All"
//         --list-formats     print the nine formats, index and name, and exit
//         --send METHOD      WAP | SMS+WAP | MMS: deliver the ringtones to the phone
//         --carrier ID       the carrier's id (see --list-carriers)
//         --phone-number N   the phone's number, digits only
//         --email ADDR       the sender's e-mail address
//         --password P       the upload password for this run
//         --list-carriers    print the carriers, id and name, and exit
//         --phone VENDOR/MODEL  choose the format for this phone as the wizard's Format page would
//         --list-phones      print every phone of the catalogue and exit
//     -h, --help
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/sending.h"

namespace tolvane::cli {

// Exit statuses.
inline constexpr int kExitClean = 0;   // the run had no error line
inline constexpr int kExitErrors = 1;  // the run had error lines
inline constexpr int kExitUsage = 2;   // the command line was wrong

struct SourceArgument {
    std::string path;
    bool partMarked = false;
    std::uint32_t partStart = 0;
    std::uint32_t partLength = 0;
};

enum class ExistingAnswer { Ask, SkipAll, ReconvertAll };
enum class Action { Convert, ListFormats, ListCarriers, ListPhones, Help };

struct Options {
    Action action = Action::Convert;
    std::optional<int> format;          // none: the stored format
    std::optional<std::string> phone;   // "VENDOR/MODEL": the format this phone plays
    std::optional<std::string> folder;  // none: the stored folder
    ExistingAnswer existing = ExistingAnswer::Ask;
    std::vector<SourceArgument> sources;
    std::optional<SendOptions> sending;      // none: the ringtones are only stored
    std::optional<std::uint32_t> fadeInMs;   // none: the stored choice
    std::optional<std::uint32_t> fadeOutMs;  // none: the stored choice
    std::optional<unsigned> jobs;            // none: one per processor
};

// The parsed command line, or the usage error's text (without the program name).
struct ParseResult {
    Options options;
    std::string error;
    bool ok() const { return error.empty(); }
};

ParseResult parseArguments(const std::vector<std::string>& args);

// A format's command-line name ("wav-medium" .. "ogg") or its index; nothing otherwise.
std::optional<int> formatByName(std::string_view text);

// "START+LEN" in whole seconds, LEN at least 1; nothing otherwise.
std::optional<SourceArgument> parsePart(std::string_view text);
// Seconds as typed after --fade-in/--fade-out ("0.5") in milliseconds; none when malformed or
// longer than a minute.
std::optional<std::uint32_t> parseFadeSeconds(std::string_view text);

extern const char* const kUsageText;

}  // namespace tolvane::cli
