#pragma once
// The recorder protocol as the client speaks it: one encoder per packet the
// client sends, one parser per packet it reads. Plain data, no I/O.
//
// Every payload is little-endian, zero-filled and of fixed length. Parsers take
// the payload length from the transport header and refuse (return false) a
// payload shorter than the fields they read; nothing is ever read past it.

#include <array>
#include <cstddef>
#include <cstdint>

namespace packets {

enum PacketType : std::uint16_t {
    PT_LOGIN = 1,
    PT_PLAY_AT = 5,
    PT_RECORD_RANGE = 8,
    PT_PTZ = 19,
    PT_EVENT_SEARCH = 20,
    PT_REMOTE_KEY = 80,
    PT_SESSION = 81,
    PT_TIME_ZONE_ACK = 82,
    PT_VIDEO = 83,
    PT_LOGOUT = 84,
    PT_HELLO = 85,
    PT_STREAM_SETTINGS = 86,
    PT_STREAM_SETTINGS_SET = 87,
    PT_TALK_REQUEST = 96,
    PT_TALK_REPLY = 97,
    PT_TALK_STOP = 98,
    PT_AUDIO = 99,
    PT_TALK_STATE = 100,
    PT_TALK_END = 101,
    PT_CAMERA_TITLES = 134,
    PT_TIME_ZONE = 135,
    PT_AUDIO_SETTINGS = 138,
};

// An outgoing packet: type and a fixed buffer large enough for the largest
// payload (the login request). No heap.
struct Packet {
    static constexpr std::size_t kMaxPayload = 272;
    std::uint16_t type = 0;
    std::uint32_t length = 0;
    std::array<std::uint8_t, kMaxPayload> bytes{};
    const std::uint8_t* data() const { return length != 0 ? bytes.data() : nullptr; }
};

// Packed date-time, always recorder time. As two uint32:
// date = year*65536 + month*256 + day, time = hour*2^24 + minute*65536 + second*256.
struct PackedDateTime {
    std::uint8_t day = 0;
    std::uint8_t month = 0;
    std::uint16_t year = 0;
    std::uint8_t second = 0;
    std::uint8_t minute = 0;
    std::uint8_t hour = 0;
};
constexpr std::size_t kPackedDateTimeSize = 8;
void WritePackedDateTime(std::uint8_t* out, const PackedDateTime& t);
PackedDateTime ReadPackedDateTime(const std::uint8_t* in);

// 32-byte stream settings record.
struct StreamSettings {
    std::int32_t quality = 0;       // 0..3
    std::int32_t presetSecond = 0;  // written, not read
    std::int32_t frameRate = 0;     // 0..4
    std::int32_t presetFourth = 0;  // written, not read
    std::int32_t preset = 0;        // 0 customised, 1..3 presets
};
constexpr std::size_t kStreamSettingsSize = 32;

// 32-byte audio settings record.
struct AudioSettings {
    std::int32_t direction = 0;  // 0 read, 1 write
    std::int32_t micEnabled = 0;
    std::int32_t soundEnabled = 0;
    std::int32_t talkChannel = 0;
};
constexpr std::size_t kAudioSettingsSize = 32;

// --- client -> recorder ------------------------------------------------------
// userAnsi and passwordAnsi are NUL-terminated code-page texts.
Packet EncodeLogin(const char* userAnsi, const char* passwordAnsi);
Packet EncodePlayAt(const PackedDateTime& start);
Packet EncodeRecordRange();
Packet EncodePtz(std::int32_t channelIndex, std::int32_t code);
Packet EncodeEventSearchMonth(std::uint16_t year, std::uint8_t month);
Packet EncodeRecordListRequest();
Packet EncodeRemoteKey(std::uint8_t group, std::uint8_t code);
Packet EncodeSession(std::uint32_t sessionId);
Packet EncodeTimeZoneAck();
Packet EncodeLogout();
Packet EncodeStreamSettingsRequest();
Packet EncodeStreamSettingsSet(const StreamSettings& s);
Packet EncodeTalkRequest();
Packet EncodeTalkReply(std::uint32_t sessionId);
Packet EncodeTalkStop(std::uint32_t sessionId);
Packet EncodeAudioHeader(std::uint32_t dataLength);
Packet EncodeTalkState(std::uint32_t state);
Packet EncodeTalkEnd();
Packet EncodeTimeZoneRequest();
Packet EncodeAudioSettings(const AudioSettings& s);

// --- recorder -> client ------------------------------------------------------
constexpr std::size_t kLoginReplySize = 32;
struct LoginReply {
    std::int32_t result = 0;
    std::uint8_t kind = 0;
    std::uint8_t videoSystem = 0;
    std::uint8_t features = 0;
    std::uint8_t channels = 0;
    std::uint32_t sessionId = 0;
    std::uint32_t rights = 0;
    std::array<std::uint8_t, kLoginReplySize> raw{};
};
bool ParseLoginReply(const std::uint8_t* p, std::size_t len, LoginReply* out);

// A single uint32 at offset 0: PT_HELLO, PT_SESSION, PT_TALK_REPLY, PT_TALK_STATE.
bool ParseU32(const std::uint8_t* p, std::size_t len, std::uint32_t* out);

constexpr std::size_t kRecordRangeSize = 32;
struct RecordRange {
    PackedDateTime begin;  // offset 8
    PackedDateTime end;    // offset 16
    std::array<std::uint8_t, kRecordRangeSize> raw{};
};
bool ParseRecordRange(const std::uint8_t* p, std::size_t len, RecordRange* out);

struct EventSearchHeader {
    std::uint32_t count = 0;
    std::uint32_t kind = 0;   // 0 event list, 1 record list
    std::uint32_t total = 0;  // 0 = use count
};
bool ParseEventSearchHeader(const std::uint8_t* p, std::size_t len, EventSearchHeader* out);

constexpr std::size_t kVideoHeaderSize = 32;
struct VideoHeader {
    std::uint32_t keyFrame = 0;     // 1 = key frame
    std::uint32_t timestampMs = 0;
    std::uint8_t framesPerSecond = 0;
    std::array<std::uint8_t, kVideoHeaderSize> raw{};
};
bool ParseVideoHeader(const std::uint8_t* p, std::size_t len, VideoHeader* out);

constexpr std::size_t kAudioHeaderSize = 16;
struct AudioHeader {
    std::uint32_t timestampMs = 0;  // offset 8
    std::array<std::uint8_t, kAudioHeaderSize> raw{};
};
bool ParseAudioHeader(const std::uint8_t* p, std::size_t len, AudioHeader* out);

bool ParseStreamSettings(const std::uint8_t* p, std::size_t len, StreamSettings* out);

// Only valid when offset 0 is 1 and the low 16 bits of offset 4 are 0.
bool ParseAudioSettingsReply(const std::uint8_t* p, std::size_t len, AudioSettings* out);

constexpr std::size_t kTimeZoneSize = 24;
struct TimeZoneRules {
    std::uint32_t validity = 0;
    std::uint8_t startMonth = 0, startDay = 0, startHour = 0;
    std::uint8_t endMonth = 0, endDay = 0, endHour = 0;
    std::uint8_t dstOn = 0;
    std::uint8_t dstBiasMinutes = 0;
    std::int32_t offsetMinutes = 0;
    std::uint8_t startWeek = 0, startWeekday = 0, endWeek = 0, endWeekday = 0;
};
bool ParseTimeZone(const std::uint8_t* p, std::size_t len, TimeZoneRules* out);

// One 32-byte camera title record: uint32 channel value, 28 bytes of text.
constexpr std::size_t kCameraTitleRecordSize = 32;
constexpr std::size_t kCameraTitleTextSize = 28;
// Records that both the channel count and the data hold.
std::size_t CameraTitleRecordCount(std::uint8_t channels, std::size_t dataLength);

}  // namespace packets
