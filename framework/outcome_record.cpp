#include "framework/outcome_record.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace outcome_record {

namespace {

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string utcNow() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::string hostName() {
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) != 0) return "";
    name[sizeof name - 1] = '\0';
    return name;
}

// A flat JSON object as written by this module: keys to their raw values, strings
// unescaped. Nested objects are kept as their text.
using Fields = std::map<std::string, std::string>;

bool parseString(const std::string& text, std::size_t& i, std::string* out) {
    if (i >= text.size() || text[i] != '"') return false;
    ++i;
    out->clear();
    while (i < text.size()) {
        char c = text[i++];
        if (c == '"') return true;
        if (c != '\\') {
            out->push_back(c);
            continue;
        }
        if (i >= text.size()) return false;
        char e = text[i++];
        switch (e) {
            case 'n': out->push_back('\n'); break;
            case 't': out->push_back('\t'); break;
            case 'r': out->push_back('\r'); break;
            case 'b': out->push_back('\b'); break;
            case 'f': out->push_back('\f'); break;
            case 'u': {
                if (i + 4 > text.size()) return false;
                unsigned value = static_cast<unsigned>(std::strtoul(text.substr(i, 4).c_str(), nullptr, 16));
                i += 4;
                // Only the control characters are written this way; other code points are
                // kept as their UTF-8 bytes.
                if (value < 0x80) {
                    out->push_back(static_cast<char>(value));
                } else if (value < 0x800) {
                    out->push_back(static_cast<char>(0xC0 | (value >> 6)));
                    out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
                } else {
                    out->push_back(static_cast<char>(0xE0 | (value >> 12)));
                    out->push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
                    out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
                }
                break;
            }
            default: out->push_back(e); break;
        }
    }
    return false;
}

bool parseObject(const std::string& text, Fields* fields) {
    std::size_t i = 0;
    auto blanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r')) ++i;
    };
    blanks();
    if (i >= text.size() || text[i] != '{') return false;
    ++i;
    for (;;) {
        blanks();
        if (i < text.size() && text[i] == '}') return true;
        std::string key, value;
        if (!parseString(text, i, &key)) return false;
        blanks();
        if (i >= text.size() || text[i] != ':') return false;
        ++i;
        blanks();
        if (i < text.size() && text[i] == '"') {
            if (!parseString(text, i, &value)) return false;
        } else if (i < text.size() && text[i] == '{') {
            std::size_t close = text.find('}', i);
            if (close == std::string::npos) return false;
            value = text.substr(i, close + 1 - i);
            i = close + 1;
        } else {
            std::size_t start = i;
            while (i < text.size() && text[i] != ',' && text[i] != '}') ++i;
            value = text.substr(start, i - start);
            while (!value.empty() && value.back() == ' ') value.pop_back();
        }
        (*fields)[key] = value;
        blanks();
        if (i < text.size() && text[i] == ',') {
            ++i;
            continue;
        }
        if (i < text.size() && text[i] == '}') return true;
        return false;
    }
}

long toLong(const Fields& fields, const char* key, long otherwise) {
    auto it = fields.find(key);
    if (it == fields.end() || it->second.empty()) return otherwise;
    char* end = nullptr;
    long value = std::strtol(it->second.c_str(), &end, 10);
    return end && *end == '\0' ? value : otherwise;
}

double toDouble(const Fields& fields, const char* key) {
    auto it = fields.find(key);
    return it == fields.end() ? 0.0 : std::strtod(it->second.c_str(), nullptr);
}

std::string text(const Fields& fields, const char* key) {
    auto it = fields.find(key);
    return it == fields.end() ? "" : it->second;
}

}  // namespace

std::string quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default:
                if (u < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                    out += escaped;
                } else {
                    out.push_back(c);
                }
        }
    }
    return out + "\"";
}

std::string line(const Instance& i) {
    return "{\"record\":\"instance\",\"shard\":" + quote(i.shard) + ",\"path\":" + quote(i.path) +
           ",\"pass\":" + std::to_string(i.pass) + ",\"kind\":" + quote(i.kind) + ",\"outcome\":" + quote(i.outcome) +
           ",\"code\":" + std::to_string(i.code) + ",\"polarity\":" + quote(i.polarity) +
           ",\"cpu\":" + number(i.cpuSeconds) + ",\"wall\":" + number(i.wallSeconds) +
           ",\"peak_kb\":" + std::to_string(i.peakKb) + ",\"nodes\":" + std::to_string(i.nodes) +
           ",\"timeout\":" + std::to_string(i.timeout) + ",\"mem_mb\":" + std::to_string(i.memoryMB) +
           ",\"message\":" + quote(i.message) + "}\n";
}

std::string line(const Start& s) {
    return "{\"record\":\"start\",\"shard\":" + quote(s.shard) + ",\"input\":" + quote(s.input) +
           ",\"jobs\":" + std::to_string(s.jobs) + ",\"taken\":" + std::to_string(s.taken) +
           ",\"host\":" + quote(hostName()) + ",\"pid\":" + std::to_string(getpid()) +
           ",\"time\":" + quote(utcNow()) + "}\n";
}

std::string line(const End& e) {
    std::string counts = "{";
    for (const auto& [name, count] : e.counts)
        counts += (counts.size() > 1 ? "," : "") + quote(name) + ":" + std::to_string(count);
    counts += "}";
    return "{\"record\":\"end\",\"shard\":" + quote(e.shard) + ",\"ended\":" + quote(e.ended) +
           ",\"instances\":" + std::to_string(e.instances) + ",\"successes\":" + std::to_string(e.successes) +
           ",\"runs\":" + std::to_string(e.runs) + ",\"taken\":" + std::to_string(e.taken) +
           ",\"stopped\":" + std::to_string(e.stopped) + ",\"counts\":" + counts +
           ",\"cpu\":" + number(e.cpuSeconds) + ",\"wall\":" + number(e.wallSeconds) +
           ",\"time\":" + quote(utcNow()) + "}\n";
}

bool parseInstance(const std::string& jsonLine, Instance* instance) {
    Fields fields;
    if (!parseObject(jsonLine, &fields) || fields["record"] != "instance") return false;
    if (fields.find("path") == fields.end() || fields.find("code") == fields.end()) return false;
    Instance i;
    i.shard = text(fields, "shard");
    i.path = text(fields, "path");
    i.pass = static_cast<int>(toLong(fields, "pass", 1));
    i.kind = text(fields, "kind");
    i.outcome = text(fields, "outcome");
    i.code = static_cast<int>(toLong(fields, "code", 0));
    i.polarity = text(fields, "polarity");
    i.cpuSeconds = toDouble(fields, "cpu");
    i.wallSeconds = toDouble(fields, "wall");
    i.peakKb = toLong(fields, "peak_kb", 0);
    i.nodes = toLong(fields, "nodes", -1);
    i.timeout = static_cast<int>(toLong(fields, "timeout", 0));
    i.memoryMB = static_cast<int>(toLong(fields, "mem_mb", 0));
    i.message = text(fields, "message");
    *instance = i;
    return true;
}

Result<Outcomes> readOutcomes(const std::string& path) {
    // Never wait on a file that is no regular file (a pipe nobody writes to).
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Status::failure("cannot read \"" + path + "\": " + std::strerror(errno));
    std::FILE* file = fdopen(fd, "r");
    if (!file) {
        close(fd);
        return Status::failure("cannot read \"" + path + "\": " + std::strerror(errno));
    }
    Outcomes outcomes;
    char* buffer = nullptr;
    std::size_t capacity = 0;
    ssize_t n;
    errno = 0;
    while ((n = getline(&buffer, &capacity, file)) > 0) {
        std::string text(buffer, static_cast<std::size_t>(n));
        if (text.back() != '\n') break;  // a torn last line
        Instance instance;
        if (parseInstance(text, &instance)) outcomes[{instance.path, instance.pass}] = instance;
    }
    int error = std::ferror(file) ? errno : 0;
    std::free(buffer);
    std::fclose(file);
    if (error) return Status::failure("cannot read \"" + path + "\": " + std::strerror(error));
    return outcomes;
}

}  // namespace outcome_record
