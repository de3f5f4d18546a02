// What a server's exit code means, for the codes users of a Windows web stack meet: one
// table for nbmonitor's log and for nbctl, which names it again for lines written without it.
// Plain C++ with no other include of this program, so that nbctl compiles it as it is.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace nb {

namespace exit_codes {

struct Meaning {
    uint32_t code;
    const char* text;
};

constexpr Meaning kMeanings[] = {
    {0x00000000, "ended normally, or was ended by another program"},
    {0x00000001, "Apache's own start-up or configuration error: see its error log"},
    {0xC0000005, "crashed: access violation (in the server, PHP or one of its extensions)"},
    {0xC000007B, "a DLL of the wrong kind (32-bit beside 64-bit, or damaged)"},
    {0xC00000FD, "crashed: stack overflow"},
    {0xC0000135, "a DLL the server needs is missing"},
    {0xC0000139, "a DLL the server needs lacks a function (DLLs of different versions)"},
    {0xC000013A, "ended by Ctrl+C or by closing its console"},
    {0xC0000142, "a DLL failed to initialize (often too many programs for the desktop)"},
    {0xC0000374, "crashed: heap corruption"},
    {0xC0000409, "crashed: a security check failed (stack buffer overrun or fail-fast)"},
};

// The meaning of a code, or nullptr when the table has none.
inline const char* MeaningOf(uint32_t code) {
    for (const Meaning& m : kMeanings)
        if (m.code == code) return m.text;
    return nullptr;
}

// "0xC0000005": eight upper-case hex digits, as Windows documents its status codes.
inline std::string Hex(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

}  // namespace exit_codes

}  // namespace nb
