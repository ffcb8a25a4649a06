#include "compute/program_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace vanto {

namespace {

// An entry: the magic line, the key's length and the key, the binary's length and the
// binary, then the checksum of key and binary. Lengths and checksum are 8 bytes, little end
// first.
constexpr char kMagic[] = "vanto program cache 1\n";
constexpr size_t kMagicBytes = sizeof kMagic - 1;
// A binary larger than this is not a kernel program of ours.
constexpr uint64_t kMaxBinaryBytes = uint64_t{256} << 20;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

void putWord(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

bool takeWord(const unsigned char*& at, const unsigned char* end, uint64_t& v) {
    if (end - at < 8) return false;
    v = 0;
    for (int i = 0; i < 8; ++i) v |= uint64_t{at[i]} << (8 * i);
    at += 8;
    return true;
}

std::string hex(uint64_t v) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
    return text;
}

// Closes a file descriptor at scope end.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

bool writeAll(int fd, const char* data, size_t bytes) {
    while (bytes > 0) {
        const ssize_t n = ::write(fd, data, bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        bytes -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

uint64_t fnv1a(const void* data, size_t bytes, uint64_t seed) {
    const auto* p = static_cast<const unsigned char*>(data);
    uint64_t h = seed;
    for (size_t i = 0; i < bytes; ++i) {
        h ^= p[i];
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::string ProgramCache::defaultFolder() {
    if (const char* chosen = std::getenv("VANTO_CACHE_DIR")) return chosen;
    const std::string xdg = environment("XDG_CACHE_HOME");
    if (!xdg.empty()) return xdg + "/vanto";
    const std::string home = environment("HOME");
    if (!home.empty()) return home + "/.cache/vanto";
    return "";
}

ProgramCache::ProgramCache(std::string folder, const std::string& identity, std::string key)
    : folder_(std::move(folder)), key_(std::move(key)) {
    if (!folder_.empty()) entry_ = folder_ + "/program-" + hex(fnv1a(identity.data(), identity.size())) + ".bin";
}

bool ProgramCache::load(std::vector<unsigned char>& binary) const {
    binary.clear();
    if (entry_.empty()) return false;
    Descriptor file{::open(entry_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) return false;
    struct stat info {};
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    if (size < kMagicBytes + 24 || size > kMaxBinaryBytes + key_.size() + kMagicBytes + 24) return false;
    std::vector<unsigned char> bytes(static_cast<size_t>(size));
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(file.fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    const unsigned char* at = bytes.data();
    const unsigned char* end = at + bytes.size();
    if (std::memcmp(at, kMagic, kMagicBytes) != 0) return false;
    at += kMagicBytes;
    uint64_t keyBytes = 0, binaryBytes = 0, sum = 0;
    if (!takeWord(at, end, keyBytes) || keyBytes != key_.size() || static_cast<uint64_t>(end - at) < keyBytes) {
        return false;
    }
    if (std::memcmp(at, key_.data(), key_.size()) != 0) return false;
    at += keyBytes;
    if (!takeWord(at, end, binaryBytes) || binaryBytes == 0 || static_cast<uint64_t>(end - at) != binaryBytes + 8) {
        return false;
    }
    const unsigned char* body = at;
    at += binaryBytes;
    if (!takeWord(at, end, sum)) return false;
    const uint64_t expected = fnv1a(body, binaryBytes, fnv1a(key_.data(), key_.size()));
    if (sum != expected) return false;
    binary.assign(body, body + binaryBytes);
    return true;
}

bool ProgramCache::store(const std::vector<unsigned char>& binary) const {
    if (entry_.empty() || binary.empty() || binary.size() > kMaxBinaryBytes) return false;
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec || !std::filesystem::is_directory(folder_, ec)) return false;

    std::string content(kMagic, kMagicBytes);
    putWord(content, key_.size());
    content += key_;
    putWord(content, binary.size());
    content.append(reinterpret_cast<const char*>(binary.data()), binary.size());
    putWord(content, fnv1a(binary.data(), binary.size(), fnv1a(key_.data(), key_.size())));

    // mkstemp creates a new file (O_EXCL), so nothing planted at a guessed name is followed.
    std::string temporary = entry_ + ".XXXXXX";
    Descriptor file{::mkstemp(temporary.data())};
    if (file.fd < 0) return false;
    const bool written = writeAll(file.fd, content.data(), content.size()) && ::fsync(file.fd) == 0;
    const int closed = ::close(file.fd);
    file.fd = -1;
    // rename replaces whatever is at the entry's name, a link included, without following it.
    if (!written || closed != 0 || ::rename(temporary.c_str(), entry_.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace vanto
