// The neighbour table: buffer rules on the in-memory table, and the system
// table through netlink inside a private network namespace.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/if_link.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/neighbour_table.h"

namespace {

IpNetRow Row(std::uint32_t index, const char* ip, std::uint8_t lastMacByte,
             std::uint32_t type = kNetTypeDynamic) {
    IpNetRow r{};
    r.index = index;
    r.physAddrLen = 6;
    const std::uint8_t mac[6] = {0x02, 0, 0, 0, 0, lastMacByte};
    std::memcpy(r.physAddr, mac, 6);
    inet_pton(AF_INET, ip, &r.addr);
    r.type = type;
    return r;
}

std::vector<IpNetRow> RowsIn(const std::vector<std::uint8_t>& buffer) {
    std::uint32_t count = 0;
    std::memcpy(&count, buffer.data(), sizeof count);
    std::vector<IpNetRow> rows(count);
    std::memcpy(rows.data(), buffer.data() + 4, sizeof(IpNetRow) * count);
    return rows;
}

std::string Ip(std::uint32_t addr) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

// The way the client flushes: one read into a fixed 9628-byte buffer (401
// rows), then a delete per row.
constexpr std::uint32_t kFlushBufferBytes = 9628;

TEST(NeighbourTableBuffer, FourHundredAndOneRowsFitTheFlushBuffer) {
    for (std::uint32_t rowCount : {1u, 400u, 401u, 402u}) {
        SCOPED_TRACE(rowCount);
        FakeNeighbourTable table;
        for (std::uint32_t i = 0; i < rowCount; ++i) {
            table.rows.push_back(Row(1 + i % 3, ("192.0.2." + std::to_string(i % 250)).c_str(), 1));
            table.rows.back().addr += htonl((i / 250) << 8);
        }
        std::vector<std::uint8_t> buffer(kFlushBufferBytes, 0xEE);
        std::uint32_t size = kFlushBufferBytes;
        const std::uint32_t rc = table.GetIpNetTable(buffer.data(), &size, true);
        if (rowCount <= 401) {
            EXPECT_EQ(rc, kNetOk);
            EXPECT_EQ(size, kFlushBufferBytes);
            EXPECT_EQ(RowsIn(buffer).size(), rowCount);
        } else {
            EXPECT_EQ(rc, kNetInsufficientBuffer);
            EXPECT_EQ(size, 4u + 24u * rowCount);
            EXPECT_EQ(buffer[0], 0xEE);  // nothing written
        }
        EXPECT_TRUE(table.deleted.empty());
        EXPECT_EQ(table.rows.size(), rowCount);
    }
}

TEST(NeighbourTableBuffer, SizeQueryEmptyTableAndBadArguments) {
    FakeNeighbourTable table;
    std::uint32_t size = 100;
    EXPECT_EQ(table.GetIpNetTable(nullptr, &size, false), kNetNoData);
    EXPECT_EQ(table.GetIpNetTable(nullptr, nullptr, false), kNetInvalidParameter);
    table.rows = {Row(1, "192.0.2.1", 1), Row(1, "192.0.2.2", 2)};
    size = 0;
    EXPECT_EQ(table.GetIpNetTable(nullptr, &size, false), kNetInsufficientBuffer);
    EXPECT_EQ(size, 52u);
    size = 51;
    std::vector<std::uint8_t> buffer(52);
    EXPECT_EQ(table.GetIpNetTable(buffer.data(), &size, false), kNetInsufficientBuffer);
    EXPECT_EQ(size, 52u);
    EXPECT_EQ(table.GetIpNetTable(buffer.data(), &size, false), kNetOk);
    table.getError = kNetGenFailure;
    EXPECT_EQ(table.GetIpNetTable(buffer.data(), &size, false), kNetGenFailure);
}

TEST(NeighbourTableBuffer, SortedByInterfaceThenAddressInHostOrder) {
    FakeNeighbourTable table;
    // In network byte order read as a little-endian number, 198.51.100.1 would
    // come before 192.0.2.5; in host order it comes after.
    table.rows = {Row(2, "192.0.2.1", 1), Row(1, "198.51.100.1", 2), Row(1, "192.0.2.5", 3),
                  Row(1, "192.0.2.40", 4), Row(1, "192.0.2.6", 5)};
    std::vector<std::uint8_t> buffer(4 + 24 * 5);
    std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
    ASSERT_EQ(table.GetIpNetTable(buffer.data(), &size, true), kNetOk);
    std::vector<std::string> order;
    for (const auto& r : RowsIn(buffer))
        order.push_back(std::to_string(r.index) + "/" + Ip(r.addr));
    EXPECT_EQ(order, (std::vector<std::string>{"1/192.0.2.5", "1/192.0.2.6", "1/192.0.2.40",
                                               "1/198.51.100.1", "2/192.0.2.1"}));
    ASSERT_EQ(table.GetIpNetTable(buffer.data(), &size, false), kNetOk);
    EXPECT_EQ(Ip(RowsIn(buffer)[0].addr), "192.0.2.1");  // unsorted: as stored
    EXPECT_EQ(RowsIn(buffer)[4].physAddr[5], 5);
}

TEST(NeighbourTableBuffer, FakeRecordsDeletions) {
    FakeNeighbourTable table;
    table.rows = {Row(1, "192.0.2.1", 1), Row(2, "192.0.2.1", 2)};
    EXPECT_EQ(table.DeleteIpNetEntry(Row(2, "192.0.2.1", 0)), kNetOk);
    EXPECT_EQ(table.DeleteIpNetEntry(Row(2, "192.0.2.1", 0)), kNetNotFound);
    ASSERT_EQ(table.deleted.size(), 1u);
    EXPECT_EQ(table.deleted[0].physAddr[5], 2);
    table.deleteError = kNetAccessDenied;
    EXPECT_EQ(table.DeleteIpNetEntry(Row(1, "192.0.2.1", 0)), kNetAccessDenied);
    EXPECT_EQ(table.rows.size(), 1u);
}

// --- The system table, in a network namespace of our own --------------------

// A netlink request built attribute by attribute; Transact returns 0 or errno.
class NetlinkRequest {
public:
    NetlinkRequest(std::uint16_t type, std::uint16_t flags) {
        nlmsghdr h{};
        h.nlmsg_type = type;
        h.nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | NLM_F_ACK | flags);
        h.nlmsg_seq = 1;
        Append(&h, sizeof h);
    }
    void Append(const void* data, std::size_t n) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        m_bytes.insert(m_bytes.end(), p, p + n);
        m_bytes.resize(NLMSG_ALIGN(m_bytes.size()), 0);
    }
    void Attr(std::uint16_t type, const void* data, std::size_t n) {
        rtattr a{static_cast<std::uint16_t>(RTA_LENGTH(n)), type};
        Append(&a, sizeof a);
        m_bytes.resize(m_bytes.size() - RTA_ALIGN(sizeof a) + sizeof a);
        Append(data, n);
    }
    std::size_t BeginNest(std::uint16_t type) {
        const std::size_t at = m_bytes.size();
        rtattr a{0, type};
        Append(&a, sizeof a);
        return at;
    }
    void EndNest(std::size_t at) {
        const auto len = static_cast<std::uint16_t>(m_bytes.size() - at);
        std::memcpy(m_bytes.data() + at, &len, sizeof len);
    }
    int Transact() {
        const auto len = static_cast<std::uint32_t>(m_bytes.size());
        std::memcpy(m_bytes.data(), &len, sizeof len);
        const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (fd < 0)
            return errno;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        int result = EIO;
        std::vector<std::uint8_t> reply(8192);
        if (::sendto(fd, m_bytes.data(), m_bytes.size(), 0, reinterpret_cast<sockaddr*>(&kernel),
                     sizeof kernel) == static_cast<ssize_t>(m_bytes.size())) {
            const ssize_t n = ::recv(fd, reply.data(), reply.size(), 0);
            if (n >= static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr)))) {
                nlmsgerr err{};
                std::memcpy(&err, reply.data() + NLMSG_HDRLEN, sizeof err);
                result = -err.error;
            }
        }
        ::close(fd);
        return result;
    }

private:
    std::vector<std::uint8_t> m_bytes;
};

int AddLink(const char* name, const char* kind) {
    NetlinkRequest req(RTM_NEWLINK, NLM_F_CREATE | NLM_F_EXCL);
    ifinfomsg ifi{};
    ifi.ifi_family = AF_UNSPEC;
    req.Append(&ifi, sizeof ifi);
    req.Attr(IFLA_IFNAME, name, std::strlen(name) + 1);
    const std::size_t info = req.BeginNest(IFLA_LINKINFO);
    req.Attr(IFLA_INFO_KIND, kind, std::strlen(kind));
    req.EndNest(info);
    return req.Transact();
}

int AddNeighbour(int ifindex, const char* ip, std::uint8_t lastMacByte, std::uint16_t state) {
    NetlinkRequest req(RTM_NEWNEIGH, NLM_F_CREATE | NLM_F_EXCL);
    ndmsg nd{};
    nd.ndm_family = AF_INET;
    nd.ndm_ifindex = ifindex;
    nd.ndm_state = state;
    req.Append(&nd, sizeof nd);
    std::uint32_t addr = 0;
    inet_pton(AF_INET, ip, &addr);
    const std::uint8_t mac[6] = {0x02, 0, 0, 0, 0, lastMacByte};
    req.Attr(NDA_DST, &addr, sizeof addr);
    req.Attr(NDA_LLADDR, mac, sizeof mac);
    return req.Transact();
}

constexpr int kChildPassed = 0, kChildFailed = 1, kChildSkipped = 77;

// Runs in the forked child, inside its own network namespace. Returns an
// exit code; explains failures and skips in *log.
int NamespaceScenario(std::string* log) {
    if (::unshare(CLONE_NEWNET) != 0) {
        *log = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
        return kChildSkipped;
    }
    const char* const kName = "qvtest0";
    int rc = AddLink(kName, "dummy");
    if (rc != 0)
        rc = AddLink(kName, "bridge");  // kernels without the dummy driver
    const int ifindex = static_cast<int>(if_nametoindex(kName));
    if (rc != 0 || ifindex == 0) {
        *log = std::string("cannot create a test link: ") + std::strerror(rc);
        return kChildSkipped;
    }
    // Documentation addresses on a link that stays down: nothing is sent.
    const struct {
        const char* ip;
        std::uint8_t mac;
        std::uint16_t state;
        std::uint32_t type;
    } neighbours[] = {{"198.51.100.1", 0x11, NUD_STALE, kNetTypeDynamic},
                      {"192.0.2.5", 0x22, NUD_PERMANENT, kNetTypeStatic},
                      {"203.0.113.9", 0x33, NUD_REACHABLE, kNetTypeDynamic}};
    for (const auto& n : neighbours) {
        if ((rc = AddNeighbour(ifindex, n.ip, n.mac, n.state)) != 0) {
            *log = std::string("cannot add neighbour ") + n.ip + ": " + std::strerror(rc);
            return kChildFailed;
        }
    }

    bool ok = true;
    const auto check = [&](bool condition, const std::string& what) {
        if (!condition) {
            *log += "failed: " + what + "\n";
            ok = false;
        }
    };
    NeighbourTable& table = SystemNeighbourTable();
    std::uint32_t size = 0;
    check(table.GetIpNetTable(nullptr, &size, true) == kNetInsufficientBuffer, "size query");
    check(size == 4 + 3 * 24, "size needed is " + std::to_string(size));
    std::vector<std::uint8_t> buffer(kFlushBufferBytes);
    size = kFlushBufferBytes;
    check(table.GetIpNetTable(buffer.data(), &size, true) == kNetOk, "sorted read");
    const std::vector<IpNetRow> rows = RowsIn(buffer);
    check(rows.size() == 3, "row count " + std::to_string(rows.size()));
    const char* const sortedIps[] = {"192.0.2.5", "198.51.100.1", "203.0.113.9"};
    const std::uint8_t sortedMacs[] = {0x22, 0x11, 0x33};
    const std::uint32_t sortedTypes[] = {kNetTypeStatic, kNetTypeDynamic, kNetTypeDynamic};
    for (std::size_t i = 0; i < rows.size() && i < 3; ++i) {
        const std::string at = "row " + std::to_string(i) + " ";
        check(Ip(rows[i].addr) == sortedIps[i], at + "address " + Ip(rows[i].addr));
        check(rows[i].index == static_cast<std::uint32_t>(ifindex), at + "interface");
        check(rows[i].physAddrLen == 6 && rows[i].physAddr[0] == 0x02 &&
                  rows[i].physAddr[5] == sortedMacs[i],
              at + "link-layer address");
        check(rows[i].type == sortedTypes[i], at + "type " + std::to_string(rows[i].type));
    }
    for (const auto& r : rows) {
        check(table.DeleteIpNetEntry(r) == kNetOk, "delete " + Ip(r.addr));
        check(table.DeleteIpNetEntry(r) == kNetNotFound, "second delete " + Ip(r.addr));
    }
    size = kFlushBufferBytes;
    check(table.GetIpNetTable(buffer.data(), &size, true) == kNetNoData,
          "table empty after deletes");
    IpNetRow nowhere = Row(static_cast<std::uint32_t>(ifindex) + 100, "192.0.2.1", 0);
    check(table.DeleteIpNetEntry(nowhere) != kNetOk, "delete on a missing interface fails");
    return ok ? kChildPassed : kChildFailed;
}

TEST(SystemNeighbourTable, ReadsAndDeletesInAPrivateNamespace) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(pipeFds[0]);
        std::string log;
        const int code = NamespaceScenario(&log);
        [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], log.data(), log.size());
        ::_exit(code);
    }
    ::close(pipeFds[1]);
    std::string log;
    char chunk[512];
    for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;)
        log.append(chunk, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "child crashed";
    if (WEXITSTATUS(status) == kChildSkipped) {
        GTEST_SKIP() << log;
    }
    EXPECT_EQ(WEXITSTATUS(status), kChildPassed) << log;
}

}  // namespace
