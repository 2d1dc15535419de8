#include "files/aiger.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bdd/engine.h"
#include "files/output_file.h"
#include "outcomes/outcome.h"

namespace {

// The circuit in the numbering of the binary format: variable 0 is the constant, 1..I
// the inputs, I+1..I+H the helper gates (children before parents), then one gate per
// output. Literals are 2 * variable, plus 1 when negated.
struct Circuit {
    std::vector<int> inputExt;              // input position -> QDIMACS number
    std::vector<unsigned> inputLitOfIndex;  // BDD index -> input literal
    std::vector<unsigned> gates;            // helper gates, two literals each (larger first)
    std::vector<int> outputExt;             // output position -> QDIMACS number
    std::vector<unsigned> outputFn;         // literal of each output's function

    unsigned numInputs() const { return static_cast<unsigned>(inputExt.size()); }
    unsigned numHelpers() const { return static_cast<unsigned>(gates.size() / 2); }

    unsigned andGate(unsigned a, unsigned b) {
        if (a < b) std::swap(a, b);
        gates.push_back(a);
        gates.push_back(b);
        return 2 * (numInputs() + numHelpers());
    }

    // x ? t : e for an input literal x; constant children need one gate or none.
    unsigned ite(unsigned x, unsigned t, unsigned e) {
        if (t == e) return t;
        if (t == 1 && e == 0) return x;
        if (t == 0 && e == 1) return x ^ 1;
        if (t == 1) return andGate(x ^ 1, e ^ 1) ^ 1;
        if (t == 0) return andGate(x ^ 1, e);
        if (e == 1) return andGate(x, t ^ 1) ^ 1;
        if (e == 0) return andGate(x, t);
        unsigned high = andGate(x, t);
        unsigned low = andGate(x ^ 1, e);
        return andGate(high ^ 1, low ^ 1) ^ 1;
    }
};

constexpr unsigned kUnset = ~0u;

// Functions without BDDs (too large for them) are written from their circuit form: its
// gates, in its own order (every gate after its fan-in), follow the inputs.
Circuit fromFunctionCircuit(Circuit& c, const FunctionCircuit& f, const QBModel& model, const std::vector<int>& outputs) {
    auto literal = [&](std::uint32_t lit) -> unsigned {
        std::uint32_t var = lit >> 1;
        if (var == 0) return lit;
        if (var <= static_cast<std::uint32_t>(f.numInputs)) return c.inputLitOfIndex[var] ^ (lit & 1);
        return 2 * (c.numInputs() + (var - static_cast<std::uint32_t>(f.numInputs))) ^ (lit & 1);
    };
    for (std::size_t g = 0; g < f.gates(); ++g) {
        unsigned a = literal(f.left[g]), b = literal(f.right[g]);
        c.gates.push_back(std::max(a, b));
        c.gates.push_back(std::min(a, b));
    }
    for (int v : outputs) {
        c.outputExt.push_back(model.intToExt[v]);
        std::uint32_t out = v < static_cast<int>(f.output.size()) ? f.output[v] : FunctionCircuit::kNone;
        c.outputFn.push_back(out == FunctionCircuit::kNone ? 0u : literal(out));
    }
    return c;
}

Circuit buildCircuit(const QBModel& model) {
    Circuit c;
    std::vector<int> order;
    for (int k = 1; k <= model.numUniv; ++k) order.push_back(k);
    auto extOfIndex = [&](int k) { return model.intToExt[model.univVar[k]]; };
    std::sort(order.begin(), order.end(), [&](int a, int b) { return extOfIndex(a) < extOfIndex(b); });
    c.inputLitOfIndex.assign(model.numUniv + 1, kUnset);
    for (int k : order) {
        c.inputExt.push_back(extOfIndex(k));
        c.inputLitOfIndex[k] = 2 * static_cast<unsigned>(c.inputExt.size());
    }

    std::vector<int> outputs;
    for (int v = 1; v < model.numVars; ++v)
        if (!model.isUniversal(v) && model.keeps(v)) outputs.push_back(v);
    std::sort(outputs.begin(), outputs.end(),
              [&](int a, int b) { return model.intToExt[a] < model.intToExt[b]; });
    if (!model.noBdds.empty() && model.circuit) return fromFunctionCircuit(c, *model.circuit, model, outputs);

    // The outputs' functions: constants (a null function is false) at once, the others
    // as roots of one walk, in output order.
    std::vector<bdd::Bdd> roots;
    std::vector<std::size_t> rootOutput;
    for (int v : outputs) {
        c.outputExt.push_back(model.intToExt[v]);
        const bdd::Bdd& root = model.posBdd[v];
        if (root.isNull() || root.isConstant()) {
            c.outputFn.push_back(!root.isNull() && root.isOne() ? 1u : 0u);
            continue;
        }
        c.outputFn.push_back(0u);
        rootOutput.push_back(c.outputFn.size() - 1);
        roots.push_back(root);
    }
    if (roots.empty()) return c;
    // Each node's label is its literal; children come before their parents.
    auto literal = [](bdd::Edge e) { return static_cast<unsigned>(e.label) ^ (e.complemented ? 1u : 0u); };
    std::vector<bdd::Edge> rootEdges = bdd::visitNodes(roots, [&](const bdd::VisitedNode& n) {
        if (n.var < 0) return n.value ? 1 : 0;
        if (n.var < 1 || n.var > model.numUniv)
            outcome::abnormalExit("Certificate function over a non-universal variable", __LINE__, "Aiger");
        return static_cast<int>(c.ite(c.inputLitOfIndex[n.var], literal(n.thenChild), literal(n.elseChild)));
    });
    for (std::size_t k = 0; k < roots.size(); ++k) c.outputFn[rootOutput[k]] = literal(rootEdges[k]);
    return c;
}

// Buffered output of numbers, text and binary AIGER deltas.
class Writer {
  public:
    explicit Writer(OutputFile& out) : out_(out) { buffer_.reserve(kSize + 64); }
    ~Writer() { flush(); }
    void text(const char* s) {
        buffer_.append(s);
        spill();
    }
    void text(const std::string& s) {
        buffer_.append(s);
        spill();
    }
    void number(unsigned long n) {
        char digits[24];
        auto r = std::to_chars(digits, digits + sizeof digits, n);
        buffer_.append(digits, r.ptr);
    }
    void ch(char c) {
        buffer_.push_back(c);
        spill();
    }
    // Seven bits a byte, lowest first; the top bit says another byte follows.
    void delta(unsigned x) {
        while (x & ~0x7fu) {
            buffer_.push_back(static_cast<char>((x & 0x7f) | 0x80));
            x >>= 7;
        }
        buffer_.push_back(static_cast<char>(x));
        spill();
    }
    void flush() {
        if (buffer_.empty()) return;
        if (std::fwrite(buffer_.data(), 1, buffer_.size(), out_.stream()) != buffer_.size()) out_.fail();
        buffer_.clear();
    }

  private:
    static constexpr size_t kSize = 1 << 20;
    void spill() {
        if (buffer_.size() >= kSize) flush();
    }
    OutputFile& out_;
    std::string buffer_;
};

void symbols(Writer& w, const Circuit& c, const QBModel& model) {
    for (size_t k = 0; k < c.inputExt.size(); ++k) {
        w.ch('i');
        w.number(k);
        w.ch(' ');
        w.number(c.inputExt[k]);
        w.ch('\n');
    }
    for (size_t k = 0; k < c.outputExt.size(); ++k) {
        w.ch('o');
        w.number(k);
        w.ch(' ');
        w.number(c.outputExt[k]);
        w.ch('\n');
    }
    w.text(model.countermodel() ? "c\nPlumex countermodel of \"" : "c\nPlumex certificate of \"");
    w.text(model.formula);
    w.text("\"\n");
}

void header(Writer& w, const char* kind, unsigned long m, unsigned long i, unsigned long o, unsigned long a) {
    w.text(kind);
    for (unsigned long n : {m, i, 0ul, o, a}) {
        w.ch(' ');
        w.number(n);
    }
    w.ch('\n');
}

template <typename Body>
Status writeFile(const std::string& path, const char* mode, Body body) {
    OutputFile out(path, mode);
    if (!out.ok()) return out.commit();  // says why it could not be created
    {
        Writer w(out);
        body(w);
    }
    return out.commit();
}

}  // namespace

Status writeAag(const QBModel& model, const std::string& path) {
    Circuit c = buildCircuit(model);
    unsigned long top = static_cast<unsigned long>(std::max(model.maxExtVar, 0));
    unsigned long used = 0;
    for (int e : c.inputExt) used = std::max(used, static_cast<unsigned long>(e));
    for (int e : c.outputExt) used = std::max(used, static_cast<unsigned long>(e));
    top = std::max(top, used);
    const unsigned inputs = c.numInputs();
    // Binary numbering -> index-based: inputs take their QDIMACS numbers, helpers follow
    // the largest QDIMACS variable.
    auto map = [&](unsigned lit) -> unsigned long {
        unsigned var = lit >> 1;
        unsigned long to = var == 0 ? 0 : var <= inputs ? c.inputExt[var - 1] : top + (var - inputs);
        return 2 * to + (lit & 1);
    };
    unsigned long maxVar = c.numHelpers() > 0 ? top + c.numHelpers() : used;
    return writeFile(path, "w", [&](Writer& w) {
        header(w, "aag", maxVar, inputs, c.outputExt.size(), c.outputExt.size() + c.numHelpers());
        for (int e : c.inputExt) {
            w.number(2ul * e);
            w.ch('\n');
        }
        for (int e : c.outputExt) {
            w.number(2ul * e);
            w.ch('\n');
        }
        for (size_t k = 0; k < c.outputExt.size(); ++k) {
            w.number(2ul * c.outputExt[k]);
            w.ch(' ');
            w.number(map(c.outputFn[k]));
            w.text(" 1\n");
        }
        for (unsigned j = 0; j < c.numHelpers(); ++j) {
            w.number(2 * (top + 1 + j));
            w.ch(' ');
            w.number(map(c.gates[2 * j]));
            w.ch(' ');
            w.number(map(c.gates[2 * j + 1]));
            w.ch('\n');
        }
        symbols(w, c, model);
    });
}

Status writeAig(const QBModel& model, const std::string& path) {
    Circuit c = buildCircuit(model);
    const unsigned inputs = c.numInputs(), helpers = c.numHelpers();
    const unsigned outputs = static_cast<unsigned>(c.outputExt.size());
    return writeFile(path, "wb", [&](Writer& w) {
        header(w, "aig", inputs + helpers + outputs, inputs, outputs, helpers + outputs);
        // The output gates come last, so that every gate follows its fan-in.
        for (unsigned k = 0; k < outputs; ++k) {
            w.number(2ul * (inputs + helpers + 1 + k));
            w.ch('\n');
        }
        for (unsigned j = 0; j < helpers; ++j) {
            unsigned lhs = 2 * (inputs + 1 + j);
            w.delta(lhs - c.gates[2 * j]);
            w.delta(c.gates[2 * j] - c.gates[2 * j + 1]);
        }
        for (unsigned k = 0; k < outputs; ++k) {
            unsigned lhs = 2 * (inputs + helpers + 1 + k);
            unsigned a = std::max(c.outputFn[k], 1u), b = std::min(c.outputFn[k], 1u);
            w.delta(lhs - a);
            w.delta(a - b);
        }
        symbols(w, c, model);
    });
}
