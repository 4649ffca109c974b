#pragma once
// Where a module (executable or shared library) lives, and the version
// resource built into it.
//
// A module carries its version in a record placed in the ELF section
// ".qvversion" by QV_DEFINE_VERSION_RESOURCE, used once in one source file
// of the module:
//
//     QV_DEFINE_VERSION_RESOURCE(1, 0, 0, 1);
//
// The record is 24 bytes: the magic "QVVERSIONINFO" NUL-padded to 16 bytes,
// then fileVersionMS = major << 16 | minor and fileVersionLS =
// build << 16 | revision, both 32-bit little-endian. Each part must fit in
// 16 bits.
//
// All functions are thread-safe and report failure by their result.

#include <cstdint>
#include <string>

struct QvVersionRecord {
    char magic[16];
    std::uint32_t fileVersionMS;
    std::uint32_t fileVersionLS;
};
static_assert(sizeof(QvVersionRecord) == 24);

#define QV_VERSION_MAGIC "QVVERSIONINFO"

// Internal linkage: every module keeps its own record and exports no symbol.
#define QV_DEFINE_VERSION_RESOURCE(major, minor, build, revision)                          \
    __attribute__((section(".qvversion"),                                                  \
                   used)) static const QvVersionRecord qvVersionResource_ = {              \
        QV_VERSION_MAGIC, (std::uint32_t(major) << 16) | (std::uint32_t(minor) & 0xFFFFu), \
        (std::uint32_t(build) << 16) | (std::uint32_t(revision) & 0xFFFFu)}

// Absolute canonical path of the module that contains addressInModule (any
// function or object in it). Empty when the address belongs to no module or
// the path cannot be resolved.
std::string ModulePathOf(const void* addressInModule);

// Reads the first valid version record from the ".qvversion" section of the
// ELF64 little-endian file at path. Returns false, leaving *ms and *ls alone,
// when the file is missing, not such an ELF file, truncated or corrupt, has
// no such section, or the section holds no record with the magic. Null
// out-pointers are allowed.
bool ReadModuleFileVersion(const std::string& path, std::uint32_t* ms, std::uint32_t* ls);
