#include "recorder/recorder_packets.h"

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
