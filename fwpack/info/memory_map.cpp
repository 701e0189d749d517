// Drawing the memory map: bands laid out from left to right by address,
// with breaks where memory is not contiguous, cells and bars merged until
// the document fits its budget.
#include "info/memory_map.h"

#include <algorithm>
#include <cstring>

#include "sys/output_file.h"
#include "util/text_format.h"

namespace {

using layout::PageRun;
using layout::PageState;

constexpr double kLeft = 20;
constexpr double kWidth = 960;  // of a band
constexpr double kBreak = 14;   // the gap that stands for memory left out
constexpr double kCellHeight = 36;
constexpr double kBarHeight = 10;
constexpr double kBandHeight = 130;
constexpr double kTop = 96;
// XML elements besides the cells, bars and labels: the heading, the
// legend, and what each band has of its own.
constexpr std::size_t kFixedElements = 40;
constexpr std::size_t kPerBand = 6;
constexpr std::size_t kMaxLabels = 200;

const char* StateWord(PageState state) {
    switch (state) {
        case PageState::kFull: return "full";
        case PageState::kPartial: return "partial";
        case PageState::kUntouched: return "untouched";
        case PageState::kReadOnly: break;
    }
    return "readonly";
}

const char* StateWords(PageState state) {
    switch (state) {
        case PageState::kFull: return "written in full";
        case PageState::kPartial: return "written in part: erased whole, the rest is lost";
        case PageState::kUntouched: return "untouched";
        case PageState::kReadOnly: break;
    }
    return "not writeable";
}

// Text for XML: the markup characters as entities, UTF-8 as it is, any
// other byte (and control characters) as U+FFFD, so that any name makes a
// well-formed document.
std::string Xml(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '&': out += "&amp;"; break;
                case '<': out += "&lt;"; break;
                case '>': out += "&gt;"; break;
                case '"': out += "&quot;"; break;
                default: out += c < 0x20 || c == 0x7F ? std::string("\xEF\xBF\xBD") : std::string(1, char(c));
            }
            ++i;
            continue;
        }
        const std::size_t length = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (valid) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::string Hex(uint64_t address) { return Format("0x%08llX", static_cast<unsigned long long>(address)); }

std::string Bytes(uint64_t size) { return Count(size, "byte"); }

// A stretch of contiguous memory drawn from x0 to x1.
struct Piece {
    uint64_t start, end;
    double x0, x1;
};

// Lays out `ranges` (sorted, apart) over the band's width, a break between
// each two that do not touch.
std::vector<Piece> LayOut(const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
    std::vector<std::pair<uint64_t, uint64_t>> joined;
    for (const auto& range : ranges) {
        if (!joined.empty() && range.first <= joined.back().second)
            joined.back().second = std::max(joined.back().second, range.second);
        else
            joined.push_back(range);
    }
    uint64_t total = 0;
    for (const auto& range : joined) total += range.second - range.first;
    std::vector<Piece> pieces;
    if (joined.empty() || total == 0) return pieces;
    const double breaks = kBreak * static_cast<double>(joined.size() - 1);
    const double scale = (kWidth - breaks) / static_cast<double>(total);
    double x = kLeft;
    for (const auto& range : joined) {
        const double width = static_cast<double>(range.second - range.first) * scale;
        pieces.push_back({range.first, range.second, x, x + width});
        x += width + kBreak;
    }
    return pieces;
}

// The piece that holds `address`, or the index past the last.
std::size_t PieceOf(const std::vector<Piece>& pieces, uint64_t address) {
    const auto it =
        std::upper_bound(pieces.begin(), pieces.end(), address, [](uint64_t a, const Piece& p) { return a < p.end; });
    return static_cast<std::size_t>(it - pieces.begin());
}

double XOf(const Piece& piece, uint64_t address) {
    const uint64_t at = std::clamp(address, piece.start, piece.end);
    return piece.x0 +
           (piece.x1 - piece.x0) * static_cast<double>(at - piece.start) / static_cast<double>(piece.end - piece.start);
}

// A cell of the picture: one page, a run of alike pages, or, when even the
// runs are too many, neighbouring runs together.
struct Cell {
    uint64_t address = 0, end = 0;
    uint64_t pages = 0;
    PageState state = PageState::kUntouched;
    uint32_t page_size = 0;  // 0 when the pages differ in size
    bool mixed = false;
    bool erasable = true;  // all its pages are erased before they are written
};

PageState MixedState(bool full, bool partial, bool untouched, bool readonly) {
    if (partial || (full && untouched)) return PageState::kPartial;
    if (full) return PageState::kFull;
    if (untouched) return PageState::kUntouched;
    (void)readonly;
    return PageState::kReadOnly;
}

std::vector<Cell> Cells(const std::vector<PageRun>& runs, const std::vector<Piece>& pieces, std::size_t budget) {
    std::vector<Cell> cells;
    uint64_t pages = 0;
    for (const PageRun& run : runs) pages += run.count;
    if (pages <= budget) {
        for (const PageRun& run : runs) {
            for (uint64_t p = 0; p < run.count; ++p) {
                const uint64_t address = run.address + p * run.page_size;
                cells.push_back({address, address + run.page_size, 1, run.state, run.page_size, false, run.erasable});
            }
        }
        return cells;
    }
    if (runs.size() <= budget) {
        for (const PageRun& run : runs)
            cells.push_back({run.address, run.End(), run.count, run.state, run.page_size, false, run.erasable});
        return cells;
    }
    // Neighbouring runs of one piece together, about as many bytes each.
    uint64_t total = 0;
    for (const PageRun& run : runs) total += run.End() - run.address;
    const std::size_t groups = budget > pieces.size() + 1 ? budget - pieces.size() - 1 : 1;
    const uint64_t target = std::max<uint64_t>(1, total / groups);
    bool seen[4] = {};
    std::size_t piece = pieces.size();
    for (const PageRun& run : runs) {
        const std::size_t here = PieceOf(pieces, run.address);
        if (cells.empty() || here != piece || cells.back().end - cells.back().address >= target ||
            cells.back().end != run.address) {
            if (!cells.empty()) cells.back().state = MixedState(seen[0], seen[1], seen[2], seen[3]);
            cells.push_back({run.address, run.address, 0, run.state, run.page_size, false, true});
            std::fill(std::begin(seen), std::end(seen), false);
            piece = here;
        }
        Cell& cell = cells.back();
        if (cell.pages > 0 && (cell.state != run.state || cell.page_size != run.page_size)) cell.mixed = true;
        if (cell.page_size != run.page_size) cell.page_size = 0;
        cell.end = run.End();
        cell.pages += run.count;
        cell.erasable = cell.erasable && run.erasable;
        seen[static_cast<int>(run.state)] = true;
    }
    if (!cells.empty()) cells.back().state = MixedState(seen[0], seen[1], seen[2], seen[3]);
    return cells;
}

// A bar: one element, or elements close together.
struct Bar {
    uint64_t address = 0, end = 0;
    uint64_t bytes = 0;
    uint64_t elements = 0;
    std::size_t index = 0;  // of the first element
    double x0 = 0, x1 = 0;
};

// The elements in address order, without a copy where they are in order
// already, as the files of most builds hold them.
class AddressOrder {
public:
    explicit AddressOrder(const std::vector<ElementSpan>& elements) : elements_(elements) {
        const auto by_address = [&](uint32_t a, uint32_t b) { return elements[a].address < elements[b].address; };
        for (std::size_t i = 1; i < elements.size(); ++i) {
            if (elements[i].address < elements[i - 1].address) {
                order_.resize(elements.size());
                for (std::size_t k = 0; k < order_.size(); ++k) order_[k] = static_cast<uint32_t>(k);
                std::stable_sort(order_.begin(), order_.end(), by_address);
                break;
            }
        }
    }
    std::size_t size() const { return elements_.size(); }
    // The index of the k-th element by address.
    std::size_t Index(std::size_t k) const { return order_.empty() ? k : order_[k]; }

private:
    const std::vector<ElementSpan>& elements_;
    std::vector<uint32_t> order_;
};

std::vector<Bar> Bars(const std::vector<ElementSpan>& elements, const AddressOrder& order,
                      const std::vector<Piece>& pieces, std::size_t budget) {
    // The piece that holds an element's start, or none: outside the memory drawn.
    const auto piece_of = [&](const ElementSpan& e) {
        const std::size_t piece = PieceOf(pieces, e.address);
        return piece < pieces.size() && pieces[piece].start <= e.address ? piece : pieces.size();
    };
    std::size_t placed = 0;
    for (const ElementSpan& e : elements) placed += piece_of(e) != pieces.size();
    // Too many: the band is cut into as many slots as there may be bars, and
    // the elements that start in one slot, or overlap the bar before, join.
    const bool join = placed > budget;
    const std::size_t slots = budget > pieces.size() + 1 ? budget - pieces.size() - 1 : 1;
    const double slot_width = kWidth / static_cast<double>(slots);
    std::vector<Bar> bars;
    std::size_t last_piece = pieces.size();
    long slot = -1;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t index = order.Index(k);
        const ElementSpan& e = elements[index];
        const std::size_t piece = piece_of(e);
        if (piece == pieces.size()) continue;
        const double x0 = XOf(pieces[piece], e.address);
        const double x1 = XOf(pieces[piece], e.End());
        const long here = static_cast<long>((x0 - kLeft) / slot_width);
        if (join && !bars.empty() && piece == last_piece && (here == slot || x0 < bars.back().x1)) {
            Bar& bar = bars.back();
            bar.end = std::max(bar.end, e.End());
            bar.bytes += e.size;
            ++bar.elements;
            bar.x1 = std::max(bar.x1, x1);
        } else {
            bars.push_back({e.address, e.End(), e.size, 1, index, x0, x1});
            last_piece = piece;
        }
        slot = here;
    }
    return bars;
}

class Svg {
public:
    void Add(const std::string& text) { out_ += text; }
    std::string& text() { return out_; }

private:
    std::string out_;
};

// The figures of a band without a layout.
std::string SpanFigures(const ReportTarget& target) {
    uint64_t bytes = 0, low = UINT64_MAX, high = 0;
    for (const ElementSpan& e : target.elements) {
        bytes += e.size;
        if (e.size == 0) continue;
        low = std::min<uint64_t>(low, e.address);
        high = std::max(high, e.End());
    }
    std::string text = Count(target.elements.size(), "element") + ", " + Bytes(bytes);
    if (low < high) text += " from " + Hex(low) + " to " + Hex(high - 1);
    return text;
}

// The ranges of a target without a layout: its span, cut where a hole is
// more than a tenth of it.
std::vector<std::pair<uint64_t, uint64_t>> SpanRanges(const ReportTarget& target, const AddressOrder& order) {
    const std::vector<ElementSpan>& elements = target.elements;
    uint64_t low = UINT64_MAX, high = 0;
    for (const ElementSpan& e : elements) {
        if (e.size == 0) continue;
        low = std::min<uint64_t>(low, e.address);
        high = std::max(high, std::min<uint64_t>(e.End(), uint64_t{1} << 32));
    }
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    if (low >= high) return ranges;
    const uint64_t hole = (high - low) / 10;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const ElementSpan& e = elements[order.Index(k)];
        if (e.size == 0) continue;
        const uint64_t end = std::min<uint64_t>(e.End(), uint64_t{1} << 32);
        if (!ranges.empty() && e.address <= ranges.back().second + hole) {
            ranges.back().second = std::max(ranges.back().second, end);
        } else {
            ranges.emplace_back(e.address, end);
        }
    }
    return ranges;
}

const char* kStyle =
    "<style>text{font-family:sans-serif;font-size:12px;fill:#222}.name{font-size:14px;font-weight:bold}"
    ".small{font-size:10px;fill:#555}.full{fill:#2e7d32}.partial{fill:#f9a825}.untouched{fill:#e0e0e0}"
    ".readonly{fill:#90a4ae}.bar{fill:#1565c0}.span{fill:#eceff1}.cell{stroke:#fff;stroke-width:0.5}</style>\n";

}  // namespace

std::string MemoryMapSvg(const InfoReport& report, const std::string& name) {
    const std::size_t bands = report.targets.size();
    const double height = kTop + kBandHeight * static_cast<double>(std::max<std::size_t>(bands, 1)) + 10;
    Svg svg;
    svg.Add(Format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%.0f\" viewBox=\"0 0 %d %.0f\">\n",
                   int(kLeft * 2 + kWidth), height, int(kLeft * 2 + kWidth), height));
    svg.Add("<title>" + Xml("memory map of " + name) + "</title>\n");
    svg.Add(kStyle);
    svg.Add("<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n");
    svg.Add(Format("<text class=\"name\" x=\"%.0f\" y=\"24\">", kLeft) + Xml(name) + "</text>\n");
    // The legend.
    const std::pair<const char*, const char*> legend[] = {{"full", "written in full"},
                                                          {"partial", "written in part (the rest is erased)"},
                                                          {"untouched", "untouched"},
                                                          {"readonly", "not writeable"},
                                                          {"bar", "element"}};
    double x = kLeft;
    for (const auto& [cls, words] : legend) {
        svg.Add(Format("<rect class=\"%s\" x=\"%.0f\" y=\"40\" width=\"14\" height=\"14\"/>", cls, x));
        svg.Add(Format("<text x=\"%.0f\" y=\"52\">%s</text>\n", x + 20, words));
        x += 40 + 6.5 * static_cast<double>(std::strlen(words));
    }

    // What is left of the budget, shared by the bands: a cell or a bar is
    // a rect and its title.
    const std::size_t fixed = kFixedElements + kPerBand * bands + kMaxLabels;
    const std::size_t items = kMaxSvgElements > fixed ? (kMaxSvgElements - fixed) / 2 : 0;
    const std::size_t per_band = std::max<std::size_t>(2, items / std::max<std::size_t>(bands, 1));
    std::size_t labels_left = kMaxLabels;

    for (std::size_t t = 0; t < bands; ++t) {
        const ReportTarget& target = report.targets[t];
        const LayoutVerdict* verdict =
            t < report.verdicts.size() && report.verdicts[t].layout != nullptr ? &report.verdicts[t] : nullptr;
        const double top = kTop + kBandHeight * static_cast<double>(t);
        std::string title = layout::TargetLabel(t, target.alternate);
        if (verdict)
            title = layout::TrimmedName(*verdict->layout) + " (" + title + ")";
        else if (target.named)
            title += ", \"" + target.name + "\"";
        svg.Add(Format("<g data-target=\"%llu\">\n", static_cast<unsigned long long>(t)));
        svg.Add(Format("<text class=\"name\" x=\"%.0f\" y=\"%.0f\">", kLeft, top) + Xml(title) + "</text>\n");
        svg.Add(Format("<text x=\"%.0f\" y=\"%.0f\">", kLeft, top + 16) +
                Xml(verdict ? UsageLine(*verdict) : SpanFigures(target)) + "</text>\n");
        const double cells_top = top + 24;
        const double bars_top = cells_top + kCellHeight + 6;

        const AddressOrder order(target.elements);
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        if (verdict) {
            for (const layout::Segment& s : verdict->layout->segments) {
                if (s.page_size != 0 && s.page_count != 0) ranges.emplace_back(s.start, s.End());
            }
            std::sort(ranges.begin(), ranges.end());
        } else {
            ranges = SpanRanges(target, order);
        }
        const std::vector<Piece> pieces = LayOut(ranges);
        for (std::size_t p = 0; p + 1 < pieces.size(); ++p) {
            // A break: two short slanted strokes between the pieces.
            const double bx = pieces[p].x1 + kBreak / 2;
            svg.Add(Format("<path d=\"M%.1f %.1fl-4 %.0fM%.1f %.1fl-4 %.0f\" stroke=\"#666\" fill=\"none\"/>\n", bx + 2,
                           cells_top - 2, kCellHeight + 4, bx + 6, cells_top - 2, kCellHeight + 4));
        }
        // Breaks and the backgrounds of pieces cost one element each.
        const std::size_t available = per_band > pieces.size() + 2 ? per_band - pieces.size() : 2;
        const std::size_t cell_budget = verdict ? available / 2 : 0;
        if (verdict) {
            for (const Cell& cell : Cells(verdict->usage.runs, pieces, cell_budget)) {
                const std::size_t p = PieceOf(pieces, cell.address);
                if (p == pieces.size()) continue;
                const double x0 = XOf(pieces[p], cell.address);
                const double x1 = XOf(pieces[p], cell.end);
                std::string what;
                if (cell.pages == 1)
                    what = Format("page of %u bytes", unsigned{cell.page_size});
                else if (cell.page_size != 0)
                    what = Count(cell.pages, "page") + Format(" of %u bytes", unsigned{cell.page_size});
                else
                    what = Count(cell.pages, "page") + ", " + Bytes(cell.end - cell.address);
                const std::string state =
                    cell.mixed ? std::string("pages of several states, drawn as ") + StateWord(cell.state)
                    : cell.state == PageState::kPartial && !cell.erasable ? "written in part"
                                                                          : StateWords(cell.state);
                // A thin cell goes without its white outline, which would hide its colour.
                svg.Add(
                    Format("<rect class=\"%s%s\" x=\"%.2f\" y=\"%.0f\" width=\"%.2f\" height=\"%.0f\" "
                           "data-address=\"%s\" data-state=\"%s\"",
                           x1 - x0 >= 3 ? "cell " : "", StateWord(cell.state), x0, cells_top, std::max(x1 - x0, 0.1),
                           kCellHeight, Hex(cell.address).c_str(), StateWord(cell.state)));
                if (cell.pages != 1)
                    svg.Add(Format(" data-pages=\"%llu\"", static_cast<unsigned long long>(cell.pages)));
                svg.Add("><title>" + Hex(cell.address) + "-" + Hex(cell.end - 1) + ": " + what + ", " + state +
                        "</title></rect>\n");
            }
        } else {
            for (const Piece& piece : pieces) {
                svg.Add(Format("<rect class=\"span\" x=\"%.2f\" y=\"%.0f\" width=\"%.2f\" height=\"%.0f\"/>\n",
                               piece.x0, cells_top, piece.x1 - piece.x0, kCellHeight));
            }
        }
        const std::vector<Bar> bars = Bars(target.elements, order, pieces, available - cell_budget);
        double label_end[2] = {0, 0};  // two rows of labels, the second where the first is taken
        std::size_t band_labels = 0;
        for (const Bar& bar : bars) {
            const double width = std::max(bar.x1 - bar.x0, 1.5);
            const double y = verdict ? bars_top : cells_top + (kCellHeight - kBarHeight) / 2;
            svg.Add(Format(
                "<rect class=\"bar\" x=\"%.2f\" y=\"%.0f\" width=\"%.2f\" height=\"%.0f\" data-address=\"%s\" "
                "data-size=\"%llu\"",
                bar.x0, y, width, kBarHeight, Hex(bar.address).c_str(), static_cast<unsigned long long>(bar.bytes)));
            std::string what = Format("element %llu: ", static_cast<unsigned long long>(bar.index));
            if (bar.elements != 1) {
                svg.Add(Format(" data-elements=\"%llu\"", static_cast<unsigned long long>(bar.elements)));
                what = Count(bar.elements, "element") + " close together: ";
            }
            svg.Add("><title>" + what + Hex(bar.address) + (bar.end > bar.address ? "-" + Hex(bar.end - 1) : "") +
                    ", " + Bytes(bar.bytes) + "</title></rect>\n");
            // Its start and size below it, where there is room.
            const std::string label = Hex(bar.address) + ", " + Bytes(bar.bytes);
            const double label_width = 5.6 * static_cast<double>(label.size());
            const double label_x = std::min(bar.x0, kLeft + kWidth - label_width);
            const int row = label_x >= label_end[0] ? 0 : label_x >= label_end[1] ? 1 : -1;
            if (labels_left > 0 && band_labels < 40 && row >= 0) {
                svg.Add(Format("<text class=\"small\" x=\"%.2f\" y=\"%.0f\">", label_x,
                               bars_top + kBarHeight + 14 + 13 * row) +
                        label + "</text>\n");
                label_end[row] = label_x + label_width + 6;
                --labels_left;
                ++band_labels;
            }
        }
        svg.Add("</g>\n");
    }
    svg.Add("</svg>\n");
    return std::move(svg.text());
}

bool WriteMemoryMap(const std::string& path, const std::string& svg) {
    TextOutput output(path.c_str());
    if (!output.IsOpen()) return false;
    for (std::size_t at = 0; at < svg.size(); at += TextOutput::kMaxLine) {
        const std::size_t length = std::min(TextOutput::kMaxLine, svg.size() - at);
        output.Line([&](char* out) {
            std::memcpy(out, svg.data() + at, length);
            return length;
        });
    }
    return output.Close();
}
