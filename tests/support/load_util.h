// Loading a text into a fresh image from the tests: the file is written to a
// temporary directory, the image loads it by its extension, and what the
// reader printed is kept.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/hex_reader.h"
#include "formats/srec_reader.h"
#include "image/image.h"
#include "image_util.h"
#include "test_util.h"

namespace testutil {

// The bytes first, first + 1, ... of `count` bytes.
inline std::vector<uint8_t> Counting(uint8_t first, std::size_t count) {
    std::vector<uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

struct Loaded {
    bool loaded = false;
    std::string err;  // everything the reader printed on standard error
    std::vector<ByteRun> elements;
};

// Writes `content` to a file named `file_name` and loads it.
inline Loaded LoadText(const std::string& content, const std::string& file_name) {
    TempDir dir;
    const std::string path = dir / file_name;
    WriteFile(path, content);
    testing::internal::CaptureStderr();
    CImage image(0, path.c_str(), false, nullptr);
    Loaded result;
    result.err = testing::internal::GetCapturedStderr();
    result.loaded = image.IsLoaded();
    result.elements = ElementsOf(image);
    if (!result.loaded) {
        // An image that is not loaded shows no elements: what the reader left
        // before its error is read again straight into a list.
        ElementList list;
        Error error;
        if (KindOfPath(path) == FileKind::kHex) {
            ReadHexFile(path.c_str(), list, error);
        } else {
            ReadSRecFile(path.c_str(), list, error);
        }
        result.elements = ElementsOf(list);
    }
    return result;
}

}  // namespace testutil
