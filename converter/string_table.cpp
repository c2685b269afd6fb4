#include "converter/string_table.h"

#include <cstdlib>
#include <string_view>

namespace kessin {
namespace {

struct Entry {
    int id;
    const char* english;
    const char* japanese;
};

constexpr Entry kStrings[] = {
    {kMsgCannotOpen, "Cannot open WAV/AIFF file", "WAV/AIFFファイルを開けません"},
    {kMsgBadExtension, "Extension is not .wav/.aif", "拡張子が.wav/.aifではありません"},
    {kMsgUnsupportedFormat, "Audio format not supported", "非対応のオーディオフォーマットです"},
    {kMsgCannotSave, "Cannot save SMAF file", "SMAFファイルを保存できません"},
    {kMsgSizePrefix, "SMAF File Size : ", "SMAFファイルサイズ : "},
    {kMsgNameTooLong, "Filename length exceeds limit", "ファイル名が長すぎます"},
    {kMsgShortPlaytime, "Inadequate playtime", "再生時間が短すぎます"},
    {kMsgDiskFull, "Disk space not enough", "ディスク容量が足りません"},
    {kMsgUnsupportedRate, "Sampling Frequency not supported", "非対応のサンプリング周波数です"},
    {kMsgUnsupportedBits, "Bits per sample not supported", "非対応の量子化ビット数です"},
    {kMsgUnsupportedChannels, "Channel count not supported", "非対応のチャンネル数です"},
};

}  // namespace

bool japaneseLocale() {
    // The first of these that is set decides, as for the C library's message catalogues.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return std::string_view(value).starts_with("ja");
    }
    return false;
}

std::string loadString(int id) {
    const bool japanese = japaneseLocale();
    for (const Entry& e : kStrings)
        if (e.id == id)
            return japanese ? e.japanese : e.english;
    return {};
}

}  // namespace kessin
