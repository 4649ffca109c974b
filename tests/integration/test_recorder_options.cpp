// The recorder program's command line, turned into a RecorderConfig.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "recorder/recorder_options.h"

namespace {

using recorder::OptionsResult;
using recorder::ParseRecorderOptions;
using recorder::RecorderConfig;

TEST(RecorderOptions, DefaultsWithoutArguments) {
    RecorderConfig cfg;
    cfg.port = 1;  // must be replaced by the default
    std::string message;
    ASSERT_EQ(ParseRecorderOptions({}, &cfg, &message), OptionsResult::kRun);
    EXPECT_EQ(cfg.listenAddress, "127.0.0.1");
    EXPECT_EQ(cfg.port, 50000);
    ASSERT_EQ(cfg.users.size(), 1u);
    EXPECT_EQ(cfg.users[0], std::make_pair(std::string("admin"), std::string("1234")));
    EXPECT_FALSE(cfg.forcedLoginResult);
    EXPECT_EQ(cfg.channels, 16);
    EXPECT_EQ(cfg.sessionId, 1u);
    EXPECT_EQ(cfg.rights, 6u);
    EXPECT_EQ(cfg.timeZone.validity, 1u);
    EXPECT_EQ(cfg.silentAfterSeconds, 0);
    EXPECT_EQ(cfg.dropAfterSeconds, 0);
    EXPECT_TRUE(cfg.packetLogPath.empty());
}

TEST(RecorderOptions, EachOptionSetsItsField) {
    struct Case {
        std::vector<std::string> args;
        std::function<void(const RecorderConfig&)> check;
    };
    const Case cases[] = {
        {{"--listen", "0.0.0.0:0"},
         [](const RecorderConfig& c) {
             EXPECT_EQ(c.listenAddress, "0.0.0.0");
             EXPECT_EQ(c.port, 0);
         }},
        {{"--listen=10.1.2.3:65535"},
         [](const RecorderConfig& c) {
             EXPECT_EQ(c.listenAddress, "10.1.2.3");
             EXPECT_EQ(c.port, 65535);
         }},
        {{"--user", "a:1", "--user", "b:x:y", "--user", "c:"},
         [](const RecorderConfig& c) {
             using P = std::pair<std::string, std::string>;
             EXPECT_EQ(c.users, (std::vector<P>{{"a", "1"}, {"b", "x:y"}, {"c", ""}}));
         }},
        {{"--login-result", "-2147483648"},
         [](const RecorderConfig& c) { EXPECT_EQ(c.forcedLoginResult, INT32_MIN); }},
        {{"--login-result", "6"},
         [](const RecorderConfig& c) { EXPECT_EQ(c.forcedLoginResult, 6); }},
        {{"--kind", "255", "--features", "0x81", "--channels", "0"},
         [](const RecorderConfig& c) {
             EXPECT_EQ(c.kind, 255);
             EXPECT_EQ(c.features, 0x81);
             EXPECT_EQ(c.channels, 0);
         }},
        {{"--video-system", "pal"}, [](const RecorderConfig& c) { EXPECT_EQ(c.videoSystem, 1); }},
        {{"--video-system", "pal", "--video-system", "ntsc"},
         [](const RecorderConfig& c) { EXPECT_EQ(c.videoSystem, 0); }},
        {{"--session-id", "4294967295", "--rights=0x4"},
         [](const RecorderConfig& c) {
             EXPECT_EQ(c.sessionId, 0xffffffffu);
             EXPECT_EQ(c.rights, 4u);
         }},
        {{"--tz-offset", "-300", "--dst-on", "1", "--dst-bias", "30"},
         [](const RecorderConfig& c) {
             EXPECT_EQ(c.timeZone.offsetMinutes, -300);
             EXPECT_EQ(c.timeZone.dstOn, 1);
             EXPECT_EQ(c.timeZone.dstBiasMinutes, 30);
         }},
        {{"--dst-start", "3:14:2:0:0", "--dst-end", "11:0:2:1:6"},
         [](const RecorderConfig& c) {
             const auto& z = c.timeZone;
             EXPECT_EQ(std::vector<int>(
                           {z.startMonth, z.startDay, z.startHour, z.startWeek, z.startWeekday}),
                       std::vector<int>({3, 14, 2, 0, 0}));
             EXPECT_EQ(std::vector<int>({z.endMonth, z.endDay, z.endHour, z.endWeek, z.endWeekday}),
                       std::vector<int>({11, 0, 2, 1, 6}));
         }},
        {{"--silent-after", "0.25", "--drop-after", "3"},
         [](const RecorderConfig& c) {
             EXPECT_DOUBLE_EQ(c.silentAfterSeconds, 0.25);
             EXPECT_DOUBLE_EQ(c.dropAfterSeconds, 3.0);
         }},
        {{"--log-packets", "/tmp/x y.log"},
         [](const RecorderConfig& c) { EXPECT_EQ(c.packetLogPath, "/tmp/x y.log"); }},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.args[0]);
        RecorderConfig cfg;
        std::string message;
        ASSERT_EQ(ParseRecorderOptions(tc.args, &cfg, &message), OptionsResult::kRun) << message;
        tc.check(cfg);
    }
}

TEST(RecorderOptions, BadArgumentsAreRefusedWithAMessage) {
    const std::vector<std::vector<std::string>> cases = {
        {"--nope"},
        {"listen"},
        {"--kind"},
        {"--kind", "256"},
        {"--kind", "-1"},
        {"--kind", "1x"},
        {"--kind", ""},
        {"--channels", "0x"},
        {"--session-id", "4294967296"},
        {"--login-result", "2147483648"},
        {"--login-result", "99999999999999999999999"},
        {"--listen", "127.0.0.1"},
        {"--listen", "127.0.0.1:65536"},
        {"--listen", "localhost:50000"},
        {"--listen", ":50000"},
        {"--user", "nopassword"},
        {"--user", ":pw"},
        {"--user", std::string(128, 'u') + ":pw"},
        {"--user", "u:" + std::string(132, 'p')},
        {"--video-system", "PAL"},
        {"--dst-on", "2"},
        {"--dst-bias", "256"},
        {"--tz-offset", "1441"},
        {"--dst-start", "3:0:2:5"},
        {"--dst-start", "0:0:2:5:0"},
        {"--dst-end", "12:32:0:0:0"},
        {"--dst-end", "12:1:24:0:0"},
        {"--dst-end", "12:1:0:6:0"},
        {"--dst-end", "12:1:0:5:7"},
        {"--silent-after", "-1"},
        {"--drop-after", "soon"},
        {"--drop-after", "inf"},
        {"--log-packets", ""},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : std::string()));
        RecorderConfig cfg;
        cfg.channels = 99;
        std::string message;
        EXPECT_EQ(ParseRecorderOptions(args, &cfg, &message), OptionsResult::kError);
        EXPECT_FALSE(message.empty());
        EXPECT_EQ(cfg.channels, 99);  // untouched on error
    }
}

TEST(RecorderOptions, HelpWinsOverTheRest) {
    RecorderConfig cfg;
    std::string message;
    EXPECT_EQ(ParseRecorderOptions({"--channels", "4", "--help"}, &cfg, &message),
              OptionsResult::kHelp);
    EXPECT_NE(recorder::RecorderUsage().find("--log-packets"), std::string::npos);
}

}  // namespace
