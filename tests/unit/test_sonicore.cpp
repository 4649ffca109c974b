// Sonicore: the instances the client opens and closes.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "media/sonicore.h"

namespace {

constexpr std::int32_t kPcm8 = 4;

TEST(Sonicore, OpensPcmInstancesWithSmallHandles) {
    const std::int32_t dec = CODECAPI_AudioDecodeInit(kPcm8);
    const std::int32_t enc = CODECAPI_AudEncInit(kPcm8, 8000, 1);
    EXPECT_GE(dec, 0);
    EXPECT_GE(enc, 0);
    EXPECT_LT(dec, 64);
    EXPECT_LT(enc, 64);
    EXPECT_NE(dec, enc);
    CODECAPI_AudioDecodeDeInit(dec, kPcm8);
    CODECAPI_AudEncDeInit(enc, kPcm8);
}

TEST(Sonicore, RefusesWhatIsNotPcmMono) {
    for (std::int32_t type : {-1, 0, 1, 3, 5, 255}) {
        EXPECT_EQ(CODECAPI_AudioDecodeInit(type), -1) << type;
        EXPECT_EQ(CODECAPI_AudEncInit(type, 8000, 1), -1) << type;
    }
    struct Case {
        std::int32_t rate, channels;
    };
    for (const Case& c :
         {Case{8000, 2}, Case{8000, 0}, Case{0, 1}, Case{-8000, 1}, Case{1 << 30, 1}}) {
        EXPECT_EQ(CODECAPI_AudEncInit(kPcm8, c.rate, c.channels), -1)
            << c.rate << " Hz, " << c.channels << " channels";
    }
}

// A close that does not match the instance (wrong kind, wrong codec type,
// a handle never given out) leaves every instance as it was; a matching close
// frees the handle for the next open.
TEST(Sonicore, ClosesOnlyWhatWasOpened) {
    const std::int32_t dec = CODECAPI_AudioDecodeInit(kPcm8);
    ASSERT_GE(dec, 0);
    CODECAPI_AudEncDeInit(dec, kPcm8);   // a decoder is not an encoder
    CODECAPI_AudioDecodeDeInit(dec, 3);  // wrong codec type
    for (std::int32_t h : {-1, -100, 1000000}) {
        CODECAPI_AudioDecodeDeInit(h, kPcm8);
        CODECAPI_AudEncDeInit(h, kPcm8);
    }
    const std::int32_t other = CODECAPI_AudioDecodeInit(kPcm8);
    EXPECT_NE(other, dec) << "the first instance is still open";

    CODECAPI_AudioDecodeDeInit(dec, kPcm8);
    CODECAPI_AudioDecodeDeInit(dec, kPcm8);  // twice: nothing more happens
    const std::int32_t again = CODECAPI_AudioDecodeInit(kPcm8);
    EXPECT_EQ(again, dec) << "the freed handle is given out again";
    CODECAPI_AudioDecodeDeInit(again, kPcm8);
    CODECAPI_AudioDecodeDeInit(other, kPcm8);
}

TEST(Sonicore, InstancesAreBounded) {
    std::vector<std::int32_t> handles;
    for (int i = 0; i < 1000; ++i) {
        const std::int32_t h =
            i % 2 ? CODECAPI_AudEncInit(kPcm8, 8000, 1) : CODECAPI_AudioDecodeInit(kPcm8);
        if (h < 0)
            break;
        handles.push_back(h);
    }
    EXPECT_LT(handles.size(), 1000u);
    EXPECT_EQ(CODECAPI_AudioDecodeInit(kPcm8), -1) << "full";
    for (std::size_t i = 0; i < handles.size(); ++i) {
        if (i % 2) {
            CODECAPI_AudEncDeInit(handles[i], kPcm8);
        } else {
            CODECAPI_AudioDecodeDeInit(handles[i], kPcm8);
        }
    }
    const std::int32_t again = CODECAPI_AudioDecodeInit(kPcm8);
    EXPECT_GE(again, 0) << "room again";
    CODECAPI_AudioDecodeDeInit(again, kPcm8);
}

}  // namespace
