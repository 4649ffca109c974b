#include "recorder/recorder_options.h"

#include <arpa/inet.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

namespace recorder {

namespace {

// Decimal, or hexadecimal after "0x"; an optional leading "-" for signed
// ranges. The whole text must be the number and lie in [lo, hi].
bool ParseInteger(const std::string& text, long long lo, long long hi, long long* out) {
    std::string_view s = text;
    bool negative = false;
    if (!s.empty() && s.front() == '-') {
        negative = true;
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) {
        return false;
    }
    unsigned long long magnitude = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
    if (ec != std::errc() || end != s.data() + s.size() ||
        magnitude > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) {
        return false;
    }
    long long value =
        negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    if (value < lo || value > hi) {
        return false;
    }
    *out = value;
    return true;
}

bool ParseSeconds(const std::string& text, double* out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v) || v < 0) {
        return false;
    }
    *out = v;
    return true;
}

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (;;) {
        std::size_t at = text.find(sep, from);
        parts.push_back(text.substr(from, at - from));
        if (at == std::string::npos) {
            return parts;
        }
        from = at + 1;
    }
}

// MONTH:DAY:HOUR:WEEK:WEEKDAY into the five fields given, in that order;
// nothing is written unless all five are valid.
bool ParseDstPoint(const std::string& text, std::uint8_t* const fields[5]) {
    const auto parts = Split(text, ':');
    if (parts.size() != 5) {
        return false;
    }
    // week: 0 fixed date, 1..5 n-th (5 last); weekday: 0 Sunday
    static constexpr long long kLo[5] = {1, 0, 0, 0, 0};
    static constexpr long long kHi[5] = {12, 31, 23, 5, 6};
    long long v[5];
    for (int i = 0; i < 5; ++i) {
        if (!ParseInteger(parts[i], kLo[i], kHi[i], &v[i])) {
            return false;
        }
    }
    for (int i = 0; i < 5; ++i) {
        *fields[i] = static_cast<std::uint8_t>(v[i]);
    }
    return true;
}

}  // namespace

std::string RecorderUsage() {
    return "Usage: qvelnor-recorder [options]\n"
           "Simulated recorder: answers the client's login conversation over TCP and\n"
           "streams live video of its screen to every client logged in.\n"
           "\n"
           "  --listen ADDR:PORT       IPv4 address and port (default 127.0.0.1:50000;\n"
           "                           port 0 picks a free one)\n"
           "  --user ID:PASSWORD       an account; repeatable (default admin:1234)\n"
           "  --login-result N         answer every login with result N\n"
           "  --kind N                 recorder kind byte of the login reply (0-255)\n"
           "  --video-system ntsc|pal  (default ntsc)\n"
           "  --features N             feature bits of the login reply (0-255)\n"
           "  --channels N             channel count (0-255, default 16)\n"
           "  --session-id N           session id (default 1)\n"
           "  --rights N               rights bits: 4 remote control, 2 search (default 6)\n"
           "  --tz-offset MINUTES      time-zone offset from UTC (default 0)\n"
           "  --dst-on 0|1             daylight saving in force (default 0)\n"
           "  --dst-bias MINUTES       daylight-saving shift, 0-255 (default 60)\n"
           "  --dst-start M:D:H:W:WD   start month, day, hour, week (0 fixed date,\n"
           "                           1-5 n-th, 5 last), weekday (0 Sunday)\n"
           "                           (default 3:0:1:5:0)\n"
           "  --dst-end M:D:H:W:WD     end, same form (default 10:0:2:5:0)\n"
           "  --silent-after SECONDS   after a login, stop sending to that client\n"
           "  --drop-after SECONDS     after a login, close that connection\n"
           "  --log-packets FILE       one line per packet received:\n"
           "                           client=ID route=NAME type=N len=N payload=HEX\n"
           "\n"
           "Live video, streamed to every logged-in client:\n"
           "  --no-video               log clients in without titles or video\n"
           "  --size WxH               picture size, even, up to 720x600 (default 720x480)\n"
           "  --fps N                  frames per second, 1-60 (default 30)\n"
           "  --gop N                  frames from key frame to key frame, 1-1000\n"
           "                           (default 30)\n"
           "  --layout N               split screen at start: 1, 4, 9 or 16 (default 16)\n"
           "  --title N:TEXT           title of channel N (1-based), at most 27 bytes;\n"
           "                           repeatable (default CAM 01, CAM 02, ...)\n"
           "  --clock-offset SECONDS   the recorder's clock runs this far from UTC\n"
           "                           (default 0)\n"
           "  --help                   this text\n";
}

OptionsResult ParseRecorderOptions(const std::vector<std::string>& args, RecorderConfig* config,
                                   std::string* message) {
    RecorderConfig cfg;
    cfg.streamVideo = true;
    bool usersGiven = false;
    std::string error;

    auto integer = [&](const std::string& value, long long lo, long long hi, auto* field) {
        long long v = 0;
        if (!ParseInteger(value, lo, hi, &v)) {
            error =
                "expects a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
            return false;
        }
        *field = static_cast<std::remove_pointer_t<decltype(field)>>(v);
        return true;
    };

    using Handler = std::function<void(const std::string&)>;
    const std::vector<std::pair<std::string, Handler>> handlers = {
        {"--listen",
         [&](const std::string& v) {
             const auto colon = v.rfind(':');
             long long port = 0;
             in_addr probe{};
             if (colon == std::string::npos ||
                 ::inet_pton(AF_INET, v.substr(0, colon).c_str(), &probe) != 1 ||
                 !ParseInteger(v.substr(colon + 1), 0, 65535, &port)) {
                 error = "expects IPV4ADDRESS:PORT, e.g. 127.0.0.1:50000";
                 return;
             }
             cfg.listenAddress = v.substr(0, colon);
             cfg.port = static_cast<int>(port);
         }},
        {"--user",
         [&](const std::string& v) {
             const auto colon = v.find(':');
             if (colon == std::string::npos || colon == 0) {
                 error = "expects ID:PASSWORD";
                 return;
             }
             std::string id = v.substr(0, colon);
             std::string password = v.substr(colon + 1);
             // Both must fit their NUL-terminated fields in the login request.
             if (id.size() >= kLoginUserField || password.size() >= kLoginPasswordField) {
                 error = "user ID or password too long for the login request";
                 return;
             }
             if (!usersGiven) {
                 cfg.users.clear();
                 usersGiven = true;
             }
             cfg.users.emplace_back(std::move(id), std::move(password));
         }},
        {"--login-result",
         [&](const std::string& v) {
             std::int32_t r = 0;
             if (integer(v, std::numeric_limits<std::int32_t>::min(),
                         std::numeric_limits<std::int32_t>::max(), &r)) {
                 cfg.forcedLoginResult = r;
             }
         }},
        {"--kind", [&](const std::string& v) { integer(v, 0, 255, &cfg.kind); }},
        {"--video-system",
         [&](const std::string& v) {
             if (v == "ntsc") {
                 cfg.videoSystem = 0;
             } else if (v == "pal") {
                 cfg.videoSystem = 1;
             } else {
                 error = "expects ntsc or pal";
             }
         }},
        {"--features", [&](const std::string& v) { integer(v, 0, 255, &cfg.features); }},
        {"--channels", [&](const std::string& v) { integer(v, 0, 255, &cfg.channels); }},
        {"--session-id",
         [&](const std::string& v) { integer(v, 0, 0xffffffffLL, &cfg.sessionId); }},
        {"--rights", [&](const std::string& v) { integer(v, 0, 0xffffffffLL, &cfg.rights); }},
        {"--tz-offset",
         [&](const std::string& v) { integer(v, -1440, 1440, &cfg.timeZone.offsetMinutes); }},
        {"--dst-on",
         [&](const std::string& v) {
             if (v == "0" || v == "1") {
                 cfg.timeZone.dstOn = v == "1" ? 1 : 0;
             } else {
                 error = "expects 0 or 1";
             }
         }},
        {"--dst-bias",
         [&](const std::string& v) { integer(v, 0, 255, &cfg.timeZone.dstBiasMinutes); }},
        {"--dst-start",
         [&](const std::string& v) {
             TimeZoneRules& tz = cfg.timeZone;
             std::uint8_t* const fields[5] = {&tz.startMonth, &tz.startDay, &tz.startHour,
                                              &tz.startWeek, &tz.startWeekday};
             if (!ParseDstPoint(v, fields)) {
                 error = "expects MONTH:DAY:HOUR:WEEK:WEEKDAY (1-12:0-31:0-23:0-5:0-6)";
             }
         }},
        {"--dst-end",
         [&](const std::string& v) {
             TimeZoneRules& tz = cfg.timeZone;
             std::uint8_t* const fields[5] = {&tz.endMonth, &tz.endDay, &tz.endHour, &tz.endWeek,
                                              &tz.endWeekday};
             if (!ParseDstPoint(v, fields)) {
                 error = "expects MONTH:DAY:HOUR:WEEK:WEEKDAY (1-12:0-31:0-23:0-5:0-6)";
             }
         }},
        {"--silent-after",
         [&](const std::string& v) {
             if (!ParseSeconds(v, &cfg.silentAfterSeconds)) {
                 error = "expects a number of seconds, 0 or more";
             }
         }},
        {"--drop-after",
         [&](const std::string& v) {
             if (!ParseSeconds(v, &cfg.dropAfterSeconds)) {
                 error = "expects a number of seconds, 0 or more";
             }
         }},
        {"--size",
         [&](const std::string& v) {
             const auto x = v.find_first_of("xX");
             long long w = 0;
             long long h = 0;
             if (x == std::string::npos || !ParseInteger(v.substr(0, x), 64, 720, &w) ||
                 !ParseInteger(v.substr(x + 1), 64, 600, &h) || w % 2 != 0 || h % 2 != 0) {
                 error = "expects WIDTHxHEIGHT, even numbers, 64x64 to 720x600";
                 return;
             }
             cfg.videoWidth = static_cast<int>(w);
             cfg.videoHeight = static_cast<int>(h);
         }},
        {"--fps", [&](const std::string& v) { integer(v, 1, 60, &cfg.fps); }},
        {"--gop", [&](const std::string& v) { integer(v, 1, 1000, &cfg.gop); }},
        {"--layout",
         [&](const std::string& v) {
             if (v == "1" || v == "4" || v == "9" || v == "16") {
                 cfg.initialLayout = static_cast<std::uint8_t>(std::stoi(v));
             } else {
                 error = "expects 1, 4, 9 or 16";
             }
         }},
        {"--title",
         [&](const std::string& v) {
             const auto colon = v.find(':');
             long long channel = 0;
             if (colon == std::string::npos ||
                 !ParseInteger(v.substr(0, colon), 1, 255, &channel)) {
                 error = "expects CHANNEL:TEXT with CHANNEL from 1 to 255";
                 return;
             }
             std::string title = v.substr(colon + 1);
             if (title.size() > kCameraTitleMaxLength) {
                 title.resize(kCameraTitleMaxLength);
             }
             cfg.cameraTitles[static_cast<int>(channel) - 1] = std::move(title);
         }},
        {"--clock-offset",
         [&](const std::string& v) {
             // A century either way is plenty for a test clock.
             integer(v, -3'155'760'000LL, 3'155'760'000LL, &cfg.clockOffsetSeconds);
         }},
        {"--log-packets",
         [&](const std::string& v) {
             if (v.empty()) {
                 error = "expects a file name";
                 return;
             }
             cfg.packetLogPath = v;
         }},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (name == "--help" || name == "-h") {
            return OptionsResult::kHelp;
        }
        if (name == "--no-video") {
            if (value) {
                *message = "--no-video takes no value";
                return OptionsResult::kError;
            }
            cfg.streamVideo = false;
            continue;
        }
        const Handler* handler = nullptr;
        for (const auto& [optionName, h] : handlers) {
            if (optionName == name) {
                handler = &h;
            }
        }
        if (handler == nullptr) {
            *message = "unknown option: " + args[i];
            return OptionsResult::kError;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                *message = name + " needs a value";
                return OptionsResult::kError;
            }
            value = args[++i];
        }
        (*handler)(*value);
        if (!error.empty()) {
            *message = name + " " + *value + ": " + error;
            return OptionsResult::kError;
        }
    }
    *config = std::move(cfg);
    return OptionsResult::kRun;
}

}  // namespace recorder
