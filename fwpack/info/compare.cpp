// Comparing an expected image with an actual one, byte by byte at each
// address the expected image holds, and writing what was found.
#include "info/compare.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "image/image.h"
#include "load/loader.h"
#include "util/json_writer.h"
#include "util/sha256.h"
#include "util/text_format.h"

namespace {

constexpr uint64_t kTop = uint64_t{1} << 32;

// Gathers the runs as the walk finds them: neighbours of one kind join.
class RunCollector {
public:
    explicit RunCollector(CompareReport& report) : report_(report) {}

    void Add(uint64_t address, uint64_t size, bool missing, uint8_t expected, uint8_t found) {
        report_.differing_bytes += size;
        if (missing) report_.missing_bytes += size;
        if (open_ && current_.missing == missing && uint64_t{current_.address} + current_.size == address) {
            current_.size += size;
            return;
        }
        Close();
        current_ = {static_cast<uint32_t>(address), size, missing, expected, found};
        open_ = true;
    }

    void Close() {
        if (!open_) return;
        ++report_.run_count;
        if (report_.runs.size() < CompareReport::kListedRuns) report_.runs.push_back(current_);
        open_ = false;
    }

private:
    CompareReport& report_;
    CompareRun current_;
    bool open_ = false;
};

// The runs of differing bytes among `size` bytes at `address`.
void CompareBytes(uint64_t address, const uint8_t* expected, const uint8_t* actual, uint64_t size, RunCollector& runs) {
    constexpr uint64_t kBlock = 4096;
    uint64_t at = 0;
    while (at < size) {
        const uint64_t block = std::min(kBlock, size - at);
        if (std::memcmp(expected + at, actual + at, static_cast<std::size_t>(block)) == 0) {
            at += block;
            continue;
        }
        for (const uint64_t end = at + block; at < end;) {
            if (expected[at] == actual[at]) {
                ++at;
                continue;
            }
            uint64_t stop = at + 1;
            while (stop < end && expected[stop] != actual[stop]) ++stop;
            runs.Add(address + at, stop - at, false, expected[at], actual[at]);
            at = stop;
        }
    }
}

std::string ListAlternates(const std::vector<std::unique_ptr<CImage>>& images) {
    std::string list;
    for (const auto& image : images) list += (list.empty() ? "" : ", ") + std::to_string(image->GetAlternate());
    return list;
}

bool LoadOne(const InputFile& input, std::optional<uint8_t> alternate, std::unique_ptr<CImage>& image, Error& error) {
    LoadJob job;
    TargetJob target;
    target.inputs.push_back(input);
    if (input.kind == FileKind::kDfu) target.alternate = alternate;
    job.targets.push_back(std::move(target));
    LoadedTargets loaded;
    if (!LoadTargets(job, loaded, error)) return false;
    if (loaded.images.size() != 1) {
        error =
            Error::Problem("", loaded.images.empty()
                                   ? Format("%s holds no target", input.path.c_str())
                                   : Format("%s holds %llu targets (alternate settings %s); choose one with -a",
                                            input.path.c_str(), static_cast<unsigned long long>(loaded.images.size()),
                                            ListAlternates(loaded.images).c_str()));
        return false;
    }
    image = std::move(loaded.images.front());
    return true;
}

std::vector<ElementSpan> Spans(const CImage& image) {
    const ElementList& list = image.GetList();
    return std::vector<ElementSpan>(list.begin(), list.end());
}

}  // namespace

std::vector<ElementSpan> Flatten(const std::vector<ElementSpan>& elements) {
    std::vector<ElementSpan> out;
    out.reserve(elements.size());
    // Most images hold their elements in order and apart: they are taken as they are.
    bool ordered = true;
    uint64_t end = 0;
    for (const ElementSpan& e : elements) {
        if (e.size == 0) continue;
        if (e.address < end || e.End() > kTop) {
            ordered = false;
            break;
        }
        end = e.End();
        out.push_back(e);
    }
    if (ordered) return out;
    out.clear();
    struct Piece {
        uint64_t end;
        const uint8_t* data;
    };
    std::map<uint64_t, Piece> pieces;  // by start address
    for (const ElementSpan& e : elements) {
        const uint64_t start = e.address;
        const uint64_t stop = std::min(e.End(), kTop);
        if (start >= stop) continue;
        auto it = pieces.upper_bound(start);
        if (it != pieces.begin()) {
            auto before = std::prev(it);
            if (before->second.end > start) {
                const Piece old = before->second;
                before->second.end = start;
                if (old.end > stop) pieces.emplace(stop, Piece{old.end, old.data + (stop - before->first)});
                if (before->first == start) pieces.erase(before);
            }
        }
        it = pieces.lower_bound(start);
        while (it != pieces.end() && it->first < stop) {
            if (it->second.end > stop) {
                const Piece tail{it->second.end, it->second.data + (stop - it->first)};
                pieces.erase(it);
                pieces.emplace(stop, tail);
                break;
            }
            it = pieces.erase(it);
        }
        pieces[start] = Piece{stop, e.data};
    }
    for (const auto& [start, piece] : pieces) {
        out.emplace_back(static_cast<uint32_t>(start), static_cast<uint32_t>(piece.end - start), piece.data);
    }
    return out;
}

CompareReport CompareSpans(const std::vector<ElementSpan>& expected, const std::vector<ElementSpan>& actual,
                           bool digests) {
    CompareReport report;
    RunCollector runs(report);
    Sha256 expected_sha;
    Sha256 actual_sha;
    std::size_t j = 0;
    for (const ElementSpan& e : expected) {
        report.expected_bytes += e.size;
        if (digests) expected_sha.Update(e.data, e.size);
        uint64_t at = e.address;
        const uint64_t end = e.End();
        while (at < end) {
            while (j < actual.size() && actual[j].End() <= at) ++j;
            if (j < actual.size() && actual[j].address <= at) {
                const uint64_t stop = std::min(end, actual[j].End());
                const uint8_t* mine = e.data + (at - e.address);
                const uint8_t* theirs = actual[j].data + (at - actual[j].address);
                if (digests) actual_sha.Update(theirs, static_cast<std::size_t>(stop - at));
                CompareBytes(at, mine, theirs, stop - at, runs);
                at = stop;
            } else {
                const uint64_t stop = j < actual.size() ? std::min<uint64_t>(end, actual[j].address) : end;
                runs.Add(at, stop - at, true, e.data[at - e.address], 0);
                at = stop;
            }
        }
    }
    runs.Close();
    if (!digests) return report;
    report.expected_sha256 = expected_sha.FinishHex();
    if (report.missing_bytes == 0) report.actual_sha256 = actual_sha.FinishHex();
    return report;
}

bool CompareFiles(const InputFile& expected, const InputFile& actual, std::optional<uint8_t> alternate, bool digests,
                  CompareReport& report, Error& error) {
    std::unique_ptr<CImage> expected_image;
    std::unique_ptr<CImage> actual_image;
    if (!LoadOne(expected, alternate, expected_image, error) || !LoadOne(actual, alternate, actual_image, error)) {
        return false;
    }
    report = CompareSpans(Flatten(Spans(*expected_image)), Flatten(Spans(*actual_image)), digests);
    report.expected_path = expected.path;
    report.actual_path = actual.path;
    return true;
}

std::string CompareText(const CompareReport& report) {
    if (report.Agree()) return Count(report.expected_bytes, "byte") + " agree\n";
    std::string text;
    for (const CompareRun& run : report.runs) {
        if (run.missing) {
            text += Format("0x%08X: %s missing (expected 0x%02X)\n", unsigned{run.address},
                           Count(run.size, "byte").c_str(), unsigned{run.expected});
        } else {
            text += Format("0x%08X: %s (expected 0x%02X, found 0x%02X)\n", unsigned{run.address},
                           (Count(run.size, "byte") + (run.size == 1 ? " differs" : " differ")).c_str(),
                           unsigned{run.expected}, unsigned{run.found});
        }
    }
    if (report.run_count > report.runs.size()) {
        const uint64_t more = report.run_count - report.runs.size();
        text += Format("... %llu more run%s\n", static_cast<unsigned long long>(more), more == 1 ? "" : "s");
    }
    text += Format("%s, %llu of %llu bytes differ", Count(report.run_count, "run").c_str(),
                   static_cast<unsigned long long>(report.differing_bytes),
                   static_cast<unsigned long long>(report.expected_bytes));
    if (report.missing_bytes > 0) {
        text += Format(" (%llu missing)", static_cast<unsigned long long>(report.missing_bytes));
    }
    return text + "\n";
}

std::string CompareJson(const CompareReport& report) {
    JsonWriter json;
    json.BeginObject();
    json.Key("schema");
    json.Number(1);
    json.Key("expected");
    json.String(report.expected_path);
    json.Key("actual");
    json.String(report.actual_path);
    json.Key("agree");
    json.Bool(report.Agree());
    json.Key("expected_bytes");
    json.Number(report.expected_bytes);
    json.Key("differing_bytes");
    json.Number(report.differing_bytes);
    json.Key("missing_bytes");
    json.Number(report.missing_bytes);
    json.Key("run_count");
    json.Number(report.run_count);
    json.Key("runs");
    json.BeginArray();
    for (const CompareRun& run : report.runs) {
        json.BeginObject();
        json.Key("address");
        json.Number(run.address);
        json.Key("size");
        json.Number(run.size);
        json.Key("missing");
        json.Bool(run.missing);
        json.Key("expected");
        json.Number(run.expected);
        json.Key("found");
        if (run.missing)
            json.Null();
        else
            json.Number(run.found);
        json.EndObject();
    }
    json.EndArray();
    json.Key("expected_sha256");
    json.String(report.expected_sha256);
    json.Key("actual_sha256");
    if (report.actual_sha256)
        json.String(*report.actual_sha256);
    else
        json.Null();
    json.EndObject();
    return json.Take();
}
