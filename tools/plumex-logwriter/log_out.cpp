// Byte-level log writing.
#include "tools/plumex-logwriter/log_out.h"

#include <charconv>
#include <cstdio>

#include "bdd/dddmp.h"

namespace lw {

LogOut::~LogOut() {
    if (fp_) {
        std::fclose(fp_);
        std::remove(tmp_.c_str());
    }
}

bool LogOut::open(const std::string& path, bool binary) {
    path_ = path;
    tmp_ = path + ".tmp";
    binary_ = binary;
    fp_ = std::fopen(tmp_.c_str(), "wb");
    if (!fp_) return false;
    buffer_.resize(1 << 22);
    std::setvbuf(fp_, buffer_.data(), _IOFBF, buffer_.size());
    return true;
}

void LogOut::header(const std::string& version, const std::string& formulaName, const std::string& format,
                    const Model& m) {
    // The free text sits on the banner line: the reader discards the rest of that line.
    std::fprintf(fp_, "# Tobrin log file, %s written by plumex-logwriter\n", version.c_str());
    std::fprintf(fp_, "# formula: \"%s\"\n", formulaName.c_str());
    std::fprintf(fp_, "# dump format: %s\n", format.c_str());
    std::fprintf(fp_, "# vars: (%d,%d)\n\n", m.numVars, m.numUniv());
    text("# universals: ");
    for (int k = 1; k <= m.numUniv(); ++k) std::fprintf(fp_, "%d ", m.univ[k]);
    text("\n# int/ext mapping: ");
    for (int i = 1; i < m.numVars; ++i) std::fprintf(fp_, "%d ", m.intToExt[i]);
    text("\n");
}

long long LogOut::position() { return static_cast<long long>(ftello(fp_)); }

int LogOut::begin(const char* kind, long extraBack) {
    long long pos = position();
    long long back = prevPos_ < 0 ? 0 : pos - prevPos_;
    prevPos_ = pos;
    int id = nextId_++;
    std::fprintf(fp_, "#%d: %s [%lld]\n", id, kind, back + extraBack);
    return id;
}

void LogOut::integer(int v) {
    if (binary_) {
        // Folded so that the sign survives the unsigned code: 2v, or 1 - 2v when negative.
        int code = v >= 0 ? 2 * v : 1 - 2 * v;
        dddmp::writeInt(fp_, code);
        return;
    }
    char b[16];
    auto r = std::to_chars(b, b + sizeof b, v);
    *r.ptr++ = ' ';
    raw(b, static_cast<std::size_t>(r.ptr - b));
}

void LogOut::paired(int v) {
    if (binary_) {
        integer(v);
        return;
    }
    std::fprintf(fp_, " (%d)", v);
}

void LogOut::dump(const std::vector<bdd::Bdd>& roots) {
    dddmp::StoreOptions o;
    o.mode = binary_ ? 'B' : 'A';
    o.varInfo = dddmp::VarIds;
    dddmp::storeArray(fp_, roots, o);
}

void LogOut::trailer(const std::string& outcome, double seconds, bool withTime, long extraBack) {
    long long pos = position();
    long long back = prevPos_ < 0 ? 0 : pos - prevPos_;
    std::fprintf(fp_, "#%d: END [%lld]\n", nextId_++, back + extraBack);
    std::fprintf(fp_, "outcome: %s\n", outcome.c_str());
    if (withTime) std::fprintf(fp_, "time: %g\n", seconds);
}

bool LogOut::commit() {
    bool ok = std::fflush(fp_) == 0 && !std::ferror(fp_);
    ok = std::fclose(fp_) == 0 && ok;
    fp_ = nullptr;
    if (ok) ok = std::rename(tmp_.c_str(), path_.c_str()) == 0;
    if (!ok) std::remove(tmp_.c_str());
    return ok;
}

}  // namespace lw
