// Shared test helpers: temporary folders, running real tools (sox, ffmpeg, ffprobe), fixtures
// made at test time, and the paths of the build tree.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tolvane::test {

// A fresh folder removed (with its contents) when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

struct CommandResult {
    int status = -1;     // exit status, -1 when it could not run or was killed
    std::string output;  // standard output
    std::string errors;  // standard error
};

// Runs argv[0] with arguments (no shell), capturing both outputs.
CommandResult run(const std::vector<std::string>& argv, const std::string& input = {});

// The lines of a program's output, without their line ends (a last line without one counts).
std::vector<std::string> lines(const std::string& text);

// How many files this process holds open in `folder` (a file without a name shows in /proc as
// "<folder>/#n (deleted)", so it counts too).
int openFilesIn(const std::filesystem::path& folder);

// True when the tool is on PATH.
bool haveTool(const std::string& name);

// Folders of the build tree.
std::filesystem::path buildDir();
std::filesystem::path binDir();       // build/bin
std::filesystem::path appDir();       // build/lib/tolvane
std::filesystem::path libexecDir();   // build/libexec/tolvane
std::filesystem::path testdataDir();  // ../shared/testdata (may be absent)

// Writes a WAV with sox's synth: e.g. makeTone(path, 44100, 2, 16, 3.0, "sine 440").
// Returns false when sox failed.
bool makeTone(const std::string& path, int rate, int channels, int bits, double seconds,
              const std::string& synth = "sine 440", double gainDb = -6.0);

// A PCM WAV written byte by byte (for shapes sox will not make).
std::vector<std::uint8_t> wavBytes(int rate, int channels, int bits,
                                   const std::vector<std::uint8_t>& data);
void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readFile(const std::string& path);

// 16-bit samples decoded by ffmpeg (mono, at `rate`, or the file's own rate when 0).
std::vector<std::int16_t> decodeWithFfmpeg(const std::string& path, int rate = 0, int channels = 1);

// One field of ffprobe's first audio stream (e.g. "sample_rate", "channels", "codec_name").
std::string probe(const std::string& path, const std::string& field);

}  // namespace tolvane::test
