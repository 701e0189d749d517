// Making the report of --info: the file read and listed as far as it goes,
// then the warnings, the layout check and, when asked, the digests.
#include "info/report.h"

#include "dfuse/defaults.h"
#include "dfuse/dfu_format.h"
#include "formats/uf2_reader.h"
#include "image/image.h"
#include "load/loader.h"
#include "load/read_file.h"
#include "stage/stage.h"
#include "util/sha256.h"
#include "util/text_format.h"

InfoReport::InfoReport() = default;
InfoReport::~InfoReport() = default;
InfoReport::InfoReport(InfoReport&&) noexcept = default;
InfoReport& InfoReport::operator=(InfoReport&&) noexcept = default;

namespace {

std::string ElementLabel(std::size_t target, uint8_t alternate, std::size_t element) {
    return layout::TargetLabel(target, alternate) + Format(", element %llu", static_cast<unsigned long long>(element));
}

// The first two elements of a target that share a byte, by the address of
// that byte: "elements 1 and 3 overlap from 0x...".
std::string FirstElementOverlap(const ReportTarget& target) {
    std::vector<OwnedSpan> spans;
    spans.reserve(target.elements.size());
    for (std::size_t e = 0; e < target.elements.size(); ++e) {
        spans.push_back({target.elements[e].address, target.elements[e].size, static_cast<uint32_t>(e)});
    }
    const auto overlap = FirstOverlap(std::move(spans), target.elements.size());
    if (!overlap) return "";
    return Format("elements %lu and %lu overlap from 0x%08X: a device keeps the bytes of the later one",
                  static_cast<unsigned long>(overlap->first), static_cast<unsigned long>(overlap->second),
                  unsigned{overlap->address});
}

void ListDfuFile(InfoReport& report, const uint8_t* bytes) {
    const DfuFileInfo& info = *report.dfu;
    report.targets.reserve(info.targets.size());
    for (const DfuTargetInfo& t : info.targets) {
        ReportTarget target;
        target.alternate = t.alternate;
        target.named = t.named != 0;
        target.name = t.name;
        target.element_count = t.element_count;
        target.target_size = t.target_size;
        target.complete = t.complete;
        target.elements.reserve(t.elements.size());
        for (const DfuElementInfo& e : t.elements)
            target.elements.emplace_back(e.address, e.size, bytes + e.data_offset);
        report.targets.push_back(std::move(target));
    }
}

void ListImage(InfoReport& report) {
    const ElementList& list = report.image->GetList();
    ReportTarget target;
    target.elements.assign(list.begin(), list.end());
    target.element_count = static_cast<uint32_t>(list.GetCount());
    report.targets.push_back(std::move(target));
}

// The first element of the report that runs past the top, as its problem.
void CheckTop(InfoReport& report) {
    if (report.problem.kind != Error::Kind::kNone) return;
    for (const ReportTarget& target : report.targets) {
        const auto past = FirstPastTheTop(target.elements);
        if (past != target.elements.end()) {
            report.problem = PastTheTop(report.input.path, *past, nullptr);
            return;
        }
    }
}

// Reads the file into the report: its targets and the problem of the file itself.
void ReadFile(InfoReport& report) {
    const InputFile& input = report.input;
    Error error;
    if (input.kind == FileKind::kDfu) {
        report.bytes = ReadDfuInput(input.path, error);
        if (!report.bytes) {
            // Only an input that could not be read at all has nothing more to say.
            error.unloadable = error.kind == Error::Kind::kCannotOpen;
            report.problem = error;
            return;
        }
        report.dfu = ParseDfuFile(report.bytes->data(), report.bytes->size());
        report.loaded = true;
        ListDfuFile(report, report.bytes->data());
        if (!report.dfu->IsSound()) {
            report.problem = Error::Problem(input.path, report.dfu->problem);
        } else if (report.dfu->plain && input.base) {
            // A plain file's one element stands where -b puts it.
            report.image = PlainDfuImage(*report.dfu, report.bytes, *input.base, 0, nullptr, input.path, error);
            if (!report.image) {
                report.problem = error;
                return;
            }
            ListImage(report);
        } else if (!report.dfu->plain && input.base) {
            report.problem = Error::Problem(input.path, PlainDfuBaseProblem(false));
        }
    } else if (input.kind == FileKind::kUf2) {
        std::shared_ptr<SharedBytes> bytes;
        if (ReadFileBytes(input.path, UINT64_MAX, bytes) != WholeFileRead::kRead) {
            report.problem = CannotOpenInput(input.path);
            report.problem.unloadable = true;
            return;
        }
        auto list = std::make_unique<ElementList>();
        report.uf2 = ReadUf2(bytes->data(), bytes->size(), input.family, *list);
        report.image = std::make_unique<CImage>(0, false, nullptr, std::move(list));
        report.loaded = true;
        if (!report.uf2->IsSound()) {
            report.problem = Error::Problem(input.path, report.uf2->problem);
            return;
        }
        ListImage(report);
    } else {
        report.image = LoadInput(input, 0, error);
        if (!report.image) {
            report.problem = error;
            return;
        }
        report.loaded = true;
        ListImage(report);
    }
    CheckTop(report);
}

// The file's image as the stage makes it, listed in the place of the file's.
void Stage(InfoReport& report, const StageJob& stage) {
    if (!report.loaded || report.problem.kind != Error::Kind::kNone) return;
    std::unique_ptr<CImage> image;
    if (report.dfu) {
        std::vector<std::unique_ptr<CImage>> images = TargetsOfDfuFile(*report.dfu, report.bytes);
        if (images.size() != 1) {
            report.problem = Error::Problem(
                report.input.path, Format("it holds %llu targets; the image options change one: list it apart, after "
                                          "converting it with -a",
                                          static_cast<unsigned long long>(images.size())));
            return;
        }
        image = std::move(images.front());
    } else {
        image = std::move(report.image);
    }
    Error error;
    report.image = StageImage(*image, stage, report.input.path, &report.inserted, error);
    if (!report.image) {
        report.problem = error;
        report.loaded = false;
        report.targets.clear();
        return;
    }
    ReportTarget target;
    target.alternate = image->GetAlternate();
    char name[CImage::kMaxNameLength + 1] = {};
    target.named = image->GetName(name);
    target.name = name;
    report.dfu.reset();
    report.targets.clear();
    report.staged = true;
    ListImage(report);
    report.targets.front().alternate = target.alternate;
    report.targets.front().named = target.named;
    report.targets.front().name = target.name;
}

void CheckLayouts(InfoReport& report, const std::map<uint8_t, layout::MemoryLayout>& layouts) {
    for (std::size_t t = 0; t < report.targets.size() && !layouts.empty(); ++t) {
        const ReportTarget& target = report.targets[t];
        LayoutVerdict verdict;
        verdict.alternate = target.alternate;
        const auto found = layouts.find(target.alternate);
        if (found != layouts.end()) {
            verdict.layout = &found->second;
            verdict.violation = layout::TargetViolation(t, target.alternate, target.elements, found->second);
            for (std::size_t e = 0; e < target.elements.size(); ++e) {
                if (auto erasure = layout::PagesErased(found->second, target.elements[e])) {
                    verdict.pages.push_back({e, std::move(*erasure)});
                }
            }
            verdict.usage = layout::Usage(found->second, target.elements);
            if (!verdict.violation.empty() && report.problem.kind == Error::Kind::kNone) {
                report.problem = Error::Problem(report.input.path, verdict.violation);
            }
        }
        report.verdicts.push_back(std::move(verdict));
    }
}

void Warn(InfoReport& report) {
    std::vector<std::string>& warnings = report.warnings;
    if (report.dfu && report.dfu->suffix_read) {
        const DeviceIdentity defaults = DefaultIdentity();
        if (report.dfu->suffix.vendor == defaults.vendor && report.dfu->suffix.product == defaults.product) {
            warnings.push_back(
                Format("the suffix holds the default IDs %04X:%04X: a device in DFU mode reports its "
                       "own product ID, and loaders compare the file's IDs with the device's (set them "
                       "with -d VID:PID)",
                       unsigned{defaults.vendor}, unsigned{defaults.product}));
        }
    }
    for (std::size_t t = 0; t < report.targets.size(); ++t) {
        const ReportTarget& target = report.targets[t];
        for (std::size_t earlier = 0; earlier < t; ++earlier) {
            if (report.targets[earlier].alternate == target.alternate) {
                warnings.push_back(Format("targets %llu and %llu both have alternate setting %u",
                                          static_cast<unsigned long long>(earlier), static_cast<unsigned long long>(t),
                                          unsigned{target.alternate}));
                break;
            }
        }
        if (target.elements.empty()) warnings.push_back(layout::TargetLabel(t, target.alternate) + " has no elements");
        for (std::size_t e = 0; e < target.elements.size(); ++e) {
            if (target.elements[e].size == 0) warnings.push_back(ElementLabel(t, target.alternate, e) + " has 0 bytes");
        }
        const std::string overlap = FirstElementOverlap(target);
        if (!overlap.empty()) warnings.push_back(layout::TargetLabel(t, target.alternate) + ": " + overlap);
        if (!report.layouts_given) continue;
        const LayoutVerdict& verdict = report.verdicts[t];
        if (verdict.layout == nullptr) {
            warnings.push_back(layout::NoLayoutWarning(t, target.alternate));
            continue;
        }
        for (const ElementPages& pages : verdict.pages) {
            for (const ElementSpan& page : pages.erasure.partial) {
                warnings.push_back(ElementLabel(t, target.alternate, pages.element) +
                                   Format(" covers the page at 0x%08X (%u bytes) only in part: the rest of it is "
                                          "erased too",
                                          unsigned{page.address}, unsigned{page.size}));
            }
        }
    }
}

void Digest(InfoReport& report) {
    Sha256 whole;
    for (const ReportTarget& target : report.targets) {
        std::vector<ElementDigest>& digests = report.digests.emplace_back();
        digests.reserve(target.elements.size());
        for (const ElementSpan& element : target.elements) {
            Sha256 sha;
            sha.Update(element.data, element.size);
            whole.Update(element.data, element.size);
            digests.push_back({dfu_format::Crc32(0, element.data, element.size), sha.Finish()});
        }
    }
    report.sha256 = whole.FinishHex();
}

// What follows the reading: the layouts, the warnings, the verdict, the digests.
void Finish(InfoReport& report, const std::map<uint8_t, layout::MemoryLayout>& layouts, bool digests) {
    CheckLayouts(report, layouts);
    Warn(report);
    report.sound = report.problem.kind == Error::Kind::kNone && !report.problem.unloadable;
    if (digests && report.loaded) Digest(report);
}

}  // namespace

InfoReport ReportOfImages(const std::string& name, const std::vector<std::unique_ptr<CImage>>& images,
                          const std::map<uint8_t, layout::MemoryLayout>& layouts) {
    InfoReport report;
    report.input.path = name;
    report.loaded = true;
    report.layouts_given = !layouts.empty();
    for (const auto& image : images) {
        ReportTarget target;
        target.alternate = image->GetAlternate();
        char buffer[CImage::kMaxNameLength + 1] = {};
        target.named = image->GetName(buffer);
        if (target.named) target.name = buffer;
        const ElementList& list = image->GetList();
        target.elements.assign(list.begin(), list.end());
        target.element_count = static_cast<uint32_t>(list.GetCount());
        report.targets.push_back(std::move(target));
    }
    CheckLayouts(report, layouts);
    report.sound = report.problem.kind == Error::Kind::kNone;
    return report;
}

std::string UsageLine(const LayoutVerdict& verdict) {
    const layout::LayoutUsage& usage = verdict.usage;
    std::string name = verdict.layout ? layout::TrimmedName(*verdict.layout) : std::string();
    if (name.empty()) name = Format("alternate setting %u", unsigned{verdict.alternate});
    return Format("%s: %llu of %llu bytes (%.1f %%), %llu of %s erased", name.c_str(),
                  static_cast<unsigned long long>(usage.written), static_cast<unsigned long long>(usage.writeable),
                  layout::WrittenPercent(usage), static_cast<unsigned long long>(usage.pages_erased),
                  Count(usage.pages, "page").c_str());
}

InfoReport MakeReport(const InputFile& input, const std::map<uint8_t, layout::MemoryLayout>& layouts, bool digests,
                      const StageJob* stage) {
    InfoReport report;
    report.input = input;
    report.layouts_given = !layouts.empty();
    ReadFile(report);
    if (stage && !stage->Empty()) Stage(report, *stage);
    Finish(report, layouts, digests);
    return report;
}
