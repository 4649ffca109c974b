// UTF-16/UTF-8 conversion and the ANSI code page.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/textconv.h"

namespace {

struct Utf8Case {
    const char* name;
    std::string utf8;
    std::u16string utf16;
};

TEST(TextConv, RoundTripsWellFormedText) {
    const std::vector<Utf8Case> cases = {
        {"empty", "", u""},
        {"ascii", "Hello", u"Hello"},
        {"two-byte", "caf\xC3\xA9", u"caf\u00E9"},
        {"three-byte", "\xEA\xB0\x80\xE2\x82\xAC", u"\uAC00\u20AC"},
        {"four-byte", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"replacement char itself", "\xEF\xBF\xBD", u"\uFFFD"},
        {"embedded nul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FromUtf8(c.utf8), c.utf16);
        EXPECT_EQ(ToUtf8(c.utf16), c.utf8);
    }
}

TEST(TextConv, MalformedUtf8BecomesOneReplacementPerMaximalSubpart) {
    const std::vector<Utf8Case> cases = {
        {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"overlong three-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"truncated at end", "ab\xE2\x82", u"ab\uFFFD"},
        {"truncated before ascii",
         "\xE2\x82"
         "A",
         u"\uFFFDA"},
        {"lone continuation", "\x80x", u"\uFFFDx"},
        {"invalid lead", "\xFF\xFE", u"\uFFFD\uFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FromUtf8(c.utf8), c.utf16);
    }
}

TEST(TextConv, LoneSurrogatesBecomeReplacement) {
    EXPECT_EQ(ToUtf8(std::u16string{u'a', char16_t(0xD800), u'b'}),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(ToUtf8(std::u16string{char16_t(0xDC00)}), "\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf8(std::u16string{char16_t(0xD83D)}), "\xEF\xBF\xBD");  // high surrogate at end
}

// Each test sets the code page it needs and leaves the process's as it was.
class CodePage : public ::testing::Test {
protected:
    void SetUp() override { m_saved = AnsiCodePage(); }
    void TearDown() override { SetAnsiCodePage(m_saved); }

private:
    std::string m_saved;
};

struct WideCase {
    const char* name;
    const char* codePage;
    std::u16string text;
    std::size_t outSize;
    std::string expected;  // bytes written, without the terminator
};

TEST_F(CodePage, WideToAnsi) {
    const std::vector<WideCase> cases = {
        {"plain ascii", "CP1252", u"Hello", 260, "Hello"},
        {"latin-1 letter", "CP1252", u"caf\u00E9", 260, "caf\xE9"},
        {"euro sign", "CP1252", u"\u20AC", 260, "\x80"},
        {"cjk without mapping", "CP1252", u"a\u4E2Db", 260, "a#b"},
        {"pair without mapping is one #", "CP1252", u"x\U0001F600y", 260, "x#y"},
        {"lone surrogate", "CP1252", std::u16string{u'a', char16_t(0xDC01), u'b'}, 260, "a#b"},
        {"c1 control has no mapping", "CP1252", u"\u0081", 260, "#"},
        {"cut at byte limit", "CP1252", u"abcdef", 4, "abc"},
        {"exact fit", "CP1252", u"abc", 4, "abc"},
        {"empty", "CP1252", u"", 8, ""},
        {"outSize 1 holds only the terminator", "CP1252", u"abc", 1, ""},
        {"stops at nul", "CP1252", std::u16string(u"ab\0cd", 5), 260, "ab"},
        {"hangul in cp949", "CP949", u"\uAC00\uB098", 260, "\xB0\xA1\xB3\xAA"},
        {"double-byte char not split", "CP949", u"a\uAC00", 3, "a"},
        {"kanji in shift_jis", "SHIFT_JIS", u"\u65E5\u672C", 260, "\x93\xFA\x96\x7B"},
        {"shift_jis half-width katakana", "SHIFT_JIS", u"\uFF71", 260, "\xB1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(SetAnsiCodePage(c.codePage));
        // One guard byte past outSize shows that nothing beyond it is touched.
        std::vector<char> out(c.outSize + 1, '\x55');
        const std::size_t n = WideToAnsi(c.text, out.data(), c.outSize);
        EXPECT_EQ(std::string(out.data(), n), c.expected);
        for (std::size_t i = n; i < c.outSize; ++i) {
            EXPECT_EQ(out[i], '\0') << "byte " << i;
        }
        EXPECT_EQ(out[c.outSize], '\x55');
    }
}

TEST_F(CodePage, WideToAnsiWithNoRoomWritesNothing) {
    char sentinel = 'x';
    EXPECT_EQ(WideToAnsi(u"abc", &sentinel, 0), 0u);
    EXPECT_EQ(sentinel, 'x');
    EXPECT_EQ(WideToAnsi(u"abc", nullptr, 0), 0u);
}

// A 260-byte field filled from text of double-byte characters, with 0..3
// single-byte characters in front so the limit falls on both halves.
TEST_F(CodePage, DoubleByteTextCutAt259BytesNeverSplitsACharacter) {
    for (const char* codePage : {"CP949", "SHIFT_JIS"}) {
        ASSERT_TRUE(SetAnsiCodePage(codePage));
        const char16_t wide = std::string(codePage) == "CP949" ? u'\uAC00' : u'\u65E5';
        for (std::size_t prefix = 0; prefix < 4; ++prefix) {
            SCOPED_TRACE(std::string(codePage) + " prefix " + std::to_string(prefix));
            const std::u16string text = std::u16string(prefix, u'a') + std::u16string(200, wide);
            char field[260];
            const std::size_t n = WideToAnsi(text, field, sizeof field);
            EXPECT_EQ(n, prefix + 2 * ((259 - prefix) / 2));
            EXPECT_EQ(field[259], '\0');
            EXPECT_EQ(field[n], '\0');
            const std::u16string back = AnsiToWide(field, sizeof field);
            EXPECT_EQ(back, text.substr(0, prefix + (259 - prefix) / 2));
        }
    }
}

struct AnsiCase {
    const char* name;
    const char* codePage;
    std::string bytes;  // exactly maxBytes long
    std::u16string expected;
};

TEST_F(CodePage, AnsiToWide) {
    const std::vector<AnsiCase> cases = {
        {"ascii", "CP1252", "Hello", u"Hello"},
        {"latin-1", "CP1252", "caf\xE9", u"caf\u00E9"},
        {"undefined byte", "CP1252",
         "a\x81"
         "b",
         u"a\uFFFDb"},
        {"stops at nul", "CP1252", std::string("ab\0cd", 5), u"ab"},
        {"hangul", "CP949", "\xB0\xA1\xB3\xAA", u"\uAC00\uB098"},
        {"lead byte cut off at the end", "CP949", "a\xB0", u"a\uFFFD"},
        {"lead byte cut off by nul", "CP949", std::string("a\xB0\0\xA1", 4), u"a\uFFFD"},
        {"kanji", "SHIFT_JIS", "\x93\xFA\x96\x7B", u"\u65E5\u672C"},
        {"invalid shift_jis byte", "SHIFT_JIS",
         "\xFF"
         "a",
         u"\uFFFDa"},
        {"empty", "CP1252", "", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(SetAnsiCodePage(c.codePage));
        // A heap copy of exactly maxBytes, so a read past the end is caught
        // by the address sanitiser.
        std::vector<char> bytes(c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(AnsiToWide(bytes.data(), bytes.size()), c.expected);
    }
}

TEST_F(CodePage, AnsiToWideNeverReadsPastMaxBytes) {
    ASSERT_TRUE(SetAnsiCodePage("CP1252"));
    std::vector<char> bytes = {'a', 'b', 'c'};  // no terminator
    EXPECT_EQ(AnsiToWide(bytes.data(), 2), u"ab");
    EXPECT_EQ(AnsiToWide(bytes.data(), 3), u"abc");
    EXPECT_EQ(AnsiToWide(nullptr, 0), u"");
}

TEST_F(CodePage, UnknownNameKeepsTheCurrentCodePage) {
    ASSERT_TRUE(SetAnsiCodePage("CP949"));
    EXPECT_FALSE(SetAnsiCodePage("NO-SUCH-CHARSET-42"));
    EXPECT_FALSE(SetAnsiCodePage(""));
    EXPECT_EQ(AnsiCodePage(), "CP949");
}

}  // namespace
