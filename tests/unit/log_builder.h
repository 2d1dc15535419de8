// Hand-made solver logs for the unit tests: the header, entries chained by their back
// offsets, the trailer, in text or binary storage mode. The binary integer code is
// spelled out here on its own, so that the tests check the reader against the format
// and not against the codec it uses.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "bdd/dddmp.h"
#include "bdd/engine.h"

namespace logtest {

// The folded value in the binary integer code, escaped.
inline std::string binaryInt(int v) {
    unsigned code = v >= 0 ? 2u * static_cast<unsigned>(v) : 1u + 2u * static_cast<unsigned>(-static_cast<long>(v));
    code &= 0x0FFFFFFFu;
    int top = 0;
    while (top < 3 && (code >> (7 * (top + 1)))) ++top;
    std::string out;
    for (int g = top; g >= 0; --g) {
        unsigned char byte = static_cast<unsigned char>((((code >> (7 * g)) & 0x7Fu) << 1) | (g > 0 ? 1u : 0u));
        switch (byte) {
            case 0x00: out += std::string("\0\0", 2); break;
            case 0x0A: out += std::string("\0\1", 2); break;
            case 0x0D: out += std::string("\0\2", 2); break;
            case 0x1A: out += std::string("\0\3", 2); break;
            default: out += static_cast<char>(byte);
        }
    }
    return out;
}

// One DDDMP dump of the roots in the given mode.
inline std::string dump(const std::vector<bdd::Bdd>& roots, char mode) {
    std::FILE* fp = std::tmpfile();
    dddmp::StoreOptions options;
    options.mode = mode;
    dddmp::storeArray(fp, roots, options);
    long size = std::ftell(fp);
    std::rewind(fp);
    std::string out(static_cast<std::size_t>(size), '\0');
    if (size > 0 && std::fread(out.data(), 1, out.size(), fp) != out.size()) out.clear();
    std::fclose(fp);
    return out;
}

struct Cube {
    int variable;
    std::vector<int> dominators;
};

struct Block {
    int exVar, startingIndex;
    std::vector<int> relevantUniv;
    std::vector<std::pair<std::vector<int>, int>> rows;  // univCube, firstIndex
};

class LogBuilder {
  public:
    LogBuilder(bool binary, int numVars, const std::vector<int>& universals, const std::vector<int>& intToExt,
               const std::string& formula = "\"tiny.qdimacs\"", const std::string& banner = "# Tobrin log file, 1.3\nsolver 2.0 on a test\n")
        : binary_(binary) {
        data_ = banner + "# formula: " + formula + "\n# dump format: " +
                (binary ? "binary" : "text") + "\n# vars: (" + std::to_string(numVars) + "," +
                std::to_string(universals.size()) + ")\n\n# universals: ";
        for (int u : universals) data_ += std::to_string(u) + " ";
        data_ += "\n# int/ext mapping: ";
        for (int e : intToExt) data_ += std::to_string(e) + " ";
        data_ += "\n";
    }

    bool binary() const { return binary_; }
    char mode() const { return binary_ ? 'B' : 'A'; }

    std::string i(int v) const { return binary_ ? binaryInt(v) : std::to_string(v) + " "; }
    std::string ints(const std::vector<int>& vs) const {
        std::string out;
        for (int v : vs) out += i(v);
        return out;
    }
    std::string list(const std::vector<int>& vs) const { return i(static_cast<int>(vs.size())) + ints(vs); }

    // Payloads of the entry kinds.
    std::string gCubes(const std::vector<Cube>& cubes) const {
        std::string out = i(static_cast<int>(cubes.size())) + "\n";
        for (const Cube& c : cubes) out += i(c.variable) + list(c.dominators) + "\n";
        return out;
    }
    std::string gRes(int v, const std::vector<std::vector<int>>& p, const std::vector<std::vector<int>>& n) const {
        std::string out = i(v) + i(static_cast<int>(p.size())) + i(static_cast<int>(n.size()));
        for (const auto& c : p) out += list(c);
        for (const auto& c : n) out += list(c);
        return out + "\n";
    }
    std::string sRes(int v, const std::vector<std::vector<int>>& p, const std::vector<std::vector<int>>& n,
                     const std::vector<bdd::Bdd>& roots) const {
        std::string out = i(v) + i(static_cast<int>(p.size())) + i(static_cast<int>(n.size()));
        for (const auto& c : p) out += list(c);
        for (const auto& c : n) out += list(c);
        return out + "\n" + dump(roots, mode());
    }
    std::string assign(int lit) const { return i(lit) + "\n"; }
    std::string sAssign(int lit, const bdd::Bdd& b) const { return i(lit) + "\n" + dump({b}, mode()); }
    std::string sCubes(const std::vector<int>& vars, const std::vector<bdd::Bdd>& roots) const {
        return list(vars) + "\n" + dump(roots, mode());
    }
    std::string sEquiv(int a, int b, int s, const std::vector<std::vector<int>>& clauses,
                       const std::vector<bdd::Bdd>& roots) const {
        std::string out = i(a) + i(b) + i(s) + "\n" + i(static_cast<int>(clauses.size()));
        for (const auto& c : clauses) out += list(c);
        return out + "\n" + dump(roots, mode());
    }
    static std::string bIn(int branch, char quantifier, int lit) {
        return std::to_string(branch) + std::string(1, quantifier) + std::to_string(lit) + "\n";
    }
    std::string satEncoding(int symbVar, const std::vector<int>& values, const std::vector<Block>& blocks) const {
        std::string out = "symbVar: " + std::to_string(symbVar) + "(" + std::to_string(blocks.size()) +
                          ") cnfVar: " + std::to_string(values.size()) + "\n" + ints(values) + "\n";
        for (const Block& b : blocks) {
            out += "var " + std::to_string(b.exVar) + ": (" + std::to_string(b.startingIndex) + "," +
                   std::to_string(b.rows.size()) + ")\n" + list(b.relevantUniv) + "\n";
            for (const auto& row : b.rows) {
                out += ints(row.first);
                out += binary_ ? i(row.second) : " (" + std::to_string(row.second) + ")";
                out += "\n";
            }
        }
        return out;
    }
    static std::string rollback(long to) { return "to: " + std::to_string(to) + "\n"; }

    // Appends an entry; the back offset is computed from the previous header.
    LogBuilder& entry(int id, const std::string& kind, const std::string& payload) {
        long here = static_cast<long>(data_.size());
        long back = last_ < 0 ? 0 : here - last_;
        data_ += "#" + std::to_string(id) + ": " + kind + " [" + std::to_string(back) + "]\n" + payload;
        last_ = here;
        return *this;
    }
    // Appends raw bytes to the payload of the last entry.
    LogBuilder& raw(const std::string& bytes) {
        data_ += bytes;
        return *this;
    }

    std::string finish(int id, const std::string& outcome = "TRUE", const std::string& tail = "time: 1.25\n") {
        long here = static_cast<long>(data_.size());
        long back = last_ < 0 ? 0 : here - last_;
        data_ += "#" + std::to_string(id) + ": END [" + std::to_string(back) + "]\noutcome: " + outcome + "\n" + tail;
        return data_;
    }

    std::string& data() { return data_; }

  private:
    bool binary_;
    std::string data_;
    long last_ = -1;
};

}  // namespace logtest

#include <sys/wait.h>
#include <unistd.h>

namespace logtest {

// Runs f in a forked child with its standard output captured: for the fatal exits,
// which print to standard output and end the process.
struct Ended {
    int status = -1;  // exit status byte
    std::string out;
};

template <typename F>
Ended inChild(F f) {
    int fds[2];
    Ended ended;
    if (pipe(fds) != 0) return ended;
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        f();
        std::fflush(stdout);
        _exit(0);
    }
    close(fds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) ended.out.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ended.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return ended;
}

}  // namespace logtest
