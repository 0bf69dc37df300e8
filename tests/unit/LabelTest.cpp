// Label templates: what a printer is sent for each, byte for byte, and the
// templates and values that are refused before anything is sent.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "label/Template.h"

namespace {

LabelValues Values(const std::string& serial = "VN240001", const std::string& product = "Virtual CAN")
{
    LabelValues values;
    const std::string texts[kLabelFieldCount] = {serial, "VN240017", "V2.0", "V2.13", "0x0000", "2", product,
                                                 "2026-12-10T10:00:00Z", "LINE-1", "7"};
    for (size_t i = 0; i < kLabelFieldCount; ++i)
        values.text[i] = CString(texts[i].data(), texts[i].size());
    return values;
}

struct FillCase {
    const char* name;
    std::string zplTemplate;
    LabelValues values;
    std::string sent;     // the filled label; empty: refused
    std::string problem = {};  // the start of why, when refused
    bool parses = true;   // false: refused before any value is known
};

const std::string kZhong = "\xE4\xB8\xAD";  // 中 in UTF-8

const FillCase kFills[] = {
    {"every placeholder",
     "^XA^FO0,0^FD${serial} ${old_serial} ${hardware} ${firmware} ${reserved} ${channels} ${product} ${time} "
     "${station} ${ledger_line} $$5^FS^XZ",
     Values(),
     "^XA^FO0,0^FDVN240001 VN240017 V2.0 V2.13 0x0000 2 Virtual CAN 2026-12-10T10:00:00Z LINE-1 7 $5^FS^XZ"},
    {"a byte order mark is not sent", "\xEF\xBB\xBF^XA^FD${serial}^FS^XZ\r\n", Values(), "^XA^FDVN240001^FS^XZ\r\n"},
    {"the rest is sent as it is, also bytes past ASCII and formats the printer keeps",
     "^XA^XFE:LABEL.ZPL^FN1^FD${serial}^FS^FX \xE7\xBA\xBF 3^FS^XZ\r\n", Values(),
     "^XA^XFE:LABEL.ZPL^FN1^FDVN240001^FS^FX \xE7\xBA\xBF 3^FS^XZ\r\n"},
    {"prefixes, controls and the indicator as hex escapes under ^FH", "^XA^FH^FD${product}^FS^XZ",
     Values("VN240001", "A^B~C_D\nE\x7F"), "^XA^FH^FD" "A_5EB_7EC_5FD_0AE_7F^FS^XZ"},
    {"^FH with an indicator of its own", "^XA^FH\\^FD${product}^FS^XZ", Values("VN240001", "A^B_C\\D"),
     "^XA^FH\\^FD" "A\\5EB_C\\5CD^FS^XZ"},
    {"^FH lasts to its field's ^FS", "^XA^FH^FD${serial}^FS^FO9,9^FD${product}^FS^XZ",
     Values("VN240001", "A^B"), "", "line 1, column 31: ${product} is \"A^B\", which holds ^: the printer would "
                                     "take it for a command. Give the field ^FH"},
    {"a prefix in a field without ^FH", "^XA\r\n^FO10,10^FD${product}^FS^XZ", Values("VN240001", "A~B"), "",
     "line 2, column 12: ${product} is \"A~B\", which holds ~"},
    {"a control character outside field data", "^XA^PQ${product}^XZ", Values("VN240001", "1\r\n"), "",
     "line 1, column 7: ${product} is \"1??\", which holds a control character (0x0D): the printer would take it "
     "for a command. Put the placeholder in a field's data"},
    {"a prefix ^CC made", "^XA^CC+\r\n+FO9,9+FD${product}+FS+XZ", Values("VN240001", "1+2"), "",
     "line 2, column 10: ${product} is \"1+2\", which holds +"},
    {"a code page 936 suffix with ^CI28", "^XA^CI28^FH^FD${serial}^FS^BQN,2,4^FDQA,${serial}^FS^XZ",
     Values("VN2400" + kZhong), "^XA^CI28^FH^FDVN2400" + kZhong + "^FS^BQN,2,4^FDQA,VN2400" + kZhong + "^FS^XZ"},
    {"a code page 936 suffix without ^CI28", "^XA^FD${serial}^FS^XZ", Values("VN2400" + kZhong), "",
     "line 1, column 7: ${serial} is \"VN2400" + kZhong + "\", which is not ASCII: a printer reads it as UTF-8 only "
     "after ^CI28"},
    {"^CI28 taken back by ^CI0 before the value", "^XA^CI28^FD${station}^FS^CI0^FD${serial}^FS^XZ",
     Values("VN2400" + kZhong), "", "line 1, column 32: ${serial} is"},
    {"an unknown placeholder, after characters past ASCII",
     "^XA\r\n^FD" "\xE4\xB8\xAD\xE6\x96\x87" "${colour}^FS^XZ", Values(), "",
     "line 2, column 6: unknown placeholder ${\"colour\"}; the placeholders are ${serial}, ${old_serial}", false},
    {"a placeholder not closed on its line", "^XA^FD${serial\r\n}^FS^XZ", Values(), "",
     "line 1, column 7: the placeholder is not closed", false},
    {"a placeholder not closed at the end", "\xEF\xBB\xBF^FD${ser", Values(), "",
     "line 1, column 4: the placeholder is not closed", false},
    {"a $ that begins no placeholder", "^XA^FD$5.00^FS^XZ", Values(), "", "line 1, column 7: a $ that begins no",
     false},
    {"no ^XA: an empty file, or no label", "", Values(), "", "line 1, column 1: there is no ^XA in it", false},
    {"a placeholder in a command's name", "^XA^F${serial}^FS^XZ", Values(), "",
     "line 1, column 6: a $ inside a command's name", false},
    {"$ made a prefix", "^XA^CC$$FD${serial}$FS$XZ", Values(), "", "line 1, column 4: ^CC or ^CT makes $ a prefix",
     false},
    {"lines that end in CR alone", "^XA\r^FD\r${colour}^FS^XZ", Values(), "", "line 3, column 1: unknown", false},
};

TEST(LabelTemplate, FillsOrRefuses)
{
    for (const FillCase& c : kFills) {
        SCOPED_TRACE(c.name);
        LabelTemplate label;
        const bool parsed = label.Parse(c.zplTemplate.data(), c.zplTemplate.size());
        EXPECT_EQ(parsed, c.parses) << label.Problem().Bytes();
        if (!parsed) {
            EXPECT_EQ(label.Problem().Bytes().substr(0, c.problem.size()), c.problem);
            continue;
        }
        CString zpl("left over");
        const bool filled = label.Fill(c.values, zpl);
        EXPECT_EQ(zpl.Bytes(), c.sent);
        EXPECT_EQ(filled, !c.sent.empty());
        if (!filled) {
            EXPECT_EQ(label.Problem().Bytes().substr(0, c.problem.size()), c.problem);
        }
    }
}

// The example the zips carry takes any adapter's values: a serial in Chinese,
// a product name with the label language's prefixes in it. Natively, where
// the sources are.
#ifdef VARNOCK_EXAMPLE_LABEL
TEST(LabelTemplate, TheZipsExampleTakesAnyValues)
{
    std::ifstream file(VARNOCK_EXAMPLE_LABEL, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    const std::string text = bytes.str();
    LabelTemplate label;
    ASSERT_TRUE(label.Parse(text.data(), text.size())) << label.Problem().Bytes();
    CString zpl;
    ASSERT_TRUE(label.Fill(Values("VN2400" + kZhong, "CAN ^2~"), zpl)) << label.Problem().Bytes();
    const std::string sent = zpl.Bytes();
    for (const std::string& part : {"^FH^FDVN2400" + kZhong + "^FS", "^FH^FDQA,VN2400" + kZhong + "^FS",
                                    std::string("^FH^FDCAN _5E2_7E^FS"), std::string("^FH^FDHW V2.0   FW V2.13^FS")})
        EXPECT_NE(sent.find(part), std::string::npos) << part;
}
#endif

}  // namespace
