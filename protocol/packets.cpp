#include "protocol/packets.h"

#include <algorithm>
#include <cstring>

namespace packets {
namespace {

void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
std::uint16_t GetU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t GetU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

Packet Make(std::uint16_t type, std::uint32_t length) {
    Packet p;
    p.type = type;
    p.length = length;
    return p;
}

Packet MakeU32(std::uint16_t type, std::uint32_t value) {
    Packet p = Make(type, 4);
    PutU32(p.bytes.data(), value);
    return p;
}

// Copies a NUL-terminated text into a field, always leaving room for the NUL.
void PutText(std::uint8_t* field, std::size_t fieldSize, const char* text) {
    if (text == nullptr) {
        return;
    }
    const std::size_t n = strnlen(text, fieldSize - 1);
    std::memcpy(field, text, n);
}

}  // namespace

void WritePackedDateTime(std::uint8_t* out, const PackedDateTime& t) {
    out[0] = t.day;
    out[1] = t.month;
    PutU16(out + 2, t.year);
    out[4] = 0;
    out[5] = t.second;
    out[6] = t.minute;
    out[7] = t.hour;
}

PackedDateTime ReadPackedDateTime(const std::uint8_t* in) {
    PackedDateTime t;
    t.day = in[0];
    t.month = in[1];
    t.year = GetU16(in + 2);
    t.second = in[5];
    t.minute = in[6];
    t.hour = in[7];
    return t;
}

Packet EncodeLogin(const char* userAnsi, const char* passwordAnsi) {
    Packet p = Make(PT_LOGIN, 272);
    PutText(p.bytes.data(), 128, userAnsi);
    PutText(p.bytes.data() + 128, 132, passwordAnsi);
    PutU32(p.bytes.data() + 260, 4);
    return p;
}

Packet EncodePlayAt(const PackedDateTime& start) {
    Packet p = Make(PT_PLAY_AT, 16);
    PackedDateTime t = start;
    if (t.year < 2000) {
        t.year = static_cast<std::uint16_t>(t.year + 2000);
    }
    WritePackedDateTime(p.bytes.data() + 4, t);
    p.bytes[12] = 2;
    p.bytes[13] = 2;
    return p;
}

Packet EncodeRecordRange() { return Make(PT_RECORD_RANGE, 0); }

Packet EncodePtz(std::int32_t channelIndex, std::int32_t code) {
    Packet p = Make(PT_PTZ, 16);
    PutU32(p.bytes.data() + 0, static_cast<std::uint32_t>(channelIndex));
    PutU32(p.bytes.data() + 4, static_cast<std::uint32_t>(code));
    PutU32(p.bytes.data() + 8, 1);
    PutU32(p.bytes.data() + 12, 5);
    return p;
}

Packet EncodeEventSearchMonth(std::uint16_t year, std::uint8_t month) {
    Packet p = Make(PT_EVENT_SEARCH, 16);
    PackedDateTime t;
    t.month = month;
    t.year = year;
    WritePackedDateTime(p.bytes.data() + 8, t);
    return p;
}

Packet EncodeRecordListRequest() {
    Packet p = Make(PT_EVENT_SEARCH, 16);
    PutU32(p.bytes.data() + 4, 1);
    return p;
}

Packet EncodeRemoteKey(std::uint8_t group, std::uint8_t code) {
    Packet p = Make(PT_REMOTE_KEY, 84);
    PutU32(p.bytes.data(), 2);
    p.bytes[4] = group;
    p.bytes[5] = code;
    return p;
}

Packet EncodeSession(std::uint32_t sessionId) {
    Packet p = Make(PT_SESSION, 32);
    PutU32(p.bytes.data(), sessionId);
    return p;
}

Packet EncodeTimeZoneAck() {
    Packet p = Make(PT_TIME_ZONE_ACK, 8);
    PutU32(p.bytes.data(), 1);
    return p;
}

Packet EncodeLogout() { return Make(PT_LOGOUT, 4); }
Packet EncodeStreamSettingsRequest() { return Make(PT_STREAM_SETTINGS, 0); }

Packet EncodeStreamSettingsSet(const StreamSettings& s) {
    Packet p = Make(PT_STREAM_SETTINGS_SET, kStreamSettingsSize);
    std::uint8_t* b = p.bytes.data();
    PutU32(b + 0, static_cast<std::uint32_t>(s.quality));
    PutU32(b + 4, static_cast<std::uint32_t>(s.presetSecond));
    PutU32(b + 8, static_cast<std::uint32_t>(s.frameRate));
    PutU32(b + 12, static_cast<std::uint32_t>(s.presetFourth));
    PutU32(b + 20, static_cast<std::uint32_t>(s.preset));
    return p;
}

Packet EncodeTalkRequest() { return Make(PT_TALK_REQUEST, 0); }
Packet EncodeTalkReply(std::uint32_t sessionId) { return MakeU32(PT_TALK_REPLY, sessionId); }
Packet EncodeTalkStop(std::uint32_t sessionId) { return MakeU32(PT_TALK_STOP, sessionId); }

Packet EncodeAudioHeader(std::uint32_t dataLength) {
    Packet p = Make(PT_AUDIO, kAudioHeaderSize);
    PutU32(p.bytes.data(), 1);
    PutU32(p.bytes.data() + 4, dataLength);
    return p;
}

Packet EncodeTalkState(std::uint32_t state) { return MakeU32(PT_TALK_STATE, state); }
Packet EncodeTalkEnd() { return Make(PT_TALK_END, 0); }
Packet EncodeTimeZoneRequest() { return Make(PT_TIME_ZONE, 0); }

Packet EncodeAudioSettings(const AudioSettings& s) {
    Packet p = Make(PT_AUDIO_SETTINGS, kAudioSettingsSize);
    std::uint8_t* b = p.bytes.data();
    PutU32(b + 0, 1);
    PutU32(b + 4, static_cast<std::uint32_t>(s.direction));
    PutU32(b + 8, static_cast<std::uint32_t>(s.micEnabled));
    PutU32(b + 12, static_cast<std::uint32_t>(s.soundEnabled));
    PutU32(b + 16, static_cast<std::uint32_t>(s.talkChannel));
    return p;
}

bool ParseLoginReply(const std::uint8_t* p, std::size_t len, LoginReply* out) {
    if (p == nullptr || len < kLoginReplySize) {
        return false;
    }
    out->result = static_cast<std::int32_t>(GetU32(p));
    out->kind = p[4];
    out->videoSystem = p[5];
    out->features = p[6];
    out->channels = p[7];
    out->sessionId = GetU32(p + 24);
    out->rights = GetU32(p + 28);
    std::memcpy(out->raw.data(), p, kLoginReplySize);
    return true;
}

bool ParseU32(const std::uint8_t* p, std::size_t len, std::uint32_t* out) {
    if (p == nullptr || len < 4) {
        return false;
    }
    *out = GetU32(p);
    return true;
}

bool ParseRecordRange(const std::uint8_t* p, std::size_t len, RecordRange* out) {
    if (p == nullptr || len < kRecordRangeSize) {
        return false;
    }
    out->begin = ReadPackedDateTime(p + 8);
    out->end = ReadPackedDateTime(p + 16);
    std::memcpy(out->raw.data(), p, kRecordRangeSize);
    return true;
}

bool ParseEventSearchHeader(const std::uint8_t* p, std::size_t len, EventSearchHeader* out) {
    if (p == nullptr || len < 12) {
        return false;
    }
    out->count = GetU32(p);
    out->kind = GetU32(p + 4);
    out->total = GetU32(p + 8);
    return true;
}

bool ParseVideoHeader(const std::uint8_t* p, std::size_t len, VideoHeader* out) {
    if (p == nullptr || len < kVideoHeaderSize) {
        return false;
    }
    out->keyFrame = GetU32(p + 4);
    out->timestampMs = GetU32(p + 16);
    out->framesPerSecond = p[29];
    std::memcpy(out->raw.data(), p, kVideoHeaderSize);
    return true;
}

bool ParseAudioHeader(const std::uint8_t* p, std::size_t len, AudioHeader* out) {
    if (p == nullptr || len < kAudioHeaderSize) {
        return false;
    }
    out->timestampMs = GetU32(p + 8);
    std::memcpy(out->raw.data(), p, kAudioHeaderSize);
    return true;
}

bool ParseStreamSettings(const std::uint8_t* p, std::size_t len, StreamSettings* out) {
    if (p == nullptr || len < 24) {
        return false;
    }
    out->quality = static_cast<std::int32_t>(GetU32(p));
    out->frameRate = static_cast<std::int32_t>(GetU32(p + 8));
    out->preset = static_cast<std::int32_t>(GetU32(p + 20));
    return true;
}

bool ParseAudioSettingsReply(const std::uint8_t* p, std::size_t len, AudioSettings* out) {
    if (p == nullptr || len < 20) {
        return false;
    }
    if (GetU32(p) != 1 || (GetU32(p + 4) & 0xFFFF) != 0) {
        return false;
    }
    out->direction = 0;
    out->micEnabled = static_cast<std::int32_t>(GetU32(p + 8));
    out->soundEnabled = static_cast<std::int32_t>(GetU32(p + 12));
    out->talkChannel = static_cast<std::int32_t>(GetU32(p + 16));
    return true;
}

bool ParseTimeZone(const std::uint8_t* p, std::size_t len, TimeZoneRules* out) {
    if (p == nullptr || len < kTimeZoneSize) {
        return false;
    }
    out->validity = GetU32(p);
    out->startMonth = p[8];
    out->startDay = p[9];
    out->startHour = p[10];
    out->endMonth = p[11];
    out->endDay = p[12];
    out->endHour = p[13];
    out->dstOn = p[14];
    out->dstBiasMinutes = p[15];
    out->offsetMinutes = static_cast<std::int32_t>(GetU32(p + 16));
    out->startWeek = p[20];
    out->startWeekday = p[21];
    out->endWeek = p[22];
    out->endWeekday = p[23];
    return true;
}

std::size_t CameraTitleRecordCount(std::uint8_t channels, std::size_t dataLength) {
    return std::min<std::size_t>(channels, dataLength / kCameraTitleRecordSize);
}

}  // namespace packets
