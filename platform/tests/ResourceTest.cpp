// Varnock.exe's resources as compiled, read from the executable beside this
// test program: the resource compiler has its own ideas about default styles,
// so the templates are checked as the dialog manager will see them.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "VarnockVersion.h"
#include "ui/resource.h"

namespace {

constexpr WORD kChinesePrc = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

HMODULE Program()
{
    static HMODULE module = [] {
        wchar_t path[MAX_PATH];
        const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring file(path, length);
        file.erase(file.find_last_of(L"\\/") + 1);
        file += L"Varnock.exe";
        return LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }();
    return module;
}

std::vector<uint8_t> Resource(const wchar_t* type, const wchar_t* name, WORD language = kChinesePrc)
{
    HRSRC found = FindResourceExW(Program(), type, name, language);
    if (found == nullptr)
        return {};
    const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(Program(), found)));
    return {bytes, bytes + SizeofResource(Program(), found)};
}

std::wstring FromUtf8(const char* text)
{
    wchar_t wide[256] = {};
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 256);
    return wide;
}

// Reads a dialog template, plain or extended, field by field.
class TemplateReader {
public:
    explicit TemplateReader(const std::vector<uint8_t>& bytes) : m_bytes(bytes) {}

    template <typename T>
    T Read()
    {
        T value{};
        if (m_at + sizeof(T) <= m_bytes.size())
            std::memcpy(&value, m_bytes.data() + m_at, sizeof(T));
        m_at += sizeof(T);
        return value;
    }
    std::wstring String()
    {
        std::wstring text;
        for (wchar_t c; (c = static_cast<wchar_t>(Read<uint16_t>())) != 0 && m_at <= m_bytes.size();)
            text += c;
        return text;
    }
    // A name or a number; numbers come back as "#n".
    std::wstring NameOrNumber()
    {
        const size_t start = m_at;
        if (Read<uint16_t>() != 0xFFFF) {
            m_at = start;
            return String();
        }
        return L"#" + std::to_wstring(Read<uint16_t>());
    }
    // A control's class, by name or by its predefined number, in lower case.
    std::wstring ClassName()
    {
        std::wstring name = NameOrNumber();
        if (name == L"#128")
            return L"button";
        if (name == L"#129")
            return L"edit";
        if (name == L"#130")
            return L"static";
        for (auto& c : name)
            c = static_cast<wchar_t>(towlower(c));
        return name;
    }
    void AlignTo4() { m_at = (m_at + 3) & ~size_t{3}; }

private:
    const std::vector<uint8_t>& m_bytes;
    size_t m_at = 0;
};

struct Item {
    int id;
    std::wstring kind;
    std::wstring text;
    short x, y, cx, cy;
    DWORD style;
};

struct Template {
    bool extended = false;
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu, windowClass, caption, face;
    WORD pointSize = 0, weight = 0;
    BYTE italic = 0, charset = 0;
    std::vector<Item> items;
};

Template ParseTemplate(const std::vector<uint8_t>& bytes)
{
    TemplateReader in(bytes);
    Template t;
    const uint16_t version = in.Read<uint16_t>();
    const uint16_t signature = in.Read<uint16_t>();
    t.extended = version == 1 && signature == 0xFFFF;
    WORD count;
    if (t.extended) {
        in.Read<DWORD>();  // help id
        t.exStyle = in.Read<DWORD>();
        t.style = in.Read<DWORD>();
    } else {
        t.style = version | DWORD{signature} << 16;
        t.exStyle = in.Read<DWORD>();
    }
    count = in.Read<WORD>();
    t.x = in.Read<short>();
    t.y = in.Read<short>();
    t.cx = in.Read<short>();
    t.cy = in.Read<short>();
    t.menu = in.NameOrNumber();
    t.windowClass = in.NameOrNumber();
    t.caption = in.String();
    if (t.style & DS_SETFONT) {
        t.pointSize = in.Read<WORD>();
        if (t.extended) {
            t.weight = in.Read<WORD>();
            t.italic = in.Read<BYTE>();
            t.charset = in.Read<BYTE>();
        }
        t.face = in.String();
    }
    for (WORD i = 0; i < count; ++i) {
        in.AlignTo4();
        Item item{};
        if (t.extended) {
            in.Read<DWORD>();  // help id
            in.Read<DWORD>();  // extended style
            item.style = in.Read<DWORD>();
        } else {
            item.style = in.Read<DWORD>();
            in.Read<DWORD>();
        }
        item.x = in.Read<short>();
        item.y = in.Read<short>();
        item.cx = in.Read<short>();
        item.cy = in.Read<short>();
        item.id = t.extended ? in.Read<int32_t>() : in.Read<int16_t>();
        item.kind = in.ClassName();
        item.text = in.NameOrNumber();
        const WORD extra = in.Read<WORD>();
        for (WORD skip = 0; skip < extra; ++skip)
            in.Read<uint8_t>();
        t.items.push_back(item);
    }
    return t;
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kButton = kChild | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kLabel = kChild | WS_GROUP | SS_LEFT;
constexpr DWORD kShownField = kChild | WS_DISABLED | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
constexpr DWORD kTypedField = kChild | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;

void ExpectItems(const std::vector<Item>& actual, const std::vector<Item>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(i));
        EXPECT_EQ(actual[i].id, expected[i].id);
        EXPECT_EQ(actual[i].kind, expected[i].kind);
        EXPECT_EQ(actual[i].text, expected[i].text);
        EXPECT_EQ(actual[i].x, expected[i].x);
        EXPECT_EQ(actual[i].y, expected[i].y);
        EXPECT_EQ(actual[i].cx, expected[i].cx);
        EXPECT_EQ(actual[i].cy, expected[i].cy);
        EXPECT_EQ(actual[i].style, expected[i].style) << std::hex << actual[i].style << " vs " << expected[i].style;
    }
}

TEST(ResourceTest, ProgramIsThere)
{
    ASSERT_NE(Program(), nullptr) << "Varnock.exe beside the test program";
}

TEST(ResourceTest, MainDialogTemplate)
{
    const Template t = ParseTemplate(Resource(RT_DIALOG, MAKEINTRESOURCEW(IDD_MAIN)));
    EXPECT_TRUE(t.extended);
    EXPECT_EQ(t.style, DWORD(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(t.exStyle, DWORD(WS_EX_APPWINDOW));
    EXPECT_EQ(std::vector<short>({t.x, t.y, t.cx, t.cy}), std::vector<short>({0, 0, 385, 100}));
    EXPECT_EQ(t.menu, L"");
    EXPECT_EQ(t.windowClass, L"");
    EXPECT_EQ(t.caption, L"Varnock");
    EXPECT_EQ(t.pointSize, 9);
    EXPECT_EQ(t.weight, 0);
    EXPECT_EQ(t.italic, 0);
    EXPECT_EQ(t.charset, DEFAULT_CHARSET);
    EXPECT_EQ(t.face, L"宋体");
    ExpectItems(t.items, {
        {IDCANCEL, L"button", L"退出", 179, 12, 50, 14, kButton},
        {IDC_STATIC, L"button", L"设备信息", 13, 29, 359, 56, kChild | BS_GROUPBOX},
        {IDC_STATIC, L"static", L"硬件版本：", 16, 47, 40, 8, kLabel},
        {IDC_STATIC, L"static", L"固件版本：", 108, 47, 43, 8, kLabel},
        {IDC_STATIC, L"static", L"保留值：", 202, 47, 33, 8, kLabel},
        {IDC_STATIC, L"static", L"CAN通道数：", 288, 47, 45, 8, kLabel},
        {IDC_STATIC, L"static", L"序列号：", 23, 67, 33, 8, kLabel},
        {IDC_STATIC, L"static", L"产品名称：", 202, 65, 41, 8, kLabel},
        {IDC_FIRMWARE_VERSION, L"edit", L"", 160, 41, 32, 13, kShownField},
        {IDC_RESERVED_VALUE, L"edit", L"", 246, 41, 32, 13, kShownField},
        {IDC_CHANNEL_COUNT, L"edit", L"", 333, 41, 32, 13, kShownField},
        {IDC_SERIAL_NUMBER, L"edit", L"", 66, 65, 95, 13, kShownField},
        {IDC_PRODUCT_NAME, L"edit", L"", 250, 63, 117, 13, kShownField},
        {IDC_HARDWARE_VERSION, L"edit", L"", 66, 41, 32, 13, kShownField},
        {IDC_SERIAL_SUFFIX, L"edit", L"", 168, 65, 23, 13, kTypedField},
        {IDC_OPEN, L"button", L"打开", 18, 12, 50, 14, kButton},
        {IDC_WRITE, L"button", L"写参数", 95, 12, 50, 14, kButton},
    });
}

TEST(ResourceTest, AboutBoxTemplate)
{
    const Template t = ParseTemplate(Resource(RT_DIALOG, MAKEINTRESOURCEW(IDD_ABOUT)));
    EXPECT_FALSE(t.extended);
    EXPECT_EQ(t.style, DWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(std::vector<short>({t.x, t.y, t.cx, t.cy}), std::vector<short>({0, 0, 235, 55}));
    EXPECT_EQ(t.caption, L"关于 Varnock");
    EXPECT_EQ(t.pointSize, 9);
    EXPECT_EQ(t.face, L"宋体");
    ASSERT_EQ(t.items.size(), 4u);
    // The legal notice line is ours to word; everything else is fixed.
    std::vector<Item> expected = {
        {IDC_STATIC, L"static", L"#128", 11, 17, 20, 20, kChild | SS_ICON},
        {IDC_STATIC, L"static", L"Varnock 1.0 版", 40, 10, 119, 8, kLabel | SS_NOPREFIX},
        {IDC_STATIC, L"static", t.items[2].text, 40, 25, 119, 8, kLabel},
        {IDOK, L"button", L"确定", 178, 7, 50, 14, kChild | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON},
    };
    ExpectItems(t.items, expected);
    EXPECT_EQ(t.items[2].text, FromUtf8(VARNOCK_COPYRIGHT));
}

// A callback of the system's calling convention, which a lambda is not on i686.
BOOL CALLBACK CountResource(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count)
{
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST(ResourceTest, OneStringTheAboutItem)
{
    wchar_t text[64] = {};
    EXPECT_EQ(LoadStringW(Program(), IDS_ABOUT_ITEM, text, 64), 17);
    EXPECT_STREQ(text, L"关于 Varnock(&A)...");

    // The table holds strings in blocks of 16; 101 is the only one there is.
    const std::vector<uint8_t> block = Resource(RT_STRING, MAKEINTRESOURCEW(IDS_ABOUT_ITEM / 16 + 1));
    ASSERT_FALSE(block.empty());
    TemplateReader in(block);
    for (int i = 0; i < 16; ++i) {
        const WORD length = in.Read<WORD>();
        EXPECT_EQ(length != 0, i == IDS_ABOUT_ITEM % 16) << i;
        for (WORD c = 0; c < length; ++c)
            in.Read<WORD>();
    }
    int blocks = 0;
    EnumResourceNamesW(Program(), RT_STRING, CountResource, reinterpret_cast<LONG_PTR>(&blocks));
    EXPECT_EQ(blocks, 1);
}

TEST(ResourceTest, IconGroupHasBothSizesInSixteenColours)
{
    const std::vector<uint8_t> group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APP));
    ASSERT_GE(group.size(), 6u + 2 * 14u);
    TemplateReader in(group);
    in.Read<WORD>();
    EXPECT_EQ(in.Read<WORD>(), 1);  // icons
    ASSERT_EQ(in.Read<WORD>(), 2);
    std::vector<int> sizes;
    for (int i = 0; i < 2; ++i) {
        const BYTE width = in.Read<BYTE>();
        const BYTE height = in.Read<BYTE>();
        const BYTE colours = in.Read<BYTE>();
        in.Read<BYTE>();
        in.Read<WORD>();  // planes
        const WORD bits = in.Read<WORD>();
        in.Read<DWORD>();
        in.Read<WORD>();
        EXPECT_EQ(width, height);
        EXPECT_EQ(colours, 16);
        EXPECT_EQ(bits, 4);
        sizes.push_back(width);
    }
    EXPECT_EQ(sizes, std::vector<int>({32, 16}));
}

std::wstring VersionString(const std::vector<uint8_t>& info, const wchar_t* name)
{
    wchar_t* value = nullptr;
    UINT length = 0;
    std::wstring path = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
    if (!VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
        return L"<missing>";
    return length > 0 && value != nullptr ? std::wstring(value) : std::wstring();
}

TEST(ResourceTest, VersionRecord)
{
    // VerQueryValueW wants the record in writable memory of its own.
    std::vector<uint8_t> info = Resource(RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO));
    ASSERT_FALSE(info.empty());
    info.resize(info.size() * 2);

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    // The version is the build's (cmake/Version.cmake): the record's numbers
    // and its two texts, the numbers with ", " between them, tell the same one.
    const DWORD versionMS = MAKELONG(VARNOCK_VERSION_MINOR, VARNOCK_VERSION_MAJOR);
    const DWORD versionLS = MAKELONG(VARNOCK_VERSION_TWEAK, VARNOCK_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, versionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, versionLS);
    EXPECT_EQ(fixed->dwProductVersionMS, versionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, versionLS);
    EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, DWORD(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 1200);

    const std::wstring versionText = std::to_wstring(VARNOCK_VERSION_MAJOR) + L", " +
                                     std::to_wstring(VARNOCK_VERSION_MINOR) + L", " +
                                     std::to_wstring(VARNOCK_VERSION_PATCH) + L", " +
                                     std::to_wstring(VARNOCK_VERSION_TWEAK);
    EXPECT_EQ(VersionString(info, L"FileVersion"), versionText);
    EXPECT_EQ(VersionString(info, L"ProductVersion"), versionText);
    EXPECT_EQ(VersionString(info, L"LegalCopyright"), FromUtf8(VARNOCK_COPYRIGHT));
    EXPECT_EQ(VersionString(info, L"InternalName"), L"Varnock");
    EXPECT_EQ(VersionString(info, L"ProductName"), L"Varnock 应用程序");
    EXPECT_EQ(VersionString(info, L"OriginalFilename"), L"Varnock.EXE");
    EXPECT_EQ(VersionString(info, L"CompanyName"), L"");
    EXPECT_EQ(VersionString(info, L"LegalTrademarks"), L"");
}

TEST(ResourceTest, ManifestAsksForCommonControlsSixAndPerMonitorDpi)
{
    const std::vector<uint8_t> manifest =
        Resource(RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID);
    const std::string text(manifest.begin(), manifest.end());
    EXPECT_NE(text.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(text.find(">PerMonitorV2"), std::string::npos);
    EXPECT_NE(text.find(">true/pm<"), std::string::npos);
}

}  // namespace
