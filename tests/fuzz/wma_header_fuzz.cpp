// libFuzzer target: opening a WMA file through the runtime (the ASF header, its streams, the
// "Duration" attribute, the output format) and reading it the way the pipeline does.
#include "decoders/wma_reader.h"
#include "fuzz_input_file.h"
#include "pipeline/app_exception.h"
#include "plugins/wmvcore/wmvcore.h"

extern "C" wmv::HRESULT WMCreateSyncReader(wmv::IUnknown*, std::uint32_t, wmv::IWMSyncReader**);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInputFile file(data, size);
    try {
        tolvane::CWmaReader reader(file.path(), WMCreateSyncReader);
        exerciseReader(reader);
    } catch (const tolvane::ReaderException&) {
    }
    return 0;
}
