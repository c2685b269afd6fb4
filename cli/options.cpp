#include "cli/options.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "delivery/carriers.h"
#include "encoders/ringtone_formats.h"
#include "pipeline/fade.h"
#include "pipeline/worker.h"

namespace tolvane::cli {
namespace {

std::optional<std::uint32_t> wholeNumber(std::string_view text) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

// The options that take a value, with their long and short spellings.
enum class Valued {
    None,
    Format,
    Out,
    Part,
    Send,
    Carrier,
    PhoneNumber,
    Email,
    Password,
    Phone,
    FadeIn,
    FadeOut,
    Jobs
};

Valued valuedOption(std::string_view name) {
    if (name == "-f" || name == "--format")
        return Valued::Format;
    if (name == "-o" || name == "--out")
        return Valued::Out;
    if (name == "--part")
        return Valued::Part;
    if (name == "--send")
        return Valued::Send;
    if (name == "--carrier")
        return Valued::Carrier;
    if (name == "--phone-number")
        return Valued::PhoneNumber;
    if (name == "--email")
        return Valued::Email;
    if (name == "--password")
        return Valued::Password;
    if (name == "--phone")
        return Valued::Phone;
    if (name == "--fade-in")
        return Valued::FadeIn;
    if (name == "--fade-out")
        return Valued::FadeOut;
    if (name == "-j" || name == "--jobs")
        return Valued::Jobs;
    return Valued::None;
}

class Parser {
public:
    explicit Parser(const std::vector<std::string>& args) : args_(args) {}

    ParseResult parse() {
        for (i_ = 0; i_ < args_.size() && result_.ok(); ++i_)
            step(args_[i_]);
        if (!result_.ok())
            return result_;
        if (pendingPart_)
            return fail("--part must be followed by the FILE it marks");
        Options& o = result_.options;
        if (!sendingNamed_.empty() && !o.sending)
            return fail("option '" + sendingNamed_ + "' needs --send");
        if (o.action == Action::Convert && o.sources.empty())
            return fail("no FILE given");
        if (o.format && o.phone)
            return fail("--format and --phone exclude each other");
        return result_;
    }

private:
    void step(std::string_view arg) {
        if (filesOnly_ || arg == "-" || arg.empty() || arg[0] != '-')
            return addSource(arg);
        if (arg == "--") {
            filesOnly_ = true;
            return;
        }
        if (arg == "-h" || arg == "--help") {
            result_.options.action = Action::Help;
            return;
        }
        if (arg == "--list-carriers") {
            if (result_.options.action != Action::Help)
                result_.options.action = Action::ListCarriers;
            return;
        }
        if (arg == "--list-formats" || arg == "--list-phones") {
            if (result_.options.action != Action::Help)
                result_.options.action =
                    arg == "--list-formats" ? Action::ListFormats : Action::ListPhones;
            return;
        }
        if (arg == "--skip-existing")
            return answer(ExistingAnswer::SkipAll);
        if (arg == "--reconvert")
            return answer(ExistingAnswer::ReconvertAll);
        valued(arg);
    }

    // "--format X", "--format=X", "-f X", "-fX".
    void valued(std::string_view arg) {
        std::string_view name = arg;
        std::optional<std::string_view> value;
        if (arg.starts_with("--")) {
            if (const auto eq = arg.find('='); eq != std::string_view::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
            }
        } else if (arg.size() > 2) {
            name = arg.substr(0, 2);
            value = arg.substr(2);
        }
        const Valued option = valuedOption(name);
        if (option == Valued::None)
            return void(fail("unknown option '" + std::string(arg) + "'"));
        if (!value) {
            if (i_ + 1 >= args_.size())
                return void(fail("option '" + std::string(name) + "' needs a value"));
            value = args_[++i_];
        }
        apply(option, std::string(name), *value);
    }

    void apply(Valued option, const std::string& name, std::string_view value) {
        Options& o = result_.options;
        switch (option) {
            case Valued::Format:
                o.format = formatByName(value);
                if (!o.format)
                    fail("unknown format '" + std::string(value) + "' (see --list-formats)");
                break;
            case Valued::Out:
                if (value.empty())
                    fail("option '" + name + "' needs a folder");
                o.folder = std::string(value);
                break;
            case Valued::Part:
                if (pendingPart_)
                    return void(fail("two --part options for one FILE"));
                pendingPart_ = parsePart(value);
                if (!pendingPart_)
                    fail("bad part '" + std::string(value) +
                         "': START+LEN in whole seconds, LEN at least 1");
                break;
            case Valued::Send:
            case Valued::Carrier:
            case Valued::PhoneNumber:
            case Valued::Email:
            case Valued::Password:
                applySending(option, name, value);
                break;
            case Valued::Phone:
                if (value.find('/') == std::string_view::npos)
                    fail("bad phone '" + std::string(value) +
                         "': VENDOR/MODEL (see --list-phones)");
                o.phone = std::string(value);
                break;
            case Valued::FadeIn:
            case Valued::FadeOut: {
                const auto ms = parseFadeSeconds(value);
                if (!ms)
                    return void(fail("bad fade '" + std::string(value) +
                                     "': seconds from 0 to 60, like 0.5"));
                (option == Valued::FadeIn ? o.fadeInMs : o.fadeOutMs) = *ms;
                break;
            }
            case Valued::Jobs: {
                const auto jobs = wholeNumber(value);
                if (!jobs || *jobs < 1 || *jobs > kMaxJobs)
                    return void(fail("bad job count '" + std::string(value) +
                                     "': a whole number from 1 to " + std::to_string(kMaxJobs)));
                o.jobs = *jobs;
                break;
            }
            case Valued::None:
                break;
        }
    }

    // Sending values may come before or after --send; they only count with it.
    void applySending(Valued option, const std::string& name, std::string_view value) {
        Options& o = result_.options;
        SendOptions& s = sending_;
        switch (option) {
            case Valued::Send:
                if (const auto method = deliveryByName(value)) {
                    s.delivery = *method;
                    o.sending = s;
                } else {
                    fail("unknown delivery method '" + std::string(value) +
                         "' (WAP, SMS+WAP or MMS)");
                }
                return;
            case Valued::Carrier: {
                const auto id = wholeNumber(value);
                if (!id || !delivery::findCarrier(*id))
                    return void(
                        fail("unknown carrier '" + std::string(value) + "' (see --list-carriers)"));
                s.carrier = *id;
                break;
            }
            case Valued::PhoneNumber:
                s.phoneNumber = std::string(value);
                break;
            case Valued::Email:
                s.email = std::string(value);
                break;
            case Valued::Password:
                s.password = std::string(value);
                break;
            default:
                return;
        }
        if (o.sending) {
            s.delivery = o.sending->delivery;
            o.sending = s;
        } else if (sendingNamed_.empty()) {
            sendingNamed_ = name;
        }
    }

    void answer(ExistingAnswer a) {
        ExistingAnswer& current = result_.options.existing;
        if (current != ExistingAnswer::Ask && current != a)
            return void(fail("--skip-existing and --reconvert exclude each other"));
        current = a;
    }

    void addSource(std::string_view path) {
        SourceArgument source = pendingPart_.value_or(SourceArgument{});
        source.path = std::string(path);
        pendingPart_.reset();
        result_.options.sources.push_back(std::move(source));
    }

    ParseResult fail(std::string text) {
        if (result_.error.empty())
            result_.error = std::move(text);
        return result_;
    }

    const std::vector<std::string>& args_;
    std::size_t i_ = 0;
    bool filesOnly_ = false;
    std::optional<SourceArgument> pendingPart_;
    SendOptions sending_;       // the sending values given so far
    std::string sendingNamed_;  // the first sending value given before --send
    ParseResult result_;
};

}  // namespace

const char* const kUsageText =
    "Usage: tolvane-convert [options] FILE...\n"
    "Converts music files (WAV, MP3, WMA, Ogg Vorbis, FLAC, Monkey's Audio) into ringtones.\n"
    "\n"
    "  -f, --format NAME      wav-medium | wav-high | mp3-medium | mp3-high | smaf | amr | qcp |\n"
    "                         m4r (iPhone) | ogg (Android), or the index 0..8 (default: the\n"
    "                         wizard's stored format)\n"
    "  -o, --out DIR          output folder (default: the wizard's stored folder)\n"
    "      --part START+LEN   mark a part, in whole seconds, of the FILE that follows\n"
    "      --fade-in SEC      fade the ringtones in over SEC seconds (0 for none; default: the\n"
    "                         wizard's stored choice)\n"
    "      --fade-out SEC     fade them out over their last SEC seconds\n"
    "  -j, --jobs N           convert N files at the same time, 1 to 64 (default: one per\n"
    "                         processor); the ringtones and lines come in the files' order\n"
    "      --skip-existing    answer \"Skip All\" to the already-converted question\n"
    "      --reconvert        answer \"Reconvert All\"\n"
    "      --list-formats     print the nine formats, index and name, and exit\n"
    "      --send METHOD      deliver the ringtones to the phone: WAP (upload, fetched with\n"
    "                         the personal code), SMS+WAP (upload and a text message with the\n"
    "                         link) or MMS (mailed to the carrier's MMS gateway)\n"
    "      --carrier ID       the mobile carrier (see --list-carriers)\n"
    "      --phone-number N   the phone's number, digits only (SMS+WAP and MMS)\n"
    "      --email ADDR       your e-mail address, the mails' sender (SMS+WAP and MMS)\n"
    "      --password P       the upload password; asked on the terminal when the service\n"
    "                         refuses the stored one\n"
    "      --list-carriers    print the carriers, id and name, and exit\n"
    "      --phone VENDOR/MODEL  pick the format this phone plays, as the wizard's Format page\n"
    "                         does: the stored format if the phone plays it, else the best one\n"
    "      --list-phones      print every phone: model id, vendor, model, format mask; and exit\n"
    "  -h, --help             print this help and exit\n"
    "\n"
    "Each produced ringtone's path is printed on standard output, one per line; error lines go\n"
    "to standard error. Exit status: 0 without error lines, 1 with error lines, 2 for a usage\n"
    "error. Ctrl-C cancels: the ringtones in progress are removed.\n";

std::optional<int> formatByName(std::string_view text) {
    for (const RingtoneFormatRow& format : kRingtoneFormats)
        if (text == format.name || text == std::to_string(format.index))
            return format.index;
    return std::nullopt;
}

std::optional<SourceArgument> parsePart(std::string_view text) {
    const auto plus = text.find('+');
    if (plus == std::string_view::npos)
        return std::nullopt;
    const auto start = wholeNumber(text.substr(0, plus));
    const auto length = wholeNumber(text.substr(plus + 1));
    constexpr auto kMax = static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
    if (!start || !length || *length == 0 || *start > kMax || *length > kMax)
        return std::nullopt;
    SourceArgument part;
    part.partMarked = true;
    part.partStart = *start;
    part.partLength = *length;
    return part;
}

std::optional<std::uint32_t> parseFadeSeconds(std::string_view text) {
    // Digits with at most three decimals: "1", "0.5", "1.25". No signs, exponents or spaces.
    const auto dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    const std::string_view fraction =
        dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    const auto digits = [](std::string_view t) {
        return std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (whole.empty() || whole.size() > 2 || fraction.size() > 3 || !digits(whole) ||
        !digits(fraction) || (dot != std::string_view::npos && fraction.empty()))
        return std::nullopt;
    std::uint32_t ms = 0;
    for (char c : whole)
        ms = ms * 10 + std::uint32_t(c - '0');
    ms *= 1000;
    std::uint32_t scale = 100;
    for (char c : fraction) {
        ms += std::uint32_t(c - '0') * scale;
        scale /= 10;
    }
    if (ms > kMaxFadeMs)
        return std::nullopt;
    return ms;
}

ParseResult parseArguments(const std::vector<std::string>& args) {
    return Parser(args).parse();
}

}  // namespace tolvane::cli
