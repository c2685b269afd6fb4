// Placeholder until the amr encoder exists.
#include "encoders/encoders.h"
#include "pipeline/app_exception.h"

namespace tolvane {

std::unique_ptr<CEncoder> makeAmrEncoder(const std::string&) {
    throw EncoderException("encoder not available");
}

}  // namespace tolvane
