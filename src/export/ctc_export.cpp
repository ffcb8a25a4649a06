#include "export/ctc_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

#include "io/output_check.h"

namespace vanto {

namespace {

// Keeps libtiff's first message of a file for the one error line, instead of printing it.
int keepTiffMessage(TIFF*, void* userData, const char* module, const char* format, va_list args) {
    char* message = static_cast<char*>(userData);
    if (message[0] == '\0') {
        const int n = std::snprintf(message, 64, "%s: ", module ? module : "libtiff");
        if (n > 0 && n < 64) std::vsnprintf(message + n, 256 - static_cast<size_t>(n), format, args);
    }
    return 1;
}

int ignoreTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

CtcExport::~CtcExport() {
    if (options_) TIFFOpenOptionsFree(options_);
}

bool CtcExport::checkFolder(const std::string& dir, const std::vector<std::string>& replaced, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (dir.empty()) {
        error = "-ctc needs a folder";
        return false;
    }
    if (!fs::exists(fs::symlink_status(dir, ec))) return true;
    if (!fs::is_directory(dir, ec)) {
        error = "-ctc \"" + dir + "\" is not a folder";
        return false;
    }
    // Files that the earlier run's record lists are removed before the run starts.
    std::vector<fs::path> going;
    going.reserve(replaced.size());
    for (const std::string& path : replaced) going.push_back(fs::weakly_canonical(path, ec).lexically_normal());
    std::sort(going.begin(), going.end());
    for (fs::directory_iterator it(dir, ec), end; it != end; it.increment(ec)) {
        const fs::path entry = fs::weakly_canonical(it->path(), ec).lexically_normal();
        if (ec || !it->is_regular_file(ec) || it->is_symlink(ec) || !std::binary_search(going.begin(), going.end(), entry)) {
            error = "-ctc folder \"" + dir + "\" must be empty (or missing)";
            return false;
        }
    }
    if (ec) {
        error = "-ctc folder \"" + dir + "\" must be empty (or missing)";
        return false;
    }
    return true;
}

bool CtcExport::createFolder(const std::string& dir, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_directory(dir, ec)) return true;
    fs::create_directories(dir, ec);
    if (ec) {
        error = "cannot create the -ctc folder \"" + dir + "\": " + ec.message();
        return false;
    }
    return true;
}

void CtcExport::open(const std::string& dir, int32_t frameCount, int32_t width, int32_t height) {
    dir_ = dir;
    width_ = width;
    height_ = height;
    fourDigits_ = frameCount > 1000;
    row_.assign(static_cast<size_t>(std::max(width, 1)), 0);
    path_.assign(dir.size() + 32, '\0');
    options_ = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options_, keepTiffMessage, tiffMessage_);
    TIFFOpenOptionsSetWarningHandlerExtR(options_, ignoreTiffWarning, nullptr);
}

bool CtcExport::labelsFit(const FrameCells& cells) {
    for (int32_t i = 0; i < cells.finalCount; ++i) {
        if (cellRecord(cells.cellTable, i)[CellWord::cellId] >= std::numeric_limits<uint16_t>::max())
            return false;
    }
    return true;
}

Status CtcExport::writeMask(const FrameCells& cells, int32_t frame) {
    std::snprintf(path_.data(), path_.size(), fourDigits_ ? "%s/mask%04d.tif" : "%s/mask%03d.tif", dir_.c_str(),
                  frame - 1);
    tiffMessage_[0] = '\0';
    auto fail = [&] {
        std::string why = "cannot write \"" + std::string(path_.data()) + "\"";
        if (tiffMessage_[0] != '\0') why += std::string(": ") + tiffMessage_;
        return Status::outputFailure(why);
    };
    pendingFrame_ = frame;
    // Created new and never through a link: the folder was empty when the run began, so
    // whatever stands at the name now was put there by someone else and is left alone.
    int fd = -1;
    do {
        fd = ::open(path_.data(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int error = errno;
        struct stat info {};
        const bool link = ::lstat(path_.data(), &info) == 0 && S_ISLNK(info.st_mode);
        return Status::outputFailure(
            "cannot write \"" + std::string(path_.data()) + "\": " +
            std::string(link              ? kLinkAtOutputName
             : error == EEXIST ? "the file exists already; a -ctc mask is only ever created new"
                               : std::generic_category().message(error)));
    }
    pending_.begin(path_.data());
    TIFF* tif = TIFFFdOpenExt(fd, path_.data(), "w", options_);
    if (!tif) {
        ::close(fd);
        return fail();
    }
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width_)) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height_)) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16) && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) &&
              TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
              TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
              TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1) &&
              TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    const int32_t* labels = cells.frameLabels;
    const int32_t* table = cells.cellTable;
    for (int32_t y = 0; ok && y < height_; ++y) {
        const int32_t* src = labels + static_cast<int64_t>(y) * width_;
        for (int32_t x = 0; x < width_; ++x) {
            const int32_t c = src[x];
            const int32_t label = c < 0 ? 0 : cellRecord(table, c)[CellWord::cellId] + 1;
            row_[static_cast<size_t>(x)] = static_cast<uint16_t>(label);
        }
        ok = TIFFWriteScanline(tif, row_.data(), static_cast<uint32_t>(y), 0) == 1;
    }
    ok = ok && TIFFFlush(tif) == 1;
    TIFFClose(tif);
    return ok ? Status{} : fail();
}

void CtcExport::commitFrame() {
    if (pendingFrame_ > 0) lastMaskFrame_ = pendingFrame_;
    pendingFrame_ = 0;
    pending_.commitFrame();
}

void CtcExport::rollBackFrame() {
    pendingFrame_ = 0;
    pending_.rollBackFrame();
}

Status CtcExport::writeLineage(const TrackTable& table, const TrackJoins& joins) {
    const std::string path = dir_ + "/res_track.txt";
    TextOutputFile out;
    if (Status opened = openChecked(out, path, Creation::exclusive); !opened.ok()) return opened;
    const auto& tracks = table.tracks();
    for (size_t id = 0; id < tracks.size() && !out.failed(); ++id) {
        const Track& t = tracks[id];
        if (t.firstFrame > lastMaskFrame_) break;  // later tracks begin later
        const auto [first, last] = table.parentRange(static_cast<int32_t>(id));
        const int32_t bridged = joins.before(static_cast<int32_t>(id));
        const int32_t parent = bridged >= 0       ? bridged + 1
                               : last - first == 1 ? table.lineage()[first].first + 1
                                                   : 0;
        out << id + 1 << ' ' << t.firstFrame - 1 << ' ' << std::min(t.lastFrame, lastMaskFrame_) - 1 << ' ' << parent
            << '\n';
    }
    return closeWhole(out);
}

}  // namespace vanto
