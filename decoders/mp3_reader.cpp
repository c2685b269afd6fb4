// Placeholder until the mp3 reader exists: the extension is known, but no decoder is built.
#include "decoders/readers.h"
#include "pipeline/app_exception.h"

namespace tolvane {

std::unique_ptr<CReader> makeMp3Reader(const std::string&) {
    throw ReaderException("no decoder available");
}
int mp3Duration(const std::string&) { return 0; }

}  // namespace tolvane
