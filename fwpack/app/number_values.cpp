// The number rule and the ranges of the options.
#include "app/number_values.h"

#include "util/hex_decode.h"
#include "util/text_format.h"

namespace {

constexpr uint64_t kTop = uint64_t{1} << 32;

bool IsDecimal(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value, std::string& problem) {
    const bool hex = text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    bool has_hex_letters = false;
    for (char c : digits) {
        if (hex_decode::kHexValue[static_cast<unsigned char>(c)] < 0) {
            problem = Format("'%s' is not a number (0x and hexadecimal digits, or decimal digits)", text.c_str());
            return false;
        }
        has_hex_letters = has_hex_letters || !IsDecimal(c);
    }
    if (digits.empty()) {
        problem = Format("'%s' is not a number (0x and hexadecimal digits, or decimal digits)", text.c_str());
        return false;
    }
    if (!hex && has_hex_letters) {
        problem = Format("'%s' has hexadecimal digits: write it with 0x (0x%s)", text.c_str(), text.c_str());
        return false;
    }
    if (!hex && digits.size() > 1 && digits[0] == '0') {
        problem = Format("'%s' starts with 0: write a hexadecimal number with 0x (0x%s), a decimal one without the 0",
                         text.c_str(), text.c_str());
        return false;
    }
    uint64_t result = 0;
    for (char c : digits) {
        const unsigned digit = static_cast<unsigned>(hex_decode::kHexValue[static_cast<unsigned char>(c)]);
        const uint64_t base = hex ? 16 : 10;
        if (result > (max - digit) / base) {
            problem = Format("'%s' is more than 0x%llX", text.c_str(), static_cast<unsigned long long>(max));
            return false;
        }
        result = result * base + digit;
    }
    value = result;
    return true;
}

bool ParseSignedNumber(const std::string& text, uint64_t max, int64_t& value, std::string& problem) {
    const bool negative = !text.empty() && text[0] == '-';
    uint64_t magnitude = 0;
    if (!ParseNumber(negative ? text.substr(1) : text, max, magnitude, problem)) {
        if (negative) problem = Format("'%s': %s", text.c_str(), problem.c_str());
        return false;
    }
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

bool ParseRange(const std::string& text, AddressRange& range, std::string& problem) {
    const std::size_t split = text.find_first_of("-+", 1);
    if (split == std::string::npos) {
        problem = Format("'%s' is not a range (START-END or START+LENGTH)", text.c_str());
        return false;
    }
    uint64_t start = 0;
    uint64_t second = 0;
    if (!ParseNumber(text.substr(0, split), kTop - 1, start, problem) ||
        !ParseNumber(text.substr(split + 1), kTop, second, problem)) {
        problem = Format("in the range '%s': %s", text.c_str(), problem.c_str());
        return false;
    }
    const uint64_t end = text[split] == '+' ? start + second : second;
    if (end > kTop) {
        problem = Format("the range '%s' runs past 0x100000000", text.c_str());
        return false;
    }
    if (end <= start) {
        problem =
            Format(end == start ? "the range '%s' is empty" : "the range '%s' ends before it starts", text.c_str());
        return false;
    }
    range = {start, end};
    return true;
}
