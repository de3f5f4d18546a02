// The home folder, the server path and the settings file's path from any path. The input is
// the program file's path (before the first 0x00 byte; the start-up refuses one longer than
// 255 characters, so longer ones are cut here) and the current folder (after it). First byte
// 'S' (shaped): the program path is built as D:\c1\...\ck\bin\nbmonitor.exe from the
// components in the input, and the results must be the specified ones: home D:\c1\...\ck\,
// server path c1/.../ck. Any input: the home is the path up to and with its second-last
// backslash (the path itself, or its part before the last backslash, when there are fewer),
// the server path has no backslash, and every result fits the buffer its rule names.
#include <string>
#include <vector>

#include "base/layout.h"
#include "base/settings.h"
#include "platform/file_paths.h"
#include "fuzz_check.h"

using namespace nb;

namespace {

constexpr std::size_t kHomeChars = 255;      // the home buffer, less its terminator
constexpr std::size_t kSettingsChars = 260;  // the settings path's buffer, terminator included

std::wstring ModelHome(const std::wstring& module) {
    std::vector<std::size_t> slashes;
    for (std::size_t i = 0; i < module.size(); ++i)
        if (module[i] == L'\\') slashes.push_back(i);
    if (slashes.empty()) return module;
    if (slashes.size() == 1) return module.substr(0, slashes[0]);
    return module.substr(0, slashes[slashes.size() - 2] + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string first, second;
    SplitAt(data, size, 0x00, &first, &second);
    std::wstring module = WideOf(first);
    const std::wstring current = WideOf(second);

    std::wstring shapedHome, shapedServer;
    const bool shaped = !module.empty() && module[0] == L'S';
    if (shaped) {
        // Components separated by 0x01, none holding a backslash.
        std::vector<std::wstring> parts(1);
        for (std::size_t i = 1; i < module.size(); ++i) {
            if (module[i] == 0x01) parts.emplace_back();
            else if (module[i] != L'\\') parts.back() += module[i];
        }
        if (parts.size() == 1 && parts[0].empty()) parts.clear();
        shapedHome = L"D:\\";
        for (std::size_t i = 0; i < parts.size(); ++i) {
            shapedHome += parts[i] + L"\\";
            shapedServer += (i ? L"/" : L"") + parts[i];
        }
        module = shapedHome + L"bin\\nbmonitor.exe";
    }
    if (module.size() > kHomeChars) {
        if (shaped) return 0;
        module.resize(kHomeChars);
    }

    const std::wstring home = HomeFromModulePath(module);
    FUZZ_REQUIRE(home == ModelHome(module));
    FUZZ_REQUIRE(home.size() <= kHomeChars);

    const nb::PathParts parts = nb::SplitPath(home);
    FUZZ_REQUIRE(parts.drive.size() <= 2 && parts.dir.size() <= 255 && parts.fname.size() <= 255 &&
                 parts.ext.size() <= 255);
    FUZZ_REQUIRE(parts.drive + parts.dir + parts.fname + parts.ext == home);
    const std::wstring server = ServerPathOf(home);
    FUZZ_REQUIRE(server.find(L'\\') == std::wstring::npos);
    FUZZ_REQUIRE(server.size() <= (parts.dir.empty() ? 0 : parts.dir.size() - 1));
    if (shaped) {
        FUZZ_REQUIRE(home == shapedHome);
        FUZZ_REQUIRE(server == shapedServer);
    }

    // The current folder as the system gives it: at most 259 characters.
    if (current.size() < kSettingsChars) {
        std::wstring expected = current.substr(0, current.rfind(L'\\')) + layout::kSettingsSuffix;
        std::wstring got = L"unchanged";
        const bool fits = SettingsPathFromCurrentDir(current, kSettingsChars, &got);
        FUZZ_REQUIRE(fits == (expected.size() + 1 <= kSettingsChars));
        FUZZ_REQUIRE(got == (fits ? expected : L"unchanged"));
    }
    return 0;
}
