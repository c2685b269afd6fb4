// Placeholder until the mmf encoder exists.
#include "encoders/encoders.h"
#include "pipeline/app_exception.h"

namespace tolvane {

std::unique_ptr<CEncoder> makeMmfEncoder(const std::string&) {
    throw EncoderException("encoder not available");
}

}  // namespace tolvane
