// Encoding and writing of the generated text files.
#include "server/generated_text.h"

#include "platform/platform.h"

bool EncodeGeneratedText(const std::wstring& text, std::string* bytes) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (wchar_t c : text) {
        if (static_cast<uint32_t>(c) > 0xFF) return false;
        if (c == L'\n') out += '\r';
        out += static_cast<char>(static_cast<unsigned char>(c));
    }
    bytes->swap(out);
    return true;
}

int WriteGeneratedFile(const std::wstring& path, const std::wstring& text) {
    std::string bytes;
    if (!EncodeGeneratedText(text, &bytes)) return 0;
    return nb::Os().ReplaceFileContent(path, bytes);
}

std::wstring DecodeTextModeBytes(const std::string& bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b == 0x1A) break;
        if (b == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        out += static_cast<wchar_t>(b);
    }
    return out;
}
