// The parts of a path, and the paths the Win32 layer hands to the system, checked against
// Windows' own limits (Wine has none, so only a native check shows them).
#include "platform/file_paths.h"

#include "base/layout.h"
#include "test_env.h"

using namespace nb;

TEST(FilePaths, SplitsAsTheRuntimeSplitterDoes) {
    nb::PathParts p = nb::SplitPath(L"C:\\nb.x\\bin\\nb.monitor.exe");
    EXPECT_EQ(U8(p.drive + L"|" + p.dir + L"|" + p.fname + L"|" + p.ext), "C:|\\nb.x\\bin\\|nb.monitor|.exe");
    p = nb::SplitPath(L"\\nimbara\\");
    EXPECT_EQ(U8(p.drive + L"|" + p.dir + L"|" + p.fname + L"|" + p.ext), "|\\nimbara\\||");
    EXPECT_EQ(U8(nb::FileName(L"C:/a.b/c")), "c");
}

TEST(FilePaths, ExtendedLengthFormIsCleanAndAbsolute) {
    EXPECT_EQ(U8(nb::ExtendedLengthPath(L"C:\\nimbara\\\\conf\\extra\\httpd-nb.conf")),
              "\\\\?\\C:\\nimbara\\conf\\extra\\httpd-nb.conf");
    EXPECT_EQ(U8(nb::ExtendedLengthPath(L"C:\\a\\.\\b\\..\\c\\")), "\\\\?\\C:\\a\\c\\");
    EXPECT_EQ(U8(nb::ExtendedLengthPath(L"C:\\..\\x")), "\\\\?\\C:\\x");
    EXPECT_EQ(U8(nb::ExtendedLengthPath(L"\\\\srv\\share\\..\\..\\a\\\\b")),
              "\\\\?\\UNC\\srv\\share\\a\\b");
    EXPECT_EQ(U8(nb::ExtendedLengthPath(L"\\\\?\\C:\\x\\\\y")), "\\\\?\\C:\\x\\\\y");
    EXPECT_EQ(U8(nb::ExtendedLengthPath(L"\\nimbara\\x")), "\\nimbara\\x");  // no drive
}

TEST(FilePaths, ATargetThatFitsIsNeverRefusedForItsTemporaryName) {
    const wchar_t* files[] = {layout::kPortConf, layout::kServerConf};
    for (std::size_t n = 1; n < 260; ++n) {
        std::wstring home = L"C:\\" + std::wstring(n, L'h') + L"\\";
        for (const std::wstring target :
             {home + layout::kConfExtra + files[0], home + layout::kConfExtra + files[1],
              home + layout::kPhpIni}) {
            if (target.size() + 1 > nb::kMaxPathChars) continue;  // refused by its own length
            nb::ReplacementPaths p = nb::ReplacementPathsFor(target, 0xFFFFFFFFul, 0xFFFFFFFFu);
            const bool extended = p.temp.compare(0, 4, L"\\\\?\\") == 0;
            ASSERT_TRUE(p.temp.size() + 1 <= nb::kMaxPathChars || extended) << U8(target);
            if (extended) {
                EXPECT_EQ(p.target, nb::ExtendedLengthPath(target));
                EXPECT_EQ(p.temp.compare(0, p.target.size(), p.target), 0);
                EXPECT_EQ(p.temp.find(L"\\\\", 4), std::wstring::npos) << U8(p.temp);
            } else {
                EXPECT_EQ(p.target, target);  // as today, byte for byte
            }
        }
    }
    nb::ReplacementPaths usual = nb::ReplacementPathsFor(L"C:\\nimbara\\\\php\\php.ini", 0x1a2b, 3);
    EXPECT_EQ(U8(usual.temp), "C:\\nimbara\\\\php\\php.ini.1a2b-3.tmp");
}
