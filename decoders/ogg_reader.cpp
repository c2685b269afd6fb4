// Placeholder until the ogg reader exists: the extension is known, but no decoder is built.
#include "decoders/readers.h"
#include "pipeline/app_exception.h"

namespace tolvane {

std::unique_ptr<CReader> makeOggReader(const std::string&) {
    throw ReaderException("no decoder available");
}
int oggDuration(const std::string&) { return 0; }

}  // namespace tolvane
