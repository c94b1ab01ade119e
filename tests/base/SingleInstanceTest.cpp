#include "SingleInstance.h"
#include "LogTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include <poll.h>
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
    constexpr int kStarts = 6;
    // go and done release the starts when their write ends close; checked counts them.
    int go[2], done[2], checked[2];
    ASSERT_EQ(::pipe(go), 0);
    ASSERT_EQ(::pipe(done), 0);
    ASSERT_EQ(::pipe(checked), 0);
    pid_t arrPids[kStarts];
    for (pid_t& pid : arrPids) {
        pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(go[1]);
            ::close(done[1]);
            char ch;
            (void)!::read(go[0], &ch, 1);
            const int nCode = CodeOf(OpenInstanceSection(folder.Path()));
            (void)!::write(checked[1], "x", 1);
            (void)!::read(done[0], &ch, 1); // the first keeps its lock until all have looked
            ::_exit(nCode);
        }
    }
    ::close(go[1]);
    char ch = 0;
    for (int i = 0; i < kStarts; ++i)
        ASSERT_EQ(::read(checked[0], &ch, 1), 1);
    ::close(done[1]);
    int nFirst = 0, nRunning = 0;
    for (pid_t pid : arrPids) {
        int nStatus = 0;
        ::waitpid(pid, &nStatus, 0);
        nFirst += WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == kFirst;
        nRunning += WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == kRunning;
    }
    for (int fd : {go[0], done[0], checked[0], checked[1]})
        ::close(fd);
    EXPECT_EQ(nFirst, 1);
    EXPECT_EQ(nRunning, kStarts - 1);
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

    // A link planted in the private folder's place leaves the program without a guard.
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

} // namespace
