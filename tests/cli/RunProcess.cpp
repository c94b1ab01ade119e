#include "RunProcess.h"

#include <cstring>
#include <map>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ProcessResult RunProcess(const std::vector<std::string>& arrArgs,
                         const std::vector<std::string>& arrEnv,
                         const std::function<void(pid_t)>& onStarted, int fdStdout) {
    ProcessResult result;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return result;

    std::map<std::string, std::string> env;
    for (char** p = environ; *p; ++p) {
        std::string s = *p;
        env[s.substr(0, s.find('='))] = s;
    }
    for (const std::string& s : arrEnv)
        env[s.substr(0, s.find('='))] = s;
    std::vector<char*> envp, argv;
    for (auto& [k, v] : env)
        envp.push_back(const_cast<char*>(v.c_str()));
    envp.push_back(nullptr);
    for (const std::string& s : arrArgs)
        argv.push_back(const_cast<char*>(s.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fdStdout >= 0 ? fdStdout : out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(out[1]);
    ::close(err[1]);
    if (rc != 0) {
        ::close(out[0]);
        ::close(err[0]);
        return result;
    }
    if (onStarted)
        onStarted(pid);

    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.strOut, &result.strErr};
    int nOpen = 2;
    char buf[65536];
    while (nOpen > 0) {
        if (::poll(fds, 2, -1) < 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --nOpen;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.nExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

bool UnprivilegedPrefix(std::vector<std::string>& arrPrefix) {
    arrPrefix.clear();
    if (::geteuid() != 0)
        return true;
    if (::access("/usr/bin/setpriv", X_OK) != 0)
        return false;
    arrPrefix = {"/usr/bin/setpriv", "--reuid=" + std::to_string(kNobody),
                 "--regid=" + std::to_string(kNobody), "--clear-groups", "--"};
    return true;
}
