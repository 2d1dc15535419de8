// What the analysis of a proof hands to the builders of the functions: for every position
// of the extraction's variable order, the literals at that position of the proof's reduced
// steps, in file order. A reduced step is a cube (a false formula's clause, negated, is
// one); each of its literals up to the last one the step removed is listed, marked when
// removed. A removed literal is an entry of its variable's function: under the step's
// literals before it, the variable takes the literal's value. Lists are packed (mostly a
// byte a literal) and each is let go once the builders have taken it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace extraction {

// One literal of a reduced step, at the position its list belongs to.
struct Code {
    std::uint32_t step = 0;  // the reduced step, numbered 0, 1, ... in file order
    bool positive = false;
    bool removed = false;  // an entry of the position's variable
    bool last = false;     // the step's last listed literal: its condition is done with
};

class EntryProgram {
  public:
    explicit EntryProgram(int positions) : lists_(static_cast<std::size_t>(positions) + 1) {}

    int positions() const { return static_cast<int>(lists_.size()) - 1; }
    // Numbers the next reduced step (at most 2^31 of them).
    bool newStep(std::uint32_t& step);
    std::uint32_t steps() const { return steps_; }
    // Appends a literal of a step; a position's literals must come in step order.
    void add(int position, const Code& code);
    // The literals of a position, in step order, into out; with release, the list is let
    // go (every list is taken once with release, in any order).
    void take(int position, std::vector<Code>& out, bool release);

    std::size_t codes() const { return codes_; }
    std::size_t count(int position) const { return lists_[static_cast<std::size_t>(position)].count; }
    std::size_t bytes() const { return bytes_; }

  private:
    // Chunks that double up to 64 KB: no copy as a list grows, little room left over.
    struct List {
        std::vector<std::unique_ptr<std::uint8_t[]>> chunks;
        std::uint32_t used = 0;      // bytes in the last chunk
        std::uint32_t capacity = 0;  // of the last chunk
        std::uint32_t lastStep = 0;
        std::size_t count = 0;
    };
    void put(List& list, std::uint8_t byte);

    std::vector<List> lists_;
    std::uint32_t steps_ = 0;
    std::size_t codes_ = 0;
    std::size_t bytes_ = 0;
};

}  // namespace extraction
