// What the fuzz targets share: a property check that aborts (libFuzzer keeps the input and
// counts a fault) and the wide text a target makes of its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_REQUIRE(cond)                                                              \
    do {                                                                                \
        if (!(cond)) {                                                                  \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                               \
        }                                                                               \
    } while (0)

// Bytes as UTF-16 code units, the width of Windows' wchar_t: a byte 0xFF takes the next two
// bytes as one unit (any of them, surrogate halves included); every other byte is the
// character of that code, so ASCII punctuation stays frequent.
inline std::wstring WideOf(const uint8_t* data, std::size_t size) {
    std::wstring out;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && i + 2 < size) {
            out += static_cast<wchar_t>(data[i + 1] | (data[i + 2] << 8));
            i += 2;
        } else {
            out += static_cast<wchar_t>(data[i]);
        }
    }
    return out;
}

// The part of the input before the first byte `sep` (all of it when there is none), and
// after it.
inline void SplitAt(const uint8_t* data, std::size_t size, uint8_t sep, std::string* head, std::string* tail) {
    std::size_t i = 0;
    while (i < size && data[i] != sep) ++i;
    head->assign(reinterpret_cast<const char*>(data), i);
    tail->assign(i < size ? reinterpret_cast<const char*>(data) + i + 1 : "", i < size ? size - i - 1 : 0);
}

inline std::wstring WideOf(const std::string& s) {
    return WideOf(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}
