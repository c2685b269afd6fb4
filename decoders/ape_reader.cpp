// Placeholder until the ape reader exists: the extension is known, but no decoder is built.
#include "decoders/readers.h"
#include "pipeline/app_exception.h"

namespace tolvane {

std::unique_ptr<CReader> makeApeReader(const std::string&) {
    throw ReaderException("no decoder available");
}
int apeDuration(const std::string&) { return 0; }

}  // namespace tolvane
