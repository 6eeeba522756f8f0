#pragma once

// What the whole-process benchmarks (bench_startup, bench_command) share: a
// child started with fork() and execv(), what it printed on its standard
// output, and the system's own account of it from wait4().

#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

inline long long nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

inline double ms(const timeval& t)
{
    return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3;
}

struct ChildRun {
    long long startedNs = 0; // just before fork()
    double wallMs = 0;       // from fork() to wait4()
    double cpuMs = 0;        // user + system
    long maxRssKb = 0;
    int status = -1;         // the exit status; -1 when it did not exit
    std::string out;         // its standard output
};

// Runs the command (a path and its arguments); inChild runs in the child
// before execv() (to change its environment or its standard error). False
// when it could not be started or reaped.
inline bool runChild(const std::vector<std::string>& command, ChildRun& run,
                     const std::function<void(long long startedNs)>& inChild = {})
{
    int out[2];
    if (::pipe(out) != 0)
        return false;
    run.startedNs = nowNs();
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        if (inChild)
            inChild(run.startedNs);
        std::vector<char*> args;
        for (const std::string& arg : command)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        std::_Exit(127);
    }
    ::close(out[1]);
    run.out.clear();
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        run.out.append(buffer, size_t(n));
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid)
        return false;
    run.wallMs = double(nowNs() - run.startedNs) / 1e6;
    run.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    run.maxRssKb = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

} // namespace bench
