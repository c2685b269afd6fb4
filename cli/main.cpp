// tolvane-convert: converts music files into ringtones with the wizard's own worker, for scripts
// and machines without a display. See cli/options.h for the command line.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/phone_selection.h"
#include "cli/options.h"
#include "cli/sending.h"
#include "cli/terminal_progress.h"
#include "decoders/source_types.h"
#include "delivery/carriers.h"
#include "delivery/sending_phase.h"
#include "encoders/mmf_encoder.h"
#include "encoders/ringtone_formats.h"
#include "pipeline/encoder.h"
#include "pipeline/settings.h"
#include "pipeline/worker.h"

namespace fs = std::filesystem;
using namespace tolvane;
using namespace tolvane::cli;

namespace {

// Ctrl-C, termination requests and a closed terminal (SIGHUP) cancel the run; the worker polls
// the flag, and the run ends as a cancelled one: the temporary WAV, a converter's output and the
// converter copy are removed on the way out. A lock-free atomic store is safe in a signal
// handler.
std::atomic<bool>* cancelFlag = nullptr;

extern "C" void onInterrupt(int) {
    if (cancelFlag != nullptr)
        cancelFlag->store(true);
}

void installCancelHandlers(std::atomic<bool>& flag) {
    cancelFlag = &flag;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    // A closed standard output (| head) shows as a failed write, not as a killed program.
    std::signal(SIGPIPE, SIG_IGN);
}

// The already-converted question: answered by the options, asked on a terminal, else "Skip All".
class CommandLineQuestion : public ConvertedQuestion {
public:
    CommandLineQuestion(ExistingAnswer preset, TerminalProgress& progress)
        : preset_(preset), progress_(progress) {}

    ConvertedAnswer askAlreadyConverted(const std::string& ringtonePath) override {
        if (preset_ == ExistingAnswer::SkipAll)
            return ConvertedAnswer::SkipAll;
        if (preset_ == ExistingAnswer::ReconvertAll)
            return ConvertedAnswer::ReconvertAll;
        if (!isatty(STDIN_FILENO))
            return ConvertedAnswer::SkipAll;
        progress_.clear();
        std::fprintf(stderr, "%s\n", ringtonePath.c_str());
        std::fputs(kAlreadyConvertedText, stderr);
        for (;;) {
            std::fputs("[S]kip all or [R]econvert all? ", stderr);
            std::string reply;
            if (!std::getline(std::cin, reply))
                return ConvertedAnswer::SkipAll;
            if (reply == "s" || reply == "S" || reply == "skip")
                return ConvertedAnswer::SkipAll;
            if (reply == "r" || reply == "R" || reply == "reconvert")
                return ConvertedAnswer::ReconvertAll;
        }
    }

private:
    ExistingAnswer preset_;
    TerminalProgress& progress_;
};

// A job entry as the Files page makes one: full path, type, duration and size.
FileEntry entryFor(const SourceArgument& source) {
    FileEntry entry;
    std::error_code ec;
    const fs::path absolute = fs::absolute(source.path, ec);
    entry.path = ec ? source.path : absolute.lexically_normal().string();
    try {
        entry.fileType = fileTypeOf(entry.path);
    } catch (const std::exception&) {
        entry.fileType = 0;  // the worker reports the unknown type as the file's error line
    }
    try {
        entry.duration = durationOf(entry.path);
    } catch (const std::exception&) {
        // Unknown length (a file that cannot be opened, a decoder that cannot be loaded): the
        // conversion opens the file again and reports why as the file's error line.
        entry.duration = 0;
    }
    struct stat st {};
    if (::stat(entry.path.c_str(), &st) == 0)
        entry.size = static_cast<std::uint64_t>(st.st_size);
    entry.partMarked = source.partMarked;
    entry.partStart = source.partStart;
    entry.partLength = source.partLength;
    return entry;
}

// A part typed on the command line may start where the file has no audio left; converting it
// would give an empty ringtone. The Files page cannot mark such a part: it marks while playing.
// A file whose length is unknown (0) is left to the conversion, which reports it.
std::optional<std::string> partOutsideFile(const FileEntry& entry, const SourceArgument& source) {
    if (!entry.partMarked || entry.duration <= 0 || entry.partStart < std::uint32_t(entry.duration))
        return std::nullopt;
    return "the part " + std::to_string(entry.partStart) + "+" + std::to_string(entry.partLength) +
           " starts after the end of '" + source.path + "' (" + std::to_string(entry.duration) +
           " s long)";
}

// The stored settings as a copy for this run only: the wizard's stored choices never change.
Settings runSettings(const Options& options) {
    Settings settings;
    settings.load();
    settings.setPersistence(Settings::Persistence::AccountOnly);
    if (options.format)
        settings.setFormat(*options.format);
    if (options.phone) {
        // Throws PhoneNotFound for a phone the Format page would not list.
        const catalogue::PhoneSelection phone =
            catalogue::selectPhone(*options.phone, static_cast<std::uint32_t>(settings.format()));
        if (phone.values.format)
            settings.setFormat(*phone.values.format);
    }
    if (options.fadeInMs)
        settings.setFadeInMs(*options.fadeInMs);
    if (options.fadeOutMs)
        settings.setFadeOutMs(*options.fadeOutMs);
    if (options.folder) {
        std::error_code ec;
        const fs::path absolute = fs::absolute(*options.folder, ec);
        settings.setFolder(ec ? *options.folder : absolute.lexically_normal().string());
    }
    if (options.sending) {
        // Sent ringtones are stored as well only when a folder is named; otherwise they are made
        // in the temporary folder and removed when the run ends.
        const SendOptions& send = *options.sending;
        settings.setSave(options.folder ? 1 : 0);
        settings.setSend(1);
        settings.setCarrier(std::int32_t(send.carrier));
        settings.setDelivery(send.delivery);
        settings.setPhoneNumber(send.phoneNumber);
        settings.setEmail(send.email);
    } else {
        settings.setSave(1);
        settings.setSend(0);
    }
    return settings;
}

int listFormats() {
    for (const RingtoneFormatRow& format : kRingtoneFormats)
        std::printf("%d %s\n", static_cast<int>(format.index), std::string(format.name).c_str());
    return kExitClean;
}

int listCarriers() {
    for (const delivery::Carrier* carrier : delivery::carriersSortedByName())
        std::printf("%u %s\n", carrier->id, carrier->name);
    return kExitClean;
}

// Runs the job; when the service refuses the upload password, asks for it on the terminal and
// sends again without converting again. Without a terminal the refusal is the run's error line.
void runWithPasswordRetry(const Job& job, RunState& state, TerminalProgress& progress) {
    runConversion(job, state, progress);
    while (progress.lastMessage() == kMsgPasswordNeeded) {
        progress.clear();
        const auto password = askPasswordOnTerminal(job.settings.accountNumber());
        if (!password) {
            state.addError(delivery::kWrongPassword);
            return;
        }
        passwordExchange().password = *password;
        runConversion(job, state, progress);
    }
}

int convert(const Options& options) {
    if (options.sending) {
        if (const auto refusal = checkSendOptions(*options.sending)) {
            std::fprintf(stderr, "%s\n", refusal->c_str());
            return kExitUsage;
        }
        if (options.sending->password)
            passwordExchange().password = *options.sending->password;
    }
    Settings settings;
    try {
        settings = runSettings(options);
    } catch (const catalogue::PhoneNotFound& error) {
        std::fprintf(stderr, "tolvane-convert: %s\nTry 'tolvane-convert --list-phones'.\n",
                     error.what());
        return kExitUsage;
    }
    FileList files;
    for (const SourceArgument& source : options.sources) {
        FileEntry entry = entryFor(source);
        if (const auto refusal = partOutsideFile(entry, source)) {
            std::fprintf(stderr, "tolvane-convert: %s\n", refusal->c_str());
            return kExitUsage;
        }
        files.add(std::move(entry));
    }

    // Converter copies of earlier runs that were killed before they could remove them.
    CMMFEncoder::removeLeftoverConverterCopies();

    RunState state;
    TerminalProgress progress(stderr, isatty(STDERR_FILENO) != 0);
    CommandLineQuestion question(options.existing, progress);
    setConvertedQuestion(&question);
    installCancelHandlers(state.cancelRequested);

    delivery::DeliverySendingPhase delivery;
    RecordingSendingPhase sending(delivery);
    const Job job{files, settings,
                  Codecs{openReaderFrom, ringtoneExtension, createEncoder, ringtoneMaximumSeconds},
                  options.sending ? &sending : nullptr};
    runWithPasswordRetry(job, state, progress);

    setConvertedQuestion(nullptr);
    progress.clear();
    // Ringtones sent from the temporary folder are gone with the run; only stored ones are named.
    const bool sent = options.sending && !sending.given().empty();
    if (!sent || options.folder)
        for (const std::string& path : sent ? sending.given() : state.ProducedFiles)
            std::printf("%s\n", path.c_str());
    if (sent && state.ErrorText.empty() && options.sending->delivery != delivery::kDeliveryMms) {
        std::fprintf(stderr, "Open %s on your phone and enter your personal code: %s\n",
                     settings.skyletUrl().c_str(), settings.accountNumber().c_str());
        printPickUpAddress(stderr, isatty(STDOUT_FILENO) ? stdout : nullptr, settings.skyletUrl(),
                           settings.accountNumber());
    }
    std::fflush(stdout);
    for (const std::string& line : state.errorLines())
        std::fprintf(stderr, "%s\n", line.c_str());
    return state.ErrorText.empty() ? kExitClean : kExitErrors;
}

}  // namespace

int main(int argc, char** argv) {
    const ParseResult parsed = parseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok()) {
        std::fprintf(stderr, "tolvane-convert: %s\nTry 'tolvane-convert --help'.\n",
                     parsed.error.c_str());
        return kExitUsage;
    }
    switch (parsed.options.action) {
        case Action::Help:
            std::fputs(kUsageText, stdout);
            return kExitClean;
        case Action::ListFormats:
            return listFormats();
        case Action::ListCarriers:
            return listCarriers();
        case Action::ListPhones:
            catalogue::listPhones(std::cout);
            return std::cout.flush() ? kExitClean : kExitErrors;
        case Action::Convert:
            break;
    }
    return convert(parsed.options);
}
