// A benchmarked command run as a child: its processor time (user + system, from wait4)
// and peak resident memory, its exit status. Shared by the benchmarks that time other
// programs beside Plumex.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

struct Run {
    int status = -1;  // exit status, 128 + the signal that ended it
    double cpu = 0;   // user + system seconds
    long rssKb = 0;
};

// argv run with standard output to out, standard input and error to /dev/null, in the
// directory cwd ("" for this one), with at most cpuLimit seconds of processor time (0:
// no limit).
inline Run runChild(const std::vector<std::string>& argv, const std::string& out = "/dev/null",
                    const std::string& cwd = "", long cpuLimit = 0) {
    Run r;
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = open("/dev/null", O_RDWR);
        if (fd < 0 || null < 0) _exit(127);
        dup2(null, 0);
        dup2(fd, 1);
        dup2(null, 2);
        if (cpuLimit > 0) {
            rlimit limit{static_cast<rlim_t>(cpuLimit), static_cast<rlim_t>(cpuLimit + 5)};
            setrlimit(RLIMIT_CPU, &limit);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    r.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    r.rssKb = usage.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

inline bool endsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// The least processor time of `runs` runs of runChild(argv, out, cwd, cpuLimit); a single
// run when the first takes over oneRunAbove seconds (0: always all runs).
inline Run leastOf(int runs, double oneRunAbove, const std::vector<std::string>& argv,
                   const std::string& out = "/dev/null", const std::string& cwd = "", long cpuLimit = 0) {
    Run best;
    for (int k = 0; k < runs; ++k) {
        Run r = runChild(argv, out, cwd, cpuLimit);
        if (k == 0 || r.cpu < best.cpu) best = r;
        if (k == 0 && oneRunAbove > 0 && r.cpu > oneRunAbove) break;
    }
    return best;
}

// The formula at `from` (plain or gzip) as plain QDIMACS at `to`, for solvers that read no
// gzip; false when it cannot be copied.
inline bool copyFormula(const std::string& from, const std::string& to) {
    std::string command = endsWith(from, ".gz") ? "zcat '" + from + "' > '" + to + "'" : "cp '" + from + "' '" + to + "'";
    return std::system(command.c_str()) == 0;
}

}  // namespace bench
