// libFuzzer target: the transport's frame parser on arbitrary bytes, fed in
// pieces whose sizes come from the input itself. Every frame it reports must
// respect the cap, and it must never read or write outside what it is given.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "outside/qremotesocket/frame_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint32_t kCap = 4096;
    qrs::FrameReader reader(kCap);
    std::vector<std::uint8_t> room(kCap);
    std::size_t pos = 0;
    std::size_t piece = 1;
    while (pos < size) {
        // Piece sizes from 1 to 64 bytes, chosen by the data.
        piece = 1 + (data[pos] % 64);
        const std::size_t n = std::min(piece, size - pos);
        std::size_t offset = 0;
        while (offset < n) {
            std::size_t used = 0;
            const auto r = reader.Feed(data + pos + offset, n - offset, &used);
            if (used > n - offset) std::abort();
            offset += used;
            if (r == qrs::FrameReader::Result::kError) return 0;
            if (r == qrs::FrameReader::Result::kNeedBuffer) {
                if (reader.payloadLength() > kCap) std::abort();
                reader.SetPayloadBuffer(room.data());
            }
            if (r == qrs::FrameReader::Result::kFrame && reader.payloadLength() > kCap) std::abort();
            if (used == 0 && r == qrs::FrameReader::Result::kNeedMore) break;
        }
        pos += n;
    }
    return 0;
}
