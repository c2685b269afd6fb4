// Makers and duration probes of the compressed-format readers: the rows of the source-type
// table (source_types.cpp).
#pragma once

#include <memory>
#include <string>

#include "pipeline/reader.h"

namespace tolvane {

std::unique_ptr<CReader> makeMp3Reader(const std::string& path);
int mp3Duration(const std::string& path);

std::unique_ptr<CReader> makeWmaReader(const std::string& path);
int wmaDuration(const std::string& path);

std::unique_ptr<CReader> makeOggReader(const std::string& path);
int oggDuration(const std::string& path);

std::unique_ptr<CReader> makeApeReader(const std::string& path);
int apeDuration(const std::string& path);

std::unique_ptr<CReader> makeFlacReader(const std::string& path);
int flacDuration(const std::string& path);

}  // namespace tolvane
