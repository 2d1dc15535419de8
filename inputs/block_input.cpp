// Block reading of plain and gzip files (ISA-L inflate with its gzip wrapper support).
#include "inputs/block_input.h"

#include <fcntl.h>
#include <isa-l/igzip_lib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace inputs {

namespace {

constexpr std::size_t kInput = 1 << 18;

}  // namespace

struct BlockInput::Inflate {
    inflate_state state;
};


BlockInput::~BlockInput() {
    if (fd_ >= 0) close(fd_);
}

BlockInput::BlockInput(std::size_t chunkBytes) : chunkBytes_(chunkBytes) {}

bool BlockInput::open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    in_.allocate(kInput);
    // zlib's rule: the gzip magic in the first two bytes makes the file gzip.
    while (inLen_ < 2 && refill()) {
    }
    if (inLen_ >= 2 && in_[0] == 0x1f && in_[1] == 0x8b) {
        gzip_ = true;
        chunk_.allocate(chunkBytes_);
        inflate_ = std::make_unique<Inflate>();
        isal_inflate_init(&inflate_->state);
        inflate_->state.crc_flag = ISAL_GZIP;
        if (!headerAsZlibReadsIt()) unclean_ = true;
    }
    return true;
}

bool BlockInput::refill() {
    if (inEof_ || error_) return false;
    if (inPos_ > 0) {
        std::memmove(in_.data(), in_.data() + inPos_, inLen_ - inPos_);
        inLen_ -= inPos_;
        inPos_ = 0;
    }
    if (inLen_ == in_.size()) return true;
    for (;;) {
        ssize_t n = ::read(fd_, in_.data() + inLen_, in_.size() - inLen_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error_ = errno;
            return false;
        }
        if (n == 0) {
            inEof_ = true;
            return false;
        }
        inLen_ += static_cast<std::size_t>(n);
        return true;
    }
}

long BlockInput::read(char* out, long n) {
    if (finished_ || unclean_ || error_ || n <= 0) return 0;
    if (gzip_) return readGzip(out, n);
    if (inPos_ < inLen_) {
        std::size_t take = std::min(static_cast<std::size_t>(n), inLen_ - inPos_);
        std::memcpy(out, in_.data() + inPos_, take);
        inPos_ += take;
        return static_cast<long>(take);
    }
    for (;;) {
        ssize_t got = ::read(fd_, out, static_cast<std::size_t>(n));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error_ = errno;
            return 0;
        }
        if (got == 0) finished_ = true;
        return static_cast<long>(got);
    }
}

// zlib hands out inflated data in pieces of twice its buffer size, counted from the
// start of each member, and drops the whole piece in which the data turns out damaged.
// The inflater's output is handed out the same way: a piece only once it is complete.
long BlockInput::readGzip(char* out, long n) {
    if (chunkPos_ == chunkLen_ && !fillChunk()) return 0;
    std::size_t take = std::min(static_cast<std::size_t>(n), chunkLen_ - chunkPos_);
    std::memcpy(out, chunk_.data() + chunkPos_, take);
    chunkPos_ += take;
    return static_cast<long>(take);
}

// The inflater passes over gzip header fields that zlib refuses (reserved flag bits, a
// method other than deflate) and may not check a header CRC: a member whose header has
// any of these is left to zlib.
bool BlockInput::headerAsZlibReadsIt() {
    while (inLen_ - inPos_ < 4 && refill()) {
    }
    if (inLen_ - inPos_ < 4) return true;  // a cut header: the inflater finds the file unclean
    unsigned char method = in_[inPos_ + 2], flags = in_[inPos_ + 3];
    constexpr unsigned char kHeaderCrc = 0x02, kReserved = 0xE0;
    return method == 8 && (flags & (kHeaderCrc | kReserved)) == 0;
}

bool BlockInput::fillChunk() {
    inflate_state& st = inflate_->state;
    chunkPos_ = chunkLen_ = 0;
    for (;;) {
        if (memberDone_) {
            if (chunkLen_ > 0) return true;
            // Another member follows only where the magic does; anything else after a
            // member is ignored, as zlib does.
            while (inLen_ - inPos_ < 2 && refill()) {
            }
            if (error_) return false;
            if (inLen_ - inPos_ < 2 || in_[inPos_] != 0x1f || in_[inPos_ + 1] != 0x8b) {
                finished_ = true;
                return false;
            }
            isal_inflate_reset(&st);
            st.crc_flag = ISAL_GZIP;
            memberDone_ = false;
            if (!headerAsZlibReadsIt()) {
                unclean_ = true;
                return false;
            }
        }
        if (chunkLen_ == chunk_.size()) return true;
        if (inPos_ == inLen_ && !refill()) {
            // The file ends inside a member (or cannot be read on).
            if (!error_) unclean_ = true;
            return false;
        }
        std::size_t before = inPos_;
        st.next_in = in_.data() + inPos_;
        st.avail_in = static_cast<uint32_t>(inLen_ - inPos_);
        st.next_out = reinterpret_cast<uint8_t*>(chunk_.data() + chunkLen_);
        st.avail_out = static_cast<uint32_t>(chunk_.size() - chunkLen_);
        int ret = isal_inflate(&st);
        inPos_ = static_cast<std::size_t>(st.next_in - in_.data());
        if (ret != ISAL_DECOMP_OK && ret != ISAL_END_INPUT && ret != ISAL_OUT_OVERFLOW) {
            unclean_ = true;
            return false;
        }
        std::size_t produced = chunk_.size() - chunkLen_ - st.avail_out;
        chunkLen_ += produced;
        if (st.block_state == ISAL_BLOCK_FINISH) memberDone_ = true;
        if (produced > 0 || memberDone_ || inPos_ > before) continue;
        // Nothing taken and nothing given: the inflater wants more input than is here.
        bool full = inPos_ == 0 && inLen_ == in_.size();
        if (full || !refill()) {
            if (!error_) unclean_ = true;
            return false;
        }
    }
}

LineReader::LineReader(std::size_t lineSize, unsigned gzBuffer, std::size_t blockBytes, bool gzgetsOnly)
    : lineSize_(lineSize), block_(blockBytes ? blockBytes : (1u << 20)), gzgetsOnly_(gzgetsOnly),
      gzBuffer_(gzBuffer), in_(2 * static_cast<std::size_t>(gzBuffer)) {}

LineReader::~LineReader() {
    if (gz_) gzclose(gz_);
}

bool LineReader::open(const std::string& path) {
    path_ = path;
    line_.assign(lineSize_ + kSlack, '\0');
    if (gzgetsOnly_) {
        gz_ = gzopen(path.c_str(), "r");
        if (gz_) gzbuffer(gz_, gzBuffer_);
        return gz_ != nullptr;
    }
    if (!in_.open(path)) return false;
    buf_.allocate(lineSize_ + std::min<std::size_t>(block_, 1u << 20) + 1 + kSlack);
    std::memset(buf_.data(), 0, 1 + kSlack);
    return true;
}

char* LineReader::next() {
    if (!gz_) return nextFromBlocks();
    char* line = gzgets(gz_, line_.data(), static_cast<int>(lineSize_));
    lastBytes_ = line ? std::strlen(line) : 0;
    return line;
}

char* LineReader::nextFromBlocks() {
    if (haveTerminator_) {
        buf_[terminator_] = saved_;
        haveTerminator_ = false;
    }
    const std::size_t most = lineSize_ - 1;
    for (;;) {
        std::size_t avail = tail_ - head_;
        char* p = buf_.data() + head_;
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', std::min(avail, most)));
        std::size_t len;
        if (nl) {
            len = static_cast<std::size_t>(nl - p) + 1;
        } else if (avail >= most) {
            len = most;
        } else if (end_) {
            if (avail == 0) return nullptr;
            len = avail;
        } else {
            if (head_ > 0) {
                std::memmove(buf_.data(), p, avail);
                head_ = 0;
                tail_ = avail;
            }
            std::size_t room = std::min(buf_.size() - 1 - kSlack - tail_, block_);
            long got = in_.read(buf_.data() + tail_, static_cast<long>(room));
            if (got > 0) {
                tail_ += static_cast<std::size_t>(got);
                // What a scanner reads past the last line is defined.
                std::memset(buf_.data() + tail_, 0, 1 + kSlack);
            } else if (in_.unclean()) {
                switchToZlib();
                return next();
            } else {
                end_ = true;
                // gzgets drops the part of a line read before a read error.
                if (in_.error()) return nullptr;
            }
            continue;
        }
        ++lines_;
        terminator_ = head_ + len;
        saved_ = buf_[terminator_];
        buf_[terminator_] = '\0';
        haveTerminator_ = true;
        head_ += len;
        lastBytes_ = len;
        return p;
    }
}

void LineReader::switchToZlib() {
    haveTerminator_ = false;
    buf_.release();
    head_ = tail_ = 0;
    end_ = true;
    gz_ = gzopen(path_.c_str(), "r");
    if (!gz_) return;
    gzbuffer(gz_, gzBuffer_);
    for (long k = 0; k < lines_; ++k)
        if (!gzgets(gz_, line_.data(), static_cast<int>(lineSize_))) break;
}

int LineReader::zlibError() const {
    if (gz_) {
        int err = Z_OK;
        gzerror(gz_, &err);
        return err;
    }
    return in_.error() ? Z_ERRNO : Z_OK;
}

int LineReader::systemError() const { return gz_ ? errno : in_.error(); }

}  // namespace inputs
