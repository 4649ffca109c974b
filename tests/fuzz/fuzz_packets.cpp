// libFuzzer target: every parser of a received packet on arbitrary payloads
// of arbitrary length. Each must refuse what is too short and never read past
// the payload (the sanitizers watch the reads).

#include <cstdint>
#include <cstring>
#include <vector>

#include "protocol/packets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that any read past the end is caught.
    std::vector<std::uint8_t> payload(data, data + size);
    const std::uint8_t* p = payload.empty() ? nullptr : payload.data();
    packets::LoginReply login;
    packets::RecordRange range;
    packets::EventSearchHeader search;
    packets::VideoHeader video;
    packets::AudioHeader audio;
    packets::StreamSettings stream;
    packets::AudioSettings sound;
    packets::TimeZoneRules zone;
    std::uint32_t value = 0;
    packets::ParseLoginReply(p, size, &login);
    packets::ParseU32(p, size, &value);
    packets::ParseRecordRange(p, size, &range);
    packets::ParseEventSearchHeader(p, size, &search);
    packets::ParseVideoHeader(p, size, &video);
    packets::ParseAudioHeader(p, size, &audio);
    packets::ParseStreamSettings(p, size, &stream);
    packets::ParseAudioSettingsReply(p, size, &sound);
    packets::ParseTimeZone(p, size, &zone);
    if (size > 0) {
        const std::size_t titles = packets::CameraTitleRecordCount(data[0], size);
        if (titles * packets::kCameraTitleRecordSize > size) __builtin_trap();
    }
    return 0;
}
