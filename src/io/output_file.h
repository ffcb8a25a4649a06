#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>

#include "io/frame_output.h"
#include "io/status.h"

namespace vanto {

// The first failure of an output file: its path and the system's words for the cause
// ("No space left on device"). Empty while nothing has failed.
struct OutputFault {
    std::string path;
    std::string cause;

    bool failed() const { return !cause.empty(); }
    // One line for standard error and the run log: cannot write "PATH": CAUSE
    std::string describe() const;
    // ok while nothing has failed, else an output failure that describe()s this fault.
    Status status() const { return failed() ? Status::outputFailure(describe()) : Status{}; }
};

// The cause an output gives when a symbolic link stands at its name.
inline constexpr const char* kLinkAtOutputName =
    "a symbolic link stands at that name; outputs are never written through links: remove it";

// How open() makes a file: created or truncated, or created new (nothing may stand at its name).
// Either way a symbolic link at the name is never followed: the open fails.
enum class Creation { replace, exclusive };

// One output file written through its descriptor, every call checked: open, each write
// (short writes continued, interrupted calls retried) and close. The first failure is kept
// in fault() and every later write is refused, so nothing past a hole reaches the file.
// A file that failed can be cut back to its last whole record (markWhole) or removed.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // closes unchecked; call close() to know the outcome

    // Creates or truncates path (exclusive: creates it new), never through a symbolic link at
    // its last component, so that a link planted in a shared folder cannot redirect a write.
    // False with fault() set when the file cannot be had; an earlier open file is closed first.
    bool open(const std::string& path, Creation creation = Creation::replace);
    bool isOpen() const { return fd_ >= 0; }

    // Appends bytes at the end. False, with fault() set, on the first failure and after it.
    bool write(const void* data, size_t bytes);
    // Everything written so far forms whole records: a failed file is cut back to here.
    void markWhole() { wholeEnd_ = written_; }
    // Cuts a plain file back to its last markWhole() and writes on from there; a device
    // keeps what it took. For a file whose later part must go because another one failed.
    void rollBack();

    // Closes the file. A file that failed is first cut back to its last markWhole() (a
    // regular file only; a device keeps what it took). False when anything failed, the
    // close included. Closing a file that is not open returns !failed().
    bool close();
    // Closes (unchecked) and removes the file when open() made it and it is a plain file, so
    // that no half-written file stays behind. Usable before or after close().
    void discard();

    bool failed() const { return fault_.failed(); }
    const OutputFault& fault() const { return fault_; }
    const std::string& path() const { return path_; }

private:
    bool fail(int error);
    bool fail(const std::string& cause);

    int fd_ = -1;
    bool created_ = false;  // open() succeeded: the name is ours to remove
    std::string path_;
    int64_t written_ = 0;
    int64_t wholeEnd_ = 0;
    OutputFault fault_;
};

// What a failed text file is cut back to: its last line end that reached the file, or the
// last point its writer marked whole (a report's last whole frame).
enum class WholeUnit { line, marked };

// A text output file as a std::ostream, so that the report writers keep their formatting.
// The buffer goes to the file on every flush (as std::endl does) and when full; close() cuts
// a failed file back to its last whole unit. Once the file has failed the stream is bad and
// writes nothing more.
// As a frame output (WholeUnit::marked), a committed frame is marked whole and a frame rolled
// back is cut off.
class TextOutputFile : public std::ostream, public FrameOutput {
public:
    explicit TextOutputFile(WholeUnit unit = WholeUnit::line);
    TextOutputFile(const TextOutputFile&) = delete;
    TextOutputFile& operator=(const TextOutputFile&) = delete;

    // Opens path as OutputFile::open does and clears the stream state. False with fault().
    bool open(const std::string& path, Creation creation = Creation::replace);
    bool isOpen() const { return buffer_.file.isOpen(); }
    // Writes what is buffered, trims a failed file, closes. False when anything failed.
    bool close();
    // With WholeUnit::marked: writes what is buffered and marks all of it whole.
    bool markWhole();
    // Drops what is buffered and cuts the file back to its last whole unit.
    void rollBack();
    // Drops what is buffered, closes (unchecked) and removes the file open() made.
    void discard() {
        buffer_.discardBuffered();
        buffer_.file.discard();
    }
    void commitFrame() override { markWhole(); }
    void rollBackFrame() override { rollBack(); }

    bool failed() const { return buffer_.file.failed(); }
    const OutputFault& fault() const { return buffer_.file.fault(); }

private:
    class Buffer : public std::streambuf {
    public:
        explicit Buffer(WholeUnit u) : unit(u) { setp(bytes.data(), bytes.data() + bytes.size()); }
        bool drain();  // the buffered bytes to the file; false once the file failed
        void discardBuffered() { setp(bytes.data(), bytes.data() + bytes.size()); }

        OutputFile file;
        const WholeUnit unit;

    protected:
        int_type overflow(int_type c) override;
        int sync() override;

    private:
        std::array<char, 8192> bytes{};
    };
    Buffer buffer_;
};

// Removes path when it is a plain file; a folder, a link or a device named by the user stays.
void removePlainFile(const std::string& path);

// Creates or replaces path with the bytes in one write, closes it, all checked. On failure
// the partial file is removed and the status names the file and the cause. For whole-file
// outputs such as bitmaps.
Status writeWholeFile(const std::string& path, const void* data, size_t bytes);

}  // namespace vanto
