// The temporary WAV file that the SMAF and QCP encoders collect their PCM in before a converter
// turns it into the ringtone. It lies alone in a private folder of its own (prefix + 4 hex
// digits, mode 0700) in the temporary folder: it can then carry any name (the SMAF converter
// titles its file with the WAV's base name, so the WAV is named after the song), and nobody can
// slip a file or a link in beside it. The folder goes, with everything in it, when the object
// goes.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

namespace tolvane {

// The error of an encoder that finds every temporary name of `prefix` taken.
std::string noFreeTemporaryName(std::string_view prefix);

class TemporaryWav {
public:
    static constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

    // Makes the private folder and names the WAV `baseName` + ".wav" in it, shortened (on a
    // character boundary) so that the path takes at most `maxPathBytes` bytes; an empty base
    // name becomes the folder's own name. The file itself is not created. EncoderException
    // noFreeTemporaryName(prefix) when every folder name is taken, "cannot create file" when the
    // folder cannot be made for another reason.
    TemporaryWav(std::string_view prefix, std::string_view baseName,
                 std::size_t maxPathBytes = kUnlimited);
    ~TemporaryWav();
    TemporaryWav(const TemporaryWav&) = delete;
    TemporaryWav& operator=(const TemporaryWav&) = delete;

    const std::string& path() const { return path_; }
    const std::string& folder() const { return folder_; }
    // The WAV's path with another extension ("mmf": where the SMAF converter writes).
    std::string sibling(std::string_view extension) const;
    // Removes the folder and everything in it (the WAV, a converter's output); idempotent.
    void remove();

private:
    std::string folder_;
    std::string path_;
};

}  // namespace tolvane
