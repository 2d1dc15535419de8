// BuDDy behind the engine interface of bdd/engine.h.
#include "bdd/engine.h"

#include <stdio.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

// BuDDy's header declares a global class named like our namespace; keep it apart.
namespace buddy {
#include <bdd.h>
}
#undef bdd_init
#undef bdd_ithvar
using namespace buddy;
#include <unordered_map>
#include <utility>
#include <vector>

#include "outcomes/outcome.h"

namespace bdd {

namespace {

// BuDDy's two constant nodes.
constexpr int kFalse = 0;
constexpr int kTrue = 1;

bool g_live = false;
Manager* g_current = nullptr;
std::uint32_t g_generation = 0;
int g_size = 0;  // the manager size as the reference library counts it
int g_method = BDD_REORDER_NONE;
std::function<void()> g_preHook;
std::function<void()> g_postHook;

void onError(int code) {
    if (code == BDD_MEMORY || code == BDD_NODENUM) outcome::memout();
    outcome::abnormalExit(bdd_errstring(code), __LINE__, "BddEngine");
}

void onReorder(int prestate) {
    if (prestate) {
        if (g_preHook) g_preHook();
    } else if (g_postHook) {
        g_postHook();
    }
}

void silentGbc(int, bddGbcStat*) {}

// Reordering works on blocks; every variable is a block of its own. BuDDy keeps the
// blocks in a list sorted by level and walks it for every block added, so blocks are
// added from the bottom level up: each goes to the front, and the cost stays linear
// (BuDDy's own block-every-variable call, adding from the top, is quadratic and walks
// the list recursively, which overflows the stack for some 100,000 variables).
void blockEveryVariable() {
    bdd_clrvarblocks();
    for (int level = bdd_varnum() - 1; level >= 0; --level) {
        int var = bdd_level2var(level);
        bdd_intaddvarblock(var, var, 1);
    }
}

// The engine always keeps at least one variable: BuDDy cannot run with none.
void growEngine(int numVars) {
    int want = numVars < 1 ? 1 : numVars;
    if (want > bdd_varnum()) {
        bdd_extvarnum(want - bdd_varnum());
        blockEveryVariable();
    }
}

// Nearest BuDDy method for each reordering method number of the reference library.
struct MethodRow {
    int cudd;
    const char* cuddName;
    int engine;
};
constexpr MethodRow kMethods[] = {
    {0, "SAME", BDD_REORDER_NONE},
    {1, "NONE", BDD_REORDER_NONE},
    {2, "RANDOM", BDD_REORDER_RANDOM},
    {3, "RANDOM_PIVOT", BDD_REORDER_RANDOM},
    {4, "SIFT", BDD_REORDER_SIFT},
    {5, "SIFT_CONVERGE", BDD_REORDER_SIFTITE},
    {6, "SYMM_SIFT", BDD_REORDER_SIFT},
    {7, "SYMM_SIFT_CONV", BDD_REORDER_SIFTITE},
    {8, "WINDOW2", BDD_REORDER_WIN2},
    {9, "WINDOW3", BDD_REORDER_WIN3},
    {10, "WINDOW4", BDD_REORDER_WIN3},
    {11, "WINDOW2_CONV", BDD_REORDER_WIN2ITE},
    {12, "WINDOW3_CONV", BDD_REORDER_WIN3ITE},
    {13, "WINDOW4_CONV", BDD_REORDER_WIN3ITE},
    {14, "GROUP_SIFT", BDD_REORDER_SIFT},
    {15, "GROUP_SIFT_CONV", BDD_REORDER_SIFTITE},
    {16, "ANNEALING", BDD_REORDER_SIFT},
    {17, "GENETIC", BDD_REORDER_RANDOM},
    {18, "LINEAR", BDD_REORDER_SIFT},
    {19, "LINEAR_CONVERGE", BDD_REORDER_SIFTITE},
    {20, "LAZY_SIFT", BDD_REORDER_SIFT},
    {21, "EXACT", BDD_REORDER_SIFTITE},
};

}  // namespace

int engineMethodFor(int cuddMethod) {
    for (const MethodRow& row : kMethods)
        if (row.cudd == cuddMethod) return row.engine;
    return BDD_REORDER_NONE;
}

Manager::Manager(int numVars) {
    if (g_live) outcome::abnormalExit("Second BDD manager", __LINE__, "BddEngine");
    // Fixed operator caches: with a cache ratio BuDDy resizes its caches when the node
    // table grows in the middle of an operation, while the operation still holds a
    // pointer into the old cache (heap corruption, seen as crashes in the collector).
    // Their size, measured on building and combining a 3M-node forest (bench_hard):
    // 64K entries 15.6 s, 256K 12.4 s, 1M 9.2 s; each step costs four times the memory
    // of six caches of 24-byte entries (9, 38, 150 MB). 256K keeps a small run small.
    constexpr int kCacheEntries = 1 << 18;
    if (bdd_init(1 << 16, kCacheEntries) < 0) outcome::memout();
    // bdd_init puts BuDDy's own handler back (message on standard error, exit 1).
    bdd_error_hook(onError);
    bdd_gbc_hook(silentGbc);
    bdd_resize_hook(nullptr);
    bdd_reorder_verbose(0);
    bdd_reorder_hook(onReorder);
    bdd_setmaxincrease(1 << 22);
    g_live = true;
    g_current = this;
    ++g_generation;
    g_size = numVars < 0 ? 0 : numVars;
    bdd_setvarnum(g_size < 1 ? 1 : g_size);
    blockEveryVariable();
    g_method = BDD_REORDER_NONE;
    bdd_autoreorder(BDD_REORDER_NONE);
}

Manager::~Manager() {
    g_preHook = nullptr;
    g_postHook = nullptr;
    g_live = false;
    g_current = nullptr;
    bdd_done();
}

bool Manager::live() { return g_live; }

Manager& Manager::current() {
    if (!g_current) outcome::abnormalExit("No BDD manager", __LINE__, "BddEngine");
    return *g_current;
}

int Manager::nodeTableSize() const { return bdd_getallocnum(); }

void Manager::setOrder(const std::vector<int>& levelToIndex) {
    // BuDDy takes the whole order, the always-present spare variable included.
    std::vector<int> order(levelToIndex);
    std::vector<char> seen(bdd_varnum(), 0);
    for (int index : order) {
        if (index < 0 || index >= bdd_varnum() || seen[index])
            outcome::abnormalExit("Bad variable order", __LINE__, "BddEngine");
        seen[index] = 1;
    }
    for (int index = 0; index < bdd_varnum(); ++index)
        if (!seen[index]) order.push_back(index);
    // BuDDy refuses an explicit order while reordering blocks are defined.
    bdd_clrvarblocks();
    bdd_setvarorder(order.data());
    blockEveryVariable();
}

int Manager::size() const { return g_size; }

void Manager::ensureVars(int numVars) {
    if (numVars > g_size) {
        growEngine(numVars);
        g_size = numVars;
    }
}

int Manager::levelOf(int index) const { return bdd_var2level(index); }
int Manager::indexAt(int level) const { return bdd_level2var(level); }

void Manager::enableReordering(int cuddMethod) {
    g_method = engineMethodFor(cuddMethod);
    bdd_autoreorder(g_method);
    bdd_enable_reorder();
}

void Manager::disableReordering() {
    g_method = BDD_REORDER_NONE;
    bdd_autoreorder(BDD_REORDER_NONE);
}

void Manager::setReorderHooks(std::function<void()> pre, std::function<void()> post) {
    g_preHook = std::move(pre);
    g_postHook = std::move(post);
}

long Manager::liveNodes() const { return bdd_getnodenum(); }

// ---- handles ----

Bdd::Bdd(int node, bool adopt) : node_(node), generation_(g_generation) {
    if (!adopt && node_ >= 0) bdd_addref(node_);
}

Bdd::Bdd(const Bdd& other) : node_(other.node_), generation_(other.generation_) {
    if (node_ >= 0 && g_live && generation_ == g_generation) bdd_addref(node_);
}

Bdd::Bdd(Bdd&& other) noexcept : node_(other.node_), generation_(other.generation_) {
    other.node_ = -1;
}

Bdd& Bdd::operator=(const Bdd& other) {
    if (this != &other) {
        Bdd copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Bdd& Bdd::operator=(Bdd&& other) noexcept {
    if (this != &other) {
        release();
        node_ = other.node_;
        generation_ = other.generation_;
        other.node_ = -1;
    }
    return *this;
}

Bdd::~Bdd() { release(); }

void Bdd::release() {
    if (node_ >= 0 && g_live && generation_ == g_generation) bdd_delref(node_);
    node_ = -1;
}

// A fresh result of BuDDy carries no reference yet: take one before anything else runs.
static Bdd adopt(int node) { return Bdd::fromId(node); }

Bdd Bdd::fromId(int node) { return Bdd(node, false); }

bool Bdd::isOne() const { return node_ == kTrue; }
bool Bdd::isZero() const { return node_ == kFalse; }

Bdd Bdd::operator!() const { return adopt(bdd_not(node_)); }
Bdd Bdd::operator&(const Bdd& other) const { return adopt(bdd_and(node_, other.node_)); }
Bdd Bdd::operator|(const Bdd& other) const { return adopt(bdd_or(node_, other.node_)); }
Bdd Bdd::operator^(const Bdd& other) const { return adopt(bdd_xor(node_, other.node_)); }

int Bdd::var() const { return bdd_var(node_); }
int Bdd::varOf(int node) { return bdd_var(node); }
int Bdd::lowOf(int node) { return bdd_low(node); }
int Bdd::highOf(int node) { return bdd_high(node); }
Bdd Bdd::high() const { return adopt(bdd_high(node_)); }
Bdd Bdd::low() const { return adopt(bdd_low(node_)); }

Bdd one() { return Bdd(kTrue, true); }
Bdd zero() { return Bdd(kFalse, true); }

Bdd ithVar(int index) {
    if (index + 1 > g_size) {
        growEngine(index + 1);
        g_size = index + 1;
    }
    return adopt(bdd_ithvar(index));
}

Bdd positiveCube(std::vector<int> indices) {
    if (indices.empty()) return one();
    // one growth for all of them, not one per new variable
    Manager::current().ensureVars(*std::max_element(indices.begin(), indices.end()) + 1);
    std::vector<Bdd> literals;
    literals.reserve(indices.size());
    for (int index : indices) literals.push_back(ithVar(index));
    return conjunction(std::move(literals));
}

Bdd conjunction(std::vector<Bdd> factors) { return conjunctionInPlace(factors); }

Bdd conjunctionInPlace(std::vector<Bdd>& factors) {
    if (factors.size() == 1) return factors[0];
    auto topLevel = [](const Bdd& f) {
        return f.isConstant() ? bdd_varnum() : bdd_var2level(bdd_var(f.node_));
    };
    std::stable_sort(factors.begin(), factors.end(),
                     [&](const Bdd& a, const Bdd& b) { return topLevel(a) > topLevel(b); });
    Bdd result = one();
    for (const Bdd& f : factors) result = f & result;
    return result;
}

Bdd exist(const Bdd& f, const Bdd& cube) {
    if (cube.isOne()) return f;
    return adopt(bdd_exist(f.node_, cube.node_));
}

Bdd cofactor(const Bdd& f, const Bdd& cube) {
    if (cube.isOne()) return f;
    return adopt(bdd_restrict(f.node_, cube.node_));
}

Bdd ite(const Bdd& c, const Bdd& t, const Bdd& e) { return adopt(bdd_ite(c.node_, t.node_, e.node_)); }

// BuDDy's own node constructor and table growth (exported, not in its header).
extern "C" int bdd_makenode(unsigned int level, int low, int high);
extern "C" void bdd_noderesize(int rehash);

NodeBuilder::NodeBuilder() {
    Manager::current();
    // A node made outside an operation must not set off a reordering: BuDDy would jump
    // back into an operation that is not running.
    bdd_disable_reorder();
}

NodeBuilder::~NodeBuilder() { bdd_enable_reorder(); }

void NodeBuilder::reserve(long nodes) {
    // Beyond this the table grows as it goes.
    constexpr long kMost = 1L << 26;
    long want = std::min(nodes, kMost);
    for (;;) {
        long total = bdd_getallocnum();
        if (total - bdd_getnodenum() >= want) break;
        bdd_noderesize(1);
        if (bdd_getallocnum() <= total) break;  // at the table's limit
    }
}

Bdd NodeBuilder::node(int index, const Bdd& low, const Bdd& high) {
    int level = bdd_var2level(index);
    auto below = [level](int n) { return n == kFalse || n == kTrue || bdd_var2level(bdd_var(n)) > level; };
    if (below(low.node_) && below(high.node_))
        return adopt(bdd_makenode(static_cast<unsigned>(level), low.node_, high.node_));
    return ite(ithVar(index), high, low);
}

double mintermFraction(const Bdd& f) {
    if (f.isOne()) return 1.0;
    if (f.isZero()) return 0.0;
    // Share of satisfying assignments, computed bottom-up so that no power of two of
    // the variable count is ever formed.
    std::unordered_map<int, double> share;
    share[kFalse] = 0.0;
    share[kTrue] = 1.0;
    std::vector<int> stack{f.id()};
    while (!stack.empty()) {
        int n = stack.back();
        if (share.count(n)) {
            stack.pop_back();
            continue;
        }
        int lo = bdd_low(n);
        int hi = bdd_high(n);
        auto l = share.find(lo);
        auto h = share.find(hi);
        if (l != share.end() && h != share.end()) {
            share[n] = 0.5 * (l->second + h->second);
            stack.pop_back();
        } else {
            if (l == share.end()) stack.push_back(lo);
            if (h == share.end()) stack.push_back(hi);
        }
    }
    return share[f.id()];
}

int nodeCount(const Bdd& f) { return bdd_nodecount(static_cast<BDD>(f.id())); }

}  // namespace bdd
