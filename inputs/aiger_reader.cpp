// AIGER reading. The whole file is read into memory (circuits of certificates are far
// smaller than the logs and traces they replace); the ASCII and binary bodies share one
// cursor, and the binary gates are decoded from their deltas.
#include "inputs/aiger_reader.h"

#include <cstdio>
#include <memory>

namespace aiger {

namespace {

constexpr unsigned long kMaxVar = 1ul << 29;  // every literal fits an unsigned int

struct FileCloser {
    void operator()(std::FILE* fp) const { std::fclose(fp); }
};

bool slurp(const std::string& path, std::string& data) {
    std::unique_ptr<std::FILE, FileCloser> fp(std::fopen(path.c_str(), "rb"));
    if (!fp) return false;
    char buffer[1 << 16];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, fp.get())) > 0;) data.append(buffer, n);
    return !std::ferror(fp.get());
}

struct Cursor {
    const std::string& s;
    std::size_t pos = 0;

    std::size_t left() const { return s.size() - pos; }
    void blanks() {
        while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
    }
    bool number(unsigned long& value) {
        blanks();
        if (pos >= s.size() || s[pos] < '0' || s[pos] > '9') return false;
        value = 0;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            value = value * 10 + static_cast<unsigned long>(s[pos++] - '0');
            if (value > 4 * kMaxVar) return false;
        }
        return true;
    }
    bool endLine() {
        blanks();
        if (pos < s.size() && s[pos] == '\r') ++pos;
        if (pos >= s.size() || s[pos] != '\n') return false;
        ++pos;
        return true;
    }
    // Seven bits a byte, lowest first; the high bit says that more follow.
    bool delta(unsigned long& value) {
        value = 0;
        for (int shift = 0; shift < 35; shift += 7) {
            if (pos >= s.size()) return false;
            auto byte = static_cast<unsigned char>(s[pos++]);
            value |= static_cast<unsigned long>(byte & 0x7f) << shift;
            if (!(byte & 0x80)) return value <= 4 * kMaxVar;
        }
        return false;
    }
};

std::string nth(const char* what, unsigned long k) { return std::string(what) + " " + std::to_string(k); }

// "iK name" and "oK name" lines up to the comment section ("c" alone on its line).
Status symbols(Cursor& in, Circuit& c) {
    c.inputName.assign(c.inputs.size(), "");
    c.outputName.assign(c.outputs.size(), "");
    while (in.pos < in.s.size()) {
        char type = in.s[in.pos];
        if (type == 'c') return {};
        if (type == '\n' || type == '\r') {  // stray empty lines before the end
            ++in.pos;
            continue;
        }
        ++in.pos;
        unsigned long k = 0;
        if (type != 'i' && type != 'o' && type != 'l')
            return Status::failure("bad line in the symbol table at byte " + std::to_string(in.pos - 1));
        if (!in.number(k) || in.pos >= in.s.size() || in.s[in.pos] != ' ')
            return Status::failure("bad symbol at byte " + std::to_string(in.pos));
        std::vector<std::string>& names = type == 'i' ? c.inputName : c.outputName;
        if (type == 'l' || k >= names.size())
            return Status::failure("symbol for a missing " +
                                   nth(type == 'i' ? "input" : type == 'o' ? "output" : "latch", k));
        std::size_t end = in.s.find('\n', ++in.pos);
        if (end == std::string::npos) end = in.s.size();
        std::string name = in.s.substr(in.pos, end - in.pos);
        if (!name.empty() && name.back() == '\r') name.pop_back();
        names[k] = name;
        in.pos = end < in.s.size() ? end + 1 : end;
    }
    return {};
}

// Depth-first over the gates with an explicit stack: a gate met again while it is on
// the path closes a cycle.
Status acyclic(const Circuit& c) {
    const std::size_t n = c.lhs.size();
    std::vector<char> state(n, 0);  // 0 new, 1 on the path, 2 done
    std::vector<unsigned> stack;
    for (unsigned g = 0; g < n; ++g) {
        if (state[g]) continue;
        stack.push_back(g);
        while (!stack.empty()) {
            unsigned t = stack.back();
            if (state[t] != 0) {
                state[t] = 2;
                stack.pop_back();
                continue;
            }
            state[t] = 1;
            for (unsigned lit : {c.rhs0[t], c.rhs1[t]}) {
                unsigned child = c.gateOfVar[lit >> 1];
                if (child == Circuit::kNoGate) continue;
                if (state[child] == 1)
                    return Status::failure("the gates form a cycle through variable " + std::to_string(lit >> 1));
                if (state[child] == 0) stack.push_back(child);
            }
        }
    }
    return {};
}

}  // namespace

Result<Circuit> readCircuit(const std::string& path, unsigned long knownVars) {
    std::string data;
    if (!slurp(path, data))
        return Status::failure("cannot read \"" + path + "\"");
    Cursor in{data};
    if (data.size() < 4 || data[3] != ' ' || (data.compare(0, 3, "aag") != 0 && data.compare(0, 3, "aig") != 0))
        return Status::failure("no \"aag\" or \"aig\" header");
    const bool binary = data[1] == 'i';
    in.pos = 3;
    unsigned long m = 0, i = 0, l = 0, o = 0, a = 0;
    if (!in.number(m) || !in.number(i) || !in.number(l) || !in.number(o) || !in.number(a))
        return Status::failure("bad header line (M I L O A)");
    // AIGER 1.9 adds bad-state, constraint, justice and fairness counts: none may be used.
    for (unsigned long extra; in.number(extra);)
        if (extra != 0)
            return Status::failure(
                "bad states, constraints, justice or fairness properties are no part of a certificate");
    if (!in.endLine())
        return Status::failure("bad header line (M I L O A)");
    if (l != 0)
        return Status::failure("a certificate has no latches");
    // Every input and gate is a variable of its own, numbered up to M.
    if (i + a > m)
        return Status::failure("header M (" + std::to_string(m) + ") is below I + L + A (" + std::to_string(i + a) +
                               "): every input and gate needs a variable of its own up to M");
    // Outputs and gates take two bytes at least; ASCII inputs too, binary ones none. Every
    // table is sized by M: an ASCII file may number its variables up to the formula's and
    // beyond them by what its own lines can define, no further.
    const unsigned long bytes = in.left();
    if (m > kMaxVar || o > bytes / 2 || a > bytes / 2 || (!binary && i > bytes / 2) ||
        (binary && (m != i + a || i > knownVars)) || (!binary && m > knownVars + bytes))
        return Status::failure(binary && m != i + a ? "header M is not I + L + A"
                                                    : "header counts too large for the file");
    Circuit c;
    c.maxVar = static_cast<unsigned>(m);
    c.gateOfVar.assign(m + 1, Circuit::kNoGate);
    std::vector<char> defined(m + 1, 0);
    defined[0] = 1;
    const unsigned long maxLit = 2 * m + 1;
    for (unsigned long k = 0; k < i; ++k) {
        unsigned long lit = 2 * (k + 1);
        if (!binary && (!in.number(lit) || !in.endLine()))
            return Status::failure("bad line for " + nth("input", k));
        if (lit < 2 || (lit & 1) || lit > maxLit || defined[lit >> 1])
            return Status::failure(nth("input", k) + " is not a fresh variable up to M");
        defined[lit >> 1] = 1;
        c.inputs.push_back(static_cast<unsigned>(lit));
    }
    for (unsigned long k = 0; k < o; ++k) {
        unsigned long lit = 0;
        if (!in.number(lit) || !in.endLine() || lit > maxLit)
            return Status::failure("bad line for " + nth("output", k));
        c.outputs.push_back(static_cast<unsigned>(lit));
    }
    for (unsigned long k = 0; k < a; ++k) {
        unsigned long lhs = 0, r0 = 0, r1 = 0;
        if (binary) {
            unsigned long d0 = 0, d1 = 0;
            lhs = 2 * (i + 1 + k);
            if (!in.delta(d0) || !in.delta(d1) || d0 == 0 || d0 > lhs || d1 > lhs - d0)
                return Status::failure("bad binary encoding of " + nth("gate", k));
            r0 = lhs - d0;
            r1 = r0 - d1;
        } else if (!in.number(lhs) || !in.number(r0) || !in.number(r1) || !in.endLine())
            return Status::failure("bad line for " + nth("gate", k));
        if (lhs < 2 || (lhs & 1) || lhs > maxLit || defined[lhs >> 1] || r0 > maxLit || r1 > maxLit)
            return Status::failure(nth("gate", k) + " is not a fresh variable up to M with literals up to 2M+1");
        defined[lhs >> 1] = 1;
        c.gateOfVar[lhs >> 1] = static_cast<unsigned>(k);
        c.lhs.push_back(static_cast<unsigned>(lhs));
        c.rhs0.push_back(static_cast<unsigned>(r0));
        c.rhs1.push_back(static_cast<unsigned>(r1));
    }
    for (std::size_t k = 0; k < c.outputs.size(); ++k)
        if (!defined[c.outputs[k] >> 1])
            return Status::failure(nth("output", k) + " reads the undefined variable " +
                                   std::to_string(c.outputs[k] >> 1));
    for (std::size_t k = 0; k < c.lhs.size(); ++k)
        if (!defined[c.rhs0[k] >> 1] || !defined[c.rhs1[k] >> 1])
            return Status::failure(nth("gate", k) + " reads an undefined variable");
    if (Status ok = acyclic(c); !ok) return ok;
    if (Status ok = symbols(in, c); !ok) return ok;
    return c;
}

}  // namespace aiger
