#include "pipeline/app_exception.h"

#include "platform/utf16.h"

namespace tolvane {

AppException::AppException(std::string_view message)
    : message_(truncateUtf16(message, kMaxMessageUnits)),
      description_(truncateUtf8Bytes(message_, kMaxMessageUnits)) {}

}  // namespace tolvane
