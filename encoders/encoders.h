// Makers of the ringtone encoders other than WAV, used by createEncoder. Each constructor begins
// with prepareTarget; the factory sets the input format afterwards.
#pragma once

#include <memory>
#include <string>

#include "pipeline/encoder.h"

namespace tolvane {

// Quality 1: 48 kbit/s, quality 2: 96 kbit/s.
std::unique_ptr<CEncoder> makeMp3Encoder(const std::string& path, int quality);
std::unique_ptr<CEncoder> makeMmfEncoder(const std::string& path);
std::unique_ptr<CEncoder> makeAmrEncoder(const std::string& path);
std::unique_ptr<CEncoder> makeQcpEncoder(const std::string& path);
// iPhone ringtone: AAC in MPEG-4, 44100 Hz, cut to 30 seconds.
std::unique_ptr<CEncoder> makeM4rEncoder(const std::string& path);
// Android ringtone: Ogg Vorbis at quality 4.
std::unique_ptr<CEncoder> makeOggEncoder(const std::string& path);

}  // namespace tolvane
