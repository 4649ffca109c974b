#include "outside/pixmart/skin_pack.h"

#include <cstring>
#include <iterator>
#include <unordered_set>

namespace pixmart {
namespace {

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutI32(std::vector<std::uint8_t>& out, std::int32_t v) {
    PutU32(out, static_cast<std::uint32_t>(v));
}

std::uint32_t GetU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::int32_t GetI32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(GetU32(p));
}

// How many blobs a kind carries: which of the four may be non-empty.
bool BlobAllowed(PackKind kind, int slot) {
    switch (kind) {
        case PackKind::Background:
            return slot == 0;
        case PackKind::Button:
            return true;
        case PackKind::RectOnly:
            return false;
    }
    return false;
}

}  // namespace

std::vector<std::uint8_t> WritePack(const std::vector<PackEntryData>& entries) {
    std::vector<std::uint8_t> out(std::begin(kPackMagic), std::end(kPackMagic));
    PutU32(out, static_cast<std::uint32_t>(entries.size()));
    PutU32(out, 0);

    std::size_t offset = kPackHeaderBytes + entries.size() * kPackIndexEntryBytes;
    for (const PackEntryData& e : entries) {
        PutI32(out, e.id);
        PutU32(out, static_cast<std::uint32_t>(e.kind));
        PutI32(out, e.rect.left);
        PutI32(out, e.rect.top);
        PutI32(out, e.rect.right);
        PutI32(out, e.rect.bottom);
        for (const std::string& blob : e.blobs) {
            PutU32(out, blob.empty() ? 0 : static_cast<std::uint32_t>(offset));
            PutU32(out, static_cast<std::uint32_t>(blob.size()));
            offset += blob.size();
        }
    }
    for (const PackEntryData& e : entries) {
        for (const std::string& blob : e.blobs)
            out.insert(out.end(), blob.begin(), blob.end());
    }
    return out;
}

bool ReadPackIndex(std::span<const std::uint8_t> bytes, std::vector<PackEntryView>& out) {
    out.clear();
    if (bytes.size() < kPackHeaderBytes || bytes.size() > kPackMaxBytes)
        return false;
    if (std::memcmp(bytes.data(), kPackMagic, sizeof kPackMagic) != 0)
        return false;
    const std::uint32_t count = GetU32(bytes.data() + 8);
    if (count > kPackMaxEntries)
        return false;
    const std::size_t indexEnd = kPackHeaderBytes + std::size_t{count} * kPackIndexEntryBytes;
    if (indexEnd > bytes.size())
        return false;

    std::vector<PackEntryView> entries;
    entries.reserve(count);
    std::unordered_set<std::int32_t> seen;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* p = bytes.data() + kPackHeaderBytes + i * kPackIndexEntryBytes;
        PackEntryView e;
        e.id = GetI32(p);
        const std::uint32_t kind = GetU32(p + 4);
        if (kind < 1 || kind > 3)
            return false;
        e.kind = static_cast<PackKind>(kind);
        e.rect = {GetI32(p + 8), GetI32(p + 12), GetI32(p + 16), GetI32(p + 20)};
        if (e.rect.right < e.rect.left || e.rect.bottom < e.rect.top)
            return false;
        if (!seen.insert(e.id).second)
            return false;
        for (int slot = 0; slot < 4; ++slot) {
            const std::uint32_t off = GetU32(p + 24 + 8 * slot);
            const std::uint32_t len = GetU32(p + 28 + 8 * slot);
            if (len == 0)
                continue;
            if (!BlobAllowed(e.kind, slot))
                return false;
            // Blobs live after the index; 64-bit sums cannot wrap.
            if (off < indexEnd || std::uint64_t{off} + len > bytes.size())
                return false;
            e.blobs[slot] = bytes.subspan(off, len);
        }
        if (e.kind == PackKind::Background && e.blobs[0].empty())
            return false;
        entries.push_back(e);
    }
    out = std::move(entries);
    return true;
}

}  // namespace pixmart
