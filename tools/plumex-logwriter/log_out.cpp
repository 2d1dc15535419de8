// Byte-level log writing.
#include "tools/plumex-logwriter/log_out.h"

#include <charconv>
#include <cstdio>
#include <cstring>

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
    text("# Tobrin log file, " + version + " written by plumex-logwriter\n");
    text("# formula: \"" + formulaName + "\"\n");
    text("# dump format: " + format + "\n");
    text("# vars: (" + std::to_string(m.numVars) + "," + std::to_string(m.numUniv()) + ")\n\n");
    text("# universals: ");
    for (int k = 1; k <= m.numUniv(); ++k) text(std::to_string(m.univ[k]) + " ");
    text("\n# int/ext mapping: ");
    for (int i = 1; i < m.numVars; ++i) text(std::to_string(m.intToExt[i]) + " ");
    text("\n");
}

long long LogOut::position() { return pos_; }

namespace {
// Bytes that dddmp::writeInt takes for a code: 7-bit groups, escaped bytes twice.
int binaryLength(unsigned v) {
    v &= 0x0FFFFFFFu;
    int top = 0;
    while (top < 3 && (v >> (7 * (top + 1)))) ++top;
    int n = 0;
    for (int g = top; g >= 0; --g) {
        unsigned byte = (((v >> (7 * g)) & 0x7Fu) << 1) | (g > 0 ? 1u : 0u);
        n += byte == 0x00 || byte == 0x0A || byte == 0x0D || byte == 0x1A ? 2 : 1;
    }
    return n;
}
}  // namespace

int LogOut::begin(const char* kind, long extraBack) {
    long long pos = position();
    long long back = prevPos_ < 0 ? 0 : pos - prevPos_;
    prevPos_ = pos;
    int id = nextId_++;
    // "#%d: %s [%lld]\n", assembled by hand: this is the hot path of big logs.
    char line[160];
    char* p = line;
    *p++ = '#';
    p = std::to_chars(p, line + 24, id).ptr;
    *p++ = ':';
    *p++ = ' ';
    std::size_t len = std::strlen(kind);
    if (len > 100) len = 100;
    std::memcpy(p, kind, len);
    p += len;
    *p++ = ' ';
    *p++ = '[';
    p = std::to_chars(p, line + sizeof line - 2, back + extraBack).ptr;
    *p++ = ']';
    *p++ = '\n';
    raw(line, static_cast<std::size_t>(p - line));
    return id;
}

void LogOut::integer(int v) {
    if (binary_) {
        // Folded so that the sign survives the unsigned code: 2v, or 1 - 2v when negative.
        int code = v >= 0 ? 2 * v : 1 - 2 * v;
        dddmp::writeInt(fp_, code);
        pos_ += binaryLength(static_cast<unsigned>(code));
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
    text(" (" + std::to_string(v) + ")");
}

void LogOut::dump(const std::vector<bdd::Bdd>& roots) {
    dddmp::StoreOptions o;
    o.mode = binary_ ? 'B' : 'A';
    o.varInfo = dddmp::VarIds;
    dddmp::storeArray(fp_, roots, o);
    pos_ = static_cast<long long>(ftello(fp_));
}

void LogOut::trailer(const std::string& outcome, double seconds, bool withTime, long extraBack) {
    long long pos = position();
    long long back = prevPos_ < 0 ? 0 : pos - prevPos_;
    char line[128];
    int n = std::snprintf(line, sizeof line, "#%d: END [%lld]\noutcome: %s\n", nextId_++, back + extraBack,
                          outcome.c_str());
    raw(line, static_cast<std::size_t>(n));
    if (withTime) {
        n = std::snprintf(line, sizeof line, "time: %g\n", seconds);
        raw(line, static_cast<std::size_t>(n));
    }
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
