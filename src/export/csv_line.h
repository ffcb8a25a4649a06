#pragma once
#include <charconv>
#include <cstdint>
#include <ostream>
#include <string>

namespace vanto {

// One CSV line built in a buffer reserved once: fields separated by commas, no trailing
// comma, numbers by std::to_chars (always '.', whatever the locale).
class CsvLine {
public:
    CsvLine() { text_.reserve(1024); }

    void clear() {
        text_.clear();
        first_ = true;
    }
    void field(const char* text) {
        separate();
        text_ += text;
    }
    void field(int64_t value) {
        separate();
        char buffer[24];
        text_.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
    }
    // Fixed notation with the given number of decimals.
    void field(double value, int decimals) {
        separate();
        char buffer[64];
        const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
        if (r.ec == std::errc{}) text_.append(buffer, r.ptr);
    }
    // The shortest text that reads back as the same value: as a float when the value is
    // one (samples of 32-bit float images stay as short as they were), else as a double.
    void exact(double value) {
        separate();
        char buffer[64];
        const float narrow = static_cast<float>(value);
        const auto r = static_cast<double>(narrow) == value ? std::to_chars(buffer, buffer + sizeof buffer, narrow)
                                                            : std::to_chars(buffer, buffer + sizeof buffer, value);
        if (r.ec == std::errc{}) text_.append(buffer, r.ptr);
    }
    // hundredths / 100 with exactly two decimals, from the integer.
    void hundredths(int64_t value) {
        separate();
        if (value < 0) {
            text_ += '-';
            value = -value;
        }
        char buffer[24];
        text_.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value / 100).ptr);
        text_ += '.';
        text_ += static_cast<char>('0' + value % 100 / 10);
        text_ += static_cast<char>('0' + value % 10);
    }
    void empty() { separate(); }
    // A space-separated list inside one field.
    void listItem(int64_t value, bool firstItem) {
        if (firstItem) separate();
        else text_ += ' ';
        char buffer[24];
        text_.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
    }

    void writeTo(std::ostream& out) {
        text_ += '\n';
        out.write(text_.data(), static_cast<std::streamsize>(text_.size()));
    }

private:
    void separate() {
        if (!first_) text_ += ',';
        first_ = false;
    }
    std::string text_;
    bool first_ = true;
};

}  // namespace vanto
