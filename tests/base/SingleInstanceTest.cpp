#include "SingleInstance.h"
#include "Log.h"
#include "LogTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kFirst = 10;
constexpr int kRunning = 11;
constexpr int kUnguarded = 12;

std::string SlotPath(const CScratchFolder& folder) {
    return folder.Path() + "/" + kInstanceSectionName;
}
std::string SocketPath(const CScratchFolder& folder) {
    return SlotPath(folder) + ".socket";
}

int CodeOf(const InstanceCheck& check) {
    switch (check.state) {
    case InstanceState::First:
        return kFirst;
    case InstanceState::Running:
        return kRunning;
    case InstanceState::Unguarded:
        return kUnguarded;
    }
    return 1;
}

// Starts of nStarts processes at one moment, each opening the section with open and
// keeping what it got until all have looked: how many came first, how many found one
// running.
struct StartCounts {
    int nFirst = 0;
    int nRunning = 0;
};
template <class Open> void StartAtOnce(int nStarts, Open open, StartCounts& counts) {
    // go and done release the starts when their write ends close; checked counts them.
    int go[2], done[2], checked[2];
    ASSERT_EQ(::pipe(go), 0);
    ASSERT_EQ(::pipe(done), 0);
    ASSERT_EQ(::pipe(checked), 0);
    std::vector<pid_t> arrPids(static_cast<std::size_t>(nStarts));
    for (pid_t& pid : arrPids) {
        pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(go[1]);
            ::close(done[1]);
            char ch;
            (void)!::read(go[0], &ch, 1);
            const int nCode = CodeOf(open());
            (void)!::write(checked[1], "x", 1);
            (void)!::read(done[0], &ch, 1); // the first keeps its guard until all have looked
            ::_exit(nCode);
        }
    }
    ::close(go[1]);
    char ch = 0;
    for (int i = 0; i < nStarts; ++i)
        ASSERT_EQ(::read(checked[0], &ch, 1), 1);
    ::close(done[1]);
    for (pid_t pid : arrPids) {
        int nStatus = 0;
        ::waitpid(pid, &nStatus, 0);
        counts.nFirst += WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == kFirst;
        counts.nRunning += WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == kRunning;
    }
    for (int fd : {go[0], done[0], checked[0], checked[1]})
        ::close(fd);
}

// A child inherits the parent's section; it must not remove the parent's files.
void ForgetInheritedSection() {
    (void)InstanceSection.release();
}

// What a later start in another process finds: its state, and the window id it read
// as the exit code's companion (written to the pipe).
struct LaterStart {
    int nCode;
    std::uint32_t nWindowId;
};
LaterStart StartLater(const std::string& strFolder) {
    int fds[2];
    if (::pipe(fds) != 0)
        return {-1, 0};
    const int nCode = RunInChild([&] {
        ForgetInheritedSection();
        const InstanceCheck check = OpenInstanceSection(strFolder);
        (void)!::write(fds[1], &check.nWindowId, sizeof check.nWindowId);
        return CodeOf(check);
    });
    std::uint32_t nWindowId = 0;
    (void)!::read(fds[0], &nWindowId, sizeof nWindowId);
    ::close(fds[0]);
    ::close(fds[1]);
    return {nCode, nWindowId};
}

std::uint32_t SlotValue(const CScratchFolder& folder) {
    const std::string str = ReadFile(SlotPath(folder));
    std::uint32_t n = 0xFFFFFFFF;
    if (str.size() == sizeof n)
        std::memcpy(&n, str.data(), sizeof n);
    return n;
}

struct SingleInstance : ::testing::Test {
    void TearDown() override { CloseInstanceSection(); }
    CScratchFolder folder;
};

TEST_F(SingleInstance, FirstStartHoldsTheSlotLaterStartsReadItsWindowUntilItEnds) {
    ASSERT_EQ(CodeOf(OpenInstanceSection(folder.Path())), kFirst);
    ASSERT_NE(InstanceSection, nullptr);
    EXPECT_EQ(SlotValue(folder), 0u); // no main window yet
    struct stat st;
    ASSERT_EQ(::stat(SlotPath(folder).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(SocketPath(folder).c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    LaterStart later = StartLater(folder.Path());
    EXPECT_EQ(later.nCode, kRunning);
    EXPECT_EQ(later.nWindowId, 0u);

    PublishMainWindow(0xA1B2C3D4);
    later = StartLater(folder.Path());
    EXPECT_EQ(later.nCode, kRunning);
    EXPECT_EQ(later.nWindowId, 0xA1B2C3D4u);

    // Ending normally takes the slot and the socket away; the next start is the first.
    CloseInstanceSection();
    EXPECT_FALSE(Exists(SlotPath(folder)));
    EXPECT_FALSE(Exists(SocketPath(folder)));
    EXPECT_EQ(StartLater(folder.Path()).nCode, kFirst);
}

TEST_F(SingleInstance, AFirstInstanceKilledOutrightNeverKeepsLaterStartsFromRunning) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ForgetInheritedSection();
        const bool bFirst = OpenInstanceSection(folder.Path()).state == InstanceState::First;
        PublishMainWindow(77);
        (void)!::write(ready[1], &bFirst, 1);
        ::pause();
        ::_exit(0);
    }
    bool bChildFirst = false;
    ASSERT_EQ(::read(ready[0], &bChildFirst, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_TRUE(bChildFirst);
    EXPECT_EQ(StartLater(folder.Path()).nWindowId, 77u);

    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    // Its slot (with its window id) and socket are still there, but nobody holds them.
    EXPECT_EQ(SlotValue(folder), 77u);
    EXPECT_TRUE(Exists(SocketPath(folder)));
    ASSERT_EQ(CodeOf(OpenInstanceSection(folder.Path())), kFirst);
    EXPECT_EQ(SlotValue(folder), 0u);
    EXPECT_GE(GetActivationHandle(), 0); // the leftover socket was replaced
}

TEST_F(SingleInstance, StartsAtTheSameMomentLetExactlyOneRun) {
    StartCounts counts;
    ASSERT_NO_FATAL_FAILURE(StartAtOnce(
        6, [&] { return OpenInstanceSection(folder.Path()); }, counts));
    EXPECT_EQ(counts.nFirst, 1);
    EXPECT_EQ(counts.nRunning, 5);
}

TEST_F(SingleInstance, ActivationRequestsReachTheFirstInstanceWithTheirToken) {
    EXPECT_EQ(GetActivationHandle(), -1);
    EXPECT_FALSE(TakeActivationRequest());
    EXPECT_FALSE(RequestActivation(folder.Path(), {5, "tok"})); // nobody listens

    ASSERT_EQ(CodeOf(OpenInstanceSection(folder.Path())), kFirst);
    ASSERT_GE(GetActivationHandle(), 0);
    EXPECT_FALSE(TakeActivationRequest());

    EXPECT_EQ(RunInChild([&] {
                  ForgetInheritedSection();
                  // A datagram too short to hold a window id is dropped; so is a token
                  // with spaces, which the sender refuses to send in the first place.
                  sockaddr_un addr{};
                  addr.sun_family = AF_UNIX;
                  std::strcpy(addr.sun_path, SocketPath(folder).c_str());
                  const int s = ::socket(AF_UNIX, SOCK_DGRAM, 0);
                  CHILD_CHECK(::sendto(s, "ab", 2, 0, reinterpret_cast<sockaddr*>(&addr),
                                       sizeof addr) == 2);
                  CHILD_CHECK(!RequestActivation(folder.Path(), {6, "two words"}));
                  CHILD_CHECK(RequestActivation(folder.Path(), {0x01020304, "host_TIME1234"}));
                  CHILD_CHECK(RequestActivation(folder.Path(), {9, ""}));
                  return 0;
              }),
              0);
    pollfd pfd{GetActivationHandle(), POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 5000), 1);
    auto request = TakeActivationRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->nWindowId, 0x01020304u);
    EXPECT_EQ(request->strToken, "host_TIME1234");
    request = TakeActivationRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->nWindowId, 9u);
    EXPECT_EQ(request->strToken, "");
    EXPECT_FALSE(TakeActivationRequest());
}

TEST_F(SingleInstance, SlotsThatAreNotTheUsersOwnAreNeverTrustedNorTouched) {
    const std::string strSlot = SlotPath(folder);
    const std::string strElsewhere = folder.Path() + "/elsewhere";
    WriteFile(strElsewhere, "keep");

    // A link in the slot's place, and a second name of another file.
    ASSERT_EQ(::symlink(strElsewhere.c_str(), strSlot.c_str()), 0);
    EXPECT_EQ(CodeOf(OpenInstanceSection(folder.Path())), kUnguarded);
    ASSERT_EQ(::unlink(strSlot.c_str()), 0);
    ASSERT_EQ(::link(strElsewhere.c_str(), strSlot.c_str()), 0);
    EXPECT_EQ(CodeOf(OpenInstanceSection(folder.Path())), kUnguarded);
    ASSERT_EQ(::unlink(strSlot.c_str()), 0);
    EXPECT_EQ(ReadFile(strElsewhere), "keep");
    EXPECT_EQ(InstanceSection, nullptr);

    // A folder others can enter.
    ASSERT_EQ(::chmod(folder.Path().c_str(), 0755), 0);
    EXPECT_EQ(CodeOf(OpenInstanceSection(folder.Path())), kUnguarded);
    ASSERT_EQ(::chmod(folder.Path().c_str(), 0700), 0);

    if (::geteuid() != 0)
        GTEST_SKIP() << "files of another user need root";
    // A slot of another user, and a socket of another user next to our own slot.
    WriteFile(strSlot, std::string("\x07\0\0\0", 4));
    ASSERT_EQ(::chown(strSlot.c_str(), 65534, 65534), 0);
    EXPECT_EQ(CodeOf(OpenInstanceSection(folder.Path())), kUnguarded);
    EXPECT_EQ(ReadFile(strSlot), std::string("\x07\0\0\0", 4));
    ASSERT_EQ(::unlink(strSlot.c_str()), 0);

    ASSERT_EQ(CodeOf(OpenInstanceSection(folder.Path())), kFirst);
    ASSERT_EQ(::chown(SocketPath(folder).c_str(), 65534, 65534), 0);
    EXPECT_FALSE(RequestActivation(folder.Path(), {5, ""}));
}

TEST_F(SingleInstance, TheSlotLivesInTheUsersRuntimeFolderOrAPrivateTemporaryOne) {
    const char* pszOldRuntime = std::getenv("XDG_RUNTIME_DIR");
    const char* pszOldTemp = std::getenv("TMPDIR");
    const std::string strOldRuntime = pszOldRuntime ? pszOldRuntime : "";
    const std::string strOldTemp = pszOldTemp ? pszOldTemp : "";
    CScratchFolder temp;
    ::setenv("TMPDIR", temp.Path().c_str(), 1);
    const std::string strFallback = temp.Path() + "/tarrow-" + std::to_string(::geteuid());

    ::setenv("XDG_RUNTIME_DIR", folder.Path().c_str(), 1);
    EXPECT_EQ(GetInstanceFolder(), folder.Path());

    // Not private, relative, or unset: the private folder in the temporary folder.
    ASSERT_EQ(::chmod(folder.Path().c_str(), 0711), 0);
    EXPECT_EQ(GetInstanceFolder(), strFallback);
    struct stat st;
    ASSERT_EQ(::lstat(strFallback.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ::setenv("XDG_RUNTIME_DIR", "run/user", 1);
    EXPECT_EQ(GetInstanceFolder(), strFallback);
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(GetInstanceFolder(), strFallback);

    // A link planted in the private folder's place is no folder for the slot.
    ASSERT_EQ(::rmdir(strFallback.c_str()), 0);
    ASSERT_EQ(::symlink(folder.Path().c_str(), strFallback.c_str()), 0);
    ASSERT_EQ(::chmod(folder.Path().c_str(), 0700), 0);
    EXPECT_EQ(GetInstanceFolder(), "");

    if (pszOldRuntime)
        ::setenv("XDG_RUNTIME_DIR", strOldRuntime.c_str(), 1);
    if (pszOldTemp)
        ::setenv("TMPDIR", strOldTemp.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}

// ---- The guard in the abstract namespace ---------------------------------------------

constexpr uid_t kNobody = 65534;

// A stem of names no other test run on the machine uses.
std::string UniqueBase() {
    std::random_device random;
    return "tarrow-test-" + std::to_string(::getpid()) + "-" + std::to_string(random());
}

sockaddr_un Abstract(const std::string& strName, socklen_t& nSize) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, strName.data(), strName.size());
    nSize = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + strName.size());
    return addr;
}

// Another user holding names of ours: listening on some, only bound to others. Lets
// them go when it ends.
class COtherUsersNames {
public:
    COtherUsersNames(const std::vector<std::string>& arrListened,
                     const std::vector<std::string>& arrBound) {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(m_release) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ForgetInheritedSection();
            ::close(m_release[1]);
            bool bOk = ::setresgid(kNobody, kNobody, kNobody) == 0 &&
                       ::setresuid(kNobody, kNobody, kNobody) == 0;
            for (const auto* pNames : {&arrListened, &arrBound}) {
                for (const std::string& strName : *pNames) {
                    socklen_t nSize;
                    const sockaddr_un addr = Abstract(strName, nSize);
                    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
                    bOk = bOk && ::bind(s, reinterpret_cast<const sockaddr*>(&addr), nSize) == 0 &&
                          (pNames == &arrBound || ::listen(s, 4) == 0);
                }
            }
            (void)!::write(ready[1], &bOk, 1);
            char ch;
            (void)!::read(m_release[0], &ch, 1);
            ::_exit(0);
        }
        ::close(m_release[0]);
        (void)!::read(ready[0], &m_bReady, 1);
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~COtherUsersNames() { Release(); }
    bool IsReady() const { return m_bReady; }
    void Release() {
        if (m_pid <= 0)
            return;
        ::close(m_release[1]);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_release[2] = {-1, -1};
    bool m_bReady = false;
};

int StartAbstractLater(const std::string& strBase) {
    return RunInChild([&] {
        ForgetInheritedSection();
        return CodeOf(OpenAbstractInstanceSection(strBase));
    });
}

TEST_F(SingleInstance, WithoutAFolderTheAbstractGuardLetsOneRunAndTakesRequests) {
    const std::string strBase = UniqueBase();
    EXPECT_FALSE(RequestAbstractActivation(strBase, {0, "tok"})); // nobody listens
    ASSERT_EQ(CodeOf(OpenAbstractInstanceSection(strBase)), kFirst);
    ASSERT_GE(GetActivationHandle(), 0);
    EXPECT_EQ(StartAbstractLater(strBase), kRunning);
    EXPECT_FALSE(TakeActivationRequest()); // a later start that only looked asks nothing

    // The request of a later start gets the window this process published.
    PublishMainWindow(0xA1B2C3D4);
    EXPECT_EQ(RunInChild([&] {
                  ForgetInheritedSection();
                  CHILD_CHECK(!RequestAbstractActivation(strBase, {0, "two words"}));
                  CHILD_CHECK(RequestAbstractActivation(strBase, {0, "host_TIME1234"}));
                  return 0;
              }),
              0);
    pollfd pfd{GetActivationHandle(), POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 5000), 1);
    auto request = TakeActivationRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->nWindowId, 0xA1B2C3D4u);
    EXPECT_EQ(request->strToken, "host_TIME1234");
    EXPECT_FALSE(TakeActivationRequest());

    // The name goes with the process, however it ends.
    CloseInstanceSection();
    EXPECT_EQ(StartAbstractLater(strBase), kFirst);
}

// With no descriptor to be had, neither a folder's slot nor an abstract name: the
// window starts unguarded, without a word to the user or the log.
TEST_F(SingleInstance, WithNoGuardAtAllTheProgramGoesOnAndLogsNothing) {
    EXPECT_EQ(RunInChild([] {
                  ForgetInheritedSection();
                  TakePendingLogRecords();
                  const rlimit rl{0, 0};
                  CHILD_CHECK(::setrlimit(RLIMIT_NOFILE, &rl) == 0);
                  CheckSingleInstance(); // returns: this start runs
                  CHILD_CHECK(!InstanceSection);
                  CHILD_CHECK(TakePendingLogRecords().empty());
                  return 0;
              }),
              0);
}

TEST_F(SingleInstance, AbstractStartsAtTheSameMomentLetExactlyOneRun) {
    const std::string strBase = UniqueBase();
    StartCounts counts;
    ASSERT_NO_FATAL_FAILURE(StartAtOnce(
        20, [&] { return OpenAbstractInstanceSection(strBase); }, counts));
    EXPECT_EQ(counts.nFirst, 1);
    EXPECT_EQ(counts.nRunning, 19);
}

TEST_F(SingleInstance, NamesAnotherUserHoldsNeitherStopNorSplitTheGuard) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "holding names as another user needs root";
    const std::string strBase = UniqueBase();
    // Listened on, and only bound: both are passed over, the start runs.
    COtherUsersNames other({strBase + ".0"}, {strBase + ".1"});
    ASSERT_TRUE(other.IsReady());
    ASSERT_EQ(CodeOf(OpenAbstractInstanceSection(strBase)), kFirst);
    EXPECT_EQ(StartAbstractLater(strBase), kRunning);
    EXPECT_TRUE(RunInChild([&] {
                    ForgetInheritedSection();
                    return RequestAbstractActivation(strBase, {0, ""}) ? 0 : 1;
                }) == 0);

    // Let go, the first names are free again; a later start that takes one still finds
    // this process on the name after them.
    other.Release();
    EXPECT_EQ(StartAbstractLater(strBase), kRunning);
}

TEST_F(SingleInstance, TheAbstractGuardTakesNoRequestFromAnotherUser) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "sending as another user needs root";
    const std::string strBase = UniqueBase();
    ASSERT_EQ(CodeOf(OpenAbstractInstanceSection(strBase)), kFirst);
    PublishMainWindow(0x1234);
    // Sent as another user straight to the name, as a well-formed request.
    const auto send = [&](uid_t uid, const std::string& strToken) {
        return RunInChild([&] {
            ForgetInheritedSection();
            CHILD_CHECK(::setresgid(uid, uid, uid) == 0 && ::setresuid(uid, uid, uid) == 0);
            socklen_t nSize;
            const sockaddr_un addr = Abstract(strBase + ".0", nSize);
            const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            CHILD_CHECK(::connect(s, reinterpret_cast<const sockaddr*>(&addr), nSize) == 0);
            const std::string strMessage = std::string(4, '\0') + strToken;
            CHILD_CHECK(::send(s, strMessage.data(), strMessage.size(), MSG_NOSIGNAL) ==
                        static_cast<ssize_t>(strMessage.size()));
            ::close(s);
            return 0;
        });
    };
    ASSERT_EQ(send(kNobody, "theirs"), 0);
    pollfd pfd{GetActivationHandle(), POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 5000), 1);
    EXPECT_FALSE(TakeActivationRequest());
    // This user's request still comes through after it.
    ASSERT_EQ(send(::geteuid(), "ours"), 0);
    ASSERT_EQ(::poll(&pfd, 1, 5000), 1);
    const auto request = TakeActivationRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->strToken, "ours");
    EXPECT_EQ(request->nWindowId, 0x1234u);
}

TEST_F(SingleInstance, ANameBoundButNotYetListenedOnIsAStartThatFindsTheFirst) {
    // A first start caught between bind and listen. The later start must ask again until
    // it listens, not take the name for another user's and run beside it: it is held here
    // until the later start is seen waiting to ask again, and then listens.
    const std::string strBase = UniqueBase();
    socklen_t nSize;
    const sockaddr_un addr = Abstract(strBase + ".0", nSize);
    const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&addr), nSize), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ForgetInheritedSection();
        ::close(s);
        ::_exit(CodeOf(OpenAbstractInstanceSection(strBase)));
    }
    // Waiting to ask again is the only sleep on its way (state S).
    const std::string strStat = "/proc/" + std::to_string(pid) + "/stat";
    bool bSleeping = false;
    int nStatus = 0;
    for (int i = 0; i < 10000 && !bSleeping; ++i) {
        if (::waitpid(pid, &nStatus, WNOHANG) == pid)
            break;
        const std::string strLine = ReadFile(strStat);
        const std::size_t n = strLine.rfind(") ");
        bSleeping = n != std::string::npos && strLine.compare(n + 2, 1, "S") == 0;
        if (!bSleeping)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    ASSERT_EQ(::listen(s, 4), 0);
    if (bSleeping) {
        ASSERT_EQ(::waitpid(pid, &nStatus, 0), pid);
    }
    ::close(s);
    EXPECT_TRUE(bSleeping) << "the later start never waited to ask again";
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == kRunning)
        << "the later start ran beside the first";
}

// Starts in a network namespace of their own, whose abstract names no other process
// on the machine shares: the first start runs (10), the second ends with 0 as a start
// that found the first. 77: no namespace could be had.
int TwoStartsAlone() {
    return RunInChild([] {
        ForgetInheritedSection();
        if (::unshare(CLONE_NEWNET) != 0)
            return 77;
        int up[2], done[2];
        if (::pipe(up) != 0 || ::pipe(done) != 0)
            return 2;
        const pid_t first = ::fork();
        if (first == 0) {
            CheckSingleInstance();
            (void)!::write(up[1], "x", 1);
            char ch;
            ::close(done[1]);
            (void)!::read(done[0], &ch, 1);
            ::_exit(10);
        }
        ::close(up[1]); // a first start that ended early is an end of file, not a hang
        char ch;
        CHILD_CHECK(::read(up[0], &ch, 1) == 1);
        const pid_t second = ::fork();
        if (second == 0) {
            CheckSingleInstance();
            ::_exit(11); // returned: it would have run beside the first
        }
        int nSecond = -1, nFirst = -1;
        ::waitpid(second, &nSecond, 0);
        ::close(done[1]);
        ::waitpid(first, &nFirst, 0);
        CHILD_CHECK(WIFEXITED(nFirst) && WEXITSTATUS(nFirst) == 10);
        CHILD_CHECK(WIFEXITED(nSecond) && WEXITSTATUS(nSecond) == 0);
        return 0;
    });
}

bool IsEmptyFolder(const std::string& strPath) {
    DIR* pDir = ::opendir(strPath.c_str());
    if (!pDir)
        return false;
    int nEntries = 0;
    while (::readdir(pDir))
        ++nEntries;
    ::closedir(pDir);
    return nEntries == 2;
}

TEST_F(SingleInstance, AFallbackFolderPlantedByAnotherUserNeitherHoldsNorDropsTheGuard) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "a folder of another user needs root";
    const char* pszOldRuntime = std::getenv("XDG_RUNTIME_DIR");
    const char* pszOldTemp = std::getenv("TMPDIR");
    const std::string strOldRuntime = pszOldRuntime ? pszOldRuntime : "";
    const std::string strOldTemp = pszOldTemp ? pszOldTemp : "";
    CScratchFolder temp;
    ASSERT_EQ(::chmod(temp.Path().c_str(), 01777), 0);
    ::setenv("TMPDIR", temp.Path().c_str(), 1);
    const std::string strPlanted = temp.Path() + "/tarrow-" + std::to_string(::geteuid());
    const std::string strElsewhere = temp.Path() + "/elsewhere";
    ASSERT_EQ(::mkdir(strElsewhere.c_str(), 0700), 0);

    struct Plant {
        const char* pszWhat;
        mode_t mode;
        bool bLink;
    };
    for (const Plant& plant :
         {Plant{"private to another user", 0700, false}, Plant{"open to all", 0777, false},
          Plant{"a link to a private folder", 0700, true}}) {
        SCOPED_TRACE(plant.pszWhat);
        if (plant.bLink) {
            ASSERT_EQ(::symlink(strElsewhere.c_str(), strPlanted.c_str()), 0);
        } else {
            ASSERT_EQ(::mkdir(strPlanted.c_str(), plant.mode), 0);
            ASSERT_EQ(::chmod(strPlanted.c_str(), plant.mode), 0);
            ASSERT_EQ(::chown(strPlanted.c_str(), kNobody, kNobody), 0);
        }
        // Neither as the runtime folder nor as the fallback.
        ::setenv("XDG_RUNTIME_DIR", strPlanted.c_str(), 1);
        EXPECT_EQ(GetInstanceFolder(), "");
        EXPECT_EQ(CodeOf(OpenInstanceSection(strPlanted)), kUnguarded);
        ::unsetenv("XDG_RUNTIME_DIR");
        EXPECT_EQ(GetInstanceFolder(), "");

        const int nCode = TwoStartsAlone();
        if (nCode == 77) {
            ::unlink(strPlanted.c_str());
            ::rmdir(strPlanted.c_str());
            GTEST_SKIP() << "no network namespace of its own could be had";
        }
        EXPECT_EQ(nCode, 0) << "the second start must find the first";
        EXPECT_TRUE(IsEmptyFolder(strPlanted)) << "nothing is made in a planted folder";
        ASSERT_EQ(plant.bLink ? ::unlink(strPlanted.c_str()) : ::rmdir(strPlanted.c_str()), 0);
    }

    if (pszOldRuntime)
        ::setenv("XDG_RUNTIME_DIR", strOldRuntime.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
    if (pszOldTemp)
        ::setenv("TMPDIR", strOldTemp.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}

} // namespace
