// The JSON writer: layout of members and elements, and the escaping of strings.
#include "util/json_writer.h"

#include "util/text_format.h"

namespace {

// The length of the UTF-8 sequence at `p` (with `left` bytes), or 0 when it
// is not one: an overlong form, a surrogate and code points above U+10FFFF
// are not.
std::size_t Utf8Length(const unsigned char* p, std::size_t left) {
    const unsigned char c = p[0];
    std::size_t length = 0;
    uint32_t code = 0;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        code = c & 0x07;
    } else {
        return 0;
    }
    if (left < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF))) return 0;
    if (code >= 0xD800 && code <= 0xDFFF) return 0;
    return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size;) {
        const unsigned char c = p[i];
        const std::size_t length = Utf8Length(p + i, size - i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD
            ++i;
            continue;
        }
        if (length > 1) {
            out.append(text, i, length);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20) {
            out += Format("\\u%04x", unsigned{c});
        } else {
            out += static_cast<char>(c);
        }
        i += length;
    }
    return out + "\"";
}

void JsonWriter::Indent() {
    out_ += '\n';
    out_.append(2 * has_members_.size(), ' ');
}

void JsonWriter::BeforeValue() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (has_members_.empty()) return;
    if (has_members_.back()) out_ += ',';
    has_members_.back() = true;
    Indent();
}

void JsonWriter::Key(const std::string& name) {
    BeforeValue();
    out_ += JsonString(name) + ": ";
    after_key_ = true;
}

void JsonWriter::Open(char bracket) {
    BeforeValue();
    out_ += bracket;
    has_members_.push_back(false);
}

void JsonWriter::Close(char bracket) {
    const bool had_members = has_members_.back();
    has_members_.pop_back();
    if (had_members) Indent();
    out_ += bracket;
}

void JsonWriter::String(const std::string& text) {
    BeforeValue();
    out_ += JsonString(text);
}

void JsonWriter::Number(uint64_t value) {
    BeforeValue();
    out_ += std::to_string(value);
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    out_ += value ? "true" : "false";
}

void JsonWriter::Null() {
    BeforeValue();
    out_ += "null";
}

std::string JsonWriter::Take() {
    out_ += '\n';
    return std::move(out_);
}
