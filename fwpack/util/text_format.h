// printf-style formatting into a std::string, for messages and listings.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline std::string
Format(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

// "1 page", "4 pages": a count and its thing, in the plural unless one.
inline std::string Count(uint64_t n, const char* thing) {
    return Format("%llu %s%s", static_cast<unsigned long long>(n), thing, n == 1 ? "" : "s");
}
