#pragma once
// The IPv4 neighbour (ARP) table, behind calls shaped like the classic IP
// helper functions: the client reads the whole table into one fixed buffer and
// deletes it row by row.

#include <cstdint>
#include <vector>

// Result codes, the long-standing values of the calls this mirrors.
constexpr std::uint32_t kNetOk = 0;
constexpr std::uint32_t kNetAccessDenied = 5;
constexpr std::uint32_t kNetGenFailure = 31;
constexpr std::uint32_t kNetInvalidParameter = 87;
constexpr std::uint32_t kNetInsufficientBuffer = 122;
constexpr std::uint32_t kNetNoData = 232;
constexpr std::uint32_t kNetNotFound = 1168;

// Row types.
constexpr std::uint32_t kNetTypeOther = 1;
constexpr std::uint32_t kNetTypeInvalid = 2;
constexpr std::uint32_t kNetTypeDynamic = 3;
constexpr std::uint32_t kNetTypeStatic = 4;

struct IpNetRow {
    std::uint32_t index;  // interface index
    std::uint32_t physAddrLen;
    std::uint8_t physAddr[8];
    std::uint32_t addr;  // IPv4 address, network byte order
    std::uint32_t type;  // kNetType*
};
static_assert(sizeof(IpNetRow) == 24);

class NeighbourTable {
public:
    virtual ~NeighbourTable() = default;

    // Fills buffer with a uint32 row count followed by the rows (native byte
    // order, rows unaligned-safe to memcpy). sorted: by interface index, then
    // address in host order. Returns kNetOk (*size unchanged);
    // kNetInsufficientBuffer with *size set to the bytes needed when buffer is
    // null or *size is too small; kNetNoData for an empty table;
    // kNetInvalidParameter when size is null; another non-zero code when the
    // table cannot be read.
    virtual std::uint32_t GetIpNetTable(std::uint8_t* buffer, std::uint32_t* size, bool sorted) = 0;

    // Deletes the entry for row.addr on interface row.index (other fields are
    // not looked at). Returns kNetOk, kNetNotFound, kNetAccessDenied (the
    // process may not change the table) or another non-zero code.
    virtual std::uint32_t DeleteIpNetEntry(const IpNetRow& row) = 0;
};

// The system's table through rtnetlink, IPv4 only. Entries of every state are
// listed: permanent and no-ARP entries as static, reachable, stale, delay and
// probe as dynamic, incomplete and failed as invalid. Deleting needs
// CAP_NET_ADMIN in the process's network namespace. Thread-safe: every call
// uses its own socket and gives up after a second without an answer.
NeighbourTable& SystemNeighbourTable();

// The buffer rules of GetIpNetTable applied to rows; shared by the tables.
std::uint32_t CopyIpNetTable(std::vector<IpNetRow> rows, std::uint8_t* buffer, std::uint32_t* size,
                             bool sorted);

// An in-memory table for the callers' tests. Not thread-safe.
class FakeNeighbourTable : public NeighbourTable {
public:
    std::vector<IpNetRow> rows;
    std::vector<IpNetRow> deleted;       // successful deletions, in call order
    std::uint32_t getError = kNetOk;     // when set, GetIpNetTable returns it
    std::uint32_t deleteError = kNetOk;  // when set, DeleteIpNetEntry returns it

    std::uint32_t GetIpNetTable(std::uint8_t* buffer, std::uint32_t* size, bool sorted) override;
    std::uint32_t DeleteIpNetEntry(const IpNetRow& row) override;
};
