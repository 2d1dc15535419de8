#include "framework/progress.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>

namespace progress {

namespace {

int columns(int fd) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 10) return size.ws_col;
    return 80;
}

}  // namespace

std::string duration(double seconds) {
    long s = static_cast<long>(std::lround(seconds < 0 ? 0 : seconds));
    char text[48];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ldh%02ldm", s / 3600, s % 3600 / 60);
    else if (s >= 60)
        std::snprintf(text, sizeof text, "%ldm%02lds", s / 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lds", s);
    return text;
}

std::string text(const Counts& c) {
    std::string out = std::to_string(c.done + c.taken);
    if (c.expected >= 0) out += "/" + std::to_string(c.expected);
    out += " done, " + std::to_string(c.running) + " running, " + std::to_string(c.failed) + " failed";
    long left = c.expected < 0 ? -1 : c.expected - c.done - c.taken;
    if (left >= 0 && c.done > 0 && c.elapsed > 0)
        out += ", about " + duration(static_cast<double>(left) * c.elapsed / c.done) + " left";
    return out;
}

Display::~Display() { stop(); }

void Display::start(Mode mode, int seconds) {
    stop();
    seconds_ = seconds > 0 ? seconds : 60;
    bool terminal = isatty(STDOUT_FILENO) != 0;
    switch (mode) {
        case Mode::Off:
            where_ = Where::Nowhere;
            break;
        case Mode::Auto:
            where_ = terminal ? Where::Stdout : Where::Nowhere;
            break;
        case Mode::Terminal:
            if (terminal) {
                where_ = Where::Stdout;
            } else {
                fd_ = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
                where_ = fd_ >= 0 ? Where::Tty : Where::Nowhere;
            }
            break;
        case Mode::Lines:
            where_ = Where::Lines;
            break;
    }
}

double Display::interval() const {
    if (where_ == Where::Lines) return seconds_;
    return where_ == Where::Nowhere ? 0.0 : 0.5;
}

void Display::put(const std::string& text) {
    int fd = where_ == Where::Tty ? fd_ : STDOUT_FILENO;
    if (fd == STDOUT_FILENO) std::fflush(stdout);
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a terminal that is gone takes no more
        done += static_cast<std::size_t>(n);
    }
}

// On standard output the status goes after what the open line holds, between a saved
// and a restored cursor, and only where it fits: the run's own text is never overwritten
// and the screen never scrolls for it. On the controlling terminal it has a line of its own.
void Display::clear() {
    if (!shown_) return;
    if (where_ == Where::Stdout) put("\0338\033[K");
    if (where_ == Where::Tty) put("\r\033[K");
    shown_ = false;
}

void Display::draw(const Counts& counts, int column) {
    if (where_ != Where::Stdout && where_ != Where::Tty) return;
    clear();
    std::string line = "[" + text(counts) + "]";
    int room = columns(where_ == Where::Tty ? fd_ : STDOUT_FILENO) - 1;
    if (where_ == Where::Stdout) {
        room = room - column % (room + 1) - 1;
        if (room < 12) return;  // too little left on the line to say anything
    }
    if (static_cast<int>(line.size()) > room) line.resize(static_cast<std::size_t>(room));
    put(where_ == Where::Stdout ? "\0337 " + line : "\r\033[K" + line);
    shown_ = true;
}

void Display::stop() {
    clear();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    where_ = Where::Nowhere;
}

}  // namespace progress
