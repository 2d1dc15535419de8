// The log file at the byte level: header, entry frames with their back offsets, payload
// integers in text or binary form, embedded DDDMP dumps and the trailer. Written under a
// temporary name and renamed into place when complete.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "bdd/engine.h"
#include "tools/plumex-logwriter/formula.h"

namespace lw {

class LogOut {
  public:
    LogOut() = default;
    ~LogOut();
    LogOut(const LogOut&) = delete;
    LogOut& operator=(const LogOut&) = delete;

    bool open(const std::string& path, bool binary);
    bool binary() const { return binary_; }

    // Header rows; version and dump-format words as given (faults plant others).
    void header(const std::string& version, const std::string& formulaName, const std::string& format,
                const Model& m);

    // Starts an entry "#id: KIND [back]"; returns its id. extraBack is added to the back
    // offset (0 except for a planted fault).
    int begin(const char* kind, long extraBack = 0);
    int lastId() const { return nextId_ - 1; }
    bool anyEntry() const { return prevPos_ >= 0; }

    void integer(int v);        // "%i " or the folded binary code
    void paired(int v);         // " (%i)" or the folded binary code
    void eol() { put('\n'); }
    void text(const std::string& s) { raw(s.data(), s.size()); }
    void put(char c) {
        putc_unlocked(c, fp_);
        ++pos_;
    }
    void raw(const void* p, std::size_t n) {
        fwrite_unlocked(p, 1, n, fp_);
        pos_ += static_cast<long long>(n);
    }
    void dump(const std::vector<bdd::Bdd>& roots);

    // "#id: END [back]", outcome and time lines.
    void trailer(const std::string& outcome, double seconds, bool withTime, long extraBack = 0);
    long long position();
    // Flushes, closes and renames; false when anything failed.
    bool commit();

  private:
    std::FILE* fp_ = nullptr;
    std::string path_, tmp_;
    bool binary_ = false;
    long long prevPos_ = -1;
    long long pos_ = 0;  // bytes written so far (kept by hand: ftell per entry is slow)
    int nextId_ = 1;
    std::vector<char> buffer_;
};

}  // namespace lw
