// The makers of the ringtone encoders, one per row of the format table (ringtone_formats.h).
// Each encoder's constructor begins with prepareTarget; createEncoder sets the input format
// afterwards.
#pragma once

#include <memory>
#include <string>

#include "pipeline/encoder.h"

namespace tolvane {

std::unique_ptr<CEncoder> makeWaveEncoder(const std::string& path);
// 48 kbit/s and 96 kbit/s.
std::unique_ptr<CEncoder> makeMediumMp3Encoder(const std::string& path);
std::unique_ptr<CEncoder> makeHighMp3Encoder(const std::string& path);
std::unique_ptr<CEncoder> makeMmfEncoder(const std::string& path);
std::unique_ptr<CEncoder> makeAmrEncoder(const std::string& path);
std::unique_ptr<CEncoder> makeQcpEncoder(const std::string& path);
// iPhones refuse ringtones longer than this; the M4R encoder cuts there and fades out.
inline constexpr int kIphoneRingtoneSeconds = 30;
// iPhone ringtone: AAC in MPEG-4, 44100 Hz, cut to kIphoneRingtoneSeconds.
std::unique_ptr<CEncoder> makeM4rEncoder(const std::string& path);
// Android ringtone: Ogg Vorbis at quality 4.
std::unique_ptr<CEncoder> makeOggEncoder(const std::string& path);

}  // namespace tolvane
