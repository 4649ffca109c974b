#include "platform/neighbour_table.h"

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>

namespace {

constexpr std::size_t kReceiveBytes = std::size_t{64} * 1024;
constexpr int kAnswerTimeoutMs = 1000;

std::uint32_t RowType(std::uint16_t state) {
    if (state & (NUD_PERMANENT | NUD_NOARP))
        return kNetTypeStatic;
    if (state & (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE))
        return kNetTypeDynamic;
    if (state & (NUD_INCOMPLETE | NUD_FAILED))
        return kNetTypeInvalid;
    return kNetTypeOther;
}

std::uint32_t FromErrno(int error) {
    switch (error) {
        case 0:
            return kNetOk;
        case EPERM:
        case EACCES:
            return kNetAccessDenied;
        case ENOENT:
        case ENODEV:
        case ESRCH:
            return kNetNotFound;
        case EINVAL:
            return kNetInvalidParameter;
        default:
            return kNetGenFailure;
    }
}

template <typename T>
T ReadStruct(const std::vector<char>& buf, std::size_t at) {
    T value;
    std::memcpy(&value, buf.data() + at, sizeof value);
    return value;
}

// One rtnetlink conversation with the kernel; the socket closes with it.
class RouteSocket {
public:
    RouteSocket() : m_fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {
        if (m_fd < 0) {
            return;
        }
        timeval tv{kAnswerTimeoutMs / 1000,
                   static_cast<suseconds_t>(kAnswerTimeoutMs % 1000) * 1000};
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0 ||
            ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~RouteSocket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RouteSocket(const RouteSocket&) = delete;
    RouteSocket& operator=(const RouteSocket&) = delete;

    bool ok() const { return m_fd >= 0; }

    bool Send(const void* message, std::size_t length) {
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        for (;;) {
            const ssize_t n = ::sendto(m_fd, message, length, 0,
                                       reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
            if (n < 0 && errno == EINTR)
                continue;
            return n == static_cast<ssize_t>(length);
        }
    }

    // Receives one datagram from the kernel into buf (resized to its length).
    // Returns false on error, time-out or a truncated datagram.
    bool Receive(std::vector<char>* buf) {
        buf->resize(kReceiveBytes);
        for (;;) {
            sockaddr_nl from{};
            iovec iov{buf->data(), buf->size()};
            msghdr msg{};
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            const ssize_t n = ::recvmsg(m_fd, &msg, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0 || (msg.msg_flags & MSG_TRUNC))
                return false;
            if (from.nl_pid != 0)
                continue;  // not from the kernel
            buf->resize(static_cast<std::size_t>(n));
            return true;
        }
    }

private:
    int m_fd;
};

std::uint32_t NextSequence() {
    static std::atomic<std::uint32_t> sequence{1};
    return sequence++;
}

// Walks the netlink messages of one datagram, length-checked. visit(header,
// offset of the payload) returns false to stop the walk.
template <typename Visit>
void ForEachMessage(const std::vector<char>& buf, Visit visit) {
    std::size_t at = 0;
    while (at + sizeof(nlmsghdr) <= buf.size()) {
        const auto h = ReadStruct<nlmsghdr>(buf, at);
        if (h.nlmsg_len < sizeof(nlmsghdr) || h.nlmsg_len > buf.size() - at) {
            return;
        }
        if (!visit(h, at)) {
            return;
        }
        at += NLMSG_ALIGN(h.nlmsg_len);
    }
}

// The errno of an NLMSG_ERROR message (0 for an acknowledgement).
int ErrorOf(const std::vector<char>& buf, const nlmsghdr& h, std::size_t at) {
    if (h.nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) {
        return EPROTO;
    }
    return -ReadStruct<nlmsgerr>(buf, at + NLMSG_HDRLEN).error;
}

bool ParseNeighbour(const std::vector<char>& buf, const nlmsghdr& h, std::size_t at,
                    IpNetRow* row) {
    if (h.nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg))) {
        return false;
    }
    const auto nd = ReadStruct<ndmsg>(buf, at + NLMSG_HDRLEN);
    if (nd.ndm_family != AF_INET || nd.ndm_ifindex < 0) {
        return false;
    }
    *row = IpNetRow{};
    row->index = static_cast<std::uint32_t>(nd.ndm_ifindex);
    row->type = RowType(nd.ndm_state);
    bool haveAddress = false;
    const std::size_t end = at + h.nlmsg_len;
    std::size_t a = at + NLMSG_LENGTH(sizeof(ndmsg));
    a = at + NLMSG_ALIGN(a - at);
    while (a + sizeof(rtattr) <= end) {
        const auto attr = ReadStruct<rtattr>(buf, a);
        if (attr.rta_len < sizeof(rtattr) || attr.rta_len > end - a) {
            break;
        }
        const std::size_t payload = attr.rta_len - RTA_LENGTH(0);
        const std::size_t data = a + RTA_LENGTH(0);
        if (attr.rta_type == NDA_DST && payload == sizeof row->addr) {
            std::memcpy(&row->addr, buf.data() + data, sizeof row->addr);
            haveAddress = true;
        } else if (attr.rta_type == NDA_LLADDR) {
            row->physAddrLen = static_cast<std::uint32_t>(std::min(payload, sizeof row->physAddr));
            std::memcpy(row->physAddr, buf.data() + data, row->physAddrLen);
        }
        a += RTA_ALIGN(attr.rta_len);
    }
    return haveAddress;
}

class SystemTable : public NeighbourTable {
public:
    std::uint32_t GetIpNetTable(std::uint8_t* buffer, std::uint32_t* size, bool sorted) override {
        if (size == nullptr) {
            return kNetInvalidParameter;
        }
        std::vector<IpNetRow> rows;
        const std::uint32_t rc = Dump(&rows);
        return rc != kNetOk ? rc : CopyIpNetTable(std::move(rows), buffer, size, sorted);
    }

    std::uint32_t DeleteIpNetEntry(const IpNetRow& row) override {
        if (row.index > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) {
            return kNetInvalidParameter;
        }
        RouteSocket sock;
        if (!sock.ok()) {
            return kNetGenFailure;
        }
        struct {
            nlmsghdr h;
            ndmsg nd;
            rtattr dstAttr;
            std::uint32_t dst;
        } req{};
        static_assert(sizeof req == NLMSG_LENGTH(sizeof(ndmsg)) + RTA_LENGTH(4));
        req.h.nlmsg_len = sizeof req;
        req.h.nlmsg_type = RTM_DELNEIGH;
        req.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
        req.h.nlmsg_seq = NextSequence();
        req.nd.ndm_family = AF_INET;
        req.nd.ndm_ifindex = static_cast<int>(row.index);
        req.dstAttr.rta_len = RTA_LENGTH(sizeof req.dst);
        req.dstAttr.rta_type = NDA_DST;
        req.dst = row.addr;
        if (!sock.Send(&req, sizeof req)) {
            return kNetGenFailure;
        }
        std::vector<char> buf;
        for (;;) {
            if (!sock.Receive(&buf)) {
                return kNetGenFailure;
            }
            int error = -1;
            ForEachMessage(buf, [&](const nlmsghdr& h, std::size_t at) {
                if (h.nlmsg_seq == req.h.nlmsg_seq && h.nlmsg_type == NLMSG_ERROR) {
                    error = ErrorOf(buf, h, at);
                    return false;
                }
                return true;
            });
            if (error >= 0) {
                return FromErrno(error);
            }
        }
    }

private:
    static std::uint32_t Dump(std::vector<IpNetRow>* rows) {
        RouteSocket sock;
        if (!sock.ok()) {
            return kNetGenFailure;
        }
        struct {
            nlmsghdr h;
            ndmsg nd;
        } req{};
        req.h.nlmsg_len = sizeof req;
        req.h.nlmsg_type = RTM_GETNEIGH;
        req.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        req.h.nlmsg_seq = NextSequence();
        req.nd.ndm_family = AF_INET;
        if (!sock.Send(&req, sizeof req)) {
            return kNetGenFailure;
        }
        std::vector<char> buf;
        for (;;) {
            if (!sock.Receive(&buf)) {
                return kNetGenFailure;
            }
            bool done = false;
            int error = 0;
            ForEachMessage(buf, [&](const nlmsghdr& h, std::size_t at) {
                if (h.nlmsg_seq != req.h.nlmsg_seq) {
                    return true;
                }
                if (h.nlmsg_type == NLMSG_DONE) {
                    done = true;
                } else if (h.nlmsg_type == NLMSG_ERROR) {
                    error = ErrorOf(buf, h, at);
                    done = true;
                } else if (h.nlmsg_type == RTM_NEWNEIGH) {
                    IpNetRow row;
                    if (ParseNeighbour(buf, h, at, &row)) {
                        rows->push_back(row);
                    }
                }
                return !done;
            });
            if (error != 0) {
                return FromErrno(error);
            }
            if (done) {
                return kNetOk;
            }
        }
    }
};

}  // namespace

NeighbourTable& SystemNeighbourTable() {
    static SystemTable table;
    return table;
}

std::uint32_t CopyIpNetTable(std::vector<IpNetRow> rows, std::uint8_t* buffer, std::uint32_t* size,
                             bool sorted) {
    if (size == nullptr) {
        return kNetInvalidParameter;
    }
    if (rows.empty()) {
        return kNetNoData;
    }
    const std::uint64_t needed =
        sizeof(std::uint32_t) + std::uint64_t{sizeof(IpNetRow)} * rows.size();
    if (needed > std::numeric_limits<std::uint32_t>::max()) {
        return kNetGenFailure;
    }
    if (buffer == nullptr || *size < needed) {
        *size = static_cast<std::uint32_t>(needed);
        return kNetInsufficientBuffer;
    }
    if (sorted) {
        std::sort(rows.begin(), rows.end(), [](const IpNetRow& a, const IpNetRow& b) {
            return a.index != b.index ? a.index < b.index : ntohl(a.addr) < ntohl(b.addr);
        });
    }
    const auto count = static_cast<std::uint32_t>(rows.size());
    std::memcpy(buffer, &count, sizeof count);
    std::memcpy(buffer + sizeof count, rows.data(), sizeof(IpNetRow) * rows.size());
    return kNetOk;
}

std::uint32_t FakeNeighbourTable::GetIpNetTable(std::uint8_t* buffer, std::uint32_t* size,
                                                bool sorted) {
    return getError != kNetOk ? getError : CopyIpNetTable(rows, buffer, size, sorted);
}

std::uint32_t FakeNeighbourTable::DeleteIpNetEntry(const IpNetRow& row) {
    if (deleteError != kNetOk) {
        return deleteError;
    }
    const auto it = std::find_if(rows.begin(), rows.end(), [&](const IpNetRow& r) {
        return r.index == row.index && r.addr == row.addr;
    });
    if (it == rows.end()) {
        return kNetNotFound;
    }
    deleted.push_back(*it);
    rows.erase(it);
    return kNetOk;
}
