#include "image/frame_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <system_error>

#include "image/frame_decode.h"

namespace vanto {

Status loadFailure(StatusCode code, std::string detail) { return {code, std::move(detail)}; }

Status checkWindow(const DecodeTarget& t, int64_t imageWidth, int64_t imageHeight) {
    const int64_t w = t.width;
    const int64_t h = t.height;
    const std::string window = "window " + std::to_string(w) + " x " + std::to_string(h) + " at (" +
                               std::to_string(t.originX) + ", " + std::to_string(t.originY) + ")";
    const std::string image = std::to_string(imageWidth) + " x " + std::to_string(imageHeight) + " image";
    if (t.originX < 0 || t.originY < 0) {
        return loadFailure(StatusCode::windowOutside, window + " has a negative origin");
    }
    if (t.originX + w > imageWidth) {
        return loadFailure(StatusCode::windowOutside, window + " is wider than the " + image + " allows");
    }
    if (t.originY + h > imageHeight) {
        return loadFailure(StatusCode::windowOutside, window + " is taller than the " + image + " allows");
    }
    return {};
}

Status tooLarge(const std::string& what, uint64_t bytes) {
    const std::string size = bytes == UINT64_MAX ? "more than 2^64" : std::to_string(bytes);
    return loadFailure(StatusCode::undecodable, what + " of " + size + " decoded bytes exceeds the " +
                                                    kMaxDecodedText + " decoding cap");
}

namespace {

std::string fileKind(mode_t mode) {
    if (S_ISFIFO(mode)) return "not a regular file (a FIFO)";
    if (S_ISDIR(mode)) return "not a regular file (a directory)";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "not a regular file (a device)";
    if (S_ISSOCK(mode)) return "not a regular file (a socket)";
    return "not a regular file";
}

std::string systemReason(int error) {
    if (error == ENOENT) return "no such file";
    if (error == EACCES) return "permission denied";
    return std::error_code(error, std::generic_category()).message();  // strerror is not thread-safe
}

// Opens path for reading without blocking on FIFOs or devices; -1 with why on failure.
int openRegularFile(const char* path, std::string& why) {
    struct stat st {};
    if (::stat(path, &st) != 0) {
        why = systemReason(errno);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        why = fileKind(st.st_mode);
        return -1;
    }
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = systemReason(errno);
        return -1;
    }
    // The path may have been replaced between the two looks.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = fileKind(st.st_mode);
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string sampleName(const FrameFacts& facts) {
    return std::to_string(facts.bits) + "-bit " + (facts.floating ? "floating-point " : "") + facts.colour;
}

}  // namespace

FrameReader::FrameReader() = default;
FrameReader::~FrameReader() = default;
FrameReader::FrameReader(FrameReader&&) noexcept = default;
FrameReader& FrameReader::operator=(FrameReader&&) noexcept = default;

Status FrameReader::load(const char* path, int32_t page, int32_t originX, int32_t originY, int32_t width,
                             int32_t height, const GrayMapping& mapping, uint8_t* gray) {
    return load(path, page, originX, originY, width, height, mapping, gray, nullptr);
}

Status FrameReader::load(const char* path, int32_t page, int32_t originX, int32_t originY, int32_t width,
                         int32_t height, const GrayMapping& mapping, uint8_t* gray, float* values) {
    // Without a range, 8-bit stored samples are their own gray, unless the values are wanted too.
    uint8_t* bytes = mapping.hasRange || values ? nullptr : gray;
    bool wroteBytes = false;
    if (Status decoded = decode(path, page, originX, originY, width, height, bytes, wroteBytes);
        decoded.code != StatusCode::ok)
        return decoded;
    if (wroteBytes) return {};  // gray is written; values_ does not hold the window
    if (facts_.bits != 8 && !mapping.hasRange) {
        return loadFailure(StatusCode::unsupportedFormat, sampleName(facts_) + " samples need -range LO HI");
    }
    nanSamples_ = mapValues(mapping, !facts_.floating, values_.data(), gray, values_.size());
    if (values) std::copy(values_.begin(), values_.end(), values);
    return {};
}

Status FrameReader::loadValues(const char* path, int32_t page, int32_t originX, int32_t originY, int32_t width,
                               int32_t height, float* values) {
    bool wroteBytes = false;
    if (Status decoded = decode(path, page, originX, originY, width, height, nullptr, wroteBytes);
        decoded.code != StatusCode::ok)
        return decoded;
    std::copy(values_.begin(), values_.end(), values);
    return {};
}

Status FrameReader::decode(const char* path, int32_t page, int32_t originX, int32_t originY, int32_t width,
                           int32_t height, uint8_t* bytes, bool& wroteBytes) {
    facts_ = FrameFacts{};
    decoded_ = false;
    nanSamples_ = 0;
    std::string why;
    const int fd = openRegularFile(path, why);
    if (fd < 0) return loadFailure(StatusCode::undecodable, why);
    uint8_t magic[8] = {};
    const ssize_t got = ::read(fd, magic, sizeof magic);
    static constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const bool tiffLittle = got >= 4 && magic[0] == 'I' && magic[1] == 'I' && (magic[2] == 42 || magic[2] == 43) &&
                            magic[3] == 0;
    const bool tiffBig = got >= 4 && magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 &&
                         (magic[3] == 42 || magic[3] == 43);

    // Decoded into values of its own, so a failure leaves the gray plane as it was.
    values_.resize(static_cast<size_t>(std::max(width, 0)) * std::max(height, 0));
    wroteBytes = false;
    const DecodeTarget target{originX, originY, width, height, values_.data(), bytes, &wroteBytes};
    DecodeScratch scratch{block_, rows_};
    Status result;
    if (!tiffLittle && !tiffBig) tiff_.reset();  // another file now: the kept one is done with
    if (tiffLittle || tiffBig) {
        if (::lseek(fd, 0, SEEK_SET) != 0) {
            ::close(fd);
            return loadFailure(StatusCode::undecodable, "cannot read the file");
        }
        result = readTiffWindow(fd, path, page, target, scratch, facts_, tiff_);
    } else if (got == sizeof magic && std::memcmp(magic, kPngSignature, sizeof magic) == 0) {
        if (page > 0) {
            ::close(fd);
            return loadFailure(StatusCode::undecodable, "a PNG file holds no page " + std::to_string(page + 1));
        }
        result = readPngWindow(fd, target, scratch, facts_);
    } else {
        ::close(fd);
        return loadFailure(StatusCode::undecodable, got < 0 ? systemReason(errno) : "not a TIFF or PNG file");
    }
    if (result.code != StatusCode::ok) return result;
    if (wroteBytes) return {};
    decoded_ = true;
    return {};
}

bool FrameReader::statsOfLastWindow(SampleStats& stats) const {
    if (!decoded_) return false;
    std::vector<float> v;
    v.reserve(values_.size());
    stats.nonFinite = 0;
    for (float x : values_) {
        if (std::isfinite(x)) {
            v.push_back(x);
        } else {
            ++stats.nonFinite;
        }
    }
    if (v.empty()) return false;
    const auto rank = [&](double p) {
        const size_t k = static_cast<size_t>(std::llround(p * static_cast<double>(v.size() - 1)));
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
        return static_cast<double>(v[k]);
    };
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    stats.min = *lo;
    stats.max = *hi;
    stats.low = rank(0.001);
    stats.median = rank(0.5);
    stats.high = rank(0.999);
    return true;
}

RangeClipping FrameReader::clippingOfLastWindow(double low, double high) const {
    RangeClipping c;
    if (!decoded_) return c;
    for (float x : values_) {
        if (std::isnan(x)) continue;
        ++c.samples;
        c.atOrBelow += x <= low;
        c.atOrAbove += x >= high;
    }
    return c;
}

}  // namespace vanto
