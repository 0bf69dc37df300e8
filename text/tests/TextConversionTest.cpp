// Code page 936 at the window boundary, and UTF-8 for files and the ledger,
// as the system's own tables under this Windows (or Wine) convert them.
#include <gtest/gtest.h>

#include <string>

#include "text/TextConversion.h"

namespace {

std::wstring Shown(const std::string& bytes)
{
    const CWideString text = Cp936ToWide(bytes.data(), bytes.size());
    return std::wstring(text.GetString(), text.GetLength());
}

// Whether `typed` has exact bytes, and those bytes. The text starts out
// non-empty, so a refusal must empty it.
bool Encode(const std::wstring& typed, std::string& bytes)
{
    CString converted("left over");
    const bool exact = WideToCp936(CWideString(typed.data(), typed.size()), converted);
    bytes = converted.Bytes();
    return exact;
}

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::wstring shown;
};
// Failures and test lists name the case, not its bytes.
void PrintTo(const DecodeCase& row, std::ostream* os) { *os << row.name; }

class Cp936ToWideTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(Cp936ToWideTest, ShowsValidCharactersAndReplacesTheRest)
{
    EXPECT_EQ(Shown(GetParam().bytes), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, Cp936ToWideTest,
    testing::Values(DecodeCase{"Empty", "", L""},
                    DecodeCase{"Ascii", "VN2400", L"VN2400"},
                    DecodeCase{"DoubleByte", "\xD6\xD0\xCE\xC4", L"\u4E2D\u6587"},
                    DecodeCase{"EuroSign", "\x80", L"\u20AC"},
                    DecodeCase{"InvalidByteKeepsItsNeighbours", "A\xFF" "B", L"A\uFFFD" L"B"},
                    DecodeCase{"InvalidByteBetweenDoubleBytes", "\xD6\xD0\xFF\xCE\xC4", L"\u4E2D\uFFFD\u6587"},
                    DecodeCase{"LeadByteAtTheEnd", "AB\xD6", L"AB\uFFFD"},
                    DecodeCase{"LeadByteWithoutTrailKeepsTheNextByte", "\x81 ", L"\uFFFD "},
                    DecodeCase{"LeadByteBefore7F", "\x81\x7F", L"\uFFFD\x7F"},
                    DecodeCase{"LineFeedPassesThrough", "0213\n", L"0213\n"}),
    [](const testing::TestParamInfo<DecodeCase>& test) { return std::string(test.param.name); });

struct EncodeCase {
    const char* name;
    std::wstring typed;
    bool exact;
    std::string bytes;
};
void PrintTo(const EncodeCase& row, std::ostream* os) { *os << row.name; }

class WideToCp936Test : public testing::TestWithParam<EncodeCase> {};

TEST_P(WideToCp936Test, GivesExactBytesOrNone)
{
    std::string bytes;
    EXPECT_EQ(Encode(GetParam().typed, bytes), GetParam().exact);
    EXPECT_EQ(bytes, GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WideToCp936Test,
    testing::Values(EncodeCase{"Empty", L"", true, ""},
                    EncodeCase{"TwoDigits", L"17", true, "17"},
                    EncodeCase{"DoubleByte", L"\u4E2D", true, "\xD6\xD0"},
                    EncodeCase{"FullWidthPunctuation", L"\uFF01", true, "\xA3\xA1"},
                    EncodeCase{"EuroSign", L"\u20AC", true, "\x80"},
                    EncodeCase{"Emoji", L"\U0001F600", false, ""},
                    EncodeCase{"EmojiAfterAsciiRefusesAll", L"A\U0001F600", false, ""},
                    EncodeCase{"BestFitLookAlike", L"\u00C0", false, ""},
                    EncodeCase{"ReplacementCharacter", L"\uFFFD", false, ""},
                    EncodeCase{"LoneSurrogate", std::wstring(1, wchar_t(0xD83D)), false, ""},
                    EncodeCase{"QuestionMarkItself", L"?", true, "?"}),
    [](const testing::TestParamInfo<EncodeCase>& test) { return std::string(test.param.name); });

// UTF-8 both ways, where a text has an exact form; what has none becomes
// U+FFFD, rather than vanishing or stopping the output.
enum class Way { Both, ToUtf8, ToWide };
struct Utf8Case {
    const char* name;
    std::wstring wide;
    std::string utf8;
    Way way;
};
void PrintTo(const Utf8Case& row, std::ostream* os) { *os << row.name; }

class Utf8Test : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Test, ConvertsOrMarks)
{
    const Utf8Case& row = GetParam();
    if (row.way != Way::ToWide) {
        EXPECT_EQ(WideToUtf8(CWideString(row.wide.data(), row.wide.size())).Bytes(), row.utf8);
    }
    if (row.way != Way::ToUtf8) {
        const CWideString wide = Utf8ToWide(CString(row.utf8.data(), row.utf8.size()));
        EXPECT_EQ(std::wstring(wide.GetString(), wide.GetLength()), row.wide);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Utf8Test,
    testing::Values(Utf8Case{"Empty", L"", "", Way::Both},
                    Utf8Case{"Ascii", L"VN2400", "VN2400", Way::Both},
                    Utf8Case{"Chinese", L"\u4E2D\u6587", "\xE4\xB8\xAD\xE6\x96\x87", Way::Both},
                    Utf8Case{"SurrogatePair", L"\U0001F600", "\xF0\x9F\x98\x80", Way::Both},
                    Utf8Case{"UnpairedSurrogate", std::wstring(L"A") + wchar_t(0xD83D), "A\xEF\xBF\xBD", Way::ToUtf8},
                    Utf8Case{"NotUtf8", L"A\uFFFD", "A\xFF", Way::ToWide}),
    [](const testing::TestParamInfo<Utf8Case>& test) { return std::string(test.param.name); });

// What the window shows for two record bytes must come back as those very
// bytes, or not at all: a suffix shown and written back unchanged is never
// silently altered.
TEST(Cp936RoundTrip, EveryDoubleBytePairComesBackOrIsMarked)
{
    int shownWhole = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            const std::wstring shown = Shown(pair);
            if (shown.find(L'\uFFFD') != std::wstring::npos)
                continue;
            ++shownWhole;
            std::string back;
            ASSERT_TRUE(Encode(shown, back)) << std::hex << lead << ' ' << trail;
            ASSERT_EQ(back, pair) << std::hex << lead << ' ' << trail;
        }
    }
    EXPECT_GT(shownWhole, 20000);  // GBK has about 21 900 double-byte characters
}

}  // namespace
