// The character-level reading that both record readers share: a buffered
// input, the line counter, the search for the start of the next record, and
// hexadecimal fields with the semantics of the formatted reads ("%2x" etc.).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

#include "sys/background.h"
#include "sys/platform.h"
#include "util/error.h"
#include "util/hex_decode.h"

class FieldScanner {
public:
    // What NextRecordStart() and ReadChar() give at the end of the input.
    static constexpr int kEnd = -1;

    explicit FieldScanner(std::FILE* file);
    ~FieldScanner();
    FieldScanner(const FieldScanner&) = delete;
    FieldScanner& operator=(const FieldScanner&) = delete;

    // Skips spaces and line ends (counting each line end; a CR LF pair counts
    // once) and returns the next character, or kEnd at the end of the input or
    // at a Ctrl-Z, which ends a text file.
    int NextRecordStart();

    // Exactly one character, white space included, or kEnd.
    int ReadChar() {
        const int c = Peek();
        if (c != kEnd) ++pos_;
        return c;
    }

    // Skips white space, then reads 1 to `width` hexadecimal digits into
    // `value`. False, with `value` unchanged, when no digit can be read.
    bool ReadHex(int width, uint32_t& value) {
        // The usual case: the whole field is in the buffer, all digits.
        if (end_ - pos_ >= static_cast<std::size_t>(width)) {
            uint32_t result = 0;
            int8_t bits = 0;
            for (int i = 0; i < width; ++i) {
                const int8_t digit = hex_decode::kHexValue[static_cast<unsigned char>(Text()[pos_ + i])];
                bits |= digit;
                result = (result << 4) | static_cast<uint8_t>(digit);
            }
            if (bits >= 0) {
                pos_ += static_cast<std::size_t>(width);
                value = result;
                return true;
            }
        }
        int c = Peek();
        while (IsSpace(c)) {
            ++pos_;
            c = Peek();
        }
        uint32_t result = 0;
        int digits = 0;
        while (digits < width) {
            if (c == kEnd || hex_decode::kHexValue[static_cast<unsigned char>(c)] < 0) break;
            result = (result << 4) | static_cast<uint32_t>(hex_decode::kHexValue[static_cast<unsigned char>(c)]);
            ++digits;
            ++pos_;
            c = Peek();
        }
        if (digits == 0) return false;
        value = result;
        return true;
    }

    // Reads `count` two-digit fields as bytes into `out`, adding each to
    // `sum`. False as soon as one cannot be read.
    bool ReadHexBytes(uint32_t count, uint8_t* out, uint32_t& sum) {
        // The usual case: digits only, in the buffer already.
        uint8_t run_sum = 0;
        if (end_ - pos_ >= 2 * std::size_t{count} && DecodeHexPairs(Text() + pos_, count, out, run_sum)) {
            pos_ += 2 * std::size_t{count};
            sum += run_sum;  // record sums count modulo 256
            return true;
        }
        uint32_t value = 0;
        for (uint32_t i = 0; i < count; ++i) {
            if (!ReadHex(2, value)) return false;
            out[i] = static_cast<uint8_t>(value);
            sum += value;
        }
        return true;
    }

    // The characters read ahead of the current position, for a reader that
    // takes a whole record at once; Skip() then counts them as read.
    std::string_view Buffered() const { return std::string_view(Text() + pos_, end_ - pos_); }
    void Skip(std::size_t count) { pos_ += count; }

    // The 1-based number of the line on which the current record stands.
    uint32_t GetLine() const { return line_; }

    // Whether the input ended through a read error rather than its end.
    bool ReadFailed() const { return read_failed_; }

private:
    static bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

    int Peek() {
        if (pos_ < end_) return static_cast<unsigned char>(Text()[pos_]);
        return Refill() ? static_cast<unsigned char>(Text()[pos_]) : kEnd;
    }
    bool Refill();
    void StartReadingAhead();
    void ReadNextBlock();
    const char* Text() const { return reinterpret_cast<const char*>(buffer_.data()); }

    std::FILE* file_;
    // On a large page where the system has them: a fresh buffer of small
    // pages costs a page fault for every 4 KiB read into it.
    platform::GrowableBlock buffer_;
    // For a long input: the block being read while buffer_ is decoded, what
    // that read gave, and the thread that reads it.
    platform::GrowableBlock next_;
    std::size_t next_end_ = 0;
    bool next_failed_ = false;
    std::unique_ptr<BackgroundWorker> ahead_;
    bool first_block_ = true;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    uint32_t line_ = 1;
    bool read_failed_ = false;
};

// Opens `path` for reading as bytes; line ends are the scanner's business.
FilePtr OpenForReading(const char* path);

// Reads `file` as records, each opened by the character `start`,
// with only spaces and line ends between them; any other character there is
// `format_error`. read_record(scanner, ended) reads the rest of one record and
// returns null, or the text of what is wrong with it; it sets `ended` at a
// record that ends the file. The first error is reported with its line number
// and ends the reading. True when the file was read to its end, or to a record
// that ends it, without an error; otherwise false with the diagnostic in
// `error` (a file that cannot be read on has none).
template <typename ReadRecord>
bool ReadRecords(std::FILE* file, char start, const char* format_error, ReadRecord&& read_record, Error& error) {
    FieldScanner scanner(file);
    for (;;) {
        const int c = scanner.NextRecordStart();
        if (c == FieldScanner::kEnd) return !scanner.ReadFailed();
        bool ended = false;
        const char* problem = c == start ? read_record(scanner, ended) : format_error;
        if (problem) {
            error = Error::ReaderLine(scanner.GetLine(), problem);
            return false;
        }
        if (ended) return true;
    }
}
