// Parsing a device's memory description: "@" name, then zones "/0xADDR/"
// each followed by segments COUNT*SIZE, a multiplier and a type letter,
// separated by ",". The parser stops at the first character that breaks the
// grammar and says where it is and what should have stood there.
#include "layout/layout.h"

#include "util/text_format.h"

namespace layout {

namespace {

class Parser {
public:
    Parser(const std::string& text, std::size_t offset) : text_(text), offset_(offset) {}

    bool Parse(MemoryLayout& layout, std::string& error) {
        bool quoted = false;
        end_ = text_.size();
        if (text_.compare(0, 6, "name=\"") == 0) pos_ = 5;
        if (Peek() == '"') {
            quoted = true;
            ++pos_;
        }
        if (quoted) {
            if (end_ <= pos_ || text_[end_ - 1] != '"') {
                pos_ = end_;
                return Fail("a closing '\"'", error);
            }
            --end_;
        }
        if (Peek() != '@') return Fail("'@' and the memory's name", error);
        ++pos_;
        const std::size_t name_start = pos_;
        while (pos_ < end_ && text_[pos_] != '/') ++pos_;
        layout.name = text_.substr(name_start, pos_ - name_start);
        layout.segments.clear();
        // "@Flash 0x08000000/04*016Kg": the name took the zone's address, whose '/' is missing.
        const std::size_t word = layout.name.find_last_of(' ') + 1;
        if (layout.name.size() > word + 2 && layout.name[word] == '0' &&
            (layout.name[word + 1] == 'x' || layout.name[word + 1] == 'X') &&
            layout.name.find_first_not_of("0123456789abcdefABCDEF", word + 2) == std::string::npos) {
            pos_ = name_start + word;
            return Fail("'/' before the zone's start address", error);
        }
        if (pos_ == end_) return Fail("'/' and a zone's start address", error);
        while (pos_ < end_) {
            ++pos_;  // the '/' before the zone's address
            if (!Zone(layout, error)) return false;
        }
        return true;
    }

private:
    char Peek() const { return pos_ < end_ ? text_[pos_] : '\0'; }
    bool AtEnd() const { return pos_ >= end_; }

    bool Fail(const char* expected, std::string& error) const {
        std::string what;
        if (pos_ >= end_) {
            what = "the end of the text";
        } else {
            const auto c = static_cast<unsigned char>(text_[pos_]);
            what = c >= 0x20 && c < 0x7F ? Format("'%c'", c) : Format("byte 0x%02X", unsigned{c});
        }
        error = Format("character %llu (%s): expected %s", static_cast<unsigned long long>(offset_ + pos_ + 1),
                       what.c_str(), expected);
        return false;
    }

    // Decimal digits, leading zeros allowed, of at most 32 bits.
    bool Decimal(uint32_t& value, const char* expected, std::string& error) {
        const std::size_t start = pos_;
        uint64_t result = 0;
        while (!AtEnd() && Peek() >= '0' && Peek() <= '9') {
            result = result * 10 + static_cast<uint64_t>(Peek() - '0');
            if (result > 0xFFFFFFFFu) {
                pos_ = start;
                return Fail(Format("%s of at most 4294967295", expected).c_str(), error);
            }
            ++pos_;
        }
        if (pos_ == start || result == 0) {
            pos_ = start;
            return Fail(Format("%s of at least 1 (decimal digits)", expected).c_str(), error);
        }
        value = static_cast<uint32_t>(result);
        return true;
    }

    bool Zone(MemoryLayout& layout, std::string& error) {
        if (Peek() != '0' || pos_ + 1 >= end_ || (text_[pos_ + 1] != 'x' && text_[pos_ + 1] != 'X')) {
            return Fail("a zone's start address (0x and hexadecimal digits)", error);
        }
        pos_ += 2;
        uint64_t address = 0;
        int digits = 0;
        for (; !AtEnd() && Peek() != '/'; ++pos_, ++digits) {
            const char c = Peek();
            int digit = -1;
            if (c >= '0' && c <= '9') digit = c - '0';
            if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            if (digit < 0 || digits == 8) {
                return Fail(digits == 0 ? "a hexadecimal digit" : "'/' after 1 to 8 hexadecimal digits", error);
            }
            address = address * 16 + static_cast<uint64_t>(digit);
        }
        if (digits == 0) return Fail("a hexadecimal digit", error);
        if (AtEnd()) return Fail("'/' and the zone's segments", error);
        ++pos_;
        for (;;) {
            const std::size_t segment_start = pos_;
            Segment segment;
            segment.start = static_cast<uint32_t>(address);
            uint32_t size = 0;
            if (!Decimal(segment.page_count, "a page count", error)) return false;
            if (Peek() != '*') return Fail("'*' after the page count", error);
            ++pos_;
            if (!Decimal(size, "a page size", error)) return false;
            uint64_t multiplier = 0;
            switch (Peek()) {
                case 'B':
                case ' ': multiplier = 1; break;
                case 'K': multiplier = 1024; break;
                case 'M': multiplier = 1024 * 1024; break;
                default: return Fail("a multiplier: B, K, M or a space (bytes)", error);
            }
            if (size * multiplier > 0xFFFFFFFFu) return Fail("a page of less than 4 GiB", error);
            segment.page_size = static_cast<uint32_t>(size * multiplier);
            ++pos_;
            if (Peek() < 'a' || Peek() > 'g') {
                return Fail("a type letter, a to g (1 readable, 2 erasable, 4 writeable, plus 0x60)", error);
            }
            segment.type = static_cast<uint8_t>(Peek() - 0x60);
            if (address + uint64_t{segment.page_size} * segment.page_count > (uint64_t{1} << 32)) {
                pos_ = segment_start;
                return Fail("pages that end by address 0xFFFFFFFF (these run past it)", error);
            }
            address = segment.End();
            layout.segments.push_back(segment);
            ++pos_;
            if (AtEnd() || Peek() == '/') return true;
            if (Peek() != ',') return Fail("',' and a segment, '/' and a zone, or the end", error);
            ++pos_;
        }
    }

    const std::string& text_;
    std::size_t offset_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

}  // namespace

const Segment* MemoryLayout::SegmentAt(uint32_t address) const {
    for (const Segment& segment : segments) {
        if (segment.Holds(address)) return &segment;
    }
    return nullptr;
}

bool ParseLayout(const std::string& text, MemoryLayout& layout, std::string& error, std::size_t position_offset) {
    return Parser(text, position_offset).Parse(layout, error);
}

std::string TrimmedName(const MemoryLayout& layout) {
    const std::size_t first = layout.name.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return layout.name.substr(first, layout.name.find_last_not_of(' ') - first + 1);
}

std::string TypeWords(uint8_t type) {
    std::vector<const char*> words;
    if ((type & kReadable) != 0) words.push_back("readable");
    if ((type & kErasable) != 0) words.push_back("erasable");
    if ((type & kWriteable) != 0) words.push_back("writeable");
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) text += i + 1 == words.size() ? " and " : ", ";
        text += words[i];
    }
    return text;
}

}  // namespace layout
