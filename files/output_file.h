// An output file written whole or not at all: the data goes to a temporary file in the
// same directory, which commit() renames to its final name once it is complete and
// closed. A file that is never committed is removed, so no partial file is left behind
// under the final name.
#pragma once

#include <cstdio>
#include <string>

#include "outcomes/status.h"

class OutputFile {
  public:
    // mode "w" or "wb"; a stream that could not be created leaves ok() false.
    explicit OutputFile(const std::string& path, const char* mode = "w");
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool ok() const { return fp_ != nullptr && !failed_; }
    std::FILE* stream() const { return fp_; }
    const std::string& path() const { return path_; }

    // Records that something written did not make it (a writer's own failure report).
    void fail() { failed_ = true; }

    // Flushes, closes and renames into place. A failure, saying what went wrong for the
    // step's message ("cannot create ...", "cannot write ..."), with nothing under the
    // final name replaced, when the file could not be created, or a write, the close or
    // the rename failed. A file that could not be created may be committed at once.
    Status commit();

  private:
    void discard();
    std::string path_;
    std::string tempPath_;
    std::FILE* fp_ = nullptr;
    bool failed_ = false;
    bool committed_ = false;
    std::string createError_;  // why the stream could not be created
};
