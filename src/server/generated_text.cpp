// Encoding and writing of the generated text files.
#include "server/generated_text.h"

#include "base/supervision_log.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace nb {

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

namespace {
const wchar_t* ReasonWord(nb::WriteError e) {
    switch (e) {
    case nb::WriteError::ShortWrite: return L"short-write";
    case nb::WriteError::CannotReplace: return L"cannot-replace";
    case nb::WriteError::TargetBusy: return L"in-use";
    default: return L"cannot-open";
    }
}
// A reader holding the file (nbctl status reading the listen file, a virus scanner) keeps
// it from being replaced for a moment: try again a few times before giving up.
constexpr uint32_t kBusyRetryStepMs = 25;
constexpr uint32_t kBusyRetryLimitMs = 200;
}  // namespace

bool WriteGeneratedFile(const std::wstring& path, const std::wstring& text) {
    std::string bytes;
    if (!EncodeGeneratedText(text, &bytes)) {
        slog::Write("config",
                    {{"file", path}, {"written", 0}, {"reason", L"character-above-U+00FF"}});
        return false;
    }
    nb::WriteError error = nb::WriteError::None;
    int ok = nb::Files().ReplaceFileContent(path, bytes, &error);
    uint32_t waited = 0;
    while (!ok && error == nb::WriteError::TargetBusy && waited < kBusyRetryLimitMs) {
        nb::Processes().SleepMs(kBusyRetryStepMs);
        waited += kBusyRetryStepMs;
        ok = nb::Files().ReplaceFileContent(path, bytes, &error);
    }
    std::vector<slog::Field> fields{{"file", path}, {"written", ok ? 1 : 0}};
    if (!ok) fields.emplace_back("reason", ReasonWord(error));
    if (waited != 0) fields.emplace_back("waited_ms", waited);
    slog::Write("config", fields);
    return ok != 0;
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

}  // namespace nb
