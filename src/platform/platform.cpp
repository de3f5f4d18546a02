// The platform in use (installed once by the entry point, or per test case by the tests).
#include "platform/platform.h"

namespace nb {
namespace {
IPlatform* g_platform = nullptr;
}

IPlatform& Os() { return *g_platform; }
void SetPlatform(IPlatform* platform) { g_platform = platform; }

}  // namespace nb
