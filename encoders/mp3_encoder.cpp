// Placeholder until the mp3 encoder exists.
#include "encoders/encoders.h"
#include "pipeline/app_exception.h"

namespace tolvane {

std::unique_ptr<CEncoder> makeMp3Encoder(const std::string&, int) {
    throw EncoderException("encoder not available");
}

}  // namespace tolvane
