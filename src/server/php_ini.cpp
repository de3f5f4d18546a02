// php.ini regeneration.
#include "server/php_ini.h"

#include "base/layout.h"
#include "base/settings.h"
#include "base/supervision_log.h"
#include "platform/files.h"
#include "server/generated_text.h"

namespace nb {

namespace {

struct PathLine {
    std::wstring prefix;  // text before the server path
    std::wstring suffix;  // text after it
};

std::vector<PathLine> PathLines() {
    return {
        {L"extension_dir = \"/", L"/php/ext\""},
        {L"session.save_path = \"/", L"/tmp\""},
        {L"eaccelerator.cache_dir=\"/", L"/tmp/eaccelerator\""},
        {L"zend_extension=\"/", std::wstring(L"/php/ext/") + layout::kPhpLoaderLibrary + L"\""},
    };
}

}  // namespace

std::wstring PhpIniText(const std::string& templateBytes, const std::wstring& serverPath) {
    static const std::wstring kShippedPath = L"nimbara";
    struct Rewrite {
        std::wstring matched, replacement;
    };
    std::vector<Rewrite> rewrites;
    for (const PathLine& row : PathLines())
        rewrites.push_back(
            {row.prefix + kShippedPath + row.suffix, row.prefix + serverPath + row.suffix});
    std::wstring text = DecodeTextModeBytes(templateBytes);
    std::wstring out;
    out.reserve(text.size() + text.size() / 16 + 64);

    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(pos, end - pos);
        // A rewritten line is compared with the remaining rows too; the keys differ, so at
        // most one rewrite applies.
        for (const Rewrite& r : rewrites)
            if (line == r.matched) line = r.replacement;
        out += line;
        out += L'\n';
        pos = end + 1;
    }
    return out;
}

bool RegeneratePhpIni(const std::wstring& home) {
    std::string bytes;
    if (!nb::Files().ReadWholeFile(home + layout::kPhpTemplate, bytes)) {
        slog::Write("config", {{"file", home + layout::kPhpIni},
                               {"written", 0},
                               {"reason", L"template-unreadable"},
                               {"template", home + layout::kPhpTemplate}});
        return false;
    }
    return WriteGeneratedFile(home + layout::kPhpIni, PhpIniText(bytes, ServerPathOf(home)));
}

}  // namespace nb
