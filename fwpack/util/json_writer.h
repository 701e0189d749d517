// A JSON document written piece by piece into a string, two spaces an
// indent: objects, arrays, strings, unsigned numbers, true, false and null.
// Output only, and small on purpose: the listing needs no more, and the
// Windows build no further library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class JsonWriter {
public:
    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    // The name of the next member of the object being written.
    void Key(const std::string& name);

    // Bytes that are not UTF-8 become U+FFFD; quotes, backslashes and
    // control characters are escaped.
    void String(const std::string& text);
    void Number(uint64_t value);
    void Bool(bool value);
    void Null();

    // The document, with a line end after it.
    std::string Take();

private:
    void Open(char bracket);
    void Close(char bracket);
    void BeforeValue();
    void Indent();

    std::string out_;
    std::vector<bool> has_members_;  // per open object or array
    bool after_key_ = false;
};

// `text` as a JSON string with its quotes.
std::string JsonString(const std::string& text);
