// Settings reads, home directory and server path.
#include "base/settings.h"

#include "base/layout.h"
#include "base/framework.h"
#include "platform/file_paths.h"
#include "platform/files.h"

namespace nb {

namespace settings {

uint32_t ReadInt(const CWinApp& app, const IntKey& key) {
    return nb::Files().ProfileInt(key.section, key.key, key.defaultValue, app.SettingsPath());
}

std::wstring ReadAddress(const CWinApp& app) {
    return nb::Files().ProfileString(kHttpd, kDefaultAddressKey, kDefaultAddress,
                                     app.SettingsPath(), kAddressChars);
}

std::wstring ReadErrorLog(const CWinApp& app) {
    return nb::Files().ProfileString(kHttpd, kErrorLogKey, kErrorLogDefault, app.SettingsPath(),
                                     kErrorLogChars);
}

bool HasUtf8Mark(const CWinApp& app) {
    std::string bytes;
    return nb::Files().ReadWholeFile(app.SettingsPath(), bytes) &&
           bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
}

}  // namespace settings

std::wstring ServerPathOfDir(const std::wstring& dirPart) {
    std::wstring s = dirPart.empty() ? dirPart : dirPart.substr(1);
    for (wchar_t& c : s)
        if (c == L'\\') c = L'/';
    if (!s.empty() && s.back() == L'/') s.pop_back();
    return s;
}

std::wstring ServerPathOf(const std::wstring& home) {
    return ServerPathOfDir(nb::SplitPath(home).dir);
}

bool SettingsPathFromCurrentDir(const std::wstring& currentDir, std::size_t bufChars,
                                std::wstring* out) {
    std::wstring s = currentDir;
    std::size_t slash = s.rfind(L'\\');
    if (slash != std::wstring::npos) s.erase(slash);
    s += layout::kSettingsSuffix;
    if (s.size() + 1 > bufChars) return false;
    *out = s;
    return true;
}

}  // namespace nb
