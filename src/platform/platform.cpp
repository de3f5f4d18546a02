// The platform in use (installed once by the entry point, or per test case by the tests), and
// the portable helpers of this layer.
#include "platform/platform.h"

namespace nb {
namespace {
IPlatform* g_platform = nullptr;
}

IPlatform& Os() { return *g_platform; }
void SetPlatform(IPlatform* platform) { g_platform = platform; }

std::wstring TitleFromModulePath(const std::wstring& modulePath) {
    std::size_t slash = modulePath.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? modulePath : modulePath.substr(slash + 1);
    std::size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return name;
}

}  // namespace nb
