// Module paths and the version record in the ".qvversion" section.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/module_info.h"
#include "tests/test_support.h"

// The test program's own version resource, read back from its file below.
QV_DEFINE_VERSION_RESOURCE(3, 14, 159, 26);

namespace {

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

bool ReadVersion(const std::vector<std::uint8_t>& file, std::uint32_t* ms, std::uint32_t* ls) {
    static const std::string dir = testing_support::MakeTempDir("module-info");
    const std::string path = dir + "/module.so";
    WriteFile(path, file);
    return ReadModuleFileVersion(path, ms, ls);
}

void PutLe(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A minimal ELF64 little-endian file: header, section-name table, one data
// section, then the section headers [null, .shstrtab, data].
struct ElfImage {
    std::string dataName = ".qvversion";
    std::vector<std::uint8_t> data;

    static constexpr std::size_t kShoffField = 40, kShnumField = 60, kShstrndxField = 62;
    std::size_t namesOffset = 0, dataOffset = 0, shoff = 0;

    std::size_t SectionHeader(int i) const { return shoff + 64 * static_cast<std::size_t>(i); }

    std::vector<std::uint8_t> Build() {
        const std::string names = std::string("\0.shstrtab\0", 11) + dataName + '\0';
        namesOffset = 64;
        dataOffset = (namesOffset + names.size() + 7) & ~std::size_t{7};
        shoff = (dataOffset + data.size() + 7) & ~std::size_t{7};
        std::vector<std::uint8_t> b(shoff + std::size_t{3} * 64, 0);
        std::memcpy(b.data(),
                    "\x7F"
                    "ELF\x02\x01\x01",
                    7);
        PutLe(b, 16, 3, 2);   // shared object
        PutLe(b, 18, 62, 2);  // x86-64
        PutLe(b, 20, 1, 4);
        PutLe(b, kShoffField, shoff, 8);
        PutLe(b, 52, 64, 2);
        PutLe(b, 58, 64, 2);
        PutLe(b, kShnumField, 3, 2);
        PutLe(b, kShstrndxField, 1, 2);
        std::memcpy(b.data() + namesOffset, names.data(), names.size());
        std::memcpy(b.data() + dataOffset, data.data(), data.size());
        const auto section = [&](int i, std::uint32_t name, std::uint32_t type, std::size_t off,
                                 std::size_t size) {
            PutLe(b, SectionHeader(i) + 0, name, 4);
            PutLe(b, SectionHeader(i) + 4, type, 4);
            PutLe(b, SectionHeader(i) + 24, off, 8);
            PutLe(b, SectionHeader(i) + 32, size, 8);
        };
        section(1, 1, 3 /* string table */, namesOffset, names.size());
        section(2, 11, 1 /* program data */, dataOffset, data.size());
        return b;
    }
};

std::vector<std::uint8_t> Record(const char* magic, std::uint32_t ms, std::uint32_t ls) {
    std::vector<std::uint8_t> r(24, 0);
    std::memcpy(r.data(), magic, std::strlen(magic));
    PutLe(r, 16, ms, 4);
    PutLe(r, 20, ls, 4);
    return r;
}

int FunctionInThisProgram() {
    return 42;
}

TEST(ModuleInfo, PathOfTheTestProgramAndOfTheLibrary) {
    const std::string self = ModulePathOf(reinterpret_cast<const void*>(&FunctionInThisProgram));
    EXPECT_EQ(self, std::filesystem::canonical("/proc/self/exe").string());

    const std::string lib = ModulePathOf(reinterpret_cast<const void*>(&ModulePathOf));
    EXPECT_TRUE(std::filesystem::path(lib).is_absolute());
    EXPECT_EQ(std::filesystem::path(lib).filename(), "libQvPlatform.so");
    EXPECT_EQ(lib, std::filesystem::canonical(lib).string());

    int onTheStack = 0;
    EXPECT_EQ(ModulePathOf(&onTheStack), "");
    EXPECT_EQ(ModulePathOf(nullptr), "");
}

TEST(ModuleInfo, ReadsTheVersionBuiltIntoThisProgram) {
    std::uint32_t ms = 0, ls = 0;
    ASSERT_TRUE(ReadModuleFileVersion(
        ModulePathOf(reinterpret_cast<const void*>(&FunctionInThisProgram)), &ms, &ls));
    EXPECT_EQ(ms, (3u << 16) | 14u);
    EXPECT_EQ(ls, (159u << 16) | 26u);
}

TEST(ModuleInfo, ReadsARecordFromAHandBuiltFile) {
    ElfImage image;
    image.data = Record(QV_VERSION_MAGIC, 0x00010002, 0x00030004);
    std::uint32_t ms = 0, ls = 0;
    ASSERT_TRUE(ReadVersion(image.Build(), &ms, &ls));
    EXPECT_EQ(ms, 0x00010002u);
    EXPECT_EQ(ls, 0x00030004u);

    // Something else before the record, at a 4-byte step.
    image.data = Record("NOTTHEMAGIC", 1, 1);
    image.data.resize(8);
    const auto record = Record(QV_VERSION_MAGIC, 7, 9);
    image.data.insert(image.data.end(), record.begin(), record.end());
    ASSERT_TRUE(ReadVersion(image.Build(), &ms, &ls));
    EXPECT_EQ(ms, 7u);
    EXPECT_EQ(ls, 9u);
}

TEST(ModuleInfo, CorruptFilesAreRejected) {
    const struct {
        const char* name;
        std::function<void(ElfImage&)> prepare;
        std::function<void(ElfImage&, std::vector<std::uint8_t>&)> corrupt;
    } cases[] = {
        {"wrong magic in the record", [](ElfImage& i) { i.data = Record("QVVERSIONINFX", 1, 1); },
         nullptr},
        {"record too short", [](ElfImage& i) { i.data.resize(20); }, nullptr},
        {"no such section", [](ElfImage& i) { i.dataName = ".qvversio"; }, nullptr},
        {"longer section name", [](ElfImage& i) { i.dataName = ".qvversion2"; }, nullptr},
        {"32-bit class", nullptr, [](ElfImage&, std::vector<std::uint8_t>& b) { b[4] = 1; }},
        {"big-endian", nullptr, [](ElfImage&, std::vector<std::uint8_t>& b) { b[5] = 2; }},
        {"not ELF", nullptr, [](ElfImage&, std::vector<std::uint8_t>& b) { b[1] = 'X'; }},
        {"section headers past the end", nullptr,
         [](ElfImage& i, std::vector<std::uint8_t>& b) {
             PutLe(b, i.kShoffField, b.size() - 10, 8);
         }},
        {"section header offset wraps", nullptr,
         [](ElfImage& i, std::vector<std::uint8_t>& b) { PutLe(b, i.kShoffField, ~0ull - 8, 8); }},
        {"huge section count", nullptr,
         [](ElfImage& i, std::vector<std::uint8_t>& b) { PutLe(b, i.kShnumField, 0xFEFF, 2); }},
        {"name table index out of range", nullptr,
         [](ElfImage& i, std::vector<std::uint8_t>& b) { PutLe(b, i.kShstrndxField, 9, 2); }},
        {"data offset past the end", nullptr,
         [](ElfImage& i, std::vector<std::uint8_t>& b) {
             PutLe(b, i.SectionHeader(2) + 24, 1ull << 40, 8);
         }},
        {"data size wraps", nullptr,
         [](ElfImage& i, std::vector<std::uint8_t>& b) {
             PutLe(b, i.SectionHeader(2) + 32, ~0ull, 8);
         }},
        {"name offset past the name table", nullptr,
         [](ElfImage& i, std::vector<std::uint8_t>& b) { PutLe(b, i.SectionHeader(2), 5000, 4); }},
        {"name table without terminator", nullptr,
         [](ElfImage& i, std::vector<std::uint8_t>& b) {
             PutLe(b, i.SectionHeader(1) + 32, 21, 8);
         }},
        {"name table occupies no file space", nullptr,
         [](ElfImage& i, std::vector<std::uint8_t>& b) { PutLe(b, i.SectionHeader(1) + 4, 8, 4); }},
        {"data occupies no file space", nullptr,
         [](ElfImage& i, std::vector<std::uint8_t>& b) { PutLe(b, i.SectionHeader(2) + 4, 8, 4); }},
        {"section header size too small", nullptr,
         [](ElfImage&, std::vector<std::uint8_t>& b) { PutLe(b, 58, 40, 2); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ElfImage image;
        image.data = Record(QV_VERSION_MAGIC, 5, 6);
        if (c.prepare)
            c.prepare(image);
        std::vector<std::uint8_t> bytes = image.Build();
        if (c.corrupt)
            c.corrupt(image, bytes);
        std::uint32_t ms = 0xAAAA, ls = 0xBBBB;
        EXPECT_FALSE(ReadVersion(bytes, &ms, &ls));
        EXPECT_EQ(ms, 0xAAAAu);
        EXPECT_EQ(ls, 0xBBBBu);
    }
}

TEST(ModuleInfo, EveryTruncationIsRejected) {
    ElfImage image;
    image.data = Record(QV_VERSION_MAGIC, 5, 6);
    const std::vector<std::uint8_t> full = image.Build();
    ASSERT_TRUE(ReadVersion(full, nullptr, nullptr));
    const std::string path = testing_support::MakeTempDir("module-truncated") + "/module.so";
    WriteFile(path, full);
    for (std::size_t n = full.size(); n-- > 0;) {
        SCOPED_TRACE(n);
        ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(n)), 0);
        EXPECT_FALSE(ReadModuleFileVersion(path, nullptr, nullptr));
    }
}

TEST(ModuleInfo, GarbageMissingAndTruncatedRealFilesAreRejected) {
    const std::string dir = testing_support::MakeTempDir("module-garbage");
    std::mt19937 random(1234);
    std::vector<std::uint8_t> garbage(4096);
    for (auto& b : garbage)
        b = static_cast<std::uint8_t>(random());
    std::memcpy(garbage.data(),
                "\x7F"
                "ELF\x02\x01",
                6);  // plausible start, nonsense after
    EXPECT_FALSE(ReadVersion(garbage, nullptr, nullptr));

    EXPECT_FALSE(ReadModuleFileVersion(dir + "/missing.so", nullptr, nullptr));
    EXPECT_FALSE(ReadModuleFileVersion(dir, nullptr, nullptr));

    // The first 64 KiB of this very program: its section headers are cut off.
    const std::string self = ModulePathOf(reinterpret_cast<const void*>(&FunctionInThisProgram));
    std::ifstream in(self, std::ios::binary);
    std::vector<std::uint8_t> head(std::size_t{64} * 1024);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    EXPECT_FALSE(ReadVersion(head, nullptr, nullptr));
}

}  // namespace
