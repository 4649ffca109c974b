#pragma once
// Splits an H.264 Annex-B byte stream into access units, one per picture, the
// way a recorder sends them: each unit is the bytes from the start code of its
// first NAL unit to the start code that begins the next unit.
//
// A new unit begins at the first of these after a unit already holds a slice:
// an access unit delimiter, SPS, PPS, SEI or NAL types 14-18, or a slice whose
// first_mb_in_slice is 0. first_mb_in_slice is the first field after the NAL
// header, Exp-Golomb coded; it is 0 exactly when the top bit of that byte is
// set. Bytes in front of the first start code are skipped.
//
// Header-only: used by the benchmark program and by the tests of it.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

struct AccessUnit {
    std::size_t offset = 0;  // first byte of the first start code
    std::size_t size = 0;
    bool idr = false;  // holds an IDR slice (NAL type 5)
};

namespace annexb_detail {

// Position of the next 00 00 01 at or after from, or size.
inline std::size_t FindStartCode(const std::uint8_t* data, std::size_t size, std::size_t from) {
    for (std::size_t i = from; i + 3 <= size; ++i) {
        if (data[i + 2] > 1) {
            i += 2;  // none of the next three positions can start a code
            continue;
        }
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
            return i;
    }
    return size;
}

inline bool IsSlice(int type) {
    return type == 1 || type == 2 || type == 5;
}

inline bool OpensUnit(int type) {
    return type == 6 || type == 7 || type == 8 || type == 9 || (type >= 14 && type <= 18);
}

}  // namespace annexb_detail

inline std::vector<AccessUnit> SplitAccessUnits(const std::uint8_t* data, std::size_t size) {
    using namespace annexb_detail;
    std::vector<AccessUnit> units;
    bool open = false;      // a unit has begun
    bool hasSlice = false;  // ... and holds a slice
    AccessUnit current;
    std::size_t code = FindStartCode(data, size, 0);
    while (code < size) {
        const std::size_t header = code + 3;
        // A zero in front of 00 00 01 makes the four-byte form; it belongs to
        // this NAL unit.
        const std::size_t nalStart = (code > 0 && data[code - 1] == 0) ? code - 1 : code;
        const int type = header < size ? (data[header] & 0x1F) : 0;
        const bool firstSlice =
            IsSlice(type) && header + 1 < size && (data[header + 1] & 0x80) != 0;
        if (open && hasSlice && (OpensUnit(type) || firstSlice)) {
            current.size = nalStart - current.offset;
            units.push_back(current);
            open = false;
        }
        if (!open) {
            current = AccessUnit{};
            current.offset = nalStart;
            open = true;
            hasSlice = false;
        }
        if (IsSlice(type))
            hasSlice = true;
        if (type == 5)
            current.idr = true;
        code = FindStartCode(data, size, header);
    }
    if (open) {
        current.size = size - current.offset;
        units.push_back(current);
    }
    return units;
}

}  // namespace bench
