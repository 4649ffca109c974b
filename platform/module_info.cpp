#include "platform/module_info.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

constexpr char kSectionName[] = ".qvversion";
constexpr std::size_t kElfHeaderSize = 64;
constexpr std::size_t kSectionHeaderSize = 64;
constexpr std::uint32_t kSectionNoBits = 8;            // SHT_NOBITS: occupies no file space
constexpr std::uint16_t kSectionIndexEscape = 0xFFFF;  // SHN_XINDEX
constexpr std::uint16_t kSectionLoReserve = 0xFF00;    // SHN_LORESERVE

std::string Canonical(const char* path) {
    char* real = ::realpath(path, nullptr);
    if (real == nullptr) {
        return {};
    }
    std::string result(real);
    std::free(real);
    return result;
}

std::uint64_t Le(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return v;
}

// Reads exactly size bytes at offset; false when the file is shorter.
bool ReadAt(int fd, std::uint64_t fileSize, std::uint64_t offset, std::uint64_t size,
            std::vector<std::uint8_t>* out) {
    if (offset > fileSize || size > fileSize - offset) {
        return false;
    }
    out->resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pread(fd, out->data() + done, out->size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

struct Section {
    std::uint32_t name;
    std::uint32_t type;
    std::uint64_t offset;
    std::uint64_t size;
    std::uint32_t link;
};

Section ParseSection(const std::uint8_t* p) {
    return Section{static_cast<std::uint32_t>(Le(p, 4)), static_cast<std::uint32_t>(Le(p + 4, 4)),
                   Le(p + 24, 8), Le(p + 32, 8), static_cast<std::uint32_t>(Le(p + 40, 4))};
}

bool FindVersion(int fd, std::uint64_t fileSize, std::uint32_t* ms, std::uint32_t* ls) {
    std::vector<std::uint8_t> header;
    if (!ReadAt(fd, fileSize, 0, kElfHeaderSize, &header)) {
        return false;
    }
    const std::uint8_t* h = header.data();
    if (std::memcmp(h,
                    "\x7F"
                    "ELF",
                    4) != 0 ||
        h[4] != 2 /* 64-bit */ || h[5] != 1 /* little-endian */) {
        return false;
    }
    const std::uint64_t shoff = Le(h + 40, 8);
    const std::uint64_t shentsize = Le(h + 58, 2);
    std::uint64_t shnum = Le(h + 60, 2);
    std::uint64_t shstrndx = Le(h + 62, 2);
    if (shoff == 0 || shentsize < kSectionHeaderSize) {
        return false;
    }
    // Large counts live in section 0.
    std::vector<std::uint8_t> first;
    if (!ReadAt(fd, fileSize, shoff, kSectionHeaderSize, &first)) {
        return false;
    }
    const Section zero = ParseSection(first.data());
    if (shnum == 0) {
        shnum = zero.size;
    }
    if (shstrndx == kSectionIndexEscape) {
        shstrndx = zero.link;
    } else if (shstrndx >= kSectionLoReserve) {
        return false;
    }
    if (shnum == 0 || shstrndx >= shnum ||
        shnum > (fileSize - std::min(shoff, fileSize)) / shentsize) {
        return false;
    }
    std::vector<std::uint8_t> table;
    if (!ReadAt(fd, fileSize, shoff, shnum * shentsize, &table)) {
        return false;
    }
    const auto sectionAt = [&](std::uint64_t i) {
        return ParseSection(table.data() + i * shentsize);
    };
    const Section strtab = sectionAt(shstrndx);
    std::vector<std::uint8_t> names;
    if (strtab.type == kSectionNoBits ||
        !ReadAt(fd, fileSize, strtab.offset, strtab.size, &names)) {
        return false;
    }
    for (std::uint64_t i = 1; i < shnum; ++i) {
        const Section s = sectionAt(i);
        if (s.name >= names.size() || s.type == kSectionNoBits) {
            continue;
        }
        const char* begin = reinterpret_cast<const char*>(names.data()) + s.name;
        const std::size_t room = names.size() - s.name;
        const std::string_view name(begin, strnlen(begin, room));
        if (name.size() == room || name != kSectionName) {  // unterminated or another name
            continue;
        }
        std::vector<std::uint8_t> data;
        if (!ReadAt(fd, fileSize, s.offset, s.size, &data)) {
            return false;
        }
        // Records are 4-byte aligned; anything the linker put between them is skipped.
        for (std::size_t at = 0; at + sizeof(QvVersionRecord) <= data.size(); at += 4) {
            char magic[16] = QV_VERSION_MAGIC;
            if (std::memcmp(data.data() + at, magic, sizeof magic) == 0) {
                if (ms)
                    *ms = static_cast<std::uint32_t>(Le(data.data() + at + 16, 4));
                if (ls)
                    *ls = static_cast<std::uint32_t>(Le(data.data() + at + 20, 4));
                return true;
            }
        }
    }
    return false;
}

}  // namespace

std::string ModulePathOf(const void* addressInModule) {
    Dl_info info{};
    link_map* map = nullptr;
    if (addressInModule == nullptr ||
        ::dladdr1(addressInModule, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
        return {};
    }
    // The main program's link map has no name; the kernel knows its file.
    if (map == nullptr || map->l_name == nullptr || map->l_name[0] == '\0') {
        return Canonical("/proc/self/exe");
    }
    return Canonical(map->l_name);
}

bool ReadModuleFileVersion(const std::string& path, std::uint32_t* ms, std::uint32_t* ls) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                    FindVersion(fd, static_cast<std::uint64_t>(st.st_size), ms, ls);
    ::close(fd);
    return ok;
}
