#include "player/output.h"

#include <cstring>

namespace tolvane::sound {

void output_i_base::write(const void* data, std::size_t bytes, const ds_format& format) {
    chunk_.resize(bytes);
    if (bytes > 0)
        std::memcpy(chunk_.data(), data, bytes);
    handed_ = 0;
    chunkFormat_ = format;
}

}  // namespace tolvane::sound
