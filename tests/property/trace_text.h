// Helpers of the proof-trace tests: DepQBF and the formula generator run as children,
// and an ASCII trace as lines of numbers with its proof marked, to plant faults in.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <sstream>
#include <string>
#include <vector>

extern "C" char** environ;

namespace tracetext {

inline const char* const kDepqbf = "/usr/bin/depqbf";

// Exit status of the command, with its standard output in the file out.
inline int spawnTo(const std::vector<std::string>& argv, const std::string& out) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// DepQBF's verdict (10 true, 20 false) with its trace written to trace.
inline int writeTrace(const std::string& formula, const std::string& trace, bool binary) {
    return spawnTo({kDepqbf, binary ? "--trace=bqrp" : "--trace", "--dep-man=simple", "--traditional-qcdcl",
                    "--no-qbce-dynamic", formula},
                   trace);
}

// An ASCII trace as lines of numbers, with the proof's steps marked.
struct Steps {
    std::vector<std::string> head;  // header and prefix lines
    std::vector<std::vector<long>> lits, ants;
    std::vector<long> ids;
    std::vector<bool> proof;
    std::string tail;

    explicit Steps(const std::string& text) {
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            if (line.empty()) continue;
            if (line[0] == 'p' || line[0] == 'a' || line[0] == 'e') {
                head.push_back(line);
                continue;
            }
            if (line[0] == 'r') {
                tail = line;
                continue;
            }
            std::istringstream ls(line);
            long id = 0, v = 0;
            ls >> id;
            std::vector<long> l, a;
            while (ls >> v && v != 0) l.push_back(v);
            while (ls >> v && v != 0) a.push_back(v);
            ids.push_back(id);
            lits.push_back(l);
            ants.push_back(a);
        }
        proof.assign(ids.size(), false);
        if (!ids.empty()) proof.back() = true;
        for (std::size_t i = ids.size(); i-- > 0;) {
            if (!proof[i]) continue;
            for (long a : ants[i])
                for (std::size_t j = 0; j < i; ++j)
                    if (ids[j] == a) proof[j] = true;
        }
    }
    std::size_t indexOf(long id) const {
        for (std::size_t j = 0; j < ids.size(); ++j)
            if (ids[j] == id) return j;
        return ids.size();
    }
    std::string text() const {
        std::string out;
        for (const std::string& h : head) out += h + "\n";
        for (std::size_t i = 0; i < ids.size(); ++i) {
            out += std::to_string(ids[i]);
            for (long l : lits[i]) out += " " + std::to_string(l);
            out += " 0";
            for (long a : ants[i]) out += " " + std::to_string(a);
            out += " 0\n";
        }
        return out + tail + "\n";
    }
};

}  // namespace tracetext
