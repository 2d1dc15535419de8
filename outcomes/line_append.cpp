#include "outcomes/line_append.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace line_append {

namespace {

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

std::string reason(int error) { return std::strerror(error); }

// Holds an exclusive lock on a descriptor for its lifetime. A file system without locks
// leaves the appends unlocked: the single write still keeps lines apart locally.
class Lock {
  public:
    explicit Lock(int fd) : fd_(fd) {
        while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~Lock() { flock(fd_, LOCK_UN); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    int fd_;
};

// A file that cannot be cut back keeps its torn line; the next append still adds whole lines.
void truncateTo(int fd, off_t size) {
    if (ftruncate(fd, size) != 0) return;
}

// Cuts a regular file back to its last line end, when it ends inside a line.
void dropTornLine(int fd, off_t size) {
    if (size <= 0) return;
    char last = '\n';
    if (pread(fd, &last, 1, size - 1) != 1 || last == '\n') return;
    char buffer[4096];
    off_t end = size;
    while (end > 0) {
        off_t start = end > static_cast<off_t>(sizeof buffer) ? end - static_cast<off_t>(sizeof buffer) : 0;
        ssize_t n = pread(fd, buffer, static_cast<std::size_t>(end - start), start);
        if (n <= 0) return;
        for (ssize_t i = n - 1; i >= 0; --i)
            if (buffer[i] == '\n') {
                truncateTo(fd, start + i + 1);
                return;
            }
        end = start;
    }
    truncateTo(fd, 0);
}

}  // namespace

Result<int> open(const std::string& path) {
    // Read access too, to find a torn last line; a file we may only write to is appended
    // to as it is.
    int flags = O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK;
    int fd = ::open(path.c_str(), O_RDWR | flags, 0666);
    if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | flags, 0666);
    if (fd < 0) return Status::failure("cannot create " + quoted(path) + ": " + reason(errno));
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return Status::failure("cannot create " + quoted(path) + ": " + reason(EISDIR));
    }
    return fd;
}

Status append(int fd, const std::string& path, const std::string& text) {
    Lock lock(fd);
    struct stat st {};
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular) dropTornLine(fd, st.st_size);
    off_t before = regular ? lseek(fd, 0, SEEK_END) : 0;
    // A short write is continued, so that the failure that stopped it gives the reason
    // (a full disk, a file size limit); the lock keeps other writers out meanwhile.
    std::size_t done = 0;
    int error = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
    }
    if (done == text.size()) return Status();
    // Nothing of the text may stay: the end of the file is still where this write began.
    if (regular && done > 0 && before >= 0) truncateTo(fd, before);
    return Status::failure("cannot append to " + quoted(path) + ": " + reason(error));
}

Status appendTo(const std::string& path, const std::string& text) {
    Result<int> fd = open(path);
    if (!fd) return fd.status();
    Status done = append(*fd, path, text);
    ::close(*fd);
    return done;
}

}  // namespace line_append
