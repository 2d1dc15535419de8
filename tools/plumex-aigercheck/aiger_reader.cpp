#include "aiger_reader.h"

#include <fstream>
#include <iterator>

namespace aigercheck {

namespace {

enum Kind : char { None = 0, Input = 1, And = 2 };

constexpr unsigned long kMaxVar = 1ul << 30;  // literals stay within 32 bits

struct Cursor {
    const std::string& s;
    size_t pos = 0;

    size_t left() const { return s.size() - pos; }
    bool atEnd() const { return pos >= s.size(); }
    void blanks() {
        while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\r')) ++pos;
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
        if (pos >= s.size() || s[pos] != '\n') return false;
        ++pos;
        return true;
    }
    // The binary format's unsigned number: seven bits a byte, lowest first.
    bool delta(unsigned long& value) {
        value = 0;
        for (int shift = 0; shift < 35; shift += 7) {
            if (pos >= s.size()) return false;
            unsigned char byte = static_cast<unsigned char>(s[pos++]);
            value |= static_cast<unsigned long>(byte & 0x7f) << shift;
            if (!(byte & 0x80)) return value <= 4 * kMaxVar;
        }
        return false;
    }
};

std::string where(const char* what, unsigned long k) {
    return std::string(what) + " " + std::to_string(k);
}

// A symbol's name counts as a QDIMACS number when it is a positive decimal.
long nameNumber(const std::string& name) {
    if (name.empty() || name.size() > 10 || name[0] == '0') return -1;
    long v = 0;
    for (char ch : name) {
        if (ch < '0' || ch > '9') return -1;
        v = v * 10 + (ch - '0');
    }
    return v <= 0x7fffffff ? v : -1;
}

bool symbols(Cursor& in, Circuit& c, std::string& error) {
    c.inputName.assign(c.inputs.size(), -1);
    c.outputName.assign(c.outputs.size(), -1);
    while (!in.atEnd()) {
        char type = in.s[in.pos];
        if (type == 'c' && (in.pos + 1 == in.s.size() || in.s[in.pos + 1] == '\n' || in.s[in.pos + 1] == '\r'))
            return true;  // the comment section: free text up to the end
        ++in.pos;
        unsigned long k = 0;
        if ((type != 'i' && type != 'o') || !in.number(k)) {
            error = "bad line in the symbol table at byte " + std::to_string(in.pos - 1);
            return false;
        }
        std::vector<long>& names = type == 'i' ? c.inputName : c.outputName;
        if (k >= names.size()) {
            error = std::string("symbol for the missing ") + (type == 'i' ? "input " : "output ") + std::to_string(k);
            return false;
        }
        if (in.pos >= in.s.size() || in.s[in.pos] != ' ') {
            error = "symbol without a name at byte " + std::to_string(in.pos);
            return false;
        }
        size_t end = in.s.find('\n', ++in.pos);
        if (end == std::string::npos) end = in.s.size();
        std::string name = in.s.substr(in.pos, end - in.pos);
        if (!name.empty() && name.back() == '\r') name.pop_back();
        names[k] = type == 'o' && name == "result" ? kResultOutput : nameNumber(name);
        in.pos = end < in.s.size() ? end + 1 : end;
    }
    return true;
}

bool order(Circuit& c, const std::vector<char>& kind, const std::vector<unsigned>& gateOf, std::string& error) {
    const size_t n = c.andLhs.size();
    std::vector<char> state(n, 0);  // 0 new, 1 on the path, 2 done
    std::vector<unsigned> stack;
    c.topological.clear();
    c.topological.reserve(n);
    for (unsigned g = 0; g < n; ++g) {
        if (state[g]) continue;
        stack.push_back(g);
        while (!stack.empty()) {
            unsigned t = stack.back();
            if (state[t] == 0) {
                state[t] = 1;
                for (unsigned lit : {c.andRhs0[t], c.andRhs1[t]}) {
                    unsigned v = lit >> 1;
                    if (kind[v] != And) continue;
                    unsigned child = gateOf[v];
                    if (state[child] == 1) {
                        error = "the circuit has a cycle through variable " + std::to_string(v);
                        return false;
                    }
                    if (state[child] == 0) stack.push_back(child);
                }
            } else {
                if (state[t] == 1) {
                    state[t] = 2;
                    c.topological.push_back(t);
                }
                stack.pop_back();
            }
        }
    }
    return true;
}

}  // namespace

CircuitRead readCircuit(const std::string& path, unsigned long maxInputs) {
    CircuitRead r;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        r.error = "cannot open \"" + path + "\"";
        return r;
    }
    std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    Cursor in{data};
    if (data.size() < 4 || data[3] != ' ' || (data.compare(0, 3, "aag") != 0 && data.compare(0, 3, "aig") != 0)) {
        r.error = "not an AIGER file (no \"aag\" or \"aig\" header)";
        return r;
    }
    const bool binary = data[1] == 'i';
    in.pos = 3;
    unsigned long m, i, l, o, a;
    if (!in.number(m) || !in.number(i) || !in.number(l) || !in.number(o) || !in.number(a) || !in.endLine()) {
        r.error = "bad header line (expected M I L O A)";
        return r;
    }
    if (l != 0) {
        r.error = "latches are not supported in a certificate";
        return r;
    }
    if (i + a > m) {
        r.error = "header M (" + std::to_string(m) + ") is below I + L + A (" + std::to_string(i + a) +
                  "): every input and gate needs a variable of its own up to M";
        return r;
    }
    // Every output and gate takes two bytes at least; inputs take two in the ASCII form,
    // none in the binary one.
    const unsigned long bytes = in.left();
    if (m > kMaxVar || o > bytes / 2 || a > bytes / 2 || (binary ? i > maxInputs : i > bytes / 2) ||
        (binary ? m != i + a : m > maxInputs + bytes)) {
        r.error = binary && m != i + a ? "header M is not I + L + A" : "header counts too large for the file";
        return r;
    }
    Circuit& c = r.circuit;
    c.maxVar = static_cast<unsigned>(m);
    std::vector<char> kind(m + 1, None);
    std::vector<unsigned> gateOf(m + 1, 0);
    const unsigned long maxLit = 2 * m + 1;
    for (unsigned long k = 0; k < i; ++k) {
        unsigned long lit = 2 * (k + 1);
        if (!binary && (!in.number(lit) || !in.endLine())) {
            r.error = "bad line for " + where("input", k);
            return r;
        }
        if (lit < 2 || (lit & 1) || lit > maxLit || kind[lit >> 1] != None) {
            r.error = where("input", k) + " has literal " + std::to_string(lit) +
                      " (not a fresh positive variable up to M)";
            return r;
        }
        kind[lit >> 1] = Input;
        c.inputs.push_back(static_cast<unsigned>(lit));
    }
    for (unsigned long k = 0; k < o; ++k) {
        unsigned long lit;
        if (!in.number(lit) || !in.endLine() || lit > maxLit) {
            r.error = "bad line for " + where("output", k);
            return r;
        }
        c.outputs.push_back(static_cast<unsigned>(lit));
    }
    for (unsigned long k = 0; k < a; ++k) {
        unsigned long lhs, rhs0, rhs1;
        if (binary) {
            unsigned long d0, d1;
            lhs = 2 * (i + 1 + k);
            if (!in.delta(d0) || !in.delta(d1) || d0 == 0 || d0 > lhs || d1 > lhs - d0) {
                r.error = "bad binary encoding of " + where("gate", k);
                return r;
            }
            rhs0 = lhs - d0;
            rhs1 = rhs0 - d1;
        } else if (!in.number(lhs) || !in.number(rhs0) || !in.number(rhs1) || !in.endLine()) {
            r.error = "bad line for " + where("gate", k);
            return r;
        }
        if (lhs < 2 || (lhs & 1) || lhs > maxLit || kind[lhs >> 1] != None || rhs0 > maxLit || rhs1 > maxLit) {
            r.error = where("gate", k) + " is not a fresh variable up to M with literals up to 2M+1";
            return r;
        }
        kind[lhs >> 1] = And;
        gateOf[lhs >> 1] = static_cast<unsigned>(k);
        c.andLhs.push_back(static_cast<unsigned>(lhs));
        c.andRhs0.push_back(static_cast<unsigned>(rhs0));
        c.andRhs1.push_back(static_cast<unsigned>(rhs1));
    }
    auto defined = [&](unsigned lit) { return (lit >> 1) == 0 || kind[lit >> 1] != None; };
    for (size_t k = 0; k < c.outputs.size(); ++k)
        if (!defined(c.outputs[k])) {
            r.error = where("output", k) + " reads the undefined variable " + std::to_string(c.outputs[k] >> 1);
            return r;
        }
    for (size_t k = 0; k < c.andLhs.size(); ++k)
        if (!defined(c.andRhs0[k]) || !defined(c.andRhs1[k])) {
            r.error = where("gate", k) + " reads an undefined variable";
            return r;
        }
    if (!order(c, kind, gateOf, r.error)) return r;
    if (!symbols(in, c, r.error)) return r;
    r.ok = true;
    return r;
}

}  // namespace aigercheck
