// A file read in large blocks, plain or gzip-compressed: a plain file with read(), a
// gzip file through ISA-L's inflate, member after member, with the rules of zlib's
// transparent reading (a file that does not begin with the gzip magic is plain; after a
// member, bytes that do not begin another member are ignored). When the compressed data
// stops being clean (a damaged, cut or unreadable member) the reader says so and stops:
// its callers then read the file with zlib, which decides what such a file yields.
#pragma once

#include <zlib.h>

#include <memory>
#include <string>
#include <vector>

#include "inputs/raw_buffer.h"

namespace inputs {

class BlockInput {
  public:
    // chunkBytes: the size of the pieces in which zlib, with a buffer of half that size,
    // hands out inflated data (see readGzip).
    explicit BlockInput(std::size_t chunkBytes);
    ~BlockInput();
    BlockInput(const BlockInput&) = delete;
    BlockInput& operator=(const BlockInput&) = delete;

    // False when the file cannot be opened.
    bool open(const std::string& path);
    // Up to n bytes of the content, n > 0. 0 at the end, after a read error (error() is
    // then the errno), or where gzip data stops being clean (unclean() is then true;
    // bytes of that stretch are not delivered).
    long read(char* out, long n);
    int error() const { return error_; }
    bool unclean() const { return unclean_; }
    bool gzip() const { return gzip_; }

  private:
    bool refill();  // more input after what is left; false at the end of the file or on error
    long readGzip(char* out, long n);
    bool fillChunk();
    bool headerAsZlibReadsIt();

    struct Inflate;
    int fd_ = -1;
    RawBuffer<unsigned char> in_;
    std::size_t inPos_ = 0, inLen_ = 0;
    bool inEof_ = false;
    bool gzip_ = false;
    bool memberDone_ = false;
    bool finished_ = false;
    bool unclean_ = false;
    int error_ = 0;
    std::unique_ptr<Inflate> inflate_;
    std::size_t chunkBytes_;
    RawBuffer<char> chunk_;  // inflated, handed out from chunkPos_
    std::size_t chunkPos_ = 0, chunkLen_ = 0;
};

// Lines of a file as zlib's gzgets(buffer of lineSize bytes) delivers them (up to and
// including a newline, or lineSize - 1 bytes, or what is left at the end), cut in place
// from large blocks of a BlockInput. Where the gzip data is not clean, the rest comes
// from gzgets itself, the lines delivered so far passed over, so that such files give
// what zlib gives.
class LineReader {
  public:
    static constexpr std::size_t kSlack = 8;
    // gzBuffer: the zlib buffer size (gzbuffer) of the reading this reproduces;
    // blockBytes: the most asked of the input at a time (0: 1 MiB); gzgetsOnly: every
    // line through gzgets from the start (the reference behaviour, for tests).
    LineReader(std::size_t lineSize, unsigned gzBuffer, std::size_t blockBytes = 0, bool gzgetsOnly = false);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool open(const std::string& path);  // false when the file cannot be opened
    // The next line, zero-terminated, writable up to its terminator; null at the end of
    // the file or on an error. Valid until the next call. At least kSlack bytes after the
    // terminator are readable (their content is undefined), for scanners that read words.
    char* next();
    // The bytes of the last line, its terminator excluded: its length, unless it holds
    // a zero byte (lines of fewer bytes than lineSize - 1 are shorter as strings too).
    std::size_t lastBytes() const { return lastBytes_; }
    // zlib's error code of the reading so far (Z_ERRNO for a system error).
    int zlibError() const;
    // The errno of a system error (valid when zlibError() is Z_ERRNO).
    int systemError() const;

  private:
    char* nextFromBlocks();
    void switchToZlib();

    std::string path_;
    std::size_t lineSize_;
    std::size_t block_;
    bool gzgetsOnly_;
    unsigned gzBuffer_;
    BlockInput in_;
    RawBuffer<char> buf_;  // blocks: unread bytes in [head_, tail_), and kSlack zero bytes after tail_
    std::size_t head_ = 0, tail_ = 0;
    std::size_t terminator_ = 0;
    char saved_ = 0;
    bool haveTerminator_ = false;
    bool end_ = false;
    long lines_ = 0;
    std::size_t lastBytes_ = 0;
    gzFile gz_ = nullptr;
    std::vector<char> line_;  // gzgets' buffer
};

}  // namespace inputs
