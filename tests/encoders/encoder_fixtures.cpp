#include "encoder_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "support/test_support.h"

namespace tolvane::test {

std::vector<std::uint8_t> synthPcm(int rate, int channels, const std::string& length,
                                   const std::string& synth) {
    // The rate and channels belong to the synth's own (null) input, so that a length in samples
    // counts samples of `rate` and sox does not resample.
    std::vector<std::string> argv = {"sox",
                                     "-D",
                                     "-r",
                                     std::to_string(rate),
                                     "-c",
                                     std::to_string(channels),
                                     "-n",
                                     "-b",
                                     "16",
                                     "-e",
                                     "signed-integer",
                                     "-t",
                                     "raw",
                                     "-",
                                     "synth",
                                     length};
    std::size_t start = 0;
    while (start < synth.size()) {
        auto space = synth.find(' ', start);
        if (space == std::string::npos)
            space = synth.size();
        if (space > start)
            argv.push_back(synth.substr(start, space - start));
        start = space + 1;
    }
    argv.insert(argv.end(), {"gain", "-6"});
    const CommandResult r = run(argv);
    EXPECT_EQ(r.status, 0) << r.errors;
    return {r.output.begin(), r.output.end()};
}

std::vector<std::uint8_t> pcmOfFile(const std::string& path, int rate, int channels) {
    const CommandResult r =
        run({"sox", "-D", path, "-r", std::to_string(rate), "-c", std::to_string(channels), "-b",
             "16", "-e", "signed-integer", "-t", "raw", "-"});
    EXPECT_EQ(r.status, 0) << r.errors;
    return {r.output.begin(), r.output.end()};
}

std::vector<std::int16_t> samplesOf(const std::vector<std::uint8_t>& pcm) {
    std::vector<std::int16_t> samples(pcm.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8);
    return samples;
}

std::map<std::string, std::string> streamInfo(const std::string& path) {
    const CommandResult r =
        run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
             "stream=codec_name,sample_rate,channels,bit_rate,duration", "-of",
             "default=noprint_wrappers=1", path});
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start < r.output.size()) {
        std::size_t end = r.output.find('\n', start);
        if (end == std::string::npos)
            end = r.output.size();
        const std::string line = r.output.substr(start, end - start);
        if (const auto eq = line.find('='); eq != std::string::npos)
            fields[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    return fields;
}

void encodeAll(CEncoder& encoder, const std::vector<std::uint8_t>& pcm, std::size_t piece) {
    for (std::size_t at = 0; at < pcm.size(); at += piece) {
        encoder.write(pcm.data() + at, std::min(piece, pcm.size() - at));
    }
    encoder.finish();
}

double bestCorrelation(const std::vector<std::int16_t>& source,
                       const std::vector<std::int16_t>& decoded, std::size_t maxLag) {
    double best = 0;
    for (std::size_t lag = 0; lag <= maxLag && lag < decoded.size(); ++lag) {
        // A window of the signal is enough to tell a match from a mismatch, and keeps it fast.
        const std::size_t n = std::min({source.size(), decoded.size() - lag, std::size_t{16384}});
        double sd = 0, ss = 0, dd = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double s = source[i], d = decoded[i + lag];
            sd += s * d;
            ss += s * s;
            dd += d * d;
        }
        if (ss > 0 && dd > 0)
            best = std::max(best, sd / std::sqrt(ss * dd));
    }
    return best;
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    // Past the limit a write fails with EFBIG; the signal that comes with it would end the test.
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
}

}  // namespace tolvane::test
