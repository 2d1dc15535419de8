// Packed lists of the extraction's entries and conditions. Each literal is one varint:
// the difference to the previous step of its list, then three flags (last, positive,
// removed) in the low bits, so that consecutive steps take a byte.
#include "certificate/entry_program.h"

namespace extraction {

namespace {

constexpr std::uint32_t kFirstChunk = 32;
constexpr std::uint32_t kLargestChunk = 1u << 16;
constexpr std::uint32_t kMaxSteps = 1u << 31;

std::uint32_t chunkSize(std::size_t k) { return k >= 11 ? kLargestChunk : kFirstChunk << k; }

}  // namespace

bool EntryProgram::newStep(std::uint32_t& step) {
    if (steps_ >= kMaxSteps) return false;
    step = steps_++;
    return true;
}

void EntryProgram::put(List& list, std::uint8_t byte) {
    if (list.used == list.capacity) {
        std::uint32_t size = chunkSize(list.chunks.size());
        list.chunks.push_back(std::make_unique<std::uint8_t[]>(size));
        list.capacity = size;
        list.used = 0;
        bytes_ += size;
    }
    list.chunks.back()[list.used++] = byte;
}

void EntryProgram::add(int position, const Code& code) {
    List& list = lists_[static_cast<std::size_t>(position)];
    std::uint64_t value = static_cast<std::uint64_t>(code.step - list.lastStep) << 3 | (code.last ? 4u : 0u) |
                          (code.positive ? 2u : 0u) | (code.removed ? 1u : 0u);
    list.lastStep = code.step;
    while (value >= 0x80) {
        put(list, static_cast<std::uint8_t>(value | 0x80));
        value >>= 7;
    }
    put(list, static_cast<std::uint8_t>(value));
    ++list.count;
    ++codes_;
}

void EntryProgram::take(int position, std::vector<Code>& out, bool release) {
    out.clear();
    List& list = lists_[static_cast<std::size_t>(position)];
    out.reserve(list.count);
    std::uint32_t step = 0;
    std::uint64_t value = 0;
    int shift = 0;
    for (std::size_t c = 0; c < list.chunks.size(); ++c) {
        const std::uint8_t* bytes = list.chunks[c].get();
        std::uint32_t n = c + 1 == list.chunks.size() ? list.used : chunkSize(c);
        for (std::uint32_t i = 0; i < n; ++i) {
            std::uint8_t b = bytes[i];
            value |= static_cast<std::uint64_t>(b & 0x7f) << shift;
            if (b & 0x80) {
                shift += 7;
                continue;
            }
            step += static_cast<std::uint32_t>(value >> 3);
            Code code;
            code.step = step;
            code.removed = value & 1;
            code.positive = value & 2;
            code.last = value & 4;
            out.push_back(code);
            value = 0;
            shift = 0;
        }
    }
    if (release) {
        for (std::size_t c = 0; c < list.chunks.size(); ++c) bytes_ -= chunkSize(c);
        list = List();
    }
}

}  // namespace extraction
