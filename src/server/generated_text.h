// The generated text files (listen and server configuration, php.ini): one byte per
// character (U+0000..U+00FF), CR LF line ends, no byte-order mark. A file is replaced as a
// whole or not at all.
#pragma once

#include <string>

namespace nb {

// Encodes text for a generated file; false (and nothing in bytes) when a character above
// U+00FF cannot be written.
bool EncodeGeneratedText(const std::wstring& text, std::string* bytes);

// Encodes and writes; true on success. On any failure the previous file stays as it was.
bool WriteGeneratedFile(const std::wstring& path, const std::wstring& text);

// Reads a template as the C runtime's text mode does: CR LF becomes LF, a byte 0x1A ends the
// text, and every byte becomes the character of the same code.
std::wstring DecodeTextModeBytes(const std::string& bytes);

}  // namespace nb
