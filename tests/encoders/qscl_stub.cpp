// A stand-in for qscl.so that fails in one chosen way (see qcp.cmake).
#include "plugins/qscl/qscl_api.h"

using namespace tolvane::qscl;

#if defined(QSCL_STUB_broken)
extern "C" __attribute__((visibility("default"))) int NotTheEntryPoint() {
    return 0;
}
#else
namespace {
class FailingConverter final : public Converter {
public:
    std::int32_t convert(const StreamDescriptor*, const InputFormat*, const StreamDescriptor*,
                         const OutputFormat*, std::int32_t, std::int32_t) override {
        return kWriteFailed;
    }
    void release() override { delete this; }
};
}  // namespace

extern "C" __attribute__((visibility("default"))) Converter* QsclCreateInstance(const Guid*,
                                                                                const Guid*) {
#if defined(QSCL_STUB_null)
    return nullptr;
#else
    return new FailingConverter;
#endif
}
#endif
