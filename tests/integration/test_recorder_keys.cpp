// The recorder's answer to remote keys over loopback: a raw client logs in,
// sends keys as the client's key panels do (PT_REMOTE_KEY, 84 bytes: int32 2,
// group, code) and reads frames until the frame status header shows the screen
// the keys asked for. Keys from a client that is not logged in change nothing.
// The playback clock arithmetic is checked directly with times passed in.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "outside/qremotesocket/wire_format.h"
#include "recorder/key_table.h"
#include "recorder/recorder.h"
#include "tests/integration/raw_client.h"

namespace {

using raw_client::Bytes;
using raw_client::Clock;
using raw_client::RemainingMs;
using recorder::Recorder;
using recorder::RecorderConfig;

constexpr int kWaitMs = 5000;  // upper bound for anything that should be quick
constexpr std::uint16_t kVideo = 83;
constexpr std::uint16_t kRemoteKey = 80;
constexpr std::uint16_t kLogout = 84;

using Key = std::pair<std::uint8_t, std::uint8_t>;  // group, code

Bytes KeyPayload(Key key, std::size_t size = 84) {
    Bytes p(size, 0);
    if (size >= 4) {
        wire::WriteU32(p.data(), 2);
    }
    if (size >= 5) {
        p[4] = key.first;
    }
    if (size >= 6) {
        p[5] = key.second;
    }
    return p;
}

// What a test looks for in the frame status header; unset fields are not checked.
struct Expect {
    std::uint8_t mode = 0;
    std::uint8_t layout = 16;
    std::uint8_t first = 0;
    std::uint8_t extra = 0;        // byte 11
    std::uint32_t statusBits = 0;  // bits 0x100 expected on every channel word
};

bool Matches(const Bytes& status, const Expect& e) {
    if (status[8] != e.mode || status[9] != e.layout || status[10] != e.first ||
        status[11] != e.extra) {
        return false;
    }
    for (std::size_t ch = 0; ch < 16; ++ch) {
        if ((wire::ReadU32(status.data() + 20 + 4 * ch) & 0x100) != e.statusBits) {
            return false;
        }
    }
    return true;
}

std::string Describe(const Bytes& s) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "mode %d layout %d first %d byte11 0x%02x status0 0x%x", s[8],
                  s[9], s[10], s[11], wire::ReadU32(s.data() + 20));
    return buf;
}

// The header's time, seconds since 1970 (the recorder's clock is UTC based).
std::int64_t HeaderSeconds(const Bytes& s) {
    std::tm t{};
    t.tm_mday = s[0];
    t.tm_mon = s[1] - 1;
    t.tm_year = static_cast<int>(s[2] | (s[3] << 8)) - 1900;
    t.tm_sec = s[5];
    t.tm_min = s[6];
    t.tm_hour = s[7];
    return static_cast<std::int64_t>(timegm(&t));
}

class KeyClient : public raw_client::Client {
public:
    explicit KeyClient(int port) : Client(port, kWaitMs) {}

    bool LogIn(const std::string& password = "1234") {
        std::string failure;
        auto reply = Login("admin", password, &failure);
        return reply && reply->size() == 32 && wire::ReadU32(reply->data()) == 1;
    }
    bool SendKey(Key key) { return SendCommand(kRemoteKey, KeyPayload(key)); }

    // The status header of the next video frame, or nothing on time-out.
    std::optional<Bytes> NextStatus(Clock::time_point deadline) {
        for (;;) {
            auto f = Read(RemainingMs(deadline));
            if (!f) {
                return std::nullopt;
            }
            if (f->route == wire::kRouteStream && f->type == kVideo && f->payload.size() >= 84) {
                return Bytes(f->payload.begin(), f->payload.begin() + 84);
            }
        }
    }

    // Frames until one shows `e`; that frame's header, or nothing with the
    // last header seen in *last.
    std::optional<Bytes> WaitFor(const Expect& e, std::string* last) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
        while (auto s = NextStatus(deadline)) {
            if (Matches(*s, e)) {
                return s;
            }
            *last = Describe(*s);
        }
        return std::nullopt;
    }
};

RecorderConfig SmallStream() {
    RecorderConfig c;
    c.port = 0;
    c.streamVideo = true;
    c.videoWidth = 160;
    c.videoHeight = 120;
    c.fps = 30;
    return c;
}

struct KeyCase {
    const char* name;
    std::vector<Key> keys;
    Expect expect;
};

const KeyCase kKeyCases[] = {
    {"channel5_full_screen", {{3, 5}}, {0, 1, 4, 0, 0}},
    {"channel1_full_screen", {{3, 1}}, {0, 1, 0, 0, 0}},
    {"channel16_full_screen", {{3, 16}}, {0, 1, 15, 0, 0}},
    {"channel_code_17_unknown", {{3, 5}, {3, 17}}, {0, 1, 4, 0, 0}},
    {"split4_from_channel0", {{3, 5}, {9, 2}}, {0, 4, 0, 0, 0}},
    {"split9_from_channel0", {{3, 7}, {9, 3}}, {0, 9, 0, 0, 0}},
    {"split16_from_channel0", {{9, 2}, {9, 4}}, {0, 16, 0, 0, 0}},
    {"sequence", {{1, 1}}, {3, 16, 0, 0, 0}},
    {"channel_key_ends_sequence", {{1, 1}, {3, 2}}, {0, 1, 1, 0, 0}},
    {"pip_main_first_sub_next", {{3, 3}, {1, 5}}, {4, 1, 2, 3, 0}},
    {"pip_sub_wraps_to_channel1", {{3, 16}, {1, 5}}, {4, 1, 15, 0, 0}},
    {"pip_then_live_keeps_layout", {{9, 2}, {1, 5}, {0, 51}}, {0, 4, 0, 0, 0}},
    {"zoom", {{1, 3}}, {5, 16, 0, 0, 0}},
    {"freeze", {{1, 6}}, {6, 16, 0, 0, 0}},
    {"freeze_then_live", {{9, 3}, {1, 6}, {0, 51}}, {0, 9, 0, 0, 0}},
    {"ptz_mode", {{1, 2}}, {8, 16, 0, 0, 0}},
    {"ptz_channel_stays_ptz", {{1, 2}, {3, 7}}, {8, 1, 6, 0, 0}},
    {"ptz_then_live", {{1, 2}, {3, 7}, {0, 51}}, {0, 1, 6, 0, 0}},
    {"channel_status_on", {{1, 10}}, {0, 16, 0, 0, 0x100}},
    {"channel_status_off", {{1, 10}, {1, 18}}, {0, 16, 0, 0, 0}},
    {"status_on_keeps_mode", {{1, 3}, {1, 10}}, {5, 16, 0, 0, 0x100}},
    {"playback_normal", {{1, 9}}, {1, 16, 0, 0x05, 0}},
    {"playback_faster_twice", {{1, 9}, {2, 8}, {2, 8}}, {1, 16, 0, 0x07, 0}},
    {"playback_faster_pause", {{1, 9}, {2, 8}, {2, 8}, {2, 2}}, {1, 16, 0, 0x17, 0}},
    {"playback_pause_twice_runs", {{1, 9}, {2, 2}, {2, 2}}, {1, 16, 0, 0x05, 0}},
    {"playback_stop_to_live", {{1, 9}, {2, 8}, {2, 8}, {2, 2}, {1, 18}}, {0, 16, 0, 0, 0}},
    {"playback_backward", {{1, 9}, {2, 3}}, {1, 16, 0, 0x25, 0}},
    {"playback_backward_twice", {{1, 9}, {2, 3}, {2, 3}}, {1, 16, 0, 0x05, 0}},
    {"playback_slower", {{1, 9}, {2, 5}}, {1, 16, 0, 0x04, 0}},
    {"playback_slower_stops_at_0",
     {{1, 9}, {2, 5}, {2, 5}, {2, 5}, {2, 5}, {2, 5}, {2, 5}},
     {1, 16, 0, 0x00, 0}},
    {"playback_faster_stops_at_10",
     {{1, 9}, {2, 8}, {2, 8}, {2, 8}, {2, 8}, {2, 8}, {2, 8}},
     {1, 16, 0, 0x0A, 0}},
    {"playback_step_back_pauses", {{1, 9}, {2, 3}, {2, 4}}, {1, 16, 0, 0x35, 0}},
    {"playback_step_forward_pauses", {{1, 9}, {2, 6}}, {1, 16, 0, 0x15, 0}},
    {"playback_step_keeps_paused", {{1, 9}, {2, 2}, {2, 6}}, {1, 16, 0, 0x15, 0}},
    {"playback_play_resumes_normal", {{1, 9}, {2, 3}, {2, 8}, {2, 2}, {2, 7}}, {1, 16, 0, 0x05, 0}},
    {"playback_fast_backward", {{1, 9}, {2, 9}}, {1, 16, 0, 0x2A, 0}},
    {"playback_fast_forward", {{1, 9}, {2, 3}, {2, 10}}, {1, 16, 0, 0x0A, 0}},
    {"playback_restart_normal", {{1, 9}, {2, 8}, {1, 9}}, {1, 16, 0, 0x05, 0}},
    {"playback_channel_key_keeps_playing", {{1, 9}, {3, 4}}, {1, 1, 3, 0x05, 0}},
    {"playback_keys_outside_play_ignored", {{2, 8}, {2, 3}, {2, 2}, {2, 10}}, {0, 16, 0, 0, 0}},
    {"stop_outside_play_keeps_mode", {{1, 6}, {1, 18}}, {6, 16, 0, 0, 0}},
    {"unknown_keys_ignored", {{7, 7}, {0, 0}, {9, 1}, {2, 11}}, {0, 16, 0, 0, 0}},
};

class RecorderKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(RecorderKeys, FrameHeaderShowsTheScreenTheKeysAskFor) {
    const KeyCase& tc = GetParam();
    Recorder rec;
    std::string error;
    ASSERT_TRUE(rec.Start(SmallStream(), &error)) << error;
    KeyClient client(rec.Port());
    ASSERT_TRUE(client.LogIn());
    for (const Key& k : tc.keys) {
        ASSERT_TRUE(client.SendKey(k));
    }
    // Every key handled; the state from here on is the final one.
    ASSERT_TRUE(rec.WaitForPacket(kRemoteKey, kWaitMs, tc.keys.size()));
    std::string last;
    EXPECT_TRUE(client.WaitFor(tc.expect, &last)) << "last frame: " << last;
    EXPECT_TRUE(Matches(
        [&] {
            Bytes s(84, 0);
            recorder::WriteFrameStatus(s.data(), rec.CurrentScreen(), recorder::DateTime{});
            return s;
        }(),
        tc.expect));
}

INSTANTIATE_TEST_SUITE_P(RecorderKeyCases, RecorderKeys, ::testing::ValuesIn(kKeyCases),
                         [](const auto& param) { return std::string(param.param.name); });

// Each key arrives on the same connection; the sequence below is checked step by
// step, each step's frame after the key was handled.
TEST(RecorderKeysSequence, PlaybackStepByStep) {
    Recorder rec;
    std::string error;
    ASSERT_TRUE(rec.Start(SmallStream(), &error)) << error;
    KeyClient client(rec.Port());
    ASSERT_TRUE(client.LogIn());
    const std::pair<Key, Expect> steps[] = {
        {{1, 9}, {1, 16, 0, 0x05, 0}},  {{2, 8}, {1, 16, 0, 0x06, 0}},
        {{2, 8}, {1, 16, 0, 0x07, 0}},  {{2, 2}, {1, 16, 0, 0x17, 0}},
        {{1, 18}, {0, 16, 0, 0x00, 0}},
    };
    std::size_t sent = 0;
    for (const auto& [key, expect] : steps) {
        ASSERT_TRUE(client.SendKey(key));
        ASSERT_TRUE(rec.WaitForPacket(kRemoteKey, kWaitMs, ++sent));
        std::string last;
        EXPECT_TRUE(client.WaitFor(expect, &last))
            << "key " << int(key.first) << "," << int(key.second) << " last frame: " << last;
    }
}

// In PLAY mode the header's clock shows the time being played, an hour back;
// back in live it shows the recorder's clock again.
TEST(RecorderKeysSequence, PlaybackClockRunsAnHourBack) {
    Recorder rec;
    std::string error;
    ASSERT_TRUE(rec.Start(SmallStream(), &error)) << error;
    KeyClient client(rec.Port());
    ASSERT_TRUE(client.LogIn());
    ASSERT_TRUE(client.SendKey({1, 9}));
    std::string last;
    auto play = client.WaitFor({1, 16, 0, 0x05, 0}, &last);
    ASSERT_TRUE(play) << last;
    const std::int64_t now = std::time(nullptr);
    const std::int64_t behind = now - HeaderSeconds(*play);
    EXPECT_GE(behind, 3600 - 60);
    EXPECT_LE(behind, 3600 + 60);

    ASSERT_TRUE(client.SendKey({1, 18}));
    auto live = client.WaitFor({0, 16, 0, 0, 0}, &last);
    ASSERT_TRUE(live) << last;
    EXPECT_LE(std::llabs(std::time(nullptr) - HeaderSeconds(*live)), 60);
}

// Keys from a client that is not logged in are recorded but change nothing;
// a logged-in client's key sent afterwards shows the untouched screen.
struct IgnoredCase {
    const char* name;
    enum { kNoLogin, kBadPassword, kLoggedOut, kShortPayload } how;
};

const IgnoredCase kIgnoredCases[] = {
    {"never_logged_in", IgnoredCase::kNoLogin},
    {"bad_password", IgnoredCase::kBadPassword},
    {"logged_out", IgnoredCase::kLoggedOut},
    {"payload_without_code", IgnoredCase::kShortPayload},
};

class RecorderKeysIgnored : public ::testing::TestWithParam<IgnoredCase> {};

TEST_P(RecorderKeysIgnored, ScreenUnchanged) {
    Recorder rec;
    std::string error;
    ASSERT_TRUE(rec.Start(SmallStream(), &error)) << error;
    KeyClient watcher(rec.Port());
    ASSERT_TRUE(watcher.LogIn());

    KeyClient other(rec.Port());
    ASSERT_TRUE(other.Connected());
    switch (GetParam().how) {
        case IgnoredCase::kNoLogin:
            ASSERT_TRUE(other.SendInit());
            ASSERT_TRUE(other.SendKey({3, 5}));
            ASSERT_TRUE(other.SendKey({1, 9}));
            break;
        case IgnoredCase::kBadPassword:
            ASSERT_FALSE(other.LogIn("wrong"));
            ASSERT_TRUE(other.SendKey({3, 5}));
            ASSERT_TRUE(other.SendKey({1, 9}));
            break;
        case IgnoredCase::kLoggedOut:
            ASSERT_TRUE(other.LogIn());
            ASSERT_TRUE(other.SendCommand(kLogout));
            ASSERT_TRUE(other.SendKey({3, 5}));
            ASSERT_TRUE(other.SendKey({1, 9}));
            break;
        case IgnoredCase::kShortPayload:
            ASSERT_TRUE(other.LogIn());
            ASSERT_TRUE(other.SendCommand(kRemoteKey, KeyPayload({3, 5}, 5)));
            ASSERT_TRUE(other.SendCommand(kRemoteKey, KeyPayload({1, 9}, 4)));
            break;
    }
    ASSERT_TRUE(rec.WaitForPacket(kRemoteKey, kWaitMs, 2));
    // A marker key from the logged-in client: its frame must show nothing else changed.
    ASSERT_TRUE(watcher.SendKey({1, 10}));
    ASSERT_TRUE(rec.WaitForPacket(kRemoteKey, kWaitMs, 3));
    std::string last;
    EXPECT_TRUE(watcher.WaitFor({0, 16, 0, 0, 0x100}, &last)) << "last frame: " << last;
}

INSTANTIATE_TEST_SUITE_P(RecorderIgnoredKeyCases, RecorderKeysIgnored,
                         ::testing::ValuesIn(kIgnoredCases),
                         [](const auto& param) { return std::string(param.param.name); });

// Every row of the table is found by its keys, and nothing outside it is.
TEST(RecorderKeyTable, LookupCoversTheRowsOnly) {
    int known = 0;
    for (int group = 0; group < 256; ++group) {
        for (int code = 0; code < 256; ++code) {
            const auto* row = recorder::FindKey(static_cast<std::uint8_t>(group),
                                                static_cast<std::uint8_t>(code));
            if (row != nullptr) {
                ++known;
                EXPECT_EQ(row->group, group);
                EXPECT_GE(code, row->firstCode);
                EXPECT_LE(code, row->lastCode);
            }
        }
    }
    int expected = 0;
    for (const auto& row : recorder::KeyTable()) {
        expected += row.lastCode - row.firstCode + 1;
    }
    EXPECT_EQ(known, expected);            // no two rows claim the same key
    EXPECT_EQ(known, 16 + 3 + 8 + 1 + 9);  // groups 3, 9, 1, 0, 2
}

// The played position with times passed in: rate by speed, direction, pause.
struct ClockCase {
    std::uint8_t state;
    double elapsed;
    std::int64_t advance;
};

TEST(RecorderKeyTable, PlaybackPositionByState) {
    const ClockCase cases[] = {
        {0x05, 10, 10}, {0x06, 10, 20},  {0x0A, 10, 320}, {0x04, 10, 5},
        {0x00, 64, 2},  {0x25, 10, -10}, {0x2A, 1, -32},  {0x15, 100, 0},
        {0x35, 100, 0}, {0x0F, 1, 32},  // speed above 10 counts as 10
    };
    for (const auto& c : cases) {
        recorder::PlaybackClock clock;
        recorder::StartPlayback(&clock, 1'000'000, 50.0);
        EXPECT_EQ(recorder::PlaybackPosition(clock, c.state, 50.0), 1'000'000 - 3600);
        EXPECT_EQ(recorder::PlaybackPosition(clock, c.state, 50.0 + c.elapsed),
                  1'000'000 - 3600 + c.advance)
            << "state 0x" << std::hex << int(c.state);
    }
}

// Changing speed keeps what has been played; steps move one second while paused.
TEST(RecorderKeyTable, KeysReanchorThePlayedPosition) {
    recorder::ScreenState screen;
    recorder::PlaybackClock clock;
    recorder::KeyContext ctx;
    ctx.recorderNow = 100'000;
    ctx.steadyNow = 10;
    auto press = [&](std::uint8_t group, std::uint8_t code, double at) {
        ctx.steadyNow = at;
        const auto* row = recorder::FindKey(group, code);
        ASSERT_NE(row, nullptr);
        recorder::ApplyKey(*row, code, ctx, &screen, &clock);
    };
    press(1, 9, 10);  // playing from 96400 at 1x
    press(2, 8, 20);  // 10 s played, then 2x
    EXPECT_EQ(recorder::PlaybackPosition(clock, screen.layoutExtra, 30), 96400 + 10 + 20);
    press(2, 2, 30);  // paused at 96430
    EXPECT_EQ(recorder::PlaybackPosition(clock, screen.layoutExtra, 90), 96430);
    press(2, 6, 90);  // one step forward
    press(2, 6, 91);
    press(2, 4, 92);  // and one back
    EXPECT_EQ(recorder::PlaybackPosition(clock, screen.layoutExtra, 500), 96431);
    EXPECT_EQ(screen.layoutExtra, 0x16);
    press(2, 3, 100);  // backward, still paused
    press(2, 2, 100);  // running backward at 2x
    EXPECT_EQ(recorder::PlaybackPosition(clock, screen.layoutExtra, 105), 96431 - 10);
    press(1, 18, 105);  // stop: live
    EXPECT_EQ(screen.screenMode, 0);
    EXPECT_EQ(screen.layoutExtra, 0);
    EXPECT_FALSE(clock.active);
}

}  // namespace
