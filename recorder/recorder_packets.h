#pragma once
// Packet types and the fixed payloads of the recorder's side of the login
// conversation. Pure functions, no sockets: the server and the tests both use
// them. All integers little-endian, every payload zero-filled.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace recorder {

// Packet type numbers, one name per number for both directions.
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

// Login request (client -> recorder): user ID NUL-terminated in bytes 0..127,
// password NUL-terminated in bytes 128..259, then int32 4 and 8 zero bytes.
constexpr std::size_t kLoginRequestSize = 272;
constexpr std::size_t kLoginUserOffset = 0;
constexpr std::size_t kLoginUserField = 128;
constexpr std::size_t kLoginPasswordOffset = 128;
constexpr std::size_t kLoginPasswordField = 132;

constexpr std::size_t kLoginReplySize = 32;
constexpr std::size_t kSessionReplySize = 32;
constexpr std::size_t kTimeZoneRecordSize = 24;

// Login results the client knows; any other int32 is a plain failure to it.
constexpr std::int32_t kLoginOk = 1;
constexpr std::int32_t kLoginBadCredentials = 2;

// The recorder's time-zone and daylight-saving rules as PT_TIME_ZONE carries
// them. A week of 0 means the fixed date month/day; 1..5 the n-th weekday of
// the month, 5 the last one; weekday 0 is Sunday. The defaults are a plain zone
// at UTC with the European rules present but switched off.
struct TimeZoneRules {
    std::uint32_t validity = 1;      // the client takes the record only when 1
    std::int32_t offsetMinutes = 0;  // local time minus UTC
    std::uint8_t dstOn = 0;          // non-zero: daylight saving in force
    std::uint8_t dstBiasMinutes = 60;
    std::uint8_t startMonth = 3;  // last Sunday of March, 01:00
    std::uint8_t startDay = 0;
    std::uint8_t startHour = 1;
    std::uint8_t startWeek = 5;
    std::uint8_t startWeekday = 0;
    std::uint8_t endMonth = 10;  // last Sunday of October, 02:00
    std::uint8_t endDay = 0;
    std::uint8_t endHour = 2;
    std::uint8_t endWeek = 5;
    std::uint8_t endWeekday = 0;
};

// What the recorder says about itself in the login reply.
struct LoginReplyFields {
    std::int32_t result = kLoginOk;
    std::uint8_t kind = 0;
    std::uint8_t videoSystem = 0;  // 0 NTSC, otherwise PAL
    std::uint8_t features = 0;
    std::uint8_t channels = 16;
    std::uint32_t sessionId = 1;
    std::uint32_t rights = 6;  // 4 remote control, 2 search
};

// 32 bytes: 0 int32 result; 4 kind; 5 video system; 6 features; 7 channels;
// 8..23 zero; 24 uint32 session id; 28 uint32 rights.
std::vector<std::uint8_t> EncodeLoginReply(const LoginReplyFields& fields);

// 24 bytes: 0 uint32 validity; 4..7 zero; 8 start month, day, hour; 11 end
// month, day, hour; 14 DST on; 15 DST bias minutes; 16 int32 offset
// minutes; 20 start week, start weekday, end week, end weekday.
std::vector<std::uint8_t> EncodeTimeZone(const TimeZoneRules& rules);

// 32 bytes, first uint32 1.
std::vector<std::uint8_t> EncodeSessionReply();

// 4 bytes: the uint32 value.
std::vector<std::uint8_t> EncodeU32(std::uint32_t value);

// ---------------------------------------------------------------- live video

// PT_VIDEO command header: 32 bytes; 4 uint32 key-frame flag (1/0); 16 uint32
// time stamp in ms since the stream started; 29 uint8 frames per second.
constexpr std::size_t kVideoHeaderSize = 32;
std::vector<std::uint8_t> EncodeVideoHeader(bool keyFrame, std::uint32_t timeStampMs,
                                            std::uint8_t framesPerSecond);

// The recorder's screen as the frame status header reports it. The bytes are
// sent as stored; their meaning depends on the screen mode (4 is
// picture-in-picture, 1 playback).
struct ScreenState {
    static constexpr int kStatusWords = 16;
    std::uint8_t screenMode = 0;   // 0 live
    std::uint8_t layout = 16;      // split: 1, 4, 9 or 16 cells
    std::uint8_t layoutParam = 0;  // split: first channel (0-based); PIP: main channel
    std::uint8_t layoutExtra = 0;  // PIP: inset channel; playback: speed and direction bits
    std::uint8_t keyLock = 0;      // 0 off
    std::array<std::uint32_t, kStatusWords> channelStatus{};  // bits 0x300: channel event
};

// A broken-down time of the recorder's clock.
struct DateTime {
    int year = 2000;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Seconds since 1970-01-01 00:00:00 UTC, broken down without any time zone.
DateTime DateTimeFromEpoch(std::int64_t seconds);

// The 84 bytes before the H.264 data of every video frame: 0 day, 1 month,
// 2 uint16 year, 4 zero, 5 second, 6 minute, 7 hour, 8 screen mode, 9 layout,
// 10 layout parameter, 11 layout extra, 12 key lock, 13..19 zero, 20..83 the
// sixteen uint32 channel status words.
constexpr std::size_t kFrameStatusSize = 84;
void WriteFrameStatus(std::uint8_t* out, const ScreenState& screen, const DateTime& clock);

// PT_CAMERA_TITLES stream block: one 32-byte record per channel, uint32
// channel index (0-based) then the title, NUL-padded to 28 bytes. A title is
// cut to 27 bytes so that it always ends in a NUL.
constexpr std::size_t kCameraTitleRecordSize = 32;
constexpr std::size_t kCameraTitleMaxLength = 27;
// "CAM 01" for channel 0.
std::string DefaultCameraTitle(int channel);
// `titles` by 0-based channel; channels without one get the default title.
std::vector<std::uint8_t> EncodeCameraTitles(int channels,
                                             const std::map<int, std::string>& titles);

// The user ID and password of a login request. Each field is read up to its
// first NUL or its end; bytes missing from a short payload count as zero, so a
// truncated request yields empty or shortened texts, never a read past the end.
struct LoginCredentials {
    std::string user;
    std::string password;
};
LoginCredentials DecodeLoginRequest(const std::uint8_t* payload, std::size_t length);

// "command", "stream", "control", or the route number for anything else.
std::string RouteName(std::uint8_t route);

// One line of the packet log, without the line end:
//   client=<id> route=<command|stream|control> type=<n> len=<bytes> payload=<hex>
// <id> counts connections from 1, <n> and <bytes> are decimal, <hex> is the
// whole payload in lowercase hex without separators (empty for no payload).
std::string FormatPacketLogLine(int clientId, std::uint8_t route, std::uint16_t type,
                                const std::uint8_t* payload, std::size_t length);

}  // namespace recorder
