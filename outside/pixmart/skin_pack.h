#pragma once
// The skin pack file: rectangles and PNG pictures by resource id.
//
// Layout (all integers little-endian):
//
//   header   16 bytes   magic "QVSKIN1\0", u32 entry count, u32 reserved (0)
//   index    56 bytes per entry, in the order written:
//              i32 id, u32 kind, i32 left, top, right, bottom,
//              4 × { u32 offset, u32 length }  picture blobs
//   data     the PNG blobs, anywhere after the index
//
// kind 1 background: blob 0 holds its picture, blobs 1..3 are empty.
// kind 2 button: blobs 0..3 hold normal, hover, pressed, disabled; an empty
//        blob (length 0) means the button has no such look.
// kind 3 rectangle only: all blobs empty.
//
// Offsets count from the start of the file. The reader trusts nothing: every
// count, offset and length is checked against the file before use. Pure C++
// so that the generator and the library share it and tests reach it directly.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pixmart {

inline constexpr char kPackMagic[8] = {'Q', 'V', 'S', 'K', 'I', 'N', '1', '\0'};
inline constexpr std::size_t kPackHeaderBytes = 16;
inline constexpr std::size_t kPackIndexEntryBytes = 56;
// A client skin holds about a hundred ids; anything far beyond is not a pack.
inline constexpr std::uint32_t kPackMaxEntries = 4096;
// Packs hold a few megabytes at most; refusing bigger files keeps a wrong
// file name from reading a video into memory.
inline constexpr std::size_t kPackMaxBytes = 64u * 1024u * 1024u;

enum class PackKind : std::uint32_t { Background = 1, Button = 2, RectOnly = 3 };

struct PackRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// One entry as the writer takes it: the encoded pictures are owned.
struct PackEntryData {
    std::int32_t id = 0;
    PackKind kind = PackKind::RectOnly;
    PackRect rect;
    std::array<std::string, 4> blobs;  // PNG bytes; empty = none
};

// One entry as the reader gives it: blobs point into the caller's buffer.
struct PackEntryView {
    std::int32_t id = 0;
    PackKind kind = PackKind::RectOnly;
    PackRect rect;
    std::array<std::span<const std::uint8_t>, 4> blobs;
};

// The file bytes of a pack holding `entries` in the given order.
std::vector<std::uint8_t> WritePack(const std::vector<PackEntryData>& entries);

// Reads the index of a pack. Returns false, with `out` empty, when the bytes
// are not a well-formed pack: wrong magic, an index or blob outside the
// bytes, an unknown kind, blobs that do not fit the kind, a repeated id, or a
// rectangle with right < left or bottom < top.
bool ReadPackIndex(std::span<const std::uint8_t> bytes, std::vector<PackEntryView>& out);

}  // namespace pixmart
