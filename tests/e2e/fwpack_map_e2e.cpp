// End-to-end tests of --map: the picture read back as XML by Python, its
// cells and bars checked against page states and elements that the script
// computes from the file's bytes itself; xmllint and rsvg-convert, where
// installed, accept and render every picture; refusals leave files alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dfu_layout.h"
#include "fwpack_run.h"

namespace fwpack_e2e {
namespace {

using testutil::DfuLayout;
using testutil::HaveTool;
using testutil::LayoutElement;
using testutil::TempDir;

// Reads the picture, and the elements and pages the test gives as JSON, and
// checks one against the other: argv 1 the picture, argv 2 the JSON of
// {"elements": [[address, size]...], "layout": [[start, page size, count,
// writeable]...] or null, "merged": whether runs may be drawn as one}.
constexpr const char kCheck[] = R"(
import json, sys, xml.etree.ElementTree as ET
svg = ET.parse(sys.argv[1]).getroot()
case = json.load(open(sys.argv[2]))
ns = "{http://www.w3.org/2000/svg}"
count = sum(1 for _ in svg.iter())
assert count <= 5000, count
rects = list(svg.iter(ns + "rect"))
cells = [r for r in rects if r.get("data-state")]
bars = [r for r in rects if r.get("data-size")]
for r in cells + bars:
    assert r.find(ns + "title") is not None and r.find(ns + "title").text, r.attrib
    a = r.get("data-address")
    assert len(a) == 10 and a.startswith("0x") and int(a, 16) >= 0, a
elements = case["elements"]
written = set()
for a, n in elements:
    written.update(range(a, a + n))
if not case["merged"]:
    assert [(int(b.get("data-address"), 16), int(b.get("data-size"))) for b in bars] == \
        sorted((a, n) for a, n in elements), [b.attrib for b in bars]
    assert all(b.get("data-elements") is None for b in bars)
else:
    assert sum(int(b.get("data-elements") or 1) for b in bars) == len(elements)
    assert sum(int(b.get("data-size")) for b in bars) == sum(n for a, n in elements)
if case["layout"] is not None:
    pages = []
    for start, size, n, writeable in case["layout"]:
        for p in range(n):
            first = start + p * size
            hit = sum(1 for x in range(first, first + size) if x in written)
            state = "readonly" if not writeable else "untouched" if hit == 0 else "full" if hit == size else "partial"
            pages.append((first, state))
    if not case["merged"]:
        assert [(int(c.get("data-address"), 16), c.get("data-state")) for c in cells] == pages, \
            [c.attrib for c in cells]
    else:
        assert sum(int(c.get("data-pages") or 1) for c in cells) == len(pages)
        at = 0
        for c in cells:
            n = int(c.get("data-pages") or 1)
            assert int(c.get("data-address"), 16) == pages[at][0], (c.attrib, pages[at])
            states = {s for _, s in pages[at:at + n]}
            if len(states) == 1:
                assert c.get("data-state") in states, (c.attrib, states)
            at += n
else:
    assert cells == []
print("ok")
)";

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The elements as the check script takes them.
std::string ElementsJson(const std::vector<LayoutElement>& elements) {
    std::string json = "[";
    for (const auto& e : elements) {
        json += (json.size() > 1 ? "," : "") + std::string("[") + std::to_string(e.address) + "," +
                std::to_string(e.data.size()) + "]";
    }
    return json + "]";
}

void CheckPicture(const TempDir& dir, const std::string& svg, const std::string& case_json) {
    testutil::WriteFile(dir / "check.py", kCheck);
    testutil::WriteFile(dir / "case.json", case_json);
    const auto checked = testutil::Run("python3 check.py " + svg + " case.json", dir.path().string());
    EXPECT_EQ(checked.out, "ok\n") << checked.err;
    if (HaveTool("xmllint")) {
        EXPECT_EQ(testutil::Run("xmllint --noout " + svg, dir.path().string()).status, 0);
    }
    if (HaveTool("rsvg-convert")) {
        const auto rendered = testutil::Run("rsvg-convert " + svg + " -o picture.png", dir.path().string());
        EXPECT_EQ(rendered.status, 0) << rendered.err;
        EXPECT_GT(testutil::ReadFile(dir / "picture.png").size(), 1000u);
    }
}

std::vector<uint8_t> Bytes(std::size_t size) { return std::vector<uint8_t>(size, 0x5A); }

// A flash of 16 pages of 1 KiB, then a read-only page: a page written in
// full, pages in part, two elements sharing a page, untouched pages.
const std::vector<LayoutElement> kElements = {{0x08000000, Bytes(1024)},
                                              {0x08000800, Bytes(100)},
                                              {0x08000C00, Bytes(1536)},
                                              {0x08002000, Bytes(16)},
                                              {0x08002100, Bytes(16)}};
constexpr const char* kLayout = "0=@Internal Flash /0x08000000/16*001Kg,01*001Ka";
constexpr const char* kLayoutJson = "[[134217728, 1024, 16, true], [134234112, 1024, 1, false]]";

TEST(FwpackMap, InfoDrawsEachPageByStateAndEachElement) {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
    TempDir dir;
    testutil::WriteFile(dir / "fw.dfu", Text(DfuLayout({{0, std::nullopt, kElements}}, 0x1209, 0x5AF0, 0)));
    const auto result = Fwpack(dir, {"--info", "fw.dfu", "--layout", kLayout, "--map", "fw.svg"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find(Line("Internal Flash: 2692 of 16384 bytes (16.4 %), 5 of 17 pages erased")),
              std::string::npos)
        << result.out;
    CheckPicture(dir, "fw.svg",
                 "{\"elements\": " + ElementsJson(kElements) + ", \"layout\": " + kLayoutJson + ", \"merged\": false}");
    // The figures of the summary line stand in the picture too.
    EXPECT_NE(testutil::ReadFile(dir / "fw.svg").find("2692 of 16384 bytes (16.4 %), 5 of 17 pages erased"),
              std::string::npos);
}

TEST(FwpackMap, ConversionDrawsWhatWasWrittenWithoutALayout) {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
    TempDir dir;
    // Option bytes far away: a break, not a band of which the flash is a line.
    auto elements = kElements;
    elements.push_back({0x1FFFC000, Bytes(16)});
    testutil::WriteFile(dir / "fw.dfu", Text(DfuLayout({{0, std::nullopt, elements}}, 0x1209, 0x5AF0, 0)));
    testutil::WriteFile(dir / "old.svg", "old");
    const auto result = Fwpack(dir, {"fw.dfu", "-o", "out.dfu", "--map", "old.svg"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, Line("fwpack success for [fw.dfu] !"));
    CheckPicture(dir, "old.svg", "{\"elements\": " + ElementsJson(elements) + ", \"layout\": null, \"merged\": false}");
    const std::string svg = testutil::ReadFile(dir / "old.svg");
    EXPECT_NE(svg.find("<path"), std::string::npos) << "a break";
}

// Thousands of elements, each in a page of its own among untouched ones:
// runs of pages and of elements are drawn as one, within the budget.
TEST(FwpackMap, ManyElementsStayWithinTheBudget) {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
    TempDir dir;
    std::vector<LayoutElement> elements;
    for (uint32_t i = 0; i < 6000; ++i) elements.push_back({0x08000000 + i * 512 + (i % 3) * 16, Bytes(16 + i % 5)});
    testutil::WriteFile(dir / "many.dfu", Text(DfuLayout({{0, std::nullopt, elements}}, 0x1209, 0x5AF0, 0)));
    const auto result =
        Fwpack(dir, {"--info", "many.dfu", "--layout", "@Flash /0x08000000/12000*256Bg", "--map", "many.svg"});
    EXPECT_EQ(result.status, 0) << result.err;
    CheckPicture(dir, "many.svg",
                 "{\"elements\": " + ElementsJson(elements) +
                     ", \"layout\": [[134217728, 256, 12000, true]], \"merged\": true}");
}

TEST(FwpackMap, RefusesAMapThatNamesAnInputOrTheOutput) {
    TempDir dir;
    const std::string dfu = Text(DfuLayout({{0, std::nullopt, kElements}}, 0x1209, 0x5AF0, 0));
    testutil::WriteFile(dir / "fw.dfu", dfu);
    testutil::WriteFile(dir / "out.dfu", "old");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--info", "fw.dfu", "--map", "fw.dfu"},
         "fwpack: the map fw.dfu is the input fw.dfu; writing it would destroy the input"},
        {{"fw.dfu", "out.dfu", "--map", "./fw.dfu"},
         "fwpack: the map ./fw.dfu is the input fw.dfu; writing it would destroy the input"},
        {{"fw.dfu", "out.dfu", "--map", "out.dfu"},
         "fwpack: the map out.dfu is the output out.dfu; give the picture a name of its own"},
        {{"--compare", "fw.dfu", "fw.dfu", "--map", "m.svg"},
         "fwpack: --compare reads two files and writes nothing: --map does not go with it"},
    };
    for (const auto& [args, line] : cases) {
        const auto result = Fwpack(dir, args);
        EXPECT_NE(result.status, 0);
        EXPECT_EQ(result.err.substr(0, result.err.find(kTarget.line_end)), line);
        EXPECT_EQ(testutil::ReadFile(dir / "fw.dfu"), dfu);
        EXPECT_EQ(testutil::ReadFile(dir / "out.dfu"), "old");
    }
}

}  // namespace
}  // namespace fwpack_e2e
