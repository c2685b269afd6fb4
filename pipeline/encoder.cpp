#include "pipeline/encoder.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "pipeline/app_exception.h"

namespace fs = std::filesystem;

namespace tolvane {
namespace {

// The two process-wide flags of the already-converted question: set once, never reset.
bool questionAsked = false;
bool skipAll = false;
ConvertedQuestion* asker = nullptr;

// Reports true when the existing ringtone is to be kept (skip).
bool skipExisting(const std::string& ringtonePath) {
    if (!questionAsked) {
        const ConvertedAnswer answer =
            asker != nullptr ? asker->askAlreadyConverted(ringtonePath) : ConvertedAnswer::SkipAll;
        questionAsked = true;
        skipAll = answer != ConvertedAnswer::ReconvertAll;
    }
    return skipAll;
}

void createMissingFolders(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return;
    std::error_code ec;
    // Creating from the outermost missing folder; a failure shows when the file is created.
    fs::create_directories(path.substr(0, slash), ec);
}

}  // namespace

const char* const kAlreadyConvertedText =
    "The file seems to be already converted to ringtone. If this is a result \n"
    "of a previous cancelled conversion, it's a good idea to skip files that already were \n"
    "converted.\n";

void setConvertedQuestion(ConvertedQuestion* a) {
    asker = a;
}

void resetConvertedQuestionForTesting() {
    questionAsked = false;
    skipAll = false;
}

void prepareTarget(const std::string& path) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec))) {
        if (skipExisting(path))
            throw FileSkipped();
        // Reconvert: make the old ringtone writable again and remove it.
        ::chmod(path.c_str(), 0644);
        fs::remove(path, ec);
    }
    createMissingFolders(path);
}

}  // namespace tolvane
