#include "pipeline/worker.h"

#include <sys/stat.h>
#include <unistd.h>

#include <limits>
#include <new>
#include <optional>
#include <set>
#include <vector>

#include "pipeline/app_exception.h"
#include "pipeline/encoder.h"
#include "pipeline/fade.h"
#include "pipeline/normalizer.h"
#include "pipeline/read_ahead.h"
#include "pipeline/reader.h"
#include "pipeline/replaying_reader.h"
#include "pipeline/settings.h"
#include "pipeline/source_bounds.h"
#include "platform/paths.h"

namespace tolvane {

RunState::~RunState() {
    for (const std::string& path : TemporaryFiles)
        ::unlink(path.c_str());
}

void RunState::addError(std::string_view text) {
    ErrorText += text;
    ErrorText += "\r\n";
}

std::vector<std::string> RunState::errorLines() const {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < ErrorText.size()) {
        const auto end = ErrorText.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(ErrorText.substr(start));
            break;
        }
        lines.push_back(ErrorText.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

PasswordExchange& passwordExchange() {
    static PasswordExchange exchange;
    return exchange;
}

namespace {

// Identifies the file at a path, so that a failed conversion removes only a ringtone it wrote
// itself and never one that was there before (a kept ringtone of an earlier run).
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};

    static std::optional<FileIdentity> of(const std::string& path) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            return std::nullopt;
        return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    }
    bool operator==(const FileIdentity& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
    }
};

// Sets a bar only when its figure changes: the analysis reports every 10 ms.
class Bar {
public:
    explicit Bar(void (ProgressView::*set)(int)) : set_(set) {}
    void show(ProgressView& view, int percent) {
        if (percent == last_)
            return;
        last_ = percent;
        (view.*set_)(percent);
    }

private:
    void (ProgressView::*set_)(int);
    int last_ = -1;
};

constexpr const char* kSameFileMessage = "the ringtone would replace its own source";
constexpr const char* kSameNameMessage = "already made from another file in this run";
constexpr const char* kBrokenSourceMessage = "broken file";

// How many one-second reads a conversion makes at most. A marked part takes its length. A whole
// source takes its stated length and the partial second after it: a header that understates the
// audio behind it (a FLAC or WMA header saying one second in front of hours of frames) must not
// make a ringtone longer than the source is said to be. A source of unknown length (0) is read
// to its end.
std::int64_t readsFor(const FileEntry& entry, std::int64_t partLength, std::int64_t length) {
    if (entry.partMarked)
        return partLength;
    return length > 0 ? length + 1 : std::numeric_limits<std::int64_t>::max();
}

FadeLengths fadesOf(const Settings& settings) {
    return {settings.fadeInMs(), settings.fadeOutMs()};
}

enum class FileOutcome { Produced, Cancelled, Failed, Skipped, FatalFailure };

class Conversion {
public:
    Conversion(const Job& job, RunState& state, ProgressView& view)
        : job_(job), state_(state), view_(view) {}

    // Converts every file of the list in order, until cancel or a failure that ends the run.
    void convertAll();

private:
    bool prepare();
    // Converts one entry; false when a failure ends the run.
    bool convertEntry(FileEntry& entry);
    FileOutcome convertProtected(FileEntry& entry, const std::string& ringtone, std::int64_t& n);
    // Everything that may fail for one file; true when the ringtone counts as produced.
    bool convert(FileEntry& entry, const std::string& ringtone, std::int64_t& n);
    // Measures the level of the source (or its part) into `entry` and returns the source to
    // convert from, positioned at its start: the PCM the analysis decoded, read back. Null when
    // cancelled.
    std::unique_ptr<CReader> analyse(FileEntry& entry, std::int64_t partLength);
    // The level analysis proper: reads `reader` (the part, or what the format keeps of it).
    void measure(FileEntry& entry, std::int64_t partLength, CReader& reader);
    // Copies `source` (the source or its part), normalised, into the ringtone; `n` counts the
    // seconds copied. False when cancelled.
    bool copy(const FileEntry& entry, std::unique_ptr<CReader> source, const std::string& ringtone,
              std::int64_t partLength, std::int64_t& n);
    // Where the fade stage ends the stream, in seconds after the start (none: the source's end).
    std::optional<std::int64_t> fadedSeconds(const FileEntry& entry, std::int64_t partLength,
                                             std::int64_t sourceLength) const;
    std::unique_ptr<CReader> openSource(const FileEntry& entry) const;
    // The one-second reads the conversion of `entry` makes at most from `reader`.
    std::int64_t conversionReads(const FileEntry& entry, std::int64_t partLength,
                                 CReader& reader) const;
    // `source` wrapped so that what the analysis reads is kept for the conversion.
    std::unique_ptr<CReplayingReader> keeping(std::unique_ptr<CReader> source,
                                              std::int64_t reads) const;
    std::unique_ptr<CEncoder> makeEncoder(const CReader& reader, const std::string& ringtone) const;

    bool cancelled() const { return state_.cancelRequested.load(); }
    void showFile(std::int64_t position, std::int64_t length) {
        fileBar_.show(view_, percentOf(position, length));
    }
    void showOverall(std::int64_t seconds) { overallBar_.show(view_, percentOf(seconds, total_)); }

    const Job& job_;
    RunState& state_;
    ProgressView& view_;
    std::string folder_;
    int format_ = 0;
    std::string extension_;
    // The longest ringtone the format makes, in seconds (0: the whole part).
    std::int64_t keptLimit_ = 0;
    std::int64_t total_ = 0;
    std::int64_t done_ = 0;
    // Ringtones made by this run: two sources with the same name must not overwrite each other.
    std::set<std::string> madeThisRun_;
    Bar fileBar_{&ProgressView::setFileProgress};
    Bar overallBar_{&ProgressView::setOverallProgress};
};

bool Conversion::prepare() {
    const Settings& settings = job_.settings;
    try {
        format_ = settings.format();
        extension_ = job_.codecs.ringtoneExtension(format_);
        if (job_.codecs.maximumSeconds)
            keptLimit_ = job_.codecs.maximumSeconds(format_);
    } catch (const std::logic_error& e) {
        // An unknown format index would fail every file the same way: one line, no loop.
        state_.addError(e.what());
        return false;
    }
    folder_ = outputFolderFor(settings.save(), settings.folder());
    if (folder_.empty()) {
        state_.addError(kLineNoFolder);
        return false;
    }
    total_ = totalWorkSeconds(job_.files);
    return true;
}

void Conversion::convertAll() {
    if (!prepare())
        return;
    for (FileEntry& entry : job_.files.entries()) {
        if (cancelled())
            break;
        if (!convertEntry(entry))
            break;
    }
    if (!cancelled() && job_.settings.send() != 0)
        state_.conversionDone = 1;
}

bool Conversion::convertEntry(FileEntry& entry) {
    fileBar_.show(view_, 0);
    showOverall(done_);
    view_.setFileName(platform::fileNameOf(entry.path));
    const std::string ringtone = ringtonePathFor(folder_, entry.path, extension_);

    const auto before = FileIdentity::of(ringtone);
    std::int64_t n = 0;
    const FileOutcome outcome = convertProtected(entry, ringtone, n);

    if (outcome == FileOutcome::Produced) {
        madeThisRun_.insert(ringtone);
        state_.ProducedFiles.push_back(ringtone);
        if (job_.settings.save() == 0)
            state_.TemporaryFiles.push_back(ringtone);
    } else if (outcome != FileOutcome::Skipped) {
        // Remove what this conversion wrote; a ringtone that was there before stays.
        const auto after = FileIdentity::of(ringtone);
        if (after && !(before && *before == *after))
            ::unlink(ringtone.c_str());
    }
    done_ += n;
    return outcome != FileOutcome::FatalFailure && outcome != FileOutcome::Cancelled;
}

FileOutcome Conversion::convertProtected(FileEntry& entry, const std::string& ringtone,
                                         std::int64_t& n) {
    try {
        return convert(entry, ringtone, n) ? FileOutcome::Produced : FileOutcome::Cancelled;
    } catch (const ReaderException& e) {
        state_.addError(platform::fileNameOf(entry.path) + ": " + e.message() + ".");
    } catch (const FileSkipped& e) {
        state_.addError(platform::fileNameOf(ringtone) + ": " + e.message() + ".");
        return FileOutcome::Skipped;
    } catch (const EncoderException& e) {
        state_.addError(platform::fileNameOf(ringtone) + ": " + e.message() + ".");
    } catch (const std::logic_error& e) {
        state_.addError(e.what());
    } catch (const std::bad_alloc&) {
        state_.addError(kLineOutOfMemory);
        return FileOutcome::FatalFailure;
    } catch (...) {
        state_.addError(kLineUnhandled);
        return FileOutcome::FatalFailure;
    }
    return FileOutcome::Failed;
}

std::unique_ptr<CReader> Conversion::openSource(const FileEntry& entry) const {
    const int start = entry.partMarked ? static_cast<int>(entry.partStart) : 0;
    return job_.codecs.openReader(entry.path, start);
}

std::unique_ptr<CEncoder> Conversion::makeEncoder(const CReader& reader,
                                                  const std::string& ringtone) const {
    const PcmFormat source = PcmFormat::pcm(static_cast<unsigned>(reader.channels()),
                                            static_cast<unsigned>(reader.sampleRate()),
                                            static_cast<unsigned>(reader.bitsPerSample()));
    auto encoder = job_.codecs.createEncoder(format_, source, ringtone);
    if (encoder)
        encoder->setCancelFlag(&state_.cancelRequested);
    return encoder;
}

bool Conversion::convert(FileEntry& entry, const std::string& ringtone, std::int64_t& n) {
    // A WAV ringtone written beside its WAV source would replace the source itself.
    const auto source = FileIdentity::of(entry.path);
    const auto target = FileIdentity::of(ringtone);
    if (source && target && source->device == target->device && source->inode == target->inode)
        throw EncoderException(kSameFileMessage);
    // "Reconvert All" is about ringtones of earlier runs, never one this run has just made.
    if (madeThisRun_.count(ringtone) != 0)
        throw EncoderException(kSameNameMessage);

    const std::int64_t partLength = entry.partMarked ? effectivePartLength(entry) : 0;
    auto decoded = analyse(entry, partLength);
    if (!decoded)
        return false;
    return copy(entry, std::move(decoded), ringtone, partLength, n);
}

std::optional<std::int64_t> Conversion::fadedSeconds(const FileEntry& entry,
                                                     std::int64_t partLength,
                                                     std::int64_t sourceLength) const {
    std::optional<std::int64_t> seconds;
    if (entry.partMarked)
        seconds = partLength;
    // A format that keeps only its first seconds cuts the ringtone there: a fade-out placed at
    // the end of the part would never be heard, so the stream ends (faded) where the cut is.
    const bool cut = keptLimit_ > 0 && seconds.value_or(sourceLength) >= keptLimit_;
    if (cut && job_.settings.fadeOutMs() > 0)
        seconds = keptLimit_;
    return seconds;
}

std::int64_t Conversion::conversionReads(const FileEntry& entry, std::int64_t partLength,
                                         CReader& reader) const {
    const std::int64_t reads = readsFor(entry, partLength, reader.length());
    // A format that keeps only its first seconds is fed one second beyond them, so that its
    // encoder knows the source goes on (and fades out); the rest is not read.
    return keptLimit_ > 0 ? std::min(reads, keptLimit_ + 1) : reads;
}

std::unique_ptr<CReplayingReader> Conversion::keeping(std::unique_ptr<CReader> source,
                                                      std::int64_t reads) const {
    const std::uint64_t second =
        std::uint64_t(source->sampleRate()) * source->channels() * (source->bitsPerSample() / 8);
    // What the conversion can use and no more: a header that understates the audio behind it
    // must not make the store hold hours the ringtone never takes.
    const std::uint64_t keep = second == 0 || std::uint64_t(reads) > UINT64_MAX / second
                                   ? UINT64_MAX
                                   : std::uint64_t(reads) * second;
    const PcmKeeping& policy = job_.keeping;
    auto store = std::make_unique<PcmStore>(policy.memoryLimit, policy.spillFolder.empty()
                                                                    ? platform::temporaryFolder()
                                                                    : policy.spillFolder);
    return std::make_unique<CReplayingReader>(std::move(source), std::move(store), keep);
}

std::unique_ptr<CReader> Conversion::analyse(FileEntry& entry, std::int64_t partLength) {
    std::unique_ptr<CReader> reader = openSource(entry);
    // A decoding reader's output is kept for the conversion; a WAV file is simply read again.
    CReplayingReader* kept = nullptr;
    if (!reader->cheapToReadAgain()) {
        const std::int64_t reads = conversionReads(entry, partLength, *reader);
        auto replaying = keeping(std::move(reader), reads);
        kept = replaying.get();
        reader = std::move(replaying);
    }
    view_.setStatus(kStatusAnalyzing);
    measure(entry, partLength, *reader);
    if (cancelled())
        return nullptr;
    if (kept != nullptr && kept->replayable()) {
        kept->replay();
        return reader;
    }
    // Decoded PCM that could not be kept (no room for the spill file) is decoded again.
    reader.reset();
    return openSource(entry);
}

void Conversion::measure(FileEntry& entry, std::int64_t partLength, CReader& reader) {
    const std::int64_t partStart = entry.partMarked ? entry.partStart : 0;
    // The analysis reads exactly the part; a length that is not positive reads one second.
    FileEntry measured = entry;
    if (entry.partMarked)
        measured.partLength = static_cast<std::uint32_t>(partLength);
    // A format that keeps only the start of a long part (the iPhone's 30 seconds) is measured on
    // what it keeps.
    const std::int64_t whole = entry.partMarked ? partLength : reader.length();
    if (keptLimit_ > 0 && whole > keptLimit_) {
        measured.partMarked = true;
        measured.partStart = static_cast<std::uint32_t>(partStart);
        measured.partLength = static_cast<std::uint32_t>(keptLimit_);
    }
    const std::int64_t measuredLength = measured.partMarked ? measured.partLength : whole;
    analyseLevel(reader, measured, &state_.cancelRequested,
                 [&] { showFile(reader.tell() - partStart, measuredLength); });
    entry.levelRms = measured.levelRms;
    entry.levelPeak = measured.levelPeak;
    entry.peakHigh = measured.peakHigh;
    entry.peakLow = measured.peakLow;
}

bool Conversion::copy(const FileEntry& entry, std::unique_ptr<CReader> source,
                      const std::string& ringtone, std::int64_t partLength, std::int64_t& n) {
    auto reader = wrapWithNormalizer(std::move(source), entry, kTargetLevel / entry.levelRms);
    // (The limit is worked out before the reader is handed over.)
    const std::optional<std::int64_t> faded = fadedSeconds(entry, partLength, reader->length());
    const std::optional<std::int64_t> limitFrames =
        faded ? std::optional(*faded * reader->sampleRate()) : std::nullopt;
    reader = wrapWithFades(std::move(reader), fadesOf(job_.settings), limitFrames);
    view_.setStatus(kStatusConverting);

    // The one-second buffer is sized by the source's format, so never by one no reader delivers.
    requireDeliverableFormat(*reader);
    const std::int64_t second =
        std::int64_t(reader->sampleRate()) * reader->channels() * reader->bitsPerSample() / 8;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(second));
    std::int64_t fileLength = entry.partMarked ? partLength : reader->length();
    if (keptLimit_ > 0)
        fileLength = std::min(fileLength, keptLimit_ + 1);
    const std::int64_t reads = conversionReads(entry, partLength, *reader);

    // A source that delivers no sample at all is broken, whatever its header says: it is refused
    // before the encoder makes a file, so no empty ringtone is ever made.
    std::size_t delivered = reader->read(buffer.data(), buffer.size());
    if (delivered == 0)
        throw ReaderException(kBrokenSourceMessage);

    auto encoder = makeEncoder(*reader, ringtone);
    {
        // The rest of the reads run on a thread of their own while this one encodes.
        ReadAhead ahead(*reader, buffer.size(), reads - 1);
        const std::uint8_t* data = buffer.data();
        for (;;) {
            if (delivered > 0)
                encoder->write(data, delivered);
            ++n;
            showFile(n, fileLength);
            showOverall(done_ + n);
            if (n >= reads || delivered == 0 || cancelled())
                break;
            data = ahead.next(delivered);
        }
    }

    encoder->finish();
    encoder.reset();
    reader.reset();
    return !cancelled();
}

// The sending phase's failures, each as one fixed or quoted line.
void sendProtected(const Job& job, RunState& state, ProgressView& view) {
    view.setStatus(kStatusSending);
    if (job.sending == nullptr) {
        state.addError(kLineNoSending);
        view.postMessage(kMsgWorkFinished);
        return;
    }
    try {
        if (job.sending->send(state, job.settings, view) == SendOutcome::PasswordNeeded) {
            view.postMessage(kMsgPasswordNeeded);
            return;
        }
    } catch (const MailServerError&) {
        state.addError(kLineSmtpError);
    } catch (const NetworkFailure&) {
        state.addError(kLineNetworkFailure);
    } catch (const AppException& e) {
        state.addError(e.message());
    } catch (const std::logic_error& e) {
        state.addError(e.what());
    } catch (const std::bad_alloc&) {
        state.addError(kLineOutOfMemory);
    } catch (...) {
        state.addError(kLineUnhandled);
    }
    view.postMessage(kMsgWorkFinished);
}

}  // namespace

void runConversion(const Job& job, RunState& state, ProgressView& view) {
    state.ErrorText.clear();
    try {
        if (state.conversionDone == 0) {
            Conversion conversion(job, state, view);
            conversion.convertAll();
        }
    } catch (const std::bad_alloc&) {
        state.addError(kLineOutOfMemory);
    } catch (...) {
        state.addError(kLineUnhandled);
    }
    if (state.cancelRequested.load()) {
        state.addError(kLineCancelled);
        view.postMessage(kMsgWorkFinished);
        return;
    }
    if (state.conversionDone == 0) {
        view.postMessage(kMsgWorkFinished);
        return;
    }
    sendProtected(job, state, view);
}

void ConversionThread::start(const Job& job, RunState& state, ProgressView& view) {
    join();
    thread_ = std::thread([job, &state, &view] { runConversion(job, state, view); });
}

void ConversionThread::join() {
    if (thread_.joinable())
        thread_.join();
}

}  // namespace tolvane
