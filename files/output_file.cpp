#include "files/output_file.h"

#include <unistd.h>

#include <cerrno>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

OutputFile::OutputFile(const std::string& path, const char* mode) : path_(path) {
    tempPath_ = path + ".tmpXXXXXX";
    int fd = mkstemp(tempPath_.data());
    if (fd < 0) {
        createError_ = "cannot create \"" + path + "\": " + std::strerror(errno);
        tempPath_.clear();
        return;
    }
    fp_ = fdopen(fd, mode);
    if (!fp_) {
        createError_ = "cannot create \"" + path + "\": " + std::strerror(errno);
        close(fd);
        unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

OutputFile::~OutputFile() {
    if (!committed_) discard();
}

void OutputFile::discard() {
    if (fp_) {
        std::fclose(fp_);
        fp_ = nullptr;
    }
    if (!tempPath_.empty()) {
        unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

Status OutputFile::commit() {
    if (!fp_) return Status::failure(createError_.empty() ? "cannot write \"" + path_ + "\"" : createError_);
    bool good = !failed_ && std::fflush(fp_) == 0 && !std::ferror(fp_);
    // A file created by mkstemp is private to its owner; give it the usual permissions.
    if (good) {
        mode_t mask = umask(0);
        umask(mask);
        good = fchmod(fileno(fp_), 0666 & ~mask) == 0;
    }
    int closed = std::fclose(fp_);
    fp_ = nullptr;
    if (!good || closed != 0) {
        discard();
        return Status::failure("cannot write \"" + path_ + "\"");
    }
    if (std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        std::string message = "cannot write \"" + path_ + "\": " + std::strerror(errno);
        discard();
        return Status::failure(message);
    }
    tempPath_.clear();
    committed_ = true;
    return {};
}
