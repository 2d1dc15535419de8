// What the process running an instance knows about it that its batch parent cannot see
// from the outside: the kind of input, the polarity of the certificate, its node count
// and the message of a failure. The pipeline fills them; a forked child publishes every
// change at once into memory it shares with its parent, so what was known before a
// crash or a timeout still arrives (a child that dies in the middle of a change leaves
// nothing).
#pragma once

#include <cstddef>
#include <string>

namespace instance_facts {

struct Facts {
    std::string kind;      // "log", "qbm", "trace", "circuit"; empty: not known
    std::string polarity;  // "true": certificate of a true formula; "false": countermodel
    long nodes = -1;       // BDD nodes of the certificate; -1: not known
    std::string message;   // the first failure of the instance
};

const Facts& current();
void setKind(const std::string& kind);
void setPolarity(const std::string& polarity);
void setNodes(long nodes);
// Keeps the first message of an instance; later ones are consequences.
void noteFailure(const std::string& message);
void clear();

// Bytes of memory shared between a batch parent and one child.
constexpr std::size_t kSlotSize = 2048;

// In the child: from now on every change is copied into this slot as well.
void publishTo(void* slot);
// In the parent: empties the slot before a child is started with it.
void clearSlot(void* slot);
// In the parent, after the child has ended: what it published.
Facts readSlot(const void* slot);

}  // namespace instance_facts
