#include "outcomes/instance_facts.h"

#include <atomic>
#include <cstring>

namespace instance_facts {

namespace {

// The shared layout. `version` is odd while the child writes: a child that dies in the
// middle of a change leaves an odd version, and the parent takes nothing from the slot.
struct Slot {
    std::atomic<unsigned> version;
    long nodes;
    char kind[16];
    char polarity[8];
    char message[kSlotSize - 64];
};
static_assert(sizeof(Slot) <= kSlotSize);

Facts g_facts;
Slot* g_slot = nullptr;

void copyText(char* to, std::size_t size, const std::string& from) {
    std::size_t n = from.size() < size - 1 ? from.size() : size - 1;
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

void publish() {
    if (!g_slot) return;
    g_slot->version.fetch_add(1, std::memory_order_acq_rel);
    g_slot->nodes = g_facts.nodes;
    copyText(g_slot->kind, sizeof g_slot->kind, g_facts.kind);
    copyText(g_slot->polarity, sizeof g_slot->polarity, g_facts.polarity);
    copyText(g_slot->message, sizeof g_slot->message, g_facts.message);
    g_slot->version.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace

const Facts& current() { return g_facts; }

void setKind(const std::string& kind) {
    g_facts.kind = kind;
    publish();
}

void setPolarity(const std::string& polarity) {
    g_facts.polarity = polarity;
    publish();
}

void setNodes(long nodes) {
    g_facts.nodes = nodes;
    publish();
}

void noteFailure(const std::string& message) {
    if (!g_facts.message.empty() || message.empty()) return;
    g_facts.message = message;
    publish();
}

void clear() {
    g_facts = Facts();
    publish();
}

void publishTo(void* slot) {
    g_slot = static_cast<Slot*>(slot);
    publish();
}

void clearSlot(void* slot) {
    Slot* s = static_cast<Slot*>(slot);
    s->version.store(0, std::memory_order_release);
    s->nodes = -1;
    s->kind[0] = s->polarity[0] = s->message[0] = '\0';
}

Facts readSlot(const void* slot) {
    const Slot* s = static_cast<const Slot*>(slot);
    Facts facts;
    if (s->version.load(std::memory_order_acquire) % 2 != 0) return facts;
    facts.nodes = s->nodes;
    facts.kind = s->kind;
    facts.polarity = s->polarity;
    facts.message = s->message;
    return facts;
}

}  // namespace instance_facts
