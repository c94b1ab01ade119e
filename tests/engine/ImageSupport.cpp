#include "ImageSupport.h"

#include <gtest/gtest.h>

#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

int RunProgram(const std::vector<std::string>& args, std::string* pOutput) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        std::vector<char*> argv;
        for (const std::string& s : args)
            argv.push_back(const_cast<char*>(s.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string strOut;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        strOut.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int nStatus = 0;
    if (pid < 0 || ::waitpid(pid, &nStatus, 0) != pid)
        return -1;
    if (pOutput)
        *pOutput = strOut;
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

bool HaveProgram(const char* pszName) {
    return RunProgram({"sh", "-c", std::string("command -v ") + pszName}) == 0;
}

std::string WhyNoTools(const std::vector<const char*>& arrTools) {
    if (::geteuid() != 0)
        return "needs root to mount images";
    for (const char* psz : arrTools) {
        if (!HaveProgram(psz))
            return std::string(psz) + " is not installed";
    }
    return {};
}

void WriteFile(const std::string& strPath, std::size_t nSize) {
    std::ofstream out(strPath, std::ios::binary);
    ASSERT_TRUE(out) << strPath;
    const std::string strData(nSize, 'x');
    out.write(strData.data(), static_cast<std::streamsize>(strData.size()));
}

void SparseFile(const std::string& strPath, off_t nSize) {
    const int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << strPath;
    ASSERT_EQ(::ftruncate(fd, nSize), 0) << strPath;
    ASSERT_EQ(::pwrite(fd, "tail", 4, nSize - 4), 4);
    ::close(fd);
}

void SetModified(const std::string& strPath, std::time_t nSeconds, long nNanoseconds) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {nSeconds, nNanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, strPath.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << strPath;
}
