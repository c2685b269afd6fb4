// Placeholder until the wma reader exists: the extension is known, but no decoder is built.
#include "decoders/readers.h"
#include "pipeline/app_exception.h"

namespace tolvane {

std::unique_ptr<CReader> makeWmaReader(const std::string&) {
    throw ReaderException("no decoder available");
}
int wmaDuration(const std::string&) { return 0; }

}  // namespace tolvane
