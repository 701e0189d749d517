// The warnings, the layout check and the pages erased, added to --info's
// listing; the JSON document is written in info_json.cpp.
#include "info/info_checks.h"

#include <algorithm>

#include "info/info_json.h"
#include "util/text_format.h"

namespace {

std::string ElementLabel(std::size_t target, uint8_t alternate, std::size_t element) {
    return layout::TargetLabel(target, alternate) + Format(", element %llu", static_cast<unsigned long long>(element));
}

// The first two elements of a target that share a byte, by the address of
// that byte: "elements 1 and 3 overlap from 0x...".
std::string FirstOverlap(const ListedTarget& target) {
    const std::vector<ListedElement>& elements = target.elements;
    // Files list their elements in address order as a rule: then they are
    // walked as they stand, and a listing of many elements stays linear.
    bool in_order = true;
    uint32_t last = 0;
    for (const ListedElement& element : elements) {
        if (element.size == 0) continue;
        if (element.address < last) {
            in_order = false;
            break;
        }
        last = element.address;
    }
    std::vector<std::size_t> order;
    if (!in_order) {
        for (std::size_t e = 0; e < elements.size(); ++e) {
            if (elements[e].size != 0) order.push_back(e);
        }
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return elements[a].address < elements[b].address; });
    }
    uint64_t reach = 0;
    std::size_t furthest = 0;
    const std::size_t count = in_order ? elements.size() : order.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t e = in_order ? i : order[i];
        const ListedElement& element = elements[e];
        if (element.size == 0) continue;
        if (reach > element.address) {
            return Format("elements %llu and %llu overlap from 0x%08X: a device keeps the bytes of the later one",
                          static_cast<unsigned long long>(std::min(e, furthest)),
                          static_cast<unsigned long long>(std::max(e, furthest)), unsigned{element.address});
        }
        if (element.address + uint64_t{element.size} > reach) {
            reach = element.address + uint64_t{element.size};
            furthest = e;
        }
    }
    return "";
}

// The first line of a load's error, without "fwpack: " and the file's name.
std::string ProblemOfError(const std::string& error, const std::string& path) {
    std::string line = error.substr(0, error.find('\n'));
    const std::string prefix = "fwpack: " + path + ": ";
    if (line.compare(0, prefix.size(), prefix) == 0) line.erase(0, prefix.size());
    return line;
}

}  // namespace

ListedFile ListDfuFile(const InputFile& input, const DfuFileInfo& info, const uint8_t* bytes) {
    ListedFile file;
    file.input = &input;
    file.dfu = &info;
    file.targets.reserve(info.targets.size());
    for (const DfuTargetInfo& t : info.targets) {
        ListedTarget target;
        target.alternate = t.alternate;
        target.named = t.named != 0;
        target.name = t.name;
        target.elements.reserve(t.elements.size());
        for (const DfuElementInfo& e : t.elements)
            target.elements.push_back({e.address, e.size, bytes + e.data_offset});
        file.targets.push_back(std::move(target));
    }
    return file;
}

ListedFile ListImage(const InputFile& input, const CImage* image) {
    ListedFile file;
    file.input = &input;
    if (image == nullptr) return file;
    ListedTarget target;
    target.elements.reserve(static_cast<std::size_t>(image->GetList().GetCount()));
    for (const ImageElement& e : image->GetList()) target.elements.push_back({e.address, e.size, e.data});
    file.targets.push_back(std::move(target));
    return file;
}

std::vector<std::string> InfoWarnings(const ListedFile& file, const layout::LayoutMap& layouts) {
    std::vector<std::string> warnings;
    if (file.dfu != nullptr && file.dfu->suffix_read && file.dfu->suffix.vendor == 0x0483 &&
        file.dfu->suffix.product == 0x0000) {
        warnings.push_back(
            "the suffix holds the default IDs 0483:0000: a device in DFU mode reports its own product ID, and "
            "loaders compare the file's IDs with the device's (set them with -d VID:PID)");
    }
    for (std::size_t t = 0; t < file.targets.size(); ++t) {
        const ListedTarget& target = file.targets[t];
        for (std::size_t earlier = 0; earlier < t; ++earlier) {
            if (file.targets[earlier].alternate == target.alternate) {
                warnings.push_back(Format("targets %llu and %llu both have alternate setting %u",
                                          static_cast<unsigned long long>(earlier), static_cast<unsigned long long>(t),
                                          unsigned{target.alternate}));
                break;
            }
        }
        if (target.elements.empty()) {
            warnings.push_back(layout::TargetLabel(t, target.alternate) + " has no elements");
        }
        for (std::size_t e = 0; e < target.elements.size(); ++e) {
            if (target.elements[e].size == 0) warnings.push_back(ElementLabel(t, target.alternate, e) + " has 0 bytes");
        }
        const std::string overlap = FirstOverlap(target);
        if (!overlap.empty()) warnings.push_back(layout::TargetLabel(t, target.alternate) + ": " + overlap);
        if (layouts.empty()) continue;
        const auto found = layouts.find(target.alternate);
        if (found == layouts.end()) {
            warnings.push_back(layout::NoLayoutWarning(t, target.alternate));
            continue;
        }
        for (std::size_t e = 0; e < target.elements.size(); ++e) {
            const auto erasure =
                layout::PagesErased(found->second, {target.elements[e].address, target.elements[e].size});
            if (!erasure) continue;
            for (const layout::Span& page : erasure->partial) {
                warnings.push_back(ElementLabel(t, target.alternate, e) +
                                   Format(" covers the page at 0x%08X (%u bytes) only in part: the rest of it is "
                                          "erased too",
                                          unsigned{page.address}, unsigned{page.size}));
            }
        }
    }
    return warnings;
}

void FinishInfo(const ListedFile& file, const layout::LayoutMap& layouts, bool json, InfoResult& result) {
    const std::string& path = file.input->path;
    std::string problem;
    if (file.dfu != nullptr && !file.dfu->IsSound()) {
        problem = file.dfu->problem;
    } else if (!result.error.empty()) {
        problem = ProblemOfError(result.error, path);
    }
    std::vector<LayoutVerdict> verdicts;
    std::string lines;
    for (std::size_t t = 0; t < file.targets.size() && !layouts.empty(); ++t) {
        const ListedTarget& target = file.targets[t];
        const auto found = layouts.find(target.alternate);
        LayoutVerdict verdict{target.alternate, nullptr, ""};
        if (found != layouts.end()) {
            verdict.layout = &found->second;
            std::vector<layout::Span> spans;
            for (const ListedElement& e : target.elements) spans.push_back({e.address, e.size});
            verdict.violation = layout::TargetViolation(t, target.alternate, spans, found->second);
            for (std::size_t e = 0; e < spans.size(); ++e) {
                if (const auto erasure = layout::PagesErased(found->second, spans[e])) {
                    lines += Format("target %llu, element %llu: %s\n", static_cast<unsigned long long>(t),
                                    static_cast<unsigned long long>(e), layout::ErasureText(*erasure).c_str());
                }
            }
            if (!verdict.violation.empty() && problem.empty()) {
                problem = verdict.violation;
                result.error = "fwpack: " + path + ": " + verdict.violation + "\n";
            }
        }
        verdicts.push_back(std::move(verdict));
    }
    const std::vector<std::string> warnings = InfoWarnings(file, layouts);
    for (const std::string& warning : warnings) lines += "warning: " + warning + "\n";
    if (json) {
        result.listing = InfoJson(file, problem, warnings, layouts.empty() ? nullptr : &verdicts);
    } else {
        result.listing += lines;
    }
}
