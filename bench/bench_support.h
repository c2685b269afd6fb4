// Shared by the benchmark programs: running a tool quietly, a music-like MP3 made once per
// temporary folder, and the process's CPU clock.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace tolvane::bench {

// Runs argv[0] from PATH with standard output and error sent to /dev/null; its exit status, or
// -1 when it could not start or did not exit.
inline int runQuietly(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A 44.1 kHz stereo MP3 of pink noise under a tone (so that the frames carry a realistic load of
// bits), `seconds` long at `kbps`, made with sox and ffmpeg the first time it is asked for and
// kept in the temporary folder for later runs.
inline std::string musicMp3(int seconds, int toneHz, int kbps) {
    const char* tmp = std::getenv("TMPDIR");
    const std::filesystem::path dir = std::filesystem::path(tmp ? tmp : "/tmp");
    const std::string stem = "tolvane-bench-" + std::to_string(seconds) + "s-" +
                             std::to_string(toneHz) + "hz-" + std::to_string(kbps) + "k";
    const std::string wav = (dir / (stem + ".wav")).string();
    const std::string mp3 = (dir / (stem + ".mp3")).string();
    if (!std::filesystem::exists(mp3)) {
        runQuietly({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth",
                    std::to_string(seconds), "pinknoise", "mix", "sine", std::to_string(toneHz),
                    "gain", "-12"});
        runQuietly({"ffmpeg", "-y", "-i", wav, "-c:a", "libmp3lame", "-b:a",
                    std::to_string(kbps) + "k", mp3});
        std::filesystem::remove(wav);
    }
    return mp3;
}

// User and system time of every thread of this process.
inline double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

}  // namespace tolvane::bench
