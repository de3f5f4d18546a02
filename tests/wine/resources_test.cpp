// nbmonitor.exe's resources as the system reads them: the exe is loaded as a data file and
// every template, menu, icon, string, the version record and the manifest are checked, and
// nbctl.exe's version record beside it.
//   nbwine_resources.exe [PATH\nbmonitor.exe] [test names...]
#include "platform/win32/windows_support.h"


#include <cstring>
#include <string>
#include <vector>

#include "nbmonitor_version.h"
#include "resources/resource.h"
#include "wine_test.h"

using namespace nb;

namespace {

std::wstring g_exePath;
HMODULE g_module = nullptr;
// An exe named on the command line is the program as shipped, 32-bit, whatever this test
// program was built for; by default the test checks its own build's nbmonitor.exe.
bool g_shipped = false;

bool BuiltLikeThisTest() {
#ifdef _WIN64
    return !g_shipped;
#else
    return true;
#endif
}

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

bool Load() {
    if (g_module != nullptr) return true;
    if (g_exePath.empty()) {
        // Default: the build folder's nbmonitor.exe, two levels above tests/wine.
        wchar_t self[MAX_PATH];
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring p = self;
        for (int i = 0; i < 3; ++i) p = p.substr(0, p.find_last_of(L'\\'));
        g_exePath = p + L"\\nbmonitor.exe";
    }
    g_module = ::LoadLibraryExW(g_exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (g_module == nullptr)
        skip("cannot load %s as a data file, error %lu\n", wt::Esc(g_exePath).c_str(),
             ::GetLastError());
    return g_module != nullptr;
}

std::string Resource(LPCWSTR type, LPCWSTR name, WORD* language = nullptr) {
    HRSRC res = ::FindResourceW(g_module, name, type);
    if (res == nullptr) return std::string();
    HGLOBAL mem = ::LoadResource(g_module, res);
    const char* data = static_cast<const char*>(::LockResource(mem));
    DWORD size = ::SizeofResource(g_module, res);
    if (language != nullptr) {
        *language = 0;
        for (WORD lang : {kJapanese, WORD(0), WORD(0x409)})
            if (::FindResourceExW(g_module, type, name, lang) == res) *language = lang;
    }
    return data != nullptr ? std::string(data, size) : std::string();
}

// --- dialog template reader ----------------------------------------------------------

struct Item {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::wstring cls;  // "#130" for an ordinal class
    std::wstring text; // "#128" for an ordinal text
};

struct Template {
    bool extended = false;
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu, cls, caption, font;
    WORD pointSize = 0, weight = 0;
    BYTE italic = 0, charset = 0;
    std::vector<Item> items;
};

class Reader {
public:
    explicit Reader(const std::string& data) : m_data(data) {}
    WORD Word() {
        WORD w = 0;
        if (m_pos + 2 <= m_data.size()) std::memcpy(&w, m_data.data() + m_pos, 2);
        m_pos += 2;
        return w;
    }
    DWORD Dword() {
        DWORD lo = Word();
        return lo | (static_cast<DWORD>(Word()) << 16);
    }
    BYTE Byte() { return m_pos < m_data.size() ? static_cast<BYTE>(m_data[m_pos++]) : 0; }
    std::wstring Text() {
        std::wstring s;
        for (WORD w = Word(); w != 0 && m_pos <= m_data.size(); w = Word()) s.push_back(w);
        return s;
    }
    // A name or an ordinal: 0xFFFF then the ordinal as "#n"; 0 alone is empty.
    std::wstring NameOrOrdinal() {
        WORD first = Word();
        if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
        if (first == 0) return std::wstring();
        std::wstring s(1, static_cast<wchar_t>(first));
        return s + Text();
    }
    void AlignDword() { m_pos = (m_pos + 3) & ~std::size_t(3); }
    bool Ok() const { return m_pos <= m_data.size(); }

private:
    const std::string& m_data;
    std::size_t m_pos = 0;
};

Template ParseTemplate(const std::string& data) {
    Template t;
    Reader r(data);
    WORD items = 0;
    if (data.size() >= 4 && Reader(data).Dword() == 0xFFFF0001) {
        t.extended = true;
        r.Dword();  // dlgVer, signature
        r.Dword();  // helpID
        t.exStyle = r.Dword();
        t.style = r.Dword();
    } else {
        t.style = r.Dword();
        t.exStyle = r.Dword();
    }
    items = r.Word();
    t.x = r.Word();
    t.y = r.Word();
    t.cx = r.Word();
    t.cy = r.Word();
    t.menu = r.NameOrOrdinal();
    t.cls = r.NameOrOrdinal();
    t.caption = r.Text();
    if (t.style & (DS_SETFONT | DS_SHELLFONT)) {
        t.pointSize = r.Word();
        if (t.extended) {
            t.weight = r.Word();
            t.italic = r.Byte();
            t.charset = r.Byte();
        }
        t.font = r.Text();
    }
    for (WORD i = 0; i < items && r.Ok(); ++i) {
        r.AlignDword();
        Item it;
        if (t.extended) {
            r.Dword();  // helpID
            it.exStyle = r.Dword();
            it.style = r.Dword();
        } else {
            it.style = r.Dword();
            it.exStyle = r.Dword();
        }
        it.x = r.Word();
        it.y = r.Word();
        it.cx = r.Word();
        it.cy = r.Word();
        it.id = t.extended ? r.Dword() : r.Word();
        it.cls = r.NameOrOrdinal();
        it.text = r.NameOrOrdinal();
        WORD extra = r.Word();
        for (WORD k = 0; k < extra; ++k) r.Byte();
        t.items.push_back(it);
    }
    return t;
}

Template LoadTemplate(int id, WORD* language) {
    return ParseTemplate(Resource(RT_DIALOG, MAKEINTRESOURCEW(id), language));
}

struct ExpectedItem {
    DWORD id;
    const wchar_t* cls;
    const wchar_t* text;
    DWORD style;
    short x, y, cx, cy;
};

void CheckItems(int dialogId, const Template& t, const ExpectedItem* want, std::size_t count) {
    ok(t.items.size() == count, "dialog %d: %u controls expected, got %u\n", dialogId,
       unsigned(count), unsigned(t.items.size()));
    for (std::size_t i = 0; i < count && i < t.items.size(); ++i) {
        const Item& got = t.items[i];
        const ExpectedItem& w = want[i];
        ok(got.id == w.id, "dialog %d item %u: id %lu expected, got %lu\n", dialogId, unsigned(i),
           w.id, got.id);
        ok(got.cls == w.cls, "dialog %d item %u: class %s expected, got %s\n", dialogId,
           unsigned(i), wt::Esc(w.cls).c_str(), wt::Esc(got.cls).c_str());
        ok(got.text == w.text, "dialog %d item %u: text %s expected, got %s\n", dialogId,
           unsigned(i), wt::Esc(w.text).c_str(), wt::Esc(got.text).c_str());
        ok(got.style == w.style, "dialog %d item %u: style %#lx expected, got %#lx\n", dialogId,
           unsigned(i), w.style, got.style);
        ok(got.x == w.x && got.y == w.y && got.cx == w.cx && got.cy == w.cy,
           "dialog %d item %u: %d,%d %dx%d expected, got %d,%d %dx%d\n", dialogId, unsigned(i),
           w.x, w.y, w.cx, w.cy, got.x, got.y, got.cx, got.cy);
    }
}

void CheckFrame(int id, const Template& t, bool extended, DWORD style, DWORD exStyle, short cx,
                short cy, const wchar_t* caption, WORD points, const wchar_t* font) {
    ok(t.extended == extended, "dialog %d: extended template %d expected, got %d\n", id,
       extended, t.extended);
    ok(t.style == style, "dialog %d: style %#lx expected, got %#lx\n", id, style, t.style);
    ok(t.exStyle == exStyle, "dialog %d: extended style %#lx expected, got %#lx\n", id, exStyle,
       t.exStyle);
    ok(t.x == 0 && t.y == 0 && t.cx == cx && t.cy == cy,
       "dialog %d: 0,0 %dx%d expected, got %d,%d %dx%d\n", id, cx, cy, t.x, t.y, t.cx, t.cy);
    ok(t.caption == caption, "dialog %d: caption %s expected, got %s\n", id,
       wt::Esc(caption).c_str(), wt::Esc(t.caption).c_str());
    ok(t.pointSize == points && t.font == font, "dialog %d: font %u %s expected, got %u %s\n",
       id, points, wt::Esc(font).c_str(), t.pointSize, wt::Esc(t.font).c_str());
    ok(t.menu.empty() && t.cls.empty(), "dialog %d: no menu and no class expected, got %s %s\n",
       id, wt::Esc(t.menu).c_str(), wt::Esc(t.cls).c_str());
}

const wchar_t kCancel[] = L"\u30ad\u30e3\u30f3\u30bb\u30eb";  // キャンセル
const DWORD kChild = WS_CHILD | WS_VISIBLE;

}  // namespace

static bool ChildArgs(int argc, wchar_t** argv, int*) {
    // Not a child switch: the first argument may name the exe under test.
    if (argc > 1 && std::wcsstr(argv[1], L".exe") != nullptr) {
        g_exePath = argv[1];
        g_shipped = true;
    }
    return false;
}
static const int g_hookSet = (wt::SetChildHook(&ChildArgs), 0);

namespace {
struct Found {
    std::wstring type, name;
    WORD lang;
};
std::wstring Label(LPCWSTR s) {
    return IS_INTRESOURCE(s) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(s))
                             : std::wstring(s);
}
BOOL CALLBACK OnLanguage(HMODULE, LPCWSTR type, LPCWSTR name, WORD lang, LONG_PTR p) {
    reinterpret_cast<std::vector<Found>*>(p)->push_back({Label(type), Label(name), lang});
    return TRUE;
}
BOOL CALLBACK OnName(HMODULE m, LPCWSTR type, LPWSTR name, LONG_PTR p) {
    return ::EnumResourceLanguagesW(m, type, name, &OnLanguage, p);
}
BOOL CALLBACK OnType(HMODULE m, LPWSTR type, LONG_PTR p) {
    return ::EnumResourceNamesW(m, type, &OnName, p);
}
}  // namespace

START_TEST(inventory) {
    if (!Load()) return;
    // Every resource of the file, with its language: nothing missing, nothing extra.
    std::vector<Found> found;
    ::EnumResourceTypesW(g_module, &OnType, reinterpret_cast<LONG_PTR>(&found));

    const wchar_t* expected[][2] = {
        {L"#3", L"#1"},     {L"#3", L"#2"},     {L"#3", L"#3"},     {L"#4", L"#131"},
        {L"#5", L"#100"},   {L"#5", L"#102"},   {L"#5", L"#104"},   {L"#5", L"#132"},
        {L"#6", L"#7"},     {L"#14", L"#128"},  {L"#14", L"#129"},  {L"#14", L"#130"},
        {L"#16", L"#1"},    {L"#24", L"#1"},
    };
    ok(found.size() == sizeof expected / sizeof expected[0],
       "%u resources expected, got %u\n", unsigned(sizeof expected / sizeof expected[0]),
       unsigned(found.size()));
    for (const auto& e : expected) {
        bool present = false;
        for (const Found& f : found) present = present || (f.type == e[0] && f.name == e[1]);
        ok(present, "resource type %s name %s missing\n", wt::Esc(e[0]).c_str(),
           wt::Esc(e[1]).c_str());
    }
    for (const Found& f : found)
        ok(f.lang == kJapanese, "resource %s/%s: language %#x expected, got %#x\n",
           wt::Esc(f.type).c_str(), wt::Esc(f.name).c_str(), kJapanese, f.lang);
}

START_TEST(strings) {
    if (!Load()) return;
    struct {
        UINT id;
        const wchar_t* text;
    } cases[] = {
        {IDS_ABOUTBOX, L"\u60c5\u5831(&A)..."},  // 情報(&A)...
        // Windows ソケットの初期化に失敗しました。
        {IDS_SOCKETS_INIT_FAILED, L"Windows \u30bd\u30b1\u30c3\u30c8\u306e\u521d\u671f\u5316"
                                  L"\u306b\u5931\u6557\u3057\u307e\u3057\u305f\u3002"},
    };
    for (const auto& c : cases) {
        wchar_t buf[256] = {};
        int n = ::LoadStringW(g_module, c.id, buf, 256);
        ok(n == int(std::wcslen(c.text)) && std::wstring(buf) == c.text,
           "string %u: %s expected, got %d chars %s\n", c.id, wt::Esc(c.text).c_str(), n,
           wt::Esc(buf).c_str());
    }
    wchar_t buf[16] = {};
    ok(::LoadStringW(g_module, 102, buf, 16) == 0, "no string 102 expected, got %s\n",
       wt::Esc(buf).c_str());
}

START_TEST(about_template) {
    if (!Load()) return;
    WORD lang = 0;
    Template t = LoadTemplate(IDD_ABOUTBOX, &lang);
    CheckFrame(IDD_ABOUTBOX, t, false, 0x80C800C0, 0, 235, 63, L"\u60c5\u5831", 9,
               L"MS UI Gothic");
    const ExpectedItem items[] = {
        {0xFFFF, L"#130", L"#128", kChild | SS_ICON, 12, 12, 0, 0},
        {0xFFFF, L"#130", L"Nimbara", kChild | WS_GROUP | SS_LEFT | SS_NOPREFIX, 36, 18, 108, 8},
        {0xFFFF, L"#130", L"Copyright (C) 2026 Nimbara Project", kChild | WS_GROUP | SS_LEFT, 12,
         42, 156, 8},
        {IDOK, L"#128", L"OK", kChild | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 174, 6, 50, 16},
    };
    CheckItems(IDD_ABOUTBOX, t, items, 4);
}

START_TEST(host_template) {
    if (!Load()) return;
    WORD lang = 0;
    Template t = LoadTemplate(IDD_HOSTDLG, &lang);
    // No caption, no system menu, not visible; tool window plus app window.
    CheckFrame(IDD_HOSTDLG, t, false, 0x800000C0, 0x00040080, 319, 200, L"", 9,
               L"MS UI Gothic");
    ok(t.items.size() == 2, "2 controls expected, got %u\n", unsigned(t.items.size()));
    if (t.items.size() == 2) {
        ok(t.items[0].id == IDOK && t.items[0].text == L"OK" &&
               (t.items[0].style & 0xF) == BS_DEFPUSHBUTTON,
           "default OK button expected, got id %lu %s style %#lx\n", t.items[0].id,
           wt::Esc(t.items[0].text).c_str(), t.items[0].style);
        ok(t.items[1].id == IDCANCEL && t.items[1].text == kCancel,
           "Cancel button expected, got id %lu %s\n", t.items[1].id,
           wt::Esc(t.items[1].text).c_str());
    }
}

START_TEST(supervisor_template) {
    if (!Load()) return;
    WORD lang = 0;
    Template t = LoadTemplate(IDD_MAINDLG, &lang);
    // ダイアログ, font ＭＳ Ｐゴシック
    CheckFrame(IDD_MAINDLG, t, false, 0x80C800C0, 0, 186, 95, L"\u30c0\u30a4\u30a2\u30ed\u30b0",
               9, L"\uff2d\uff33 \uff30\u30b4\u30b7\u30c3\u30af");
    const ExpectedItem items[] = {
        {IDOK, L"#128", L"OK", kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 129, 7, 50, 16},
        {IDCANCEL, L"#128", kCancel, kChild | WS_TABSTOP | BS_PUSHBUTTON, 129, 26, 50, 16},
    };
    CheckItems(IDD_MAINDLG, t, items, 2);
}

START_TEST(restore_template) {
    if (!Load()) return;
    WORD lang = 0;
    Template t = LoadTemplate(IDD_RESTOREDLG, &lang);
    CheckFrame(IDD_RESTOREDLG, t, true,
               WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS, 0,
               191, 167, L"\u5fa9\u65e7", 8, L"MS Shell Dlg");
    ok(t.weight == 400 && t.italic == 0 && t.charset == 1,
       "weight 400, not italic, charset 1 expected, got %u %u %u\n", t.weight, t.italic,
       t.charset);
    const ExpectedItem items[] = {
        // バックアップファイル一覧
        {0xFFFFFFFF, L"#130",
         L"\u30d0\u30c3\u30af\u30a2\u30c3\u30d7\u30d5\u30a1\u30a4\u30eb\u4e00\u89a7",
         kChild | WS_GROUP | SS_LEFT, 17, 15, 129, 11},
        {IDC_BACKUP_LIST, L"SysListView32", L"",
         kChild | WS_BORDER | WS_TABSTOP | LVS_LIST | LVS_ALIGNLEFT, 15, 34, 159, 103},
        {IDOK, L"#128", L"\u5fa9\u65e7(&R)", kChild | WS_TABSTOP | BS_PUSHBUTTON, 14, 146, 50, 14},
        {IDC_DELETE, L"#128", L"\u524a\u9664(&D)", kChild | WS_TABSTOP | BS_PUSHBUTTON, 71, 146, 50,
         14},
        {IDCANCEL, L"#128", kCancel, kChild | WS_TABSTOP | BS_PUSHBUTTON, 125, 146, 50, 14},
    };
    // windres stores a class name it does not know in upper case; the system looks class
    // names up without regard to case, so that is all the comparison asks.
    if (t.items.size() > 1) {
        wchar_t cls[32] = {};
        lstrcpynW(cls, t.items[1].cls.c_str(), 32);
        if (::lstrcmpiW(cls, L"SysListView32") == 0) t.items[1].cls = L"SysListView32";
    }
    CheckItems(IDD_RESTOREDLG, t, items, 5);
}

START_TEST(dialogs_are_japanese) {
    if (!Load()) return;
    for (int id : {IDD_ABOUTBOX, IDD_HOSTDLG, IDD_MAINDLG, IDD_RESTOREDLG}) {
        HRSRC res = ::FindResourceExW(g_module, RT_DIALOG, MAKEINTRESOURCEW(id), kJapanese);
        ok(res != nullptr, "dialog %d: a Japanese template expected\n", id);
    }
}

START_TEST(tray_menu) {
    if (!Load()) return;
    HMENU menu = ::LoadMenuW(g_module, MAKEINTRESOURCEW(IDR_TRAYMENU));
    ok(menu != nullptr, "menu 131 expected, error %lu\n", ::GetLastError());
    if (menu == nullptr) return;
    ok(::GetMenuItemCount(menu) == 1, "one popup expected, got %d items\n",
       ::GetMenuItemCount(menu));
    wchar_t title[32] = L"x";
    int n = ::GetMenuStringW(menu, 0, title, 32, MF_BYPOSITION);
    ok(n == 0 && title[0] == 0, "untitled popup expected, got %s\n", wt::Esc(title).c_str());
    HMENU sub = ::GetSubMenu(menu, 0);
    ok(sub != nullptr, "submenu 0 expected\n");
    if (sub != nullptr) {
        ok(::GetMenuItemCount(sub) == 2, "2 items expected, got %d\n", ::GetMenuItemCount(sub));
        struct {
            UINT id;
            const wchar_t* text;
        } items[] = {{ID_TRAY_ABOUT, L"\u60c5\u5831(&A)..."}, {ID_TRAY_EXIT, L"\u7d42\u4e86(&X)"}};
        for (int i = 0; i < 2; ++i) {
            UINT id = ::GetMenuItemID(sub, i);
            wchar_t text[64] = {};
            ::GetMenuStringW(sub, i, text, 64, MF_BYPOSITION);
            UINT state = ::GetMenuState(sub, i, MF_BYPOSITION);
            ok(id == items[i].id, "item %d: id %u expected, got %u\n", i, items[i].id, id);
            ok(std::wstring(text) == items[i].text, "item %d: %s expected, got %s\n", i,
               wt::Esc(items[i].text).c_str(), wt::Esc(text).c_str());
            ok((state & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_SEPARATOR)) == 0,
               "item %d: a plain enabled item expected, state %#x\n", i, state);
        }
    }
    ::DestroyMenu(menu);
}

namespace {
#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

struct IconImage {
    BITMAPINFOHEADER header = {};
    std::string bits;  // palette, XOR and AND mask as stored
    std::string raw;
};

bool ReadIcon(int groupId, GroupEntry* entry, IconImage* image) {
    std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(groupId));
    ok(group.size() == 6 + sizeof(GroupEntry), "icon %d: one image expected, group of %u bytes\n",
       groupId, unsigned(group.size()));
    if (group.size() < 6 + sizeof(GroupEntry)) return false;
    WORD count = 0;
    std::memcpy(&count, group.data() + 4, 2);
    ok(count == 1, "icon %d: 1 image expected, got %u\n", groupId, count);
    std::memcpy(entry, group.data() + 6, sizeof *entry);
    image->raw = Resource(RT_ICON, MAKEINTRESOURCEW(entry->id));
    ok(image->raw.size() == entry->bytes, "icon %d: %lu bytes announced, %u stored\n", groupId,
       entry->bytes, unsigned(image->raw.size()));
    if (image->raw.size() < sizeof image->header) return false;
    std::memcpy(&image->header, image->raw.data(), sizeof image->header);
    image->bits = image->raw.substr(sizeof image->header);
    return true;
}

// Sum of red and blue over the opaque pixels.
void ColourBalance(const IconImage& img, long* red, long* blue) {
    *red = *blue = 0;
    const std::string& b = img.bits;
    if (b.size() < 1024 + 1024 + 128) return;
    const unsigned char* pal = reinterpret_cast<const unsigned char*>(b.data());
    const unsigned char* xorBits = pal + 1024;
    const unsigned char* andBits = xorBits + 1024;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            bool transparent = andBits[y * 4 + x / 8] & (0x80 >> (x % 8));
            if (transparent) continue;
            const unsigned char* rgbq = pal + 4 * xorBits[y * 32 + x];
            *blue += rgbq[0];
            *red += rgbq[2];
        }
}
}  // namespace

START_TEST(icons) {
    if (!Load()) return;
    IconImage images[3];
    int ids[3] = {IDI_PROGRAM, IDI_RUNNING, IDI_STOPPED};
    for (int i = 0; i < 3; ++i) {
        GroupEntry e = {};
        if (!ReadIcon(ids[i], &e, &images[i])) return;
        ok(e.width == 32 && e.height == 32, "icon %d: 32x32 expected, got %ux%u\n", ids[i],
           e.width, e.height);
        ok(e.colors == 0 && e.bitCount == 8 && e.planes == 1,
           "icon %d: 256 colours, 8 bits, 1 plane expected, got %u %u %u\n", ids[i], e.colors,
           e.bitCount, e.planes);
        const BITMAPINFOHEADER& h = images[i].header;
        ok(h.biWidth == 32 && h.biHeight == 64 && h.biBitCount == 8 && h.biCompression == BI_RGB,
           "icon %d: 32x(2*32) 8-bit DIB expected, got %ldx%ld %u bits, compression %lu\n", ids[i],
           h.biWidth, h.biHeight, h.biBitCount, h.biCompression);

        // The system itself must accept the image as a 32x32 icon.
        HICON icon = ::CreateIconFromResourceEx(
            reinterpret_cast<BYTE*>(&images[i].raw[0]), DWORD(images[i].raw.size()), TRUE,
            0x00030000, 32, 32, LR_DEFAULTCOLOR);
        ok(icon != nullptr, "icon %d: the system refused the image, error %lu\n", ids[i],
           ::GetLastError());
        if (icon != nullptr) {
            ICONINFO info = {};
            BITMAP bm = {};
            ::GetIconInfo(icon, &info);
            ::GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
            ok(info.fIcon && bm.bmWidth == 32, "icon %d: 32 pixels wide expected, got %ld\n",
               ids[i], bm.bmWidth);
            if (info.hbmColor) ::DeleteObject(info.hbmColor);
            if (info.hbmMask) ::DeleteObject(info.hbmMask);
            ::DestroyIcon(icon);
        }
    }
    ok(images[0].raw == images[1].raw, "icons 128 and 129 should be the same picture\n");
    ok(images[0].raw != images[2].raw, "icon 130 should differ from 128\n");
    // Same balloon: the transparency masks (the last 128 bytes) agree.
    std::string mask0 = images[0].bits.substr(images[0].bits.size() - 128);
    std::string mask2 = images[2].bits.substr(images[2].bits.size() - 128);
    ok(mask0 == mask2, "icons 128 and 130 should have the same shape\n");
    long red = 0, blue = 0;
    ColourBalance(images[0], &red, &blue);
    ok(blue > 2 * red, "icon 128 should be blue, red %ld blue %ld\n", red, blue);
    ColourBalance(images[2], &red, &blue);
    ok(red > 2 * blue, "icon 130 should be red, red %ld blue %ld\n", red, blue);
}

// One version record: the fixed numbers 1.0.0.1, the texts 1.1.0.0, this build's id as
// PrivateBuild, in the language given.
static void CheckVersionRecord(const std::wstring& exe, WORD language, const wchar_t* fileName) {
    const std::string name = wt::Esc(fileName);
    DWORD dummy = 0;
    DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &dummy);
    ok(size > 0, "%s: a version record expected, error %lu\n", name.c_str(), ::GetLastError());
    if (size == 0) return;
    std::vector<char> data(size);
    ok(::GetFileVersionInfoW(exe.c_str(), 0, size, data.data()), "%s: version read failed\n", name.c_str());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ok(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) && fixed,
       "%s: fixed version part expected\n", name.c_str());
    if (fixed != nullptr) {
        ok(fixed->dwFileVersionMS == 0x00010000 && fixed->dwFileVersionLS == 0x00000001,
           "%s: file version 1.0.0.1 expected, got %#lx %#lx\n", name.c_str(), fixed->dwFileVersionMS,
           fixed->dwFileVersionLS);
        ok(fixed->dwProductVersionMS == 0x00010000 && fixed->dwProductVersionLS == 0x00000001,
           "%s: product version 1.0.0.1 expected, got %#lx %#lx\n", name.c_str(), fixed->dwProductVersionMS,
           fixed->dwProductVersionLS);
        ok(fixed->dwFileType == VFT_APP, "%s: an application expected, type %lu\n", name.c_str(),
           fixed->dwFileType);
    }
    WORD* translation = nullptr;
    ok(::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &len) &&
           len >= 4,
       "%s: a translation entry expected\n", name.c_str());
    if (translation == nullptr) return;
    ok(translation[0] == language, "%s: version text in language %#x expected, got %#x\n", name.c_str(),
       language, translation[0]);
    struct {
        const wchar_t* key;
        const wchar_t* value;
    } fields[] = {{L"FileVersion", L"1.1.0.0"},
                  {L"ProductVersion", L"1.1.0.0"},
                  {L"PrivateBuild", L"" NB_BUILD_ID},
                  {L"OriginalFilename", fileName},
                  {L"InternalName", fileName}};
    for (const auto& f : fields) {
        wchar_t path[96];
        swprintf(path, 96, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1],
                 f.key);
        wchar_t* value = nullptr;
        bool found = ::VerQueryValueW(data.data(), path, reinterpret_cast<void**>(&value), &len);
        ok(found && value != nullptr && std::wstring(value) == f.value,
           "%s %s: %s expected, got %s\n", name.c_str(), wt::Esc(f.key).c_str(), wt::Esc(f.value).c_str(),
           found && value ? wt::Esc(value).c_str() : "(none)");
    }
}

START_TEST(version) {
    if (!Load()) return;
    CheckVersionRecord(g_exePath, kJapanese, L"nbmonitor.exe");
    // nbctl.exe beside it (as shipped), or in the build's tools\bin.
    const std::wstring folder = g_exePath.substr(0, g_exePath.find_last_of(L'\\') + 1);
    std::wstring nbctl = folder + L"nbctl.exe";
    if (::GetFileAttributesW(nbctl.c_str()) == INVALID_FILE_ATTRIBUTES) nbctl = folder + L"tools\\bin\\nbctl.exe";
    CheckVersionRecord(nbctl, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), L"nbctl.exe");
}

START_TEST(manifest) {
    if (!Load()) return;
    std::string text = Resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    ok(!text.empty(), "manifest 1 expected\n");
    // The 64-bit test build names its own architecture.
    const char* arch = BuiltLikeThisTest() && sizeof(void*) == 8 ? "processorArchitecture=\"amd64\""
                                                                 : "processorArchitecture=\"x86\"";
    for (const char* piece : {"name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
                              arch, "publicKeyToken=\"6595b64144ccf1df\""})
        ok(text.find(piece) != std::string::npos, "manifest should contain %s\n", piece);

    // The system parses it and resolves the dependency: comctl32.dll is redirected to the
    // Common Controls assembly, version 6. Only a process of the exe's own architecture can.
    if (!BuiltLikeThisTest()) {
        skip("an x86 manifest's assemblies resolve in a 32-bit process only\n");
        return;
    }
    ACTCTXW act = {};
    act.cbSize = sizeof act;
    act.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    act.lpSource = g_exePath.c_str();
    act.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE ctx = ::CreateActCtxW(&act);
    ok(ctx != INVALID_HANDLE_VALUE, "the manifest should make an activation context, error %lu\n",
       ::GetLastError());
    if (ctx == INVALID_HANDLE_VALUE) return;
    ULONG_PTR cookie = 0;
    ::ActivateActCtx(ctx, &cookie);
    ACTCTX_SECTION_KEYED_DATA keyed = {};
    keyed.cbSize = sizeof keyed;
    bool redirected = ::FindActCtxSectionStringW(0, nullptr,
                                                 ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION,
                                                 L"comctl32.dll", &keyed) != 0;
    ok(redirected, "comctl32.dll should be redirected, error %lu\n", ::GetLastError());
    if (redirected) {
        char buf[4096] = {};
        SIZE_T needed = 0;
        DWORD index = keyed.ulAssemblyRosterIndex;
        BOOL got = ::QueryActCtxW(0, ctx, &index, AssemblyDetailedInformationInActivationContext,
                                  buf, sizeof buf, &needed);
        auto* info = reinterpret_cast<ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buf);
        std::wstring identity =
            got && info->lpAssemblyEncodedAssemblyIdentity ? info->lpAssemblyEncodedAssemblyIdentity
                                                           : L"";
        ok(identity.find(L"Microsoft.Windows.Common-Controls") != std::wstring::npos &&
               identity.find(L"version=\"6.") != std::wstring::npos,
           "Common Controls 6 expected, got %s\n", wt::Esc(identity).c_str());
    }
    ::DeactivateActCtx(0, cookie);
    ::ReleaseActCtx(ctx);
}

START_TEST(no_test_switches) {
    // The fault switches of the tests are compiled into their own copy of the program only.
    std::string bytes;
    HANDLE file = ::CreateFileW(g_exePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ok(file != INVALID_HANDLE_VALUE, "cannot open the exe, error %lu\n", ::GetLastError());
    if (file == INVALID_HANDLE_VALUE) return;
    char chunk[65536];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    ::CloseHandle(file);
    const std::string narrow = "NBMONITOR_FAULT";
    std::string wide;
    for (char c : narrow) wide += std::string{c, '\0'};
    ok(bytes.size() > 4096, "the exe reads as %u bytes\n", unsigned(bytes.size()));
    ok(bytes.find(narrow) == std::string::npos && bytes.find(wide) == std::string::npos,
       "the program as shipped should hold no fault switch (%s found)\n", narrow.c_str());
}

START_TEST(executable) {
    if (!Load()) return;
    // A GUI program (the tray tool must not open a console), 32-bit as shipped.
    HANDLE file = ::CreateFileW(g_exePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ok(file != INVALID_HANDLE_VALUE, "cannot open the exe, error %lu\n", ::GetLastError());
    if (file == INVALID_HANDLE_VALUE) return;
    std::string head(4096, '\0');
    DWORD got = 0;
    ::ReadFile(file, &head[0], 4096, &got, nullptr);
    ::CloseHandle(file);
    LONG peOffset = 0;
    std::memcpy(&peOffset, head.data() + 0x3C, 4);
    IMAGE_FILE_HEADER fh = {};
    WORD subsystem = 0;
    if (peOffset > 0 && DWORD(peOffset) + 4 + sizeof fh + 0x46 <= got) {
        std::memcpy(&fh, head.data() + peOffset + 4, sizeof fh);
        // Subsystem sits at the same offset in the 32- and 64-bit optional headers.
        std::memcpy(&subsystem, head.data() + peOffset + 4 + sizeof fh + 0x44, 2);
    }
    const WORD machine = BuiltLikeThisTest() && sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64
                                                                    : IMAGE_FILE_MACHINE_I386;
    ok(fh.Machine == machine, "machine %#x expected, got %#x\n", machine, fh.Machine);
    ok(subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI, "GUI subsystem expected, got %u\n", subsystem);
}
