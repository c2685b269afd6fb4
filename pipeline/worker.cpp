#include "pipeline/worker.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "pipeline/app_exception.h"
#include "pipeline/encoder.h"
#include "pipeline/fade.h"
#include "pipeline/normalizer.h"
#include "pipeline/parallel_progress.h"
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

// What the run fixes before its first file: where the ringtones go and in which format.
struct RunPlan {
    std::string folder;
    int format = 0;
    std::string extension;
    // The longest ringtone the format makes, in seconds (0: the whole part).
    std::int64_t keptLimit = 0;
    std::int64_t total = 0;
};

// One file's share of the run, kept apart so that files converted at the same time report in
// the list's order.
struct FileResult {
    bool started = false;
    bool finished = false;
    FileOutcome outcome = FileOutcome::Failed;
    std::string ringtone;
    std::string errorText;  // its error lines, each ending in "\r\n"
};

// Converts one file of the run into its ringtone.
class Conversion {
public:
    // `madeBefore`: an earlier file of this run made the same ringtone.
    Conversion(const Job& job, const RunPlan& plan, RunState& state, FileProgressView& view,
               FileResult& result, bool madeBefore)
        : job_(job),
          state_(state),
          view_(view),
          result_(result),
          format_(plan.format),
          keptLimit_(plan.keptLimit) {
        if (madeBefore)
            madeThisRun_.insert(result.ringtone);
    }

    // Converts the entry into result.ringtone; the outcome and error lines go to the result.
    void convertEntry(FileEntry& entry);

private:
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

    void addError(std::string_view text) {
        result_.errorText += text;
        result_.errorText += "\r\n";
    }
    bool cancelled() const { return state_.cancelRequested.load(); }
    void showFile(std::int64_t position, std::int64_t length) {
        fileBar_.show(view_, percentOf(position, length));
    }
    // The overall bar counts the seconds of every file of the run: this file reports its own.
    void showOverall(std::int64_t seconds) { view_.secondsDone(seconds); }

    const Job& job_;
    RunState& state_;
    FileProgressView& view_;
    FileResult& result_;
    int format_ = 0;
    // The longest ringtone the format makes, in seconds (0: the whole part).
    std::int64_t keptLimit_ = 0;
    // The ringtone when an earlier file of this run made it: two sources with the same name
    // must not overwrite each other.
    std::set<std::string> madeThisRun_;
    Bar fileBar_{&ProgressView::setFileProgress};
};

// Converts the list's files, up to job.jobs of them at the same time. Files start in the
// list's order; a file whose ringtone an earlier one makes waits until that one is done, so that
// it meets that ringtone as it would one after the other. The results are reported in the
// list's order once every file is done.
class ConversionRun {
public:
    ConversionRun(const Job& job, RunState& state, ProgressView& view)
        : job_(job), state_(state), view_(view) {}

    // Converts every file of the list, until cancel or a failure that ends the run.
    void convertAll();

private:
    bool prepare();
    void planFiles();
    // One worker: converts the next file until none is left or the run ends.
    void work();
    // The index of the next file to convert, once it may start; none when the run is over.
    std::optional<std::size_t> nextFile();
    void convertFile(std::size_t index);
    void report();

    bool cancelled() const { return state_.cancelRequested.load(); }

    const Job& job_;
    RunState& state_;
    ProgressView& view_;
    RunPlan plan_;
    std::optional<ParallelProgress> progress_;

    std::mutex mutex_;
    std::condition_variable fileDone_;
    std::size_t next_ = 0;
    bool stopped_ = false;  // a failure ended the run: no further file starts
    std::vector<FileResult> results_;
    // For each file, the nearest earlier file with the same ringtone (or -1).
    std::vector<std::ptrdiff_t> sameRingtoneBefore_;
    // Ringtones made by this run.
    std::set<std::string> made_;
};

bool ConversionRun::prepare() {
    const Settings& settings = job_.settings;
    try {
        plan_.format = settings.format();
        plan_.extension = job_.codecs.ringtoneExtension(plan_.format);
        if (job_.codecs.maximumSeconds)
            plan_.keptLimit = job_.codecs.maximumSeconds(plan_.format);
    } catch (const std::logic_error& e) {
        // An unknown format index would fail every file the same way: one line, no loop.
        state_.addError(e.what());
        return false;
    }
    plan_.folder = outputFolderFor(settings.save(), settings.folder());
    if (plan_.folder.empty()) {
        state_.addError(kLineNoFolder);
        return false;
    }
    plan_.total = totalWorkSeconds(job_.files);
    return true;
}

void ConversionRun::planFiles() {
    const auto& entries = job_.files.entries();
    results_.resize(entries.size());
    sameRingtoneBefore_.assign(entries.size(), -1);
    std::map<std::string, std::ptrdiff_t> lastWith;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        results_[i].ringtone = ringtonePathFor(plan_.folder, entries[i].path, plan_.extension);
        auto [it, fresh] = lastWith.try_emplace(results_[i].ringtone, std::ptrdiff_t(i));
        if (!fresh) {
            sameRingtoneBefore_[i] = it->second;
            it->second = std::ptrdiff_t(i);
        }
    }
}

void ConversionRun::convertAll() {
    if (!prepare())
        return;
    planFiles();
    progress_.emplace(view_, results_.size(), plan_.total);
    const std::size_t workers =
        std::min<std::size_t>(std::clamp(job_.jobs, 1u, kMaxJobs), results_.size());
    {
        std::vector<std::jthread> helpers;
        for (std::size_t i = 1; i < workers; ++i) {
            try {
                helpers.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break;  // no more threads: the ones running take the remaining files
            }
        }
        work();
    }  // the helpers are joined here
    report();
    if (!cancelled() && job_.settings.send() != 0)
        state_.conversionDone = 1;
}

void ConversionRun::work() {
    while (const auto index = nextFile())
        convertFile(*index);
}

std::optional<std::size_t> ConversionRun::nextFile() {
    std::unique_lock lock(mutex_);
    if (stopped_ || cancelled() || next_ >= results_.size())
        return std::nullopt;
    const std::size_t index = next_++;
    const std::ptrdiff_t before = sameRingtoneBefore_[index];
    // The cancel flag is set from a signal handler, which cannot notify: look at it often.
    while (before >= 0 && !results_[std::size_t(before)].finished) {
        if (stopped_ || cancelled())
            return std::nullopt;
        fileDone_.wait_for(lock, std::chrono::milliseconds(50));
    }
    if (stopped_ || cancelled())
        return std::nullopt;
    results_[index].started = true;
    return index;
}

void ConversionRun::convertFile(std::size_t index) {
    FileResult& result = results_[index];
    bool madeBefore = false;
    {
        std::lock_guard lock(mutex_);
        madeBefore = made_.count(result.ringtone) != 0;
    }
    FileProgressView view(*progress_, index);
    try {
        Conversion(job_, plan_, state_, view, result, madeBefore)
            .convertEntry(job_.files.entries()[index]);
    } catch (const std::bad_alloc&) {
        result.errorText += std::string(kLineOutOfMemory) + "\r\n";
        result.outcome = FileOutcome::FatalFailure;
    } catch (...) {
        result.errorText += std::string(kLineUnhandled) + "\r\n";
        result.outcome = FileOutcome::FatalFailure;
    }
    {
        std::lock_guard lock(mutex_);
        result.finished = true;
        if (result.outcome == FileOutcome::Produced)
            made_.insert(result.ringtone);
        if (result.outcome == FileOutcome::FatalFailure)
            stopped_ = true;
    }
    fileDone_.notify_all();
}

void ConversionRun::report() {
    for (const FileResult& result : results_) {
        if (!result.started)
            continue;
        state_.ErrorText += result.errorText;
        if (result.outcome != FileOutcome::Produced)
            continue;
        state_.ProducedFiles.push_back(result.ringtone);
        if (job_.settings.save() == 0)
            state_.TemporaryFiles.push_back(result.ringtone);
    }
}

void Conversion::convertEntry(FileEntry& entry) {
    view_.setFileName(platform::fileNameOf(entry.path));
    const std::string& ringtone = result_.ringtone;

    const auto before = FileIdentity::of(ringtone);
    std::int64_t n = 0;
    const FileOutcome outcome = convertProtected(entry, ringtone, n);
    result_.outcome = outcome;

    if (outcome != FileOutcome::Produced && outcome != FileOutcome::Skipped) {
        // Remove what this conversion wrote; a ringtone that was there before stays.
        const auto after = FileIdentity::of(ringtone);
        if (after && !(before && *before == *after))
            ::unlink(ringtone.c_str());
    }
}

FileOutcome Conversion::convertProtected(FileEntry& entry, const std::string& ringtone,
                                         std::int64_t& n) {
    try {
        return convert(entry, ringtone, n) ? FileOutcome::Produced : FileOutcome::Cancelled;
    } catch (const ReaderException& e) {
        addError(platform::fileNameOf(entry.path) + ": " + e.message() + ".");
    } catch (const FileSkipped& e) {
        addError(platform::fileNameOf(ringtone) + ": " + e.message() + ".");
        return FileOutcome::Skipped;
    } catch (const EncoderException& e) {
        addError(platform::fileNameOf(ringtone) + ": " + e.message() + ".");
    } catch (const std::logic_error& e) {
        addError(e.what());
    } catch (const std::bad_alloc&) {
        addError(kLineOutOfMemory);
        return FileOutcome::FatalFailure;
    } catch (...) {
        addError(kLineUnhandled);
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
            showOverall(n);
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
            ConversionRun conversion(job, state, view);
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

unsigned processorJobs() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxJobs);
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
