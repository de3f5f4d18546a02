// php.ini from any template: the input is a home folder (before the first 0x00 byte, its
// control characters left out) and the template's bytes (after it). What RegeneratePhpIni writes must be what a plain byte-wise
// model makes of them: the template read in text mode (CR LF read as LF, 0x1A ends it), each
// line copied, exactly the four path lines of the default installation rewritten with the
// home's server path, CR LF after every line; and nothing written when a rewritten line
// would hold a character beyond one byte.
#include <string>
#include <vector>

#include "base/layout.h"
#include "base/settings.h"
#include "fake_platform.h"
#include "fuzz_check.h"
#include "server/php_ini.h"

using namespace nb;

namespace {

// The model: bytes in, bytes out; false when the result cannot be written.
bool ModelPhpIni(const std::string& tmpl, const std::wstring& serverPath, std::string* out) {
    std::string text = tmpl.substr(0, tmpl.find('\x1A'));
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
    std::string loader;
    for (const wchar_t* p = layout::kPhpLoaderLibrary; *p; ++p) loader += static_cast<char>(*p);
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"extension_dir = \"/", "/php/ext\""},
        {"session.save_path = \"/", "/tmp\""},
        {"eaccelerator.cache_dir=\"/", "/tmp/eaccelerator\""},
        {"zend_extension=\"/", "/php/ext/" + loader + "\""},
    };
    bool narrow = true;
    std::string path;
    for (wchar_t c : serverPath) {
        if (static_cast<uint32_t>(c) > 0xFF) narrow = false;
        path += static_cast<char>(c);
    }
    out->clear();
    std::size_t pos = 0;
    while (pos < plain.size()) {
        std::size_t lf = plain.find('\n', pos);
        if (lf == std::string::npos) lf = plain.size();
        std::string line = plain.substr(pos, lf - pos);
        for (const auto& row : rows) {
            if (line == row.first + "nimbara" + row.second) {
                if (!narrow) return false;
                line = row.first + path + row.second;
            }
        }
        *out += line + "\r\n";
        pos = lf + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string homeBytes, tmpl;
    SplitAt(data, size, 0x00, &homeBytes, &tmpl);
    // A folder name never holds a control character.
    std::wstring home;
    for (wchar_t c : WideOf(homeBytes))
        if (c >= 0x20) home += c;
    FakePlatform os;
    const std::wstring ini = home + layout::kPhpIni;
    if (FakePlatform::Key(ini) == FakePlatform::Key(home + layout::kPhpTemplate)) return 0;
    os.File(home + layout::kPhpTemplate) = tmpl;

    std::string expected;
    const bool writable = ModelPhpIni(tmpl, ServerPathOf(home), &expected);
    const int result = RegeneratePhpIni(home);
    FUZZ_REQUIRE(result == (writable ? 1 : 0));
    FUZZ_REQUIRE(os.HasFile(ini) == writable);
    if (!writable) return 0;
    const std::string& written = os.File(ini);
    FUZZ_REQUIRE(written == expected);
    // CR LF after every line, and no line feed alone.
    FUZZ_REQUIRE(written.empty() || (written.size() >= 2 && written.compare(written.size() - 2, 2, "\r\n") == 0));
    for (std::size_t i = written.find('\n'); i != std::string::npos; i = written.find('\n', i + 1))
        FUZZ_REQUIRE(i > 0 && written[i - 1] == '\r');
    return 0;
}
