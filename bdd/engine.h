// The BDD engine: one manager, reference-counted handles and the operations the
// certificate work needs. This header is the only face of the engine; the package
// underneath (BuDDy) is included by bdd/engine.cpp alone.
//
// Only one manager is live at a time. That is enough for Plumex: every instance runs
// alone in its process (or forked child), and a certificate owns the one manager.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace bdd {

class Bdd;

// The live manager. Variables are numbered by index 0..size()-1; each index sits at a
// level of the current order (level 0 on top). A variable used beyond size() is created
// on demand at the bottom of the order, as the DDDMP loader of the reference library does.
class Manager {
  public:
    explicit Manager(int numVars);
    ~Manager();
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;

    // Number of variables (what the reference library calls the manager size).
    int size() const;
    void ensureVars(int numVars);

    int levelOf(int index) const;
    int indexAt(int level) const;
    // Puts the variables in this order (levelToIndex[level] = index, a permutation of
    // 0..size()-1); functions are kept.
    void setOrder(const std::vector<int>& levelToIndex);

    // Dynamic reordering, chosen by the reference library's method number (1 = none).
    void enableReordering(int cuddMethod);
    void disableReordering();
    // Called around every reordering, automatic or forced.
    void setReorderHooks(std::function<void()> pre, std::function<void()> post);

    // Live nodes in the node table (for benchmarks and diagnostics).
    long liveNodes() const;

    static bool live();
    // The live manager (abnormal exit when there is none).
    static Manager& current();
    // Slots of the node table: every raw node number is below this.
    int nodeTableSize() const;
};

// Which BuDDy method stands in for a reference-library reordering method number.
int engineMethodFor(int cuddMethod);

// A handle that holds one reference on a node for as long as it lives. A default
// handle is null (no function), as an absent entry of a certificate table.
class Bdd {
  public:
    Bdd() = default;
    Bdd(const Bdd& other);
    Bdd(Bdd&& other) noexcept;
    Bdd& operator=(const Bdd& other);
    Bdd& operator=(Bdd&& other) noexcept;
    ~Bdd();

    bool isNull() const { return node_ < 0; }
    explicit operator bool() const { return !isNull(); }
    bool isOne() const;
    bool isZero() const;
    bool isConstant() const { return isOne() || isZero(); }
    bool operator==(const Bdd& other) const { return node_ == other.node_; }
    bool operator!=(const Bdd& other) const { return node_ != other.node_; }

    Bdd operator!() const;
    Bdd operator&(const Bdd& other) const;
    Bdd operator|(const Bdd& other) const;
    Bdd operator^(const Bdd& other) const;
    Bdd& operator&=(const Bdd& other) { return *this = *this & other; }
    Bdd& operator|=(const Bdd& other) { return *this = *this | other; }

    // Node traversal (for the file codecs): only for non-constant nodes.
    int var() const;   // variable index of the top node
    Bdd high() const;  // then-child
    Bdd low() const;   // else-child
    // Raw node number: identifies the node while any handle on it lives.
    int id() const { return node_; }
    static Bdd fromId(int node);  // takes a new reference on a node that is alive
    // Raw traversal for the codecs' hot loops: no reference is taken, so the node must be
    // kept alive by a handle on an ancestor. Only for non-constant nodes.
    static int varOf(int node);
    static int lowOf(int node);
    static int highOf(int node);

    void release();  // drop the reference now; the handle becomes null

  private:
    explicit Bdd(int node, bool adopt);
    int node_ = -1;
    std::uint32_t generation_ = 0;
    friend Bdd one();
    friend Bdd zero();
    friend Bdd ithVar(int);
    friend Bdd exist(const Bdd&, const Bdd&);
    friend Bdd cofactor(const Bdd&, const Bdd&);
    friend Bdd ite(const Bdd&, const Bdd&, const Bdd&);
    friend class NodeBuilder;
    friend Bdd conjunctionInPlace(std::vector<Bdd>&);
};

// Nodes made directly from their variable and children, as a file loader builds a
// forest from the bottom up: no operation per node. Automatic reordering waits while a
// builder lives (the node table may grow under it, but the variable order may not).
class NodeBuilder {
  public:
    NodeBuilder();
    ~NodeBuilder();
    NodeBuilder(const NodeBuilder&) = delete;
    NodeBuilder& operator=(const NodeBuilder&) = delete;

    // Room in the node table for this many more nodes, so that building them sets off
    // no collection and no step-by-step growth.
    void reserve(long nodes);
    // "if variable index then high else low": joined directly where both children lie
    // below the variable in the order (or are constants), through ite otherwise.
    Bdd node(int index, const Bdd& low, const Bdd& high);
};

Bdd one();
Bdd zero();
Bdd ithVar(int index);                         // the variable with this index (created on demand)
// The conjunction of these variables, built from the bottom level up, so that its cost
// is linear in the count (from the top, each step would rebuild the cube so far).
Bdd positiveCube(std::vector<int> indices);
// The conjunction of these functions, taken from the one whose top variable is lowest
// upwards: for literals (a cube) each step then costs one node. The in-place form
// reorders the factors (for callers that keep one buffer across many calls).
Bdd conjunction(std::vector<Bdd> factors);
Bdd conjunctionInPlace(std::vector<Bdd>& factors);
Bdd exist(const Bdd& f, const Bdd& cube);      // exists the variables of a positive cube
Bdd cofactor(const Bdd& f, const Bdd& cube);   // f restricted by a cube of literals
Bdd ite(const Bdd& c, const Bdd& t, const Bdd& e);
double mintermFraction(const Bdd& f);          // share of all assignments that satisfy f
int nodeCount(const Bdd& f);                   // BuDDy nodes of f (no complement edges)

}  // namespace bdd
