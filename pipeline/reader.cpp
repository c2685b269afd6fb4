#include "pipeline/reader.h"

#include <algorithm>
#include <cctype>

namespace tolvane {
namespace {

// The one-shot start position: set by a StartPositionGuard, taken by the next reader
// constructor on the same thread. One per thread, because files converting at the same time, the
// waveform's two scanning readers and the preview player open readers on their own threads; a
// reader constructor always runs on the thread that set the position.
struct StartPosition {
    bool set = false;
    int second = 0;
};
thread_local StartPosition startPosition;

}  // namespace

bool hasExtension(std::string_view path, std::string_view ext) {
    if (path.size() < ext.size())
        return false;
    return std::equal(ext.begin(), ext.end(), path.end() - static_cast<long>(ext.size()),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

bool takeStartPosition(int& second) {
    if (!startPosition.set)
        return false;
    startPosition.set = false;
    second = startPosition.second;
    return true;
}

StartPositionGuard::StartPositionGuard(int second) {
    startPosition = {true, second};
}

StartPositionGuard::~StartPositionGuard() {
    startPosition.set = false;
}

}  // namespace tolvane
