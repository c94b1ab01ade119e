#include "SingleInstance.h"

#include "SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr char kSocketSuffix[] = ".socket";
// Longer tokens than any desktop hands out are not tokens.
constexpr std::size_t kMaxToken = 1024;
// Names of the abstract guard another user may hold before we pass on to the next.
constexpr int kAbstractNames = 64;

std::string SocketName() {
    return std::string(kInstanceSectionName) + kSocketSuffix;
}

// The folder of the slot and its socket: absolute, the user's own and private, reached as
// every private folder of ours is, and one that nobody else may even enter, so that no
// one else can reach the socket. Empty when it is not.
CFileHandle OpenSlotFolder(const std::string& strFolder, bool bCreate = false) {
    CFileHandle folder;
    struct stat st;
    if (strFolder.empty() || strFolder[0] != '/' ||
        !OpenPrivateFolder(strFolder, bCreate, folder) || ::fstat(folder.Get(), &st) != 0 ||
        (st.st_mode & 077) != 0)
        return {};
    return folder;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The socket's address: its path in the folder, or, when that is too long for an
// address, the same file reached through the folder's descriptor.
bool SocketAddress(const std::string& strFolder, int nFolderFd, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::string strPath = strFolder;
    if (strPath.back() != '/')
        strPath += '/';
    strPath += SocketName();
    if (strPath.size() >= sizeof addr.sun_path)
        strPath = "/proc/self/fd/" + std::to_string(nFolderFd) + "/" + SocketName();
    if (strPath.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, strPath.data(), strPath.size());
    return true;
}

std::string ActivationToken() {
    for (const char* pszName : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
        const char* pszValue = std::getenv(pszName);
        if (pszValue && *pszValue)
            return pszValue;
    }
    return {};
}

bool IsTokenText(const std::string& str) {
    if (str.size() > kMaxToken)
        return false;
    for (unsigned char ch : str)
        if (ch <= 0x20 || ch >= 0x7F)
            return false;
    return true;
}

std::vector<char> RequestMessage(const ActivationRequest& request) {
    std::vector<char> arrMessage(sizeof request.nWindowId + request.strToken.size());
    std::memcpy(arrMessage.data(), &request.nWindowId, sizeof request.nWindowId);
    std::memcpy(arrMessage.data() + sizeof request.nWindowId, request.strToken.data(),
                request.strToken.size());
    return arrMessage;
}

// ---- The guard in the abstract namespace ---------------------------------------------
//
// Its names live in the kernel only: nothing can be planted in a folder for them, and
// a name goes with the process that bound it, however that ends. Anyone may bind any
// name, though, so a name is ours only when the kernel says its holder is this user;
// one that another user holds passes the guard on to the next name.

socklen_t AbstractAddress(const std::string& strName, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    // sun_path[0] stays 0: the abstract namespace.
    const std::size_t nSize = std::min(strName.size(), sizeof addr.sun_path - 1);
    std::memcpy(addr.sun_path + 1, strName.data(), nSize);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + nSize);
}

std::string AbstractName(const std::string& strBase, int nIndex) {
    return strBase + "." + std::to_string(nIndex);
}

enum class Holder { None, Own, Other };

// Who holds the name. A connection is refused alike where nobody holds the name and
// where its holder does not listen (yet): a start caught between bind and listen, or
// someone who never listens. A name known to be bound is asked again a while before it
// counts as another user's.
Holder ConnectToHolder(const std::string& strName, bool bBound, CFileHandle& connection) {
    sockaddr_un addr;
    const socklen_t nSize = AbstractAddress(strName, addr);
    for (int nTry = 0; nTry < (bBound ? 50 : 1); ++nTry) {
        // Never waits: a holder that takes no connections (a first instance still
        // starting, or someone else's) must not hold this start.
        CFileHandle sock(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!sock.IsOpen())
            return Holder::None;
        if (::connect(sock.Get(), reinterpret_cast<const sockaddr*>(&addr), nSize) == 0) {
            ucred cred{};
            socklen_t nCred = sizeof cred;
            if (::getsockopt(sock.Get(), SOL_SOCKET, SO_PEERCRED, &cred, &nCred) != 0 ||
                cred.uid != ::geteuid())
                return Holder::Other;
            connection = std::move(sock);
            return Holder::Own;
        }
        if (errno != ECONNREFUSED && errno != EAGAIN && errno != EINTR)
            return Holder::None;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return bBound ? Holder::Other : Holder::None;
}

// The first name, counted from nFrom, held by this user; -1 when none is.
int FindOwnHolder(const std::string& strBase, int nFrom, CFileHandle& connection) {
    for (int i = nFrom; i < kAbstractNames; ++i)
        if (ConnectToHolder(AbstractName(strBase, i), false, connection) == Holder::Own)
            return i;
    return -1;
}

} // namespace

class CInstanceSection {
public:
    CInstanceSection(std::string strFolder, CFileHandle folder, CFileHandle slot,
                     struct stat stSlot)
        : m_strFolder(std::move(strFolder)), m_folder(std::move(folder)), m_slot(std::move(slot)),
          m_stSlot(stSlot) {}
    // The guard in the abstract namespace: the listening socket is the guard and takes
    // the requests; the window id stays in this process.
    explicit CInstanceSection(CFileHandle listener) : m_stSlot{}, m_socket(std::move(listener)) {}

    // The slot's names go while its lock is still held: a start that opened the slot
    // just before finds it unlinked once it gets the lock, and starts afresh.
    ~CInstanceSection() {
        if (IsAbstract())
            return; // the name goes with the socket
        struct stat st;
        if (m_socket.IsOpen() &&
            ::fstatat(m_folder.Get(), SocketName().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameFile(st, m_stSocket))
            ::unlinkat(m_folder.Get(), SocketName().c_str(), 0);
        if (::fstatat(m_folder.Get(), kInstanceSectionName, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameFile(st, m_stSlot))
            ::unlinkat(m_folder.Get(), kInstanceSectionName, 0);
    }

    CInstanceSection(const CInstanceSection&) = delete;
    CInstanceSection& operator=(const CInstanceSection&) = delete;

    bool Write(std::uint32_t nValue) {
        m_nWindowId = nValue;
        return IsAbstract() || ::pwrite(m_slot.Get(), &nValue, sizeof nValue, 0) == sizeof nValue;
    }

    bool IsAbstract() const { return !m_slot.IsOpen(); }
    std::uint32_t GetWindowId() const { return m_nWindowId; }

    // Any socket in the socket's place is a leftover: only the holder of the lock binds.
    void OpenSocket() {
        sockaddr_un addr;
        if (!SocketAddress(m_strFolder, m_folder.Get(), addr))
            return;
        ::unlinkat(m_folder.Get(), SocketName().c_str(), 0);
        CFileHandle sock(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        const int nOn = 1;
        struct stat st;
        if (!sock.IsOpen() ||
            ::bind(sock.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
            ::fstatat(m_folder.Get(), SocketName().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            ::fchmodat(m_folder.Get(), SocketName().c_str(), 0600, 0) != 0 ||
            ::setsockopt(sock.Get(), SOL_SOCKET, SO_PASSCRED, &nOn, sizeof nOn) != 0)
            return;
        m_socket = std::move(sock);
        m_stSocket = st;
    }

    int GetSocket() const { return m_socket.Get(); }

private:
    std::string m_strFolder;
    CFileHandle m_folder;
    CFileHandle m_slot; // locked for the process's life
    struct stat m_stSlot;
    CFileHandle m_socket;
    struct stat m_stSocket {};
    std::uint32_t m_nWindowId = 0;
};

std::unique_ptr<CInstanceSection> InstanceSection;

void CloseInstanceSection() {
    InstanceSection.reset();
}

std::string GetInstanceFolder() {
    if (const char* pszRuntime = std::getenv("XDG_RUNTIME_DIR");
        pszRuntime && OpenSlotFolder(pszRuntime).IsOpen())
        return pszRuntime;
    const char* pszTemp = std::getenv("TMPDIR");
    std::string strFolder = pszTemp && *pszTemp == '/' ? pszTemp : "/tmp";
    if (strFolder.back() != '/')
        strFolder += '/';
    strFolder += "tarrow-" + std::to_string(::geteuid());
    // One that exists is checked like a new one.
    return OpenSlotFolder(strFolder, true).IsOpen() ? strFolder : std::string();
}

InstanceCheck OpenInstanceSection(const std::string& strFolder) {
    constexpr InstanceCheck kUnguarded{InstanceState::Unguarded, 0};
    // A few rounds: each one that finds the slot unlinked under it was a closing instance.
    for (int nRound = 0; nRound < 4; ++nRound) {
        CFileHandle folder = OpenSlotFolder(strFolder);
        if (!folder.IsOpen())
            return kUnguarded;
        CFileHandle slot(::openat(folder.Get(), kInstanceSectionName,
                                  O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        struct stat st;
        if (!slot.IsOpen() || ::fstat(slot.Get(), &st) != 0 || !IsOwnPlainFile(st))
            return kUnguarded;

        if (::flock(slot.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK)
                return kUnguarded;
            std::uint32_t nWindowId = 0;
            if (::pread(slot.Get(), &nWindowId, sizeof nWindowId, 0) != sizeof nWindowId)
                nWindowId = 0;
            return {InstanceState::Running, nWindowId};
        }

        struct stat stNamed;
        if (::fstatat(folder.Get(), kInstanceSectionName, &stNamed, AT_SYMLINK_NOFOLLOW) != 0 ||
            !SameFile(st, stNamed))
            continue;
        if (::ftruncate(slot.Get(), 0) != 0)
            return kUnguarded;
        auto pSection =
            std::make_unique<CInstanceSection>(strFolder, std::move(folder), std::move(slot), st);
        if (!pSection->Write(0))
            return kUnguarded;
        pSection->OpenSocket(); // without it later starts still end; they only raise nothing
        InstanceSection = std::move(pSection);
        return {InstanceState::First, 0};
    }
    return kUnguarded;
}

bool RequestActivation(const std::string& strFolder, const ActivationRequest& request) {
    CFileHandle folder = OpenSlotFolder(strFolder);
    struct stat st;
    sockaddr_un addr;
    if (!folder.IsOpen() || !IsTokenText(request.strToken) ||
        ::fstatat(folder.Get(), SocketName().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid() ||
        !SocketAddress(strFolder, folder.Get(), addr))
        return false;
    CFileHandle sock(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const std::vector<char> arrMessage = RequestMessage(request);
    return sock.IsOpen() &&
           ::sendto(sock.Get(), arrMessage.data(), arrMessage.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&addr),
                    sizeof addr) == static_cast<ssize_t>(arrMessage.size());
}

InstanceCheck OpenAbstractInstanceSection(const std::string& strBase) {
    constexpr InstanceCheck kUnguarded{InstanceState::Unguarded, 0};
    for (int i = 0; i < kAbstractNames; ++i) {
        sockaddr_un addr;
        const socklen_t nSize = AbstractAddress(AbstractName(strBase, i), addr);
        CFileHandle sock(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!sock.IsOpen())
            return kUnguarded;
        if (::bind(sock.Get(), reinterpret_cast<const sockaddr*>(&addr), nSize) == 0) {
            // Room for many starts at once while this one has not begun to take them.
            if (::listen(sock.Get(), SOMAXCONN) != 0)
                return kUnguarded;
            // A name passed over as another user's may have been let go since and
            // taken by this start, while one of ours still holds a later name.
            CFileHandle connection;
            if (FindOwnHolder(strBase, i + 1, connection) >= 0)
                return {InstanceState::Running, 0};
            InstanceSection = std::make_unique<CInstanceSection>(std::move(sock));
            return {InstanceState::First, 0};
        }
        if (errno != EADDRINUSE)
            return kUnguarded;
        CFileHandle connection;
        if (ConnectToHolder(AbstractName(strBase, i), true, connection) == Holder::Own)
            return {InstanceState::Running, 0};
    }
    return kUnguarded;
}

bool RequestAbstractActivation(const std::string& strBase, const ActivationRequest& request) {
    CFileHandle connection;
    if (!IsTokenText(request.strToken) || FindOwnHolder(strBase, 0, connection) < 0)
        return false;
    const std::vector<char> arrMessage = RequestMessage(request);
    return ::send(connection.Get(), arrMessage.data(), arrMessage.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(arrMessage.size());
}

std::string GetAbstractInstanceName() {
    return "tarrow-" + std::to_string(::geteuid()) + "-" + kInstanceSectionName;
}

void CheckSingleInstance() {
    if (const std::string strFolder = GetInstanceFolder(); !strFolder.empty()) {
        const InstanceCheck check = OpenInstanceSection(strFolder);
        if (check.state == InstanceState::First)
            return;
        if (check.state == InstanceState::Running) {
            // 0: the first instance has no main window yet (or shows its platform warning).
            if (check.nWindowId != 0)
                RequestActivation(strFolder, {check.nWindowId, ActivationToken()});
            std::_Exit(0);
        }
    }
    // No private folder (the temporary one planted by another user, or read-only), or
    // no slot in it.
    const std::string strBase = GetAbstractInstanceName();
    const InstanceCheck check = OpenAbstractInstanceSection(strBase);
    if (check.state == InstanceState::First)
        return;
    if (check.state == InstanceState::Running) {
        RequestAbstractActivation(strBase, {0, ActivationToken()});
        std::_Exit(0);
    }
    // No guard at all: this start runs, as it would have without one.
}

void PublishMainWindow(std::uint32_t nWindowId) {
    if (InstanceSection)
        InstanceSection->Write(nWindowId);
}

int GetActivationHandle() {
    return InstanceSection ? InstanceSection->GetSocket() : -1;
}

namespace {

// The guard in the abstract namespace takes requests as connections: each brings one,
// which its sender writes before it closes. Connections of other users are dropped.
std::optional<ActivationRequest> TakeAbstractRequest(int nListener) {
    for (;;) {
        CFileHandle connection(::accept4(nListener, nullptr, nullptr, SOCK_CLOEXEC));
        if (!connection.IsOpen()) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return std::nullopt;
        }
        ucred cred{};
        socklen_t nCred = sizeof cred;
        if (::getsockopt(connection.Get(), SOL_SOCKET, SO_PEERCRED, &cred, &nCred) != 0 ||
            cred.uid != ::geteuid())
            continue;
        // A short wait: a later start writes at once, and a silent one is a probe.
        char buf[sizeof(std::uint32_t) + kMaxToken + 1];
        std::size_t nRead = 0;
        pollfd pfd{connection.Get(), POLLIN, 0};
        while (nRead < sizeof buf && ::poll(&pfd, 1, 200) == 1) {
            const ssize_t n = ::recv(connection.Get(), buf + nRead, sizeof buf - nRead, 0);
            if (n <= 0)
                break;
            nRead += static_cast<std::size_t>(n);
        }
        if (nRead < sizeof(std::uint32_t) || nRead == sizeof buf)
            continue;
        // The window is this process's own: a later start has no slot to read it from.
        ActivationRequest request{
            InstanceSection->GetWindowId(),
            std::string(buf + sizeof(std::uint32_t), nRead - sizeof(std::uint32_t))};
        if (IsTokenText(request.strToken))
            return request;
    }
}

} // namespace

std::optional<ActivationRequest> TakeActivationRequest() {
    const int nSocket = GetActivationHandle();
    if (nSocket < 0)
        return std::nullopt;
    if (InstanceSection->IsAbstract())
        return TakeAbstractRequest(nSocket);
    for (;;) {
        char buf[sizeof(std::uint32_t) + kMaxToken];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        iovec iov{buf, sizeof buf};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t nRead = ::recvmsg(nSocket, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (nRead < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        // The kernel vouches for the sender's user.
        const cmsghdr* pCmsg = CMSG_FIRSTHDR(&msg);
        bool bOwnUser = false;
        if (pCmsg && pCmsg->cmsg_level == SOL_SOCKET && pCmsg->cmsg_type == SCM_CREDENTIALS &&
            pCmsg->cmsg_len == CMSG_LEN(sizeof(ucred))) {
            ucred cred;
            std::memcpy(&cred, CMSG_DATA(pCmsg), sizeof cred);
            bOwnUser = cred.uid == ::geteuid();
        }
        if (!bOwnUser || (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) ||
            nRead < static_cast<ssize_t>(sizeof(std::uint32_t)))
            continue;
        ActivationRequest request{
            0, std::string(buf + sizeof(std::uint32_t),
                           static_cast<std::size_t>(nRead) - sizeof(std::uint32_t))};
        std::memcpy(&request.nWindowId, buf, sizeof request.nWindowId);
        if (IsTokenText(request.strToken))
            return request;
    }
}
