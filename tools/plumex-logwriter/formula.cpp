// QDIMACS reading, the internal numbering and the random generator.
#include "tools/plumex-logwriter/formula.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <random>
#include <set>

namespace lw {

namespace {

// Tokens of a zlib stream, read in large chunks.
class Tokens {
  public:
    explicit Tokens(gzFile gz) : gz_(gz) {}
    // Next white-space-delimited token; empty at end of input.
    std::string next() {
        std::string t;
        int c;
        while ((c = get()) != EOF && std::isspace(c)) {
        }
        while (c != EOF && !std::isspace(c)) {
            t.push_back(static_cast<char>(c));
            c = get();
        }
        last_ = c;
        return t;
    }
    void skipLine() {
        int c = last_;
        while (c != EOF && c != '\n') c = get();
        last_ = c;
    }
    bool atLineEnd() const { return last_ == '\n' || last_ == EOF; }

  private:
    int get() {
        if (pos_ == len_) {
            int n = gzread(gz_, buf_, sizeof buf_);
            if (n <= 0) return EOF;
            len_ = n;
            pos_ = 0;
        }
        return static_cast<unsigned char>(buf_[pos_++]);
    }
    gzFile gz_;
    char buf_[1 << 16];
    int pos_ = 0, len_ = 0;
    int last_ = 0;
};

bool toInt(const std::string& t, long& v) {
    char* end = nullptr;
    v = std::strtol(t.c_str(), &end, 10);
    return !t.empty() && *end == 0;
}

}  // namespace

bool readFormula(const std::string& path, Formula& out, std::string& error) {
    gzFile gz = gzopen(path.c_str(), "rb");
    if (!gz) {
        error = "cannot open \"" + path + "\"";
        return false;
    }
    Tokens tk(gz);
    out = Formula();
    bool header = false;
    std::vector<int> clause;
    std::set<int> quantified;
    bool ok = true;
    for (;;) {
        std::string t = tk.next();
        if (t.empty()) break;
        if (t == "c" || (t[0] == 'c' && clause.empty())) {
            if (!tk.atLineEnd()) tk.skipLine();
            continue;
        }
        if (t == "p") {
            std::string fmt = tk.next(), nv = tk.next(), nc = tk.next();
            long v, c;
            if (fmt != "cnf" || !toInt(nv, v) || !toInt(nc, c) || v < 0 || c < 0 || v > (1 << 26)) {
                error = "bad problem line";
                ok = false;
                break;
            }
            out.maxVar = static_cast<int>(v);
            header = true;
            continue;
        }
        if ((t == "a" || t == "e") && clause.empty()) {
            Formula::Block b{t[0], {}};
            for (;;) {
                std::string w = tk.next();
                long v;
                if (!toInt(w, v) || v < 0 || v > (1 << 26)) {
                    error = "bad quantifier line";
                    ok = false;
                    break;
                }
                if (v == 0) break;
                if (!quantified.insert(static_cast<int>(v)).second) {
                    error = "variable " + std::to_string(v) + " quantified twice";
                    ok = false;
                    break;
                }
                b.vars.push_back(static_cast<int>(v));
                out.maxVar = std::max(out.maxVar, static_cast<int>(v));
            }
            if (!ok) break;
            if (b.vars.empty()) continue;
            if (!out.prefix.empty() && out.prefix.back().quantifier == b.quantifier)
                out.prefix.back().vars.insert(out.prefix.back().vars.end(), b.vars.begin(), b.vars.end());
            else
                out.prefix.push_back(std::move(b));
            continue;
        }
        long v;
        if (!toInt(t, v) || v < -(1L << 26) || v > (1L << 26)) {
            error = "bad literal \"" + t + "\"";
            ok = false;
            break;
        }
        if (v == 0) {
            std::sort(clause.begin(), clause.end(), [](int a, int b) { return std::abs(a) < std::abs(b) || (std::abs(a) == std::abs(b) && a < b); });
            clause.erase(std::unique(clause.begin(), clause.end()), clause.end());
            bool taut = false;
            for (std::size_t i = 1; i < clause.size(); ++i)
                if (clause[i] == -clause[i - 1]) taut = true;
            if (!taut) out.clauses.push_back(clause);
            clause.clear();
        } else {
            clause.push_back(static_cast<int>(v));
            out.maxVar = std::max(out.maxVar, static_cast<int>(std::abs(v)));
        }
    }
    gzclose(gz);
    if (ok && !header) {
        error = "no problem line";
        ok = false;
    }
    if (ok && !clause.empty()) out.clauses.push_back(clause);  // last clause without its 0
    return ok;
}

Model buildModel(const Formula& f) {
    Model m;
    std::vector<bool> quantified(static_cast<std::size_t>(f.maxVar) + 1, false);
    for (const auto& b : f.prefix)
        for (int v : b.vars) quantified[v] = true;
    std::vector<int> extToInt(static_cast<std::size_t>(f.maxVar) + 1, 0);
    m.intToExt.push_back(0);
    m.univ.push_back(0);
    m.univIndex.push_back(0);
    m.depth.push_back(0);
    auto add = [&](int ext, bool universal) {
        int i = static_cast<int>(m.intToExt.size());
        m.intToExt.push_back(ext);
        extToInt[ext] = i;
        if (universal) {
            m.univ.push_back(i);
            m.univIndex.push_back(m.numUniv());
            m.depth.push_back(0);
        } else {
            m.univIndex.push_back(0);
            m.depth.push_back(m.numUniv());
            m.exist.push_back(i);
        }
    };
    for (int v = 1; v <= f.maxVar; ++v)
        if (!quantified[v]) add(v, false);
    for (const auto& b : f.prefix)
        for (int v : b.vars) add(v, b.quantifier == 'a');
    m.numVars = static_cast<int>(m.intToExt.size());
    for (const auto& c : f.clauses) {
        std::vector<int> ic;
        for (int l : c) ic.push_back(l > 0 ? extToInt[l] : -extToInt[-l]);
        m.clauses.push_back(std::move(ic));
    }
    return m;
}

std::string generateFormula(const GenOptions& o) {
    std::mt19937_64 rng(o.seed);
    int vars = std::max(1, o.vars);
    int blocks = std::clamp(o.blocks, 1, vars);
    // Block sizes: every block gets one variable, the rest spread at random.
    std::vector<int> size(static_cast<std::size_t>(blocks), 1);
    for (int i = blocks; i < vars; ++i) ++size[rng() % blocks];
    std::string s = "c random QBF, seed " + std::to_string(o.seed) + "\n";
    s += "p cnf " + std::to_string(vars) + " " + std::to_string(o.clauses) + "\n";
    // Variables are numbered in a shuffled order so that internal and external numbers differ.
    std::vector<int> perm(static_cast<std::size_t>(vars));
    for (int i = 0; i < vars; ++i) perm[i] = i + 1;
    std::shuffle(perm.begin(), perm.end(), rng);
    int next = 0;
    char q = o.first == 'a' ? 'a' : 'e';
    std::vector<bool> universal(static_cast<std::size_t>(vars) + 1, false);
    int numExist = 0;
    for (int b = 0; b < blocks; ++b) {
        s += q;
        for (int k = 0; k < size[b]; ++k) {
            universal[perm[next]] = q == 'a';
            numExist += q == 'e';
            s += " " + std::to_string(perm[next++]);
        }
        s += " 0\n";
        q = q == 'a' ? 'e' : 'a';
    }
    int width = std::max(1, o.width);
    for (int c = 0; c < o.clauses; ++c) {
        int w = std::max(1, width - static_cast<int>(rng() % 2));
        std::set<int> used;
        std::string line;
        // At most one universal literal per clause, so that a fair share is true.
        bool haveUniv = numExist == 0;
        for (int k = 0; k < w && static_cast<int>(used.size()) < vars; ++k) {
            int v, tries = 0;
            do v = 1 + static_cast<int>(rng() % static_cast<unsigned>(vars));
            while ((used.count(v) || (haveUniv && universal[v] && numExist > 0)) && ++tries < 1000);
            if (tries >= 1000) break;
            haveUniv = haveUniv || universal[v];
            used.insert(v);
            line += std::to_string(rng() & 1 ? v : -v) + " ";
        }
        s += line + "0\n";
    }
    return s;
}

}  // namespace lw
