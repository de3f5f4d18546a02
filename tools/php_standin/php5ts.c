/* php5ts.dll of the demo installation: an empty stand-in for PHP's runtime library, NOT PHP.
 * conf\extra\httpd-nb.conf loads it (LoadFile) before the module; it exports nothing and
 * does nothing. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
