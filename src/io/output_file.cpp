#include "io/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <system_error>

namespace vanto {

std::string OutputFault::describe() const { return "cannot write \"" + path + "\": " + cause; }

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool OutputFile::fail(int error) { return fail(std::generic_category().message(error)); }

bool OutputFile::fail(const std::string& cause) {
    if (!fault_.failed()) fault_ = {path_, cause};
    return false;
}

bool OutputFile::open(const std::string& path, Creation creation) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    created_ = false;
    path_ = path;
    written_ = 0;
    wholeEnd_ = 0;
    fault_ = {};
    // The mode of a plain "w" stream open, so that files come out alike.
    const int how = creation == Creation::exclusive ? O_EXCL : O_TRUNC;
    do {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | how | O_NOFOLLOW | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR);
    created_ = fd_ >= 0;
    if (created_) return true;
    const int error = errno;
    struct stat info {};
    if ((error == ELOOP || error == EEXIST) && ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
        return fail(kLinkAtOutputName);
    if (error == EEXIST) return fail("the file exists already; this output is only ever created new");
    return fail(error);
}

bool OutputFile::write(const void* data, size_t bytes) {
    if (failed()) return false;
    if (fd_ < 0) return fail(EBADF);
    const auto* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::write(fd_, p, bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(errno);
        if (n == 0) return fail(EIO);
        p += n;
        bytes -= static_cast<size_t>(n);
        written_ += n;
    }
    return true;
}

bool OutputFile::close() {
    if (fd_ < 0) return !failed();
    if (failed()) rollBack();
    // Linux releases the descriptor even when close reports an error: never retry it.
    const int status = ::close(fd_);
    fd_ = -1;
    if (status != 0) fail(errno);
    return !failed();
}

void OutputFile::rollBack() {
    if (fd_ < 0 || wholeEnd_ == written_) return;
    struct stat info {};
    // Best effort: a fault already on record is what the run reports.
    if (::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode) && ::ftruncate(fd_, wholeEnd_) == 0 &&
        ::lseek(fd_, wholeEnd_, SEEK_SET) == wholeEnd_) {
        written_ = wholeEnd_;
    }
}

void OutputFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!created_) return;
    created_ = false;
    removePlainFile(path_);
}

void removePlainFile(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::unlink(path.c_str());
}

void FrameFiles::rollBackFrame() {
    for (size_t i = 0; i < count_; ++i) removePlainFile(begun_[i]);
    count_ = 0;
}

TextOutputFile::TextOutputFile(WholeUnit unit) : std::ostream(nullptr), buffer_(unit) { rdbuf(&buffer_); }

bool TextOutputFile::open(const std::string& path, Creation creation) {
    buffer_.pubsync();
    buffer_.file.close();
    const bool opened = buffer_.file.open(path, creation);
    clear();
    return opened;
}

bool TextOutputFile::close() {
    if (buffer_.file.isOpen()) buffer_.drain();
    return buffer_.file.close();
}

void TextOutputFile::rollBack() {
    buffer_.discardBuffered();
    buffer_.file.rollBack();
}

bool TextOutputFile::markWhole() {
    if (!buffer_.drain()) return false;
    buffer_.file.markWhole();
    return true;
}

bool TextOutputFile::Buffer::drain() {
    const char* start = pbase();
    const size_t count = static_cast<size_t>(pptr() - pbase());
    setp(bytes.data(), bytes.data() + bytes.size());
    if (count == 0) return !file.failed();
    if (unit == WholeUnit::marked) return file.write(start, count);
    // The part up to the last line end is written first, so that the whole lines it holds
    // are marked only once they are in the file.
    const size_t lastEnd = std::string_view(start, count).rfind('\n');
    const size_t lines = lastEnd == std::string_view::npos ? 0 : lastEnd + 1;
    if (lines > 0) {
        if (!file.write(start, lines)) return false;
        file.markWhole();
    }
    return lines == count || file.write(start + lines, count - lines);
}

TextOutputFile::Buffer::int_type TextOutputFile::Buffer::overflow(int_type c) {
    if (!drain()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

int TextOutputFile::Buffer::sync() { return drain() ? 0 : -1; }

Status writeWholeFile(const std::string& path, const void* data, size_t bytes) {
    OutputFile file;
    if (file.open(path) && file.write(data, bytes) && file.close()) return {};
    const Status failure = file.fault().status();
    file.discard();
    return failure;
}

}  // namespace vanto
