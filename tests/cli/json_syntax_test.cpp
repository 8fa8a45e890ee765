// SPDX-License-Identifier: MIT
// The syntax check the event reader asks before the JSON parser: it must take every object
// the parser takes (or events would be lost) and nothing the parser refuses (the fuzz target
// checks that direction on arbitrary lines too).
#include "cli/json_syntax.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace {

std::string nested(int depth)
{
    std::string text = "{\"a\":";
    for (int i = 1; i < depth; ++i) text += '[';
    text += '1';
    for (int i = 1; i < depth; ++i) text += ']';
    return text + '}';
}

}  // namespace

TEST(JsonSyntax, AgreesWithTheParserOnObjects)
{
    const std::vector<std::string> taken = {
        R"({})",
        R"( { "event" : "blockWritten" , "block" : 12 , "acknowledged" : true } )",
        "{\"a\":\t\r\n[1,-0,0.5,-12.25e+3,1E-2,true,false,null,{},[],\"\"]}",
        R"({"event":"identified","entry":{"model":"VX-58","version":"2.14"},"blocks":512})",
        R"({"a":"\" \\ \/ \b \f \n \r \t \u0000 \u00e9 \ud83d\ude00"})",
        "{\"a\":\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xED\x9F\xBF \xF4\x8F\xBF\xBF\"}",
        R"({"a":1,"a":2})",
        R"({"a":123456789012345678901234567890})",
        R"({"a":1e308,"b":1e-400,"c":0.0000e999,"d":1.7976931348623157e308})",
        nested(500),
    };
    for (const std::string& text : taken) {
        ASSERT_TRUE(nlohmann::json::accept(text)) << text;   // the case itself is sound
        EXPECT_TRUE(isOneJsonObject(text)) << text;
    }

    const std::vector<std::string> refused = {
        R"({)", R"(})", R"({"a":1)", R"({"a":1}})", R"({"a":1}{})", R"({"a":1,})", R"({,"a":1})",
        R"({"a"})", R"({"a"::1})", R"({a:1})", R"({'a':1})", R"({"a":[1,]})", R"({"a":[1 2]})",
        R"({"a":[}])", R"({"a":{]})", R"({"a":tru})", R"({"a":True})", R"({"a":nul})",
        R"({"a":01})", R"({"a":-})", R"({"a":1.})", R"({"a":.5})", R"({"a":1e})", R"({"a":1e+})",
        R"({"a":+1})", R"({"a":0x10})", R"({"a":NaN})", R"({"a":1e309})", R"({"a":-5e9186})",
        R"({"a":"open})", R"({"a":"\x"})", R"({"a":"\u12"})", R"({"a":"\u12G4"})",
        R"({"a":"\ud83d"})", R"({"a":"\ud83d\u0041"})", R"({"a":"\ude00"})",
        "{\"a\":\"tab\there\"}", "{\"a\":\"\x01\"}",
        "{\"a\":\"\xC0\xAF\"}", "{\"a\":\"\xE0\x80\xAF\"}", "{\"a\":\"\xED\xA0\x80\"}",
        "{\"a\":\"\xF4\x90\x80\x80\"}", "{\"a\":\"\xF5\x80\x80\x80\"}", "{\"a\":\"\x80\"}",
        "{\"a\":\"\xC3\"}", "{\"a\":\"\xE2\x82\"}", "{\"a\":1}\x01",
        "[1,2]", "\"text\"", "12", "", " ",
    };
    for (const std::string& text : refused) {
        ASSERT_FALSE(nlohmann::json::accept(text) && text.front() == '{') << text;
        EXPECT_FALSE(isOneJsonObject(text)) << text;
    }
}

TEST(JsonSyntax, IsStricterThanTheParserOnlyAboutWhatEndsTheText)
{
    // The parser stops at a NUL byte as at the text's end; the check wants nothing after the
    // object but whitespace, so an event line with a NUL and more behind it is turned away.
    const std::string text("{\"event\":\"checksum\"}\0junk}", 26);
    EXPECT_TRUE(nlohmann::json::accept(text));
    EXPECT_FALSE(isOneJsonObject(text));
}

TEST(JsonSyntax, DepthIsBounded)
{
    EXPECT_TRUE(isOneJsonObject(nested(kMaxJsonDepth)));
    EXPECT_FALSE(isOneJsonObject(nested(kMaxJsonDepth + 1)));
}
