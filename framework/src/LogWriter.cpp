#include "LogWriter.h"

#include "Config.h"

#include <boost/make_shared.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

bool ParseLevel(const std::string& text, int& level) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    while (end && (*end == ' ' || *end == '\t')) ++end;
    if (errno != 0 || end == text.c_str() || *end != '\0' || value < -1000 || value > 1000) return false;
    level = static_cast<int>(value);
    return true;
}

// systemd names the journal stream it connects to standard error as
// "DEVICE:INODE"; the variable is inherited, so it counts only while it
// still names this process's standard error.
bool StderrIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (!stream) return false;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    char extra = 0;
    if (std::sscanf(stream, "%llu:%llu%c", &device, &inode, &extra) != 2) return false;
    struct stat status {};
    if (::fstat(2, &status) != 0) return false;
    return static_cast<unsigned long long>(status.st_dev) == device &&
           static_cast<unsigned long long>(status.st_ino) == inode;
}

int JournalPriority(int level) {
    if (level <= -1) return 3;
    if (level == 0) return 5;
    if (level == 1) return 6;
    return 7;
}

void WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

}  // namespace

boost::shared_ptr<CLogWriterInterface> g_ptrLogWriter = boost::make_shared<StderrLogWriter>();

std::string ZoFormatV(const char* format, va_list args) {
    if (!format) return std::string();
    char small[256];
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) return std::string("(bad format: ") + format + ")";
    if (static_cast<size_t>(needed) < sizeof small) return std::string(small, static_cast<size_t>(needed));
    std::string out(static_cast<size_t>(needed), '\0');
    va_copy(copy, args);
    std::vsnprintf(&out[0], out.size() + 1, format, copy);
    va_end(copy);
    return out;
}

std::string ZoFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = ZoFormatV(format, args);
    va_end(args);
    return out;
}

StderrLogWriter::StderrLogWriter() : m_level(ConfiguredLevel(-1)), m_journal(StderrIsJournal()) {}

StderrLogWriter::StderrLogWriter(int level) : m_level(level), m_journal(StderrIsJournal()) {}

int StderrLogWriter::ConfiguredLevel(int fallback) {
    int level = fallback;
    const char* env = std::getenv("ZO_LOG_LEVEL");
    if (env && ParseLevel(env, level)) return level;
    std::string value;
    if (zo::ConfigValue("Log", "Level", value) && ParseLevel(value, level)) return level;
    return fallback;
}

int StderrLogWriter::GetLevel() { return m_level.load(std::memory_order_relaxed); }

void StderrLogWriter::SetLevel(int level) { m_level.store(level, std::memory_order_relaxed); }

void StderrLogWriter::Write(int level, const char* function, int line, int, int, const char* format, ...) {
    char head[96];
    int headSize = 0;
    if (m_journal) {
        headSize = std::snprintf(head, sizeof head, "<%d>L%d ", JournalPriority(level), level);
    } else {
        struct timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        struct tm utc {};
        ::gmtime_r(&now.tv_sec, &utc);
        headSize = std::snprintf(head, sizeof head, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ L%d ",
                                 utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                                 utc.tm_sec, now.tv_nsec / 1000000, level);
    }
    std::string out(head, headSize > 0 ? static_cast<size_t>(headSize) : 0);
    out += function ? function : "-";
    out += ':';
    out += std::to_string(line);
    out += ' ';
    va_list args;
    va_start(args, format);
    size_t textStart = out.size();
    out += ZoFormatV(format, args);
    va_end(args);
    // One call, one line: trailing breaks are dropped, inner ones become spaces.
    while (out.size() > textStart && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    for (size_t i = textStart; i < out.size(); ++i)
        if (out[i] == '\n' || out[i] == '\r') out[i] = ' ';
    out += '\n';
    WriteAll(2, out.data(), out.size());
}
