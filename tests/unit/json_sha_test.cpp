// Tests of the JSON writer (escapes, bytes that are not UTF-8, the document's
// layout) and of SHA-256 against the standard's published test vectors.
#include <gtest/gtest.h>

#include <string>

#include "util/json_writer.h"
#include "util/sha256.h"

namespace {

TEST(JsonString, EscapesWhatJsonNeedsAndReplacesWhatIsNotUtf8) {
    const std::string kReplacement = "\xEF\xBF\xBD";
    const struct {
        std::string text;
        std::string json;
    } cases[] = {
        {"plain", "\"plain\""},
        {"a\"b\\c/", "\"a\\\"b\\\\c/\""},
        {"\n\r\t\x01\x1F\x7F", "\"\\n\\r\\t\\u0001\\u001f\x7F\""},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
        {"a\xFF"
         "b",
         "\"a" + kReplacement + "b\""},
        {"\xC3", "\"" + kReplacement + "\""},                                                           // cut short
        {"\xC0\xAF", "\"" + kReplacement + kReplacement + "\""},                                        // overlong
        {"\xE0\x80\xAF", "\"" + kReplacement + kReplacement + kReplacement + "\""},                     // overlong
        {"\xED\xA0\x80", "\"" + kReplacement + kReplacement + kReplacement + "\""},                     // a surrogate
        {"\xF4\x90\x80\x80", "\"" + kReplacement + kReplacement + kReplacement + kReplacement + "\""},  // > U+10FFFF
        {std::string("a\0b", 3), "\"a\\u0000b\""},
    };
    for (const auto& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.text;
}

TEST(JsonWriter, IndentsMembersAndKeepsEmptyContainersOnOneLine) {
    JsonWriter json;
    json.BeginObject();
    json.Key("n");
    json.Number(4294967296);
    json.Key("list");
    json.BeginArray();
    json.Bool(true);
    json.Null();
    json.BeginObject();
    json.EndObject();
    json.EndArray();
    json.Key("empty");
    json.BeginArray();
    json.EndArray();
    json.EndObject();
    EXPECT_EQ(json.Take(),
              "{\n  \"n\": 4294967296,\n  \"list\": [\n    true,\n    null,\n    {}\n  ],\n  \"empty\": []\n}\n");
}

std::string Sha256Of(const std::string& text, std::size_t piece) {
    Sha256 sha;
    for (std::size_t at = 0; at < text.size(); at += piece) {
        sha.Update(reinterpret_cast<const uint8_t*>(text.data()) + at, std::min(piece, text.size() - at));
    }
    return sha.FinishHex();
}

TEST(Sha256, GivesThePublishedDigestsFedInAnyPieces) {
    const struct {
        std::string text;
        const char* digest;
    } vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
         "nopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& v : vectors) {
        for (std::size_t piece :
             {std::size_t{1}, std::size_t{55}, std::size_t{64}, std::size_t{65}, std::size_t{4096}}) {
            if (v.text.size() > 100000 && piece < 64) continue;
            EXPECT_EQ(Sha256Of(v.text, piece), v.digest) << v.text.substr(0, 20) << " in pieces of " << piece;
        }
    }
}

}  // namespace
