#include "export/earlier_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "export/run_record.h"

namespace vanto {

namespace {

constexpr off_t kMaxRecordBytes = 64 << 20;

// A name inside the folder: relative, without "..", "." or empty parts.
bool staysInside(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos) return false;
    size_t start = 0;
    while (start <= name.size()) {
        const size_t end = std::min(name.find('/', start), name.size());
        const std::string part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

void take(const nlohmann::json& name, EarlierRun& earlier) {
    if (!name.is_string() || earlier.files.size() >= kMaxEarlierFiles) return;
    const std::string& text = name.get_ref<const std::string&>();
    if (text == "_run.json") return;  // replaced by the new run's own record
    if (staysInside(text)) {
        earlier.files.push_back(text);
    } else {
        ++earlier.setAside;
    }
}

std::string readRecordText(const std::string& dir) {
    const int fd = ::open((dir + "/_run.json").c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat facts {};
    std::string text;
    if (::fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode) && facts.st_size <= kMaxRecordBytes) {
        text.resize(static_cast<size_t>(facts.st_size));
        size_t got = 0;
        while (got < text.size()) {
            const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        text.resize(got);
    }
    ::close(fd);
    return text;
}

}  // namespace

EarlierRun readEarlierRun(const std::string& dir) {
    EarlierRun earlier;
    if (dir.empty()) return earlier;
    const nlohmann::json record = nlohmann::json::parse(readRecordText(dir), nullptr, false);
    if (!record.is_object()) return earlier;
    earlier.found = true;
    for (const char* key : {"files", "earlier_files"}) {
        if (const auto it = record.find(key); it != record.end() && it->is_array())
            for (const auto& name : *it) take(name, earlier);
    }
    const auto ranges = record.find("frame_files");
    if (ranges == record.end() || !ranges->is_array()) return earlier;
    for (const auto& r : *ranges) {
        if (!r.is_object()) continue;
        FrameFileRange range;
        const auto text = [&](const char* key, std::string& to) {
            const auto it = r.find(key);
            if (it != r.end() && it->is_string()) to = it->get<std::string>();
            return it != r.end() && it->is_string();
        };
        const auto number = [&](const char* key, int32_t& to) {
            const auto it = r.find(key);
            if (it == r.end() || !it->is_number_integer()) return false;
            const int64_t v = it->get<int64_t>();
            if (v < INT32_MIN || v > INT32_MAX) return false;
            to = static_cast<int32_t>(v);
            return true;
        };
        if (!text("prefix", range.prefix) || !text("suffix", range.suffix) || !number("digits", range.digits) ||
            !number("first", range.first) || !number("last", range.last))
            continue;
        for (int64_t n = range.first; n <= range.last && earlier.files.size() < kMaxEarlierFiles; ++n)
            take(frameFileName(range, static_cast<int32_t>(n)), earlier);
    }
    return earlier;
}

std::vector<std::string> earlierPaths(const std::string& dir, const EarlierRun& earlier) {
    std::vector<std::string> paths;
    paths.reserve(earlier.files.size());
    for (const std::string& name : earlier.files) paths.push_back(dir + "/" + name);
    return paths;
}

size_t removeEarlierFiles(const std::string& dir, const EarlierRun& earlier) {
    size_t removed = 0;
    const int top = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top < 0) return 0;
    for (const std::string& name : earlier.files) {
        // Down the folders of the name, none of them a link.
        int at = top;
        size_t start = 0;
        size_t slash = 0;
        bool reached = true;
        while ((slash = name.find('/', start)) != std::string::npos) {
            const int next = ::openat(at, name.substr(start, slash - start).c_str(),
                                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (at != top) ::close(at);
            if (next < 0) {
                reached = false;
                break;
            }
            at = next;
            start = slash + 1;
        }
        if (!reached) continue;
        const std::string last = name.substr(start);
        struct stat facts {};
        if (::fstatat(at, last.c_str(), &facts, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(facts.st_mode) &&
            ::unlinkat(at, last.c_str(), 0) == 0)
            ++removed;
        if (at != top) ::close(at);
    }
    ::close(top);
    return removed;
}

}  // namespace vanto
