// Every packet the client sends, byte for byte, and the parsers' length rules.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "protocol/packets.h"

using namespace packets;

namespace {

std::string Hex(const Packet& p) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (std::uint32_t i = 0; i < p.length; ++i) {
        s += digits[p.bytes[i] >> 4];
        s += digits[p.bytes[i] & 15];
    }
    return s;
}

std::string Zeros(int bytes) { return std::string(static_cast<std::size_t>(bytes) * 2, '0'); }

struct Case {
    const char* name;
    Packet packet;
    std::uint16_t type;
    std::string hex;
};

}  // namespace

TEST(Packets, EveryClientPacketIsByteExact) {
    PackedDateTime march{1, 3, 2008, 30, 20, 10};
    PackedDateTime yearEight{1, 3, 8, 30, 20, 10};
    StreamSettings ss;
    ss.quality = 2;
    ss.presetSecond = 0x11223344;
    ss.frameRate = 4;
    ss.presetFourth = 7;
    ss.preset = 3;
    AudioSettings as;
    as.direction = 1;
    as.micEnabled = 1;
    as.soundEnabled = 0;
    as.talkChannel = 3;

    const std::string login = "61646d696e" + Zeros(123) + "31323334" + Zeros(128) + "04000000" +
                              Zeros(8);
    const Case cases[] = {
        {"login", EncodeLogin("admin", "1234"), PT_LOGIN, login},
        {"play at 1 March 2008 10:20:30", EncodePlayAt(march), PT_PLAY_AT,
         "00000000" "0103d807001e140a" "0202" "0000"},
        {"play at, year 8 goes out as 2008", EncodePlayAt(yearEight), PT_PLAY_AT,
         "00000000" "0103d807001e140a" "0202" "0000"},
        {"record range", EncodeRecordRange(), PT_RECORD_RANGE, ""},
        {"ptz", EncodePtz(2, 0), PT_PTZ, "02000000" "00000000" "01000000" "05000000"},
        {"ptz release", EncodePtz(2, 22), PT_PTZ, "02000000" "16000000" "01000000" "05000000"},
        {"event search May 2008", EncodeEventSearchMonth(2008, 5), PT_EVENT_SEARCH,
         "00000000" "00000000" "0005d80700000000"},
        {"record list", EncodeRecordListRequest(), PT_EVENT_SEARCH,
         "00000000" "01000000" + Zeros(8)},
        {"remote key (1, 9)", EncodeRemoteKey(1, 9), PT_REMOTE_KEY, "02000000" "0109" + Zeros(78)},
        {"session", EncodeSession(0xA1B2C3D4), PT_SESSION, "d4c3b2a1" + Zeros(28)},
        {"time zone ack", EncodeTimeZoneAck(), PT_TIME_ZONE_ACK, "01000000" "00000000"},
        {"logout", EncodeLogout(), PT_LOGOUT, "00000000"},
        {"stream settings read", EncodeStreamSettingsRequest(), PT_STREAM_SETTINGS, ""},
        {"stream settings write", EncodeStreamSettingsSet(ss), PT_STREAM_SETTINGS_SET,
         "02000000" "44332211" "04000000" "07000000" "00000000" "03000000" + Zeros(8)},
        {"talk request", EncodeTalkRequest(), PT_TALK_REQUEST, ""},
        {"talk reply", EncodeTalkReply(7), PT_TALK_REPLY, "07000000"},
        {"talk stop", EncodeTalkStop(7), PT_TALK_STOP, "07000000"},
        {"audio header", EncodeAudioHeader(800), PT_AUDIO, "01000000" "20030000" + Zeros(8)},
        {"talk state", EncodeTalkState(2), PT_TALK_STATE, "02000000"},
        {"talk end", EncodeTalkEnd(), PT_TALK_END, ""},
        {"time zone request", EncodeTimeZoneRequest(), PT_TIME_ZONE, ""},
        {"audio settings", EncodeAudioSettings(as), PT_AUDIO_SETTINGS,
         "01000000" "01000000" "01000000" "00000000" "03000000" + Zeros(12)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.packet.type, c.type);
        EXPECT_EQ(Hex(c.packet), c.hex);
        EXPECT_EQ(c.packet.data() == nullptr, c.packet.length == 0);
    }
}

TEST(Packets, LoginTextsAreCutToTheirFields) {
    const std::string longUser(200, 'u');
    const std::string longPassword(200, 'p');
    Packet p = EncodeLogin(longUser.c_str(), longPassword.c_str());
    EXPECT_EQ(p.bytes[126], 'u');
    EXPECT_EQ(p.bytes[127], 0);  // always NUL-terminated
    EXPECT_EQ(p.bytes[128], 'p');
    EXPECT_EQ(p.bytes[258], 'p');
    EXPECT_EQ(p.bytes[259], 0);
    EXPECT_EQ(p.bytes[260], 4);
}

TEST(Packets, ParsersRefuseShortPayloads) {
    std::vector<std::uint8_t> big(64, 0);
    const std::uint8_t* p = big.data();
    LoginReply lr;
    RecordRange rr;
    EventSearchHeader eh;
    VideoHeader vh;
    AudioHeader ah;
    StreamSettings ss;
    TimeZoneRules tz;
    std::uint32_t u = 0;
    struct Limit {
        const char* name;
        std::size_t needed;
        std::function<bool(std::size_t)> parse;
    };
    const Limit limits[] = {
        {"login reply", 32, [&](std::size_t n) { return ParseLoginReply(p, n, &lr); }},
        {"u32", 4, [&](std::size_t n) { return ParseU32(p, n, &u); }},
        {"record range", 32, [&](std::size_t n) { return ParseRecordRange(p, n, &rr); }},
        {"event search", 12, [&](std::size_t n) { return ParseEventSearchHeader(p, n, &eh); }},
        {"video", 32, [&](std::size_t n) { return ParseVideoHeader(p, n, &vh); }},
        {"audio", 16, [&](std::size_t n) { return ParseAudioHeader(p, n, &ah); }},
        {"stream settings", 24, [&](std::size_t n) { return ParseStreamSettings(p, n, &ss); }},
        {"time zone", 24, [&](std::size_t n) { return ParseTimeZone(p, n, &tz); }},
    };
    for (const Limit& l : limits) {
        SCOPED_TRACE(l.name);
        EXPECT_FALSE(l.parse(0));
        EXPECT_FALSE(l.parse(l.needed - 1));
        EXPECT_TRUE(l.parse(l.needed));
    }
    EXPECT_FALSE(ParseLoginReply(nullptr, 32, &lr));
}

TEST(Packets, ReceivedFieldsComeFromTheirOffsets) {
    std::vector<std::uint8_t> reply(32, 0);
    reply[0] = 1;
    reply[4] = 3;
    reply[5] = 1;
    reply[6] = 0x81;
    reply[7] = 12;
    reply[24] = 0x78;
    reply[25] = 0x56;
    reply[28] = 6;
    LoginReply lr;
    ASSERT_TRUE(ParseLoginReply(reply.data(), reply.size(), &lr));
    EXPECT_EQ(lr.result, 1);
    EXPECT_EQ(lr.kind, 3);
    EXPECT_EQ(lr.videoSystem, 1);
    EXPECT_EQ(lr.features, 0x81);
    EXPECT_EQ(lr.channels, 12);
    EXPECT_EQ(lr.sessionId, 0x5678u);
    EXPECT_EQ(lr.rights, 6u);

    std::vector<std::uint8_t> video(32, 0);
    video[4] = 1;
    video[16] = 0x10;
    video[17] = 0x27;
    video[29] = 25;
    VideoHeader vh;
    ASSERT_TRUE(ParseVideoHeader(video.data(), video.size(), &vh));
    EXPECT_EQ(vh.keyFrame, 1u);
    EXPECT_EQ(vh.timestampMs, 10000u);
    EXPECT_EQ(vh.framesPerSecond, 25);

    const std::uint8_t tzBytes[24] = {1, 0, 0, 0, 0, 0, 0, 0, 3, 8, 2, 11, 1, 2, 1, 60,
                                      0x88, 0xFE, 0xFF, 0xFF, 2, 0, 1, 0};
    TimeZoneRules tz;
    ASSERT_TRUE(ParseTimeZone(tzBytes, sizeof tzBytes, &tz));
    EXPECT_EQ(tz.validity, 1u);
    EXPECT_EQ(tz.startMonth, 3);
    EXPECT_EQ(tz.endMonth, 11);
    EXPECT_EQ(tz.dstBiasMinutes, 60);
    EXPECT_EQ(tz.offsetMinutes, -376);
    EXPECT_EQ(tz.startWeek, 2);
    EXPECT_EQ(tz.endWeek, 1);
}

TEST(Packets, AudioSettingsReplyNeedsReadDirection) {
    std::vector<std::uint8_t> rec(32, 0);
    rec[0] = 1;
    rec[8] = 1;
    rec[16] = 2;
    AudioSettings s;
    ASSERT_TRUE(ParseAudioSettingsReply(rec.data(), rec.size(), &s));
    EXPECT_EQ(s.micEnabled, 1);
    EXPECT_EQ(s.talkChannel, 2);
    rec[4] = 1;  // a write echo
    EXPECT_FALSE(ParseAudioSettingsReply(rec.data(), rec.size(), &s));
    rec[4] = 0;
    rec[6] = 1;  // high bits of the direction are not looked at
    EXPECT_TRUE(ParseAudioSettingsReply(rec.data(), rec.size(), &s));
    rec[0] = 2;
    EXPECT_FALSE(ParseAudioSettingsReply(rec.data(), rec.size(), &s));
}

TEST(Packets, CameraTitlesNeverWalkPastTheData) {
    EXPECT_EQ(CameraTitleRecordCount(16, 16 * 32), 16u);
    EXPECT_EQ(CameraTitleRecordCount(16, 4 * 32 + 31), 4u);
    EXPECT_EQ(CameraTitleRecordCount(0, 16 * 32), 0u);
    EXPECT_EQ(CameraTitleRecordCount(4, 16 * 32), 4u);
}
