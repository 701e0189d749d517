// Building images for the tests: a loaded image without elements, read from an
// empty Intel HEX file, then filled through PutElement; and a view of an image
// as sorted runs of bytes, so that two images can be compared whatever their
// element boundaries.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "test_util.h"

namespace testutil {

// An element as the tests describe it: a start address and its bytes.
struct ByteRun {
    uint32_t address;
    std::vector<uint8_t> bytes;

    bool operator==(const ByteRun& other) const { return address == other.address && bytes == other.bytes; }
};

inline std::ostream& operator<<(std::ostream& out, const ByteRun& run) {
    return out << "{0x" << std::hex << run.address << std::dec << ", " << run.bytes.size() << " bytes}";
}

// A loaded image without elements. An empty HEX file loads as such an image;
// the file is written in `dir` and is needed only while the image loads.
inline std::unique_ptr<CImage> MakeEmptyImage(const TempDir& dir) {
    const std::string path = dir / "empty.hex";
    WriteFile(path, "");
    auto image = std::make_unique<CImage>(0, path.c_str(), false, nullptr);
    EXPECT_TRUE(image->IsLoaded()) << "an empty HEX file should load as an empty image";
    return image;
}

// A loaded image holding `runs` as its elements, in this order.
inline std::unique_ptr<CImage> MakeImage(const TempDir& dir, const std::vector<ByteRun>& runs) {
    auto image = MakeEmptyImage(dir);
    for (const ByteRun& run : runs) {
        ImageElement element{run.address, static_cast<uint32_t>(run.bytes.size()),
                             const_cast<uint8_t*>(run.bytes.data())};
        EXPECT_TRUE(image->PutElement(image->GetNbElements(), true, element));
    }
    return image;
}

// `text` written `times` times.
inline std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// `size` bytes of `value`.
inline std::vector<uint8_t> Filled(std::size_t size, uint8_t value) { return std::vector<uint8_t>(size, value); }

// `size` bytes that differ from their neighbours and from other seeds', so
// that a byte copied from a wrong place shows.
inline std::vector<uint8_t> Pattern(std::size_t size, uint8_t seed = 0) {
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8) + seed);
    }
    return bytes;
}

// `count` bytes drawn from `random`.
inline std::vector<uint8_t> RandomBytes(std::mt19937& random, std::size_t count) {
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

// The bytes as printf's "%02X" pairs, as record lines carry them.
inline std::string HexPairs(const std::vector<uint8_t>& bytes) {
    std::string text;
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", unsigned{b});
        text += pair;
    }
    return text;
}

// The image's bytes as runs sorted by address, touching runs joined. The
// elements must not overlap.
inline std::vector<ByteRun> NormalizedRuns(const std::vector<ByteRun>& runs) {
    std::vector<ByteRun> sorted;
    for (const ByteRun& run : runs) {
        if (!run.bytes.empty()) sorted.push_back(run);
    }
    std::sort(sorted.begin(), sorted.end(), [](const ByteRun& a, const ByteRun& b) { return a.address < b.address; });
    std::vector<ByteRun> joined;
    for (ByteRun& run : sorted) {
        if (!joined.empty() && uint64_t{joined.back().address} + joined.back().bytes.size() == run.address) {
            joined.back().bytes.insert(joined.back().bytes.end(), run.bytes.begin(), run.bytes.end());
        } else {
            joined.push_back(std::move(run));
        }
    }
    return joined;
}

// The list's elements as runs, in list order.
inline std::vector<ByteRun> ElementsOf(const ElementList& list) {
    std::vector<ByteRun> runs;
    for (int32_t i = 0; i < list.GetCount(); ++i) {
        const ImageElement* element = list.GetAt(i);
        runs.push_back(ByteRun{element->address, std::vector<uint8_t>(element->data, element->data + element->size)});
    }
    return runs;
}

// The image's elements as runs, in list order.
inline std::vector<ByteRun> ElementsOf(const CImage& image) { return ElementsOf(image.GetList()); }

}  // namespace testutil
