// The transcript comparison that the bench and Wine tiers rely on: what it lets through and what not.
#include <gtest/gtest.h>

#include <string>

#include "Transcript.h"

namespace {

TEST(Transcript, FieldsAcceptOnlyTheirGrammar) {
    const std::string step = "\b\b\b\b";
    struct Case {
        const char* name;
        std::string golden, text;
        bool matches;
    };
    const Case cases[] = {
        {"literal", "abc\n", "abc\n", true},
        {"literal differs", "abc\n", "abd\n", false},
        {"text goes on", "abc", "abcd", false},
        {"text ends early", "abcd", "abc", false},
        {"other braces are literal", "{x} {", "{x} {", true},
        {"digits", "t = {digits} s", "t = 95 s", true},
        {"no digits", "t = {digits} s", "t =  s", true},
        {"alternatives", "up to {3|5} min", "up to 5 min", true},
        {"none of the alternatives", "up to {3|5} min", "up to 4 min", false},
        {"progress", "{progress}.", step + "00%|" + step + "40%/" + step + "100%-.", true},
        {"progress must reach 100", "{progress}.", step + "00%|" + step + "99%/.", false},
        {"progress never falls", "{progress}", step + "50%|" + step + "40%/" + step + "100%-", false},
        {"spinner keeps its order", "{progress}", step + "00%|" + step + "100%-", false},
        {"no bell unless beeping", "{progress}",
         step + "00%|" + step + "00%/" + step + "00%-" + step + "00%\\\a" + step + "100%|", false},
        {"bell after every fourth backslash", "{progress+beep}",
         [&] {
             std::string t;
             for (int i = 0; i < 16; ++i)
                 t += step + "10%" + "|/-\\"[i % 4] + (i == 15 ? "\a" : "");
             return t + step + "100%|";
         }(),
         true},
        {"bell missing", "{progress+beep}",
         [&] {
             std::string t;
             for (int i = 0; i < 16; ++i)
                 t += step + "10%" + "|/-\\"[i % 4];
             return t + step + "100%|";
         }(),
         false},
        {"log progress", "{log-progress}  ", "    00%|    100%/  ", true},
        {"log progress with backspaces", "{log-progress}", step + "100%|", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string mismatch = testsupport::TranscriptMismatch(c.golden, c.text);
        EXPECT_EQ(mismatch.empty(), c.matches) << mismatch;
    }
}

TEST(Transcript, MismatchNamesThePlaceWithEscapes) {
    EXPECT_EQ(testsupport::TranscriptMismatch("ab\bc", "ab\bd"),
              "the text differs at byte 3 of the text (3 of the golden form)\n"
              "  text:   ...\"ab\\x08d\"\n"
              "  golden: ...\"ab\\x08c\"\n");
}

} // namespace
