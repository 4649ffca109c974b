// Sonicore. The client's audio is 8-bit PCM, mono (codec type 4), which needs
// no coding: the client moves the samples itself. The library hands out the
// instances the client opens and checks that they are closed as opened.

#include "media/sonicore.h"

#include <array>
#include <mutex>

namespace {

constexpr std::int32_t kPcm8Mono = 4;
constexpr int kSlots = 32;
constexpr std::int32_t kMaxSampleRate = 192000;

enum class Kind { Free, Decoder, Encoder };

struct Table {
    std::mutex mutex;  // guards slots
    std::array<Kind, kSlots> slots{};
};

// Never destroyed, so a host may close instances from its own static
// destructors.
Table& table() {
    static Table* t = new Table;
    return *t;
}

std::int32_t Open(Kind kind) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (int i = 0; i < kSlots; ++i) {
        if (t.slots[i] != Kind::Free)
            continue;
        t.slots[i] = kind;
        return i;
    }
    return -1;
}

void Close(Kind kind, std::int32_t handle, std::int32_t codecType) {
    if (codecType != kPcm8Mono || handle < 0 || handle >= kSlots)
        return;
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    // An encoder handle passed to the decoder's close (or the reverse) is
    // someone else's instance: leave it.
    if (t.slots[handle] == kind)
        t.slots[handle] = Kind::Free;
}

}  // namespace

extern "C" {

SONICORE_EXPORT std::int32_t CODECAPI_AudioDecodeInit(std::int32_t codecType) {
    if (codecType != kPcm8Mono)
        return -1;
    return Open(Kind::Decoder);
}

SONICORE_EXPORT std::int32_t CODECAPI_AudEncInit(std::int32_t codecType, std::int32_t sampleRate,
                                                 std::int32_t channels) {
    // Type 4 is mono; a rate outside what any sound device offers is a
    // caller's mistake, refused like an unknown type.
    if (codecType != kPcm8Mono || channels != 1 || sampleRate <= 0 || sampleRate > kMaxSampleRate) {
        return -1;
    }
    return Open(Kind::Encoder);
}

SONICORE_EXPORT void CODECAPI_AudioDecodeDeInit(std::int32_t handle, std::int32_t codecType) {
    Close(Kind::Decoder, handle, codecType);
}

SONICORE_EXPORT void CODECAPI_AudEncDeInit(std::int32_t handle, std::int32_t codecType) {
    Close(Kind::Encoder, handle, codecType);
}

}  // extern "C"
