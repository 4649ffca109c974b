#include "control/status_texts.h"

#include <array>
#include <cstdio>

namespace status_texts {

std::u16string_view ModeName(int code) {
    static constexpr std::array<std::u16string_view, 11> kNames = {
        u"LIVE MODE",   u"PLAY MODE",   u"MENU MODE",   u"SEQUENCE MODE", u"PIP MODE",
        u"ZOOM MODE",   u"FREEZE MODE", u"SEARCH MODE", u"PTZ MODE",      u"RECORD MODE",
        u"LOGIN MODE",
    };
    if (code >= 0 && code < static_cast<int>(kNames.size())) {
        return kNames[static_cast<std::size_t>(code)];
    }
    if (code == 15) {
        return u"DID MODE";
    }
    return u"NONE MODE";
}

namespace {

constexpr std::uint8_t kSpeedBits = 0x3F;  // bits 6 and 7 carry nothing
constexpr std::uint8_t kPaused = 0x10;
constexpr std::uint8_t kBackward = 0x20;

std::u16string SpeedWord(std::uint8_t index, const LookupFn& lookup) {
    if (index > 10) {
        return u"INVAILD Speed";
    }
    if (index == 5) {
        return lookup(u"NORMAL");
    }
    // Slow 5 .. slow 1 for indexes 0..4, fast 1 .. fast 5 for 6..10.
    const bool slow = index < 5;
    const int step = slow ? 5 - index : index - 5;
    return lookup(slow ? u"SLOW" : u"FAST") + u" " + static_cast<char16_t>(u'0' + step);
}

}  // namespace

std::optional<std::u16string> SpeedLine(std::uint8_t speedByte, std::uint8_t* lastSpeedByte,
                                        const LookupFn& lookup) {
    if ((speedByte & kSpeedBits) == (*lastSpeedByte & kSpeedBits)) {
        return std::nullopt;
    }
    *lastSpeedByte = speedByte;
    if (speedByte & kPaused) {
        return std::u16string(u"PAUSE");
    }
    const std::u16string speed = SpeedWord(speedByte & 0x0F, lookup);
    const std::u16string direction =
        lookup((speedByte & kBackward) ? u"BACKWARD PLAY" : u"FORWARD PLAY");
    return direction + u" : " + speed;
}

std::optional<std::string> CountFrame(FrameStats* stats, std::uint32_t tickCount) {
    const std::uint32_t second = tickCount / 1000;
    if (stats->statSecond == 0) {
        stats->statSecond = second;
        return std::nullopt;
    }
    stats->statFrames += 1;
    if (second - stats->statSecond < 1) {
        return std::nullopt;
    }
    char line[1000];
    std::snprintf(line, sizeof line, "<<< recv cnt, size : %d, %d \r\n",
                  static_cast<int>(stats->statFrames), static_cast<int>(stats->bytesReceived));
    stats->bytesReceived = 0;
    stats->statSecond = second;
    stats->statFrames = 0;
    return std::string(line);
}

std::u16string VersionText(std::optional<std::pair<std::uint32_t, std::uint32_t>> fileVersion,
                           std::size_t maxUnits) {
    std::u16string text = u"Ver Unknown ";
    if (fileVersion) {
        const auto [ms, ls] = *fileVersion;
        char buf[64];
        std::snprintf(buf, sizeof buf, "Ver %u. %u. %u. %u", ms >> 16, ms & 0xFFFF, ls >> 16,
                      ls & 0xFFFF);
        text.assign(buf, buf + std::char_traits<char>::length(buf));
    }
    if (maxUnits == 0) {
        return {};
    }
    if (text.size() > maxUnits - 1) {
        text.resize(maxUnits - 1);
    }
    return text;
}

}  // namespace status_texts
