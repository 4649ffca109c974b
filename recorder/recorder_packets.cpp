#include "recorder/recorder_packets.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "outside/qremotesocket/wire_format.h"

namespace recorder {

std::vector<std::uint8_t> EncodeLoginReply(const LoginReplyFields& fields) {
    std::vector<std::uint8_t> out(kLoginReplySize, 0);
    wire::WriteU32(out.data() + 0, static_cast<std::uint32_t>(fields.result));
    out[4] = fields.kind;
    out[5] = fields.videoSystem;
    out[6] = fields.features;
    out[7] = fields.channels;
    wire::WriteU32(out.data() + 24, fields.sessionId);
    wire::WriteU32(out.data() + 28, fields.rights);
    return out;
}

std::vector<std::uint8_t> EncodeTimeZone(const TimeZoneRules& rules) {
    std::vector<std::uint8_t> out(kTimeZoneRecordSize, 0);
    wire::WriteU32(out.data() + 0, rules.validity);
    out[8] = rules.startMonth;
    out[9] = rules.startDay;
    out[10] = rules.startHour;
    out[11] = rules.endMonth;
    out[12] = rules.endDay;
    out[13] = rules.endHour;
    out[14] = rules.dstOn;
    out[15] = rules.dstBiasMinutes;
    wire::WriteU32(out.data() + 16, static_cast<std::uint32_t>(rules.offsetMinutes));
    out[20] = rules.startWeek;
    out[21] = rules.startWeekday;
    out[22] = rules.endWeek;
    out[23] = rules.endWeekday;
    return out;
}

std::vector<std::uint8_t> EncodeSessionReply() {
    std::vector<std::uint8_t> out(kSessionReplySize, 0);
    wire::WriteU32(out.data(), 1);
    return out;
}

std::vector<std::uint8_t> EncodeU32(std::uint32_t value) {
    std::vector<std::uint8_t> out(4, 0);
    wire::WriteU32(out.data(), value);
    return out;
}

std::vector<std::uint8_t> EncodeVideoHeader(bool keyFrame, std::uint32_t timeStampMs,
                                            std::uint8_t framesPerSecond) {
    std::vector<std::uint8_t> out(kVideoHeaderSize, 0);
    wire::WriteU32(out.data() + 4, keyFrame ? 1 : 0);
    wire::WriteU32(out.data() + 16, timeStampMs);
    out[29] = framesPerSecond;
    return out;
}

DateTime DateTimeFromEpoch(std::int64_t seconds) {
    // Days to a civil date in the proleptic Gregorian calendar, counting in
    // 400-year eras that start on 1 March so that leap days come last.
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;  // 0000-03-01 to 1970-01-01
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    DateTime t;
    t.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<int>(yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0));
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

void WriteFrameStatus(std::uint8_t* out, const ScreenState& screen, const DateTime& clock) {
    std::memset(out, 0, kFrameStatusSize);
    out[0] = static_cast<std::uint8_t>(clock.day);
    out[1] = static_cast<std::uint8_t>(clock.month);
    wire::WriteU16(out + 2, static_cast<std::uint16_t>(clock.year));
    out[5] = static_cast<std::uint8_t>(clock.second);
    out[6] = static_cast<std::uint8_t>(clock.minute);
    out[7] = static_cast<std::uint8_t>(clock.hour);
    out[8] = screen.screenMode;
    out[9] = screen.layout;
    out[10] = screen.layoutParam;
    out[11] = screen.layoutExtra;
    out[12] = screen.keyLock;
    for (int i = 0; i < ScreenState::kStatusWords; ++i) {
        wire::WriteU32(out + 20 + 4 * i, screen.channelStatus[static_cast<std::size_t>(i)]);
    }
}

std::string DefaultCameraTitle(int channel) {
    char text[16];
    std::snprintf(text, sizeof text, "CAM %02d", channel + 1);
    return text;
}

std::vector<std::uint8_t> EncodeCameraTitles(int channels,
                                             const std::map<int, std::string>& titles) {
    channels = std::max(channels, 0);
    std::vector<std::uint8_t> out(kCameraTitleRecordSize * static_cast<std::size_t>(channels), 0);
    for (int ch = 0; ch < channels; ++ch) {
        std::uint8_t* record = out.data() + kCameraTitleRecordSize * static_cast<std::size_t>(ch);
        wire::WriteU32(record, static_cast<std::uint32_t>(ch));
        const auto it = titles.find(ch);
        const std::string title = it != titles.end() ? it->second : DefaultCameraTitle(ch);
        std::memcpy(record + 4, title.data(), std::min(title.size(), kCameraTitleMaxLength));
    }
    return out;
}

namespace {

std::string ReadTextField(const std::uint8_t* payload, std::size_t length, std::size_t offset,
                          std::size_t field) {
    std::string text;
    for (std::size_t i = offset; i < offset + field && i < length; ++i) {
        if (payload[i] == 0) {
            break;
        }
        text.push_back(static_cast<char>(payload[i]));
    }
    return text;
}

}  // namespace

LoginCredentials DecodeLoginRequest(const std::uint8_t* payload, std::size_t length) {
    LoginCredentials c;
    if (payload == nullptr) {
        return c;
    }
    c.user = ReadTextField(payload, length, kLoginUserOffset, kLoginUserField);
    c.password = ReadTextField(payload, length, kLoginPasswordOffset, kLoginPasswordField);
    return c;
}

std::string RouteName(std::uint8_t route) {
    switch (route) {
        case wire::kRouteCommand:
            return "command";
        case wire::kRouteStream:
            return "stream";
        case wire::kRouteControl:
            return "control";
        default:
            return std::to_string(route);
    }
}

std::string FormatPacketLogLine(int clientId, std::uint8_t route, std::uint16_t type,
                                const std::uint8_t* payload, std::size_t length) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string line = "client=" + std::to_string(clientId) + " route=" + RouteName(route) +
                       " type=" + std::to_string(type) + " len=" + std::to_string(length) +
                       " payload=";
    line.reserve(line.size() + 2 * length);
    for (std::size_t i = 0; i < length; ++i) {
        line.push_back(kHex[payload[i] >> 4]);
        line.push_back(kHex[payload[i] & 0x0f]);
    }
    return line;
}

}  // namespace recorder
