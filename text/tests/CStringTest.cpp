// The byte string and the buffer behind both strings: what they own, and
// where their texts end.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <utility>

#include "text/CString.h"
#include "text/TextBuffer.h"

namespace {

TEST(CStringFormat, ZeroByteEndsTheText)
{
    CString s;
    s.Format("%c", 0);
    EXPECT_TRUE(s.IsEmpty());
    s.Format("%c", 0xB0);
    EXPECT_EQ(s.GetLength(), 1);
    EXPECT_EQ(s.GetAt(0), 0xB0);
    s.Format("%s-%d", "long text that needs more than a small buffer, many bytes long indeed", 42);
    EXPECT_EQ(s.Bytes(), "long text that needs more than a small buffer, many bytes long indeed-42");
}

// The string owns its bytes: copies, moves and joins each leave both sides
// whole, also when a string is joined to or assigned from itself.
TEST(CStringBytes, CopiesMovesAndJoins)
{
    CString a("ab");
    CString copy = a;
    copy += "cd";
    EXPECT_EQ(a.Bytes(), "ab");
    EXPECT_EQ(copy.Bytes(), "abcd");

    CString moved = std::move(copy);
    EXPECT_EQ(moved.Bytes(), "abcd");
    copy = "reused";  // a moved-from string takes a new text
    EXPECT_EQ(copy.Bytes(), "reused");

    moved += moved;
    EXPECT_EQ(moved.Bytes(), "abcdabcd");
    CString& same = moved;
    moved = same;
    EXPECT_EQ(moved.Bytes(), "abcdabcd");

    const CString withZero("A\0B", 3);  // a zero byte given by length stays
    EXPECT_EQ(withZero.GetLength(), 3);
    EXPECT_EQ(withZero + withZero, CString("A\0BA\0B", 6));
    EXPECT_NE(withZero, CString("A"));

    moved.Empty();
    EXPECT_TRUE(moved.IsEmpty());
    EXPECT_STREQ(moved.GetString(), "");
    EXPECT_STREQ(CString(nullptr).GetString(), "");
    EXPECT_EQ(a.GetAt(2), 0);  // outside the text
    EXPECT_EQ(a.GetAt(3), 0);  // and past its ending zero
    EXPECT_EQ(a.GetAt(-1), 0);
}

// The text ends where its length says, for C strings and the window calls:
// after a join, a format, a buffer filled to its size and a cut.
TEST(TextBufferEnd, IsWhereTheLengthSays)
{
    const CString joined = CString("ab") + CString("cd");
    EXPECT_EQ(std::strlen(joined.GetString()), 4u);
    CString formatted;
    formatted.Format("%s", "a text longer than any small buffer, to be sure it is a fresh allocation");
    EXPECT_EQ(std::strlen(formatted.GetString()), size_t(formatted.GetLength()));

    TextBuffer<wchar_t> filled;
    wchar_t* room = filled.Resize(3);
    room[0] = room[1] = room[2] = L'x';
    EXPECT_EQ(std::wcslen(filled.Text()), 3u);

    const struct {
        size_t cutTo;
        const wchar_t* left;
    } cuts[] = {{2, L"ab"}, {5, L"abcde"}, {6, L"abcdef"}, {9, L"abcdef"}, {0, L""}};
    for (const auto& cut : cuts) {
        TextBuffer<wchar_t> text(L"abcdef", 6);
        text.Truncate(cut.cutTo);
        EXPECT_EQ(text.Length(), std::wcslen(cut.left)) << cut.cutTo;
        EXPECT_STREQ(text.Text(), cut.left) << cut.cutTo;
    }
}

}  // namespace
