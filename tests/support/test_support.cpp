#include "support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace fs = std::filesystem;

namespace tolvane::test {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/tt-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

int openFilesIn(const std::filesystem::path& folder) {
    int count = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
        if (!error && target.rfind(folder.string() + "/", 0) == 0)
            ++count;
    }
    return count;
}

CommandResult run(const std::vector<std::string>& argv, const std::string& input) {
    CommandResult result;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        return result;
    }
    std::size_t written = 0;
    if (input.empty()) {
        close(in[1]);
        in[1] = -1;
    }
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
    int open = 2;
    while (open > 0) {
        const int nfds = in[1] >= 0 ? 3 : 2;
        if (poll(fds, nfds, -1) < 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? result.output : result.errors)
                    .append(buffer, static_cast<std::size_t>(n));
            }
        }
        if (in[1] >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = write(in[1], input.data() + written, input.size() - written);
            if (n > 0)
                written += static_cast<std::size_t>(n);
            if (n <= 0 || written == input.size()) {
                close(in[1]);
                in[1] = -1;
                fds[2].fd = -1;
            }
        }
    }
    if (in[1] >= 0)
        close(in[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool haveTool(const std::string& name) {
    return run({"sh", "-c", "command -v " + name + " >/dev/null"}).status == 0;
}

fs::path buildDir() {
    return TOLVANE_BUILD_DIR;
}
fs::path binDir() {
    return buildDir() / "bin";
}
fs::path appDir() {
    return buildDir() / "lib" / "tolvane";
}
fs::path libexecDir() {
    return buildDir() / "libexec" / "tolvane";
}
fs::path testdataDir() {
    return TOLVANE_TESTDATA_DIR;
}

bool makeTone(const std::string& path, int rate, int channels, int bits, double seconds,
              const std::string& synth, double gainDb) {
    // Rate and channels as options of the null input, so the tone is made at that rate rather
    // than made at sox's default rate and resampled.
    std::vector<std::string> argv = {"sox",
                                     "-D",
                                     "-r",
                                     std::to_string(rate),
                                     "-c",
                                     std::to_string(channels),
                                     "-n",
                                     "-b",
                                     std::to_string(bits)};
    if (bits == 8) {
        argv.push_back("-e");
        argv.push_back("unsigned-integer");
    }
    argv.push_back(path);
    argv.push_back("synth");
    argv.push_back(std::to_string(seconds));
    std::size_t start = 0;
    while (start < synth.size()) {
        auto space = synth.find(' ', start);
        if (space == std::string::npos)
            space = synth.size();
        if (space > start)
            argv.push_back(synth.substr(start, space - start));
        start = space + 1;
    }
    argv.push_back("gain");
    argv.push_back(std::to_string(gainDb));
    return run(argv).status == 0;
}

std::vector<std::uint8_t> wavBytes(int rate, int channels, int bits,
                                   const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> out;
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto put16 = [&](std::uint16_t v) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    auto tag = [&](const char* t) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<std::uint8_t>(t[i]));
    };
    const std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
    tag("RIFF");
    put32(static_cast<std::uint32_t>(4 + 8 + 16 + 8 + data.size() + (data.size() & 1)));
    tag("WAVE");
    tag("fmt ");
    put32(16);
    put16(1);
    put16(static_cast<std::uint16_t>(channels));
    put32(static_cast<std::uint32_t>(rate));
    put32(static_cast<std::uint32_t>(rate) * align);
    put16(align);
    put16(static_cast<std::uint16_t>(bits));
    tag("data");
    put32(static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    if (data.size() & 1)
        out.push_back(0);
    return out;
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::vector<std::int16_t> decodeWithFfmpeg(const std::string& path, int rate, int channels) {
    std::vector<std::string> argv = {
        "ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-ac", std::to_string(channels)};
    if (rate > 0) {
        argv.push_back("-ar");
        argv.push_back(std::to_string(rate));
    }
    argv.push_back("-");
    const CommandResult r = run(argv);
    std::vector<std::int16_t> samples(r.output.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            static_cast<std::int16_t>(static_cast<std::uint8_t>(r.output[2 * i]) |
                                      (static_cast<std::uint8_t>(r.output[2 * i + 1]) << 8));
    return samples;
}

std::string probe(const std::string& path, const std::string& field) {
    const CommandResult r =
        run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries", "stream=" + field,
             "-of", "default=noprint_wrappers=1:nokey=1", path});
    std::string value = r.output;
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.pop_back();
    return value;
}

}  // namespace tolvane::test
