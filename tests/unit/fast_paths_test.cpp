// Tests of the converter's fast paths against plain ones on random input: the
// record lines and the listing's numbers against printf, and a DfuSe input
// whose images share the file's bytes against images that copy them; the
// folding CRC against zlib's; the worker that reads a long input ahead.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dfu_layout.h"
#include "dfuse/dfu_format.h"
#include "dfuse/dfu_parser.h"
#include "formats/hex_reader.h"
#include "formats/hex_record.h"
#include "formats/srec_reader.h"
#include "formats/srec_record.h"
#include "image/image.h"
#include "image_util.h"
#include "listing_util.h"
#include "load/loader.h"
#include "load/read_file.h"
#include "sys/background.h"
#include "test_util.h"
#include "util/hex_encode.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testutil::HexPairs;
using testutil::RandomBytes;

TEST(FastRecordLines, MatchPrintfForEveryLengthOnRandomBytes) {
    std::mt19937 random(7);
    for (std::size_t count = 0; count <= HexRecord::kMaxDataBytes; ++count) {
        const Bytes data = RandomBytes(random, count);
        const auto address = static_cast<uint16_t>(random());
        Bytes fields = {static_cast<uint8_t>(count), static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                        HexRecord::kData};
        fields.insert(fields.end(), data.begin(), data.end());
        unsigned sum = 0;
        for (uint8_t b : fields) sum += b;
        fields.push_back(static_cast<uint8_t>(-sum));
        char line[HexRecord::LineLength(HexRecord::kMaxDataBytes)];
        const std::size_t length = HexRecord::Line(HexRecord::kData, address, data.data(), count, line);
        ASSERT_EQ(std::string(line, length), ":" + HexPairs(fields) + "\n") << count << " bytes";
    }
    for (int address_length = 2; address_length <= 4; ++address_length) {
        for (std::size_t count = 0; count <= 64; ++count) {
            const Bytes data = RandomBytes(random, count);
            const uint32_t address = static_cast<uint32_t>(random()) >> (8 * (4 - address_length));
            Bytes fields = {static_cast<uint8_t>(count + address_length + 1)};
            for (int i = address_length - 1; i >= 0; --i) fields.push_back(static_cast<uint8_t>(address >> (8 * i)));
            fields.insert(fields.end(), data.begin(), data.end());
            unsigned sum = 0;
            for (uint8_t b : fields) sum += b;
            fields.push_back(static_cast<uint8_t>(~sum));
            const char digit = static_cast<char>('0' + address_length - 1);
            char line[SRecord::LineLength(4, 64)];
            const std::size_t length = SRecord::Line(digit, address_length, address, data.data(), count, line);
            ASSERT_EQ(std::string(line, length), std::string("S") + digit + HexPairs(fields) + "\n")
                << count << " bytes";
        }
    }
}

TEST(FastNumbers, MatchPrintf) {
    std::mt19937_64 random(11);
    std::vector<uint64_t> values = {0, 1, 9, 10, 99, 100, 0xFFFFFFFFu, 0x100000000u, 0x1FFFFFFFEu, UINT64_MAX};
    for (int i = 0; i < 2000; ++i) values.push_back(random() >> (random() % 64));
    for (uint64_t value : values) {
        char expected[32];
        char out[32];
        std::snprintf(expected, sizeof expected, "%08llX", static_cast<unsigned long long>(value));
        EXPECT_EQ(std::string(out, hex_encode::PutHex8(out, value)), expected);
        std::snprintf(expected, sizeof expected, "%llu", static_cast<unsigned long long>(value));
        EXPECT_EQ(std::string(out, hex_encode::PutDecimal(out, value)), expected);
    }
}

// Enough elements that the listing passes through several chunks.
TEST(FastListing, MatchesPrintfLineForLine) {
    std::mt19937 random(3);
    CImage image(0, false, nullptr);
    std::string lines;
    uint64_t total = 0;
    const Bytes data(300, 0x5A);
    for (int i = 0; i < 12000; ++i) {
        const uint32_t address = static_cast<uint32_t>(random());
        const uint32_t size = i < 3 ? static_cast<uint32_t>(i) : static_cast<uint32_t>(random() % 300);
        ASSERT_TRUE(image.PutElement(i, true, ImageElement{address, size, const_cast<uint8_t*>(data.data())}));
        char line[128];
        if (size == 0) {
            std::snprintf(line, sizeof line, "  element %d: 0x%08X, 0 bytes\n", i, address);
        } else {
            std::snprintf(line, sizeof line, "  element %d: 0x%08X-0x%08llX, %u byte%s\n", i, address,
                          static_cast<unsigned long long>(uint64_t{address} + size - 1), size, size == 1 ? "" : "s");
        }
        lines += line;
        total += size;
    }
    const std::string totals = std::to_string(total) + " bytes";
    EXPECT_EQ(testutil::DescribeImage("x.hex", FileKind::kHex, image),
              "x.hex: Intel HEX file\ntarget 0: 12000 elements, " + totals + "\n" + lines +
                  "total: 1 target, 12000 elements, " + totals + "\n");
}

struct Element {
    uint32_t address;
    Bytes bytes;
};

std::vector<Element> Elements(const CImage& image) {
    std::vector<Element> elements;
    for (const ImageElement& e : image.GetList()) elements.push_back({e.address, Bytes(e.data, e.data + e.size)});
    return elements;
}

bool operator==(const Element& a, const Element& b) { return a.address == b.address && a.bytes == b.bytes; }

TEST(SharedDfuInput, HoldsWhatTheCopyingPathHolds) {
    std::mt19937 random(5);
    std::vector<testutil::LayoutTarget> targets;
    for (uint8_t t = 0; t < 3; ++t) {
        testutil::LayoutTarget target{t, std::nullopt, {}};
        for (int e = 0; e < 50; ++e) {
            target.elements.push_back({static_cast<uint32_t>(random()), RandomBytes(random, random() % 2000)});
        }
        targets.push_back(target);
    }
    const testutil::TempDir dir;
    const std::string path = dir / "in.dfu";
    const Bytes file = testutil::DfuLayout(targets, 1, 2, 3);
    testutil::WriteFile(path, std::string(file.begin(), file.end()));

    std::shared_ptr<SharedBytes> read;
    ASSERT_EQ(ReadFileBytes(path, UINT64_MAX, read), WholeFileRead::kRead);
    std::shared_ptr<const SharedBytes> bytes = std::move(read);
    ASSERT_EQ(Bytes(bytes->data(), bytes->data() + bytes->size()), file);
    const DfuFileInfo info = ParseDfuFile(bytes->data(), bytes->size());
    ASSERT_TRUE(info.IsSound()) << info.problem;
    const auto copied = testutil::CopiedTargetsOfDfuFile(info, bytes->data());
    const auto shared = TargetsOfDfuFile(info, bytes);
    const uint8_t* first = bytes->data();
    const uint8_t* last = first + bytes->size();
    // A list of the first target's elements that shares the file's bytes too.
    std::vector<ImageElement> first_target;
    for (const ImageElement& e : shared[0]->GetList()) first_target.push_back(e);
    ElementList list;
    list.AppendShared(bytes, first_target);
    bytes.reset();  // the images keep the file's bytes
    ASSERT_EQ(shared.size(), copied.size());
    for (std::size_t t = 0; t < shared.size(); ++t) {
        EXPECT_TRUE(Elements(*shared[t]) == Elements(*copied[t])) << "target " << t;
        for (const ImageElement& e : shared[t]->GetList()) {
            if (e.size != 0) {
                EXPECT_TRUE(e.data >= first && e.data + e.size <= last) << "a copy where none was needed";
            }
        }
    }
    // Lists that share the file's bytes stay lists like any other: the last
    // element grows, and the elements change, without touching the other
    // targets' shared bytes.
    ElementList copy;
    for (const ImageElement& e : copied[0]->GetList()) ASSERT_TRUE(copy.InsertAt(copy.GetCount(), e));
    const ImageElement last_element = *list.GetAt(list.GetCount() - 1);
    const Bytes more = RandomBytes(random, 100);
    list.AddData(last_element.address + last_element.size, more.data(), static_cast<uint32_t>(more.size()));
    copy.AddData(last_element.address + last_element.size, more.data(), 100);
    ASSERT_TRUE(list.RemoveAt(0));
    ASSERT_TRUE(copy.RemoveAt(0));
    ASSERT_EQ(list.GetCount(), copy.GetCount());
    for (int32_t i = 0; i < list.GetCount(); ++i) {
        const ImageElement& a = *list.GetAt(i);
        const ImageElement& b = *copy.GetAt(i);
        EXPECT_TRUE(Element({a.address, Bytes(a.data, a.data + a.size)}) ==
                    Element({b.address, Bytes(b.data, b.data + b.size)}));
    }
    for (std::size_t t = 0; t < shared.size(); ++t) {
        EXPECT_TRUE(Elements(*shared[t]) == Elements(*copied[t])) << "target " << t;
    }
}

}  // namespace

// Every length up to 1 KiB and some long ones, at every alignment, carried on
// from a CRC that is not zero, against zlib's tables.
TEST(FastCrc, MatchesZlibOnRandomBytes) {
    std::mt19937 random(7);
    const Bytes bytes = RandomBytes(random, 70016);
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 1024; ++n) lengths.push_back(n);
    for (std::size_t n : {4095, 4096, 65536, 65537, 70000}) lengths.push_back(n);
    for (std::size_t offset = 0; offset < 16; ++offset) {
        for (std::size_t n : lengths) {
            const uint32_t start = static_cast<uint32_t>(random());
            const uint8_t* data = bytes.data() + offset;
            ASSERT_EQ(dfu_format::Crc32(start, data, n), crc32_z(start, data, n)) << n << " bytes at " << offset;
        }
    }
}

// Jobs run one after another, each seen whole by the Wait() after it, and
// the end waits for a job still running rather than leaving it behind.
TEST(BackgroundWorkerJobs, RunInTurnAndAreWaitedForAtTheEnd) {
    std::vector<int> done;
    {
        BackgroundWorker worker;
        for (int i = 0; i < 1000; ++i) {
            worker.Start([&done, i] { done.push_back(i); });
            worker.Wait();
            ASSERT_EQ(done.size(), static_cast<std::size_t>(i + 1));
        }
    }
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(done[static_cast<std::size_t>(i)], i);

    std::atomic<bool> finished{false};
    {
        BackgroundWorker worker;
        worker.Start([&finished] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            finished = true;
        });
    }
    EXPECT_TRUE(finished);
}

namespace {

// Random record files, mostly sound, some with a fault: a digit changed, a
// character that is no digit, spaces inside a record, a line end cut short.
std::string RandomRecordText(std::mt19937& random, bool hex) {
    std::string text;
    const int records = 1 + static_cast<int>(random() % 40);
    for (int r = 0; r < records; ++r) {
        const std::size_t count = random() % 40;
        const Bytes data = RandomBytes(random, count);
        const auto address = static_cast<uint32_t>(random() % 0x20000);
        std::string line;
        if (hex) {
            uint32_t sum = static_cast<uint32_t>(count) + ((address >> 8) & 0xFF) + (address & 0xFF);
            for (uint8_t b : data) sum += b;
            char head[10];
            std::snprintf(head, sizeof head, ":%02X%04X00", unsigned(count), unsigned(address & 0xFFFF));
            char tail[3];
            std::snprintf(tail, sizeof tail, "%02X", unsigned((0x100 - (sum & 0xFF)) & 0xFF));
            line = head + HexPairs(data) + tail;
        } else {
            uint32_t sum = static_cast<uint32_t>(count) + 4;
            for (int i = 0; i < 4; ++i) sum += (address >> (8 * i)) & 0xFF;
            for (uint8_t b : data) sum += b;
            char head[13];
            std::snprintf(head, sizeof head, "S3%02X%08X", unsigned(count + 5), unsigned(address));
            char tail[3];
            std::snprintf(tail, sizeof tail, "%02X", unsigned(0xFF - (sum & 0xFF)));
            line = head + HexPairs(data) + tail;
        }
        switch (random() % 24) {
            case 0: line[1 + random() % (line.size() - 1)] ^= 1; break;         // a digit changed
            case 1: line[1 + random() % (line.size() - 1)] = 'g'; break;        // no digit
            case 2: line.insert(1 + random() % (line.size() - 1), " "); break;  // a space inside
            case 3: line.resize(1 + random() % (line.size() - 1)); break;       // cut short
            case 4: line = std::string(1 + random() % 3, ' ') + line; break;    // spaces before
            default: break;
        }
        text += line + (random() % 4 == 0 ? "\r\n" : "\n");
    }
    return text;
}

struct ReadOutcome {
    bool read = false;
    std::vector<Element> elements;
    uint32_t line = 0;
    std::string cause;
};

template <typename Read>
ReadOutcome ReadWith(const std::string& path, Read read) {
    ReadOutcome outcome;
    const FilePtr file(std::fopen(path.c_str(), "rb"));
    ElementList list;
    Error error;
    outcome.read = read(file.get(), list, error);
    for (const ImageElement& e : list) outcome.elements.push_back({e.address, Bytes(e.data, e.data + e.size)});
    outcome.line = error.line;
    outcome.cause = error.cause;
    return outcome;
}

}  // namespace

// Each reader takes the usual record in one step; on any input it must read
// what its field reader alone reads: the same bytes, the same verdict, the
// same diagnostic on the same line.
TEST(FastRecordReading, ReadsWhatTheFieldReaderReads) {
    std::mt19937 random(11);
    const testutil::TempDir dir;
    for (int file = 0; file < 400; ++file) {
        const bool hex = file % 2 == 0;
        const std::string path = dir / (hex ? "random.hex" : "random.srec");
        testutil::WriteFile(path, RandomRecordText(random, hex));
        const ReadOutcome whole = hex ? ReadWith(path, ReadHex) : ReadWith(path, ReadSRec);
        const ReadOutcome fields = hex ? ReadWith(path, ReadHexByFields) : ReadWith(path, ReadSRecByFields);
        EXPECT_EQ(whole.read, fields.read) << "file " << file;
        EXPECT_TRUE(whole.elements == fields.elements) << "file " << file;
        EXPECT_EQ(whole.line, fields.line) << "file " << file;
        EXPECT_EQ(whole.cause, fields.cause) << "file " << file;
    }
}
