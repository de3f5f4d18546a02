// Backup names on the restore script's command line. The input is one entry name of the
// backup folder (first byte 'P': the home is C:\Program Files (x86)\nimbara\). The restore
// dialog, with that one row selected, either refuses the name (and starts nothing) or starts
// a command line that, parsed as cmd.exe parses what CreateProcess hands it for a batch file,
// runs the restore script with exactly one argument whose %~1 is the name, with no character
// that cmd.exe acts on outside quotes. A name of letters, digits, blanks and ._- is never
// refused.
#include <string>
#include <vector>

#include "base/layout.h"
#include "fake_platform.h"
#include "fuzz_check.h"
#include "maintenance/restore_dlg.h"

using namespace nb;

namespace {

class Recorder : public FakePlatform {
public:
    int CreateHiddenProcess(std::wstring& cmdLine, const std::wstring& dir, nb::ProcessRef* process,
                            uint32_t* pid) override {
        started.push_back(cmdLine);
        return FakePlatform::CreateHiddenProcess(cmdLine, dir, process, pid);
    }
    std::vector<std::wstring> started;
};

// Where cmd.exe ends one token and begins the next (the last, 0xFF, as accounts of its
// parser list it; taken as U+00FF, the stricter reading).
bool IsDelimiter(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L',' || c == L';' || c == L'=' || c == 0x0B || c == 0x0C || c == 0xFF;
}

// cmd /c's handling of the text after /c: it keeps the quotes only when there are exactly
// two, with whitespace and no special character between them (and an executable named
// there); otherwise, when the text begins with a quote, it drops that quote and the last one.
std::wstring AfterSlashC(std::wstring s) {
    std::size_t quotes = 0;
    for (wchar_t c : s) quotes += c == L'"';
    if (quotes == 2 && s[0] == L'"') {
        std::size_t close = s.find(L'"', 1);
        std::wstring inside = s.substr(1, close - 1);
        if (inside.find_first_of(L"&<>()@^|") == std::wstring::npos && inside.find_first_of(L" \t") != std::wstring::npos)
            return s;
    }
    if (!s.empty() && s[0] == L'"') {
        s.erase(0, 1);
        std::size_t last = s.rfind(L'"');
        if (last != std::wstring::npos) s.erase(last, 1);
    }
    return s;
}

// The tokens of a command line as cmd.exe splits a batch file's call into %0, %1, ...:
// delimiters outside quotes separate them, quotes are kept in the tokens. False when the line
// holds anything cmd.exe would act on: % or ! (expanded even inside quotes), a line break,
// or & | < > ^ ( ) outside quotes.
bool CmdTokens(const std::wstring& line, std::vector<std::wstring>* tokens) {
    bool quoted = false;
    bool inToken = false;
    for (wchar_t c : line) {
        if (c == L'%' || c == L'!' || c == L'\r' || c == L'\n' || c == 0) return false;
        if (!quoted && std::wstring(L"&|<>^()").find(c) != std::wstring::npos) return false;
        if (!quoted && IsDelimiter(c)) {
            inToken = false;
            continue;
        }
        if (!inToken) tokens->emplace_back();
        inToken = true;
        tokens->back() += c;
        if (c == L'"') quoted = !quoted;
    }
    return true;
}

std::wstring Unquoted(std::wstring s) {  // %~n
    if (!s.empty() && s.front() == L'"') s.erase(0, 1);
    if (!s.empty() && s.back() == L'"') s.pop_back();
    return s;
}

// CommandLineToArgvW's argv[0], which is how CreateProcess finds the program to run.
std::wstring ArgvZero(const std::wstring& line) {
    if (!line.empty() && line[0] == L'"') return line.substr(1, line.find(L'"', 1) - 1);
    return line.substr(0, line.find_first_of(L" \t"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const bool spaced = size > 0 && data[0] == 'P';
    const std::wstring name = WideOf(data + (spaced ? 1 : 0), size - (spaced ? 1 : 0));
    Recorder os;
    CRestoreDlg dlg(spaced ? L"C:\\Program Files (x86)\\nimbara\\" : L"C:\\nimbara\\");
    dlg.SetList(0x55);
    os.lists[dlg.List()] = {{name, 0, true}};
    dlg.RestoreSelected();

    bool plain = !name.empty();
    for (wchar_t c : name)
        plain = plain && ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                          c == L' ' || c == L'.' || c == L'_' || c == L'-');
    if (os.started.empty()) {
        FUZZ_REQUIRE(!plain);
        FUZZ_REQUIRE(os.Boxes().size() == 1 && os.Boxes()[0].find(U8(restore_text::kUnsafeName)) != std::string::npos);
        return 0;
    }
    FUZZ_REQUIRE(os.started.size() == 1);
    const std::wstring& cmd = os.started[0];
    const std::wstring script = dlg.Home() + layout::kRestoreScript;
    FUZZ_REQUIRE(ArgvZero(cmd) == script);
    // CreateProcess runs a batch file as cmd /c "<command line>".
    std::vector<std::wstring> tokens;
    FUZZ_REQUIRE(CmdTokens(AfterSlashC(L"\"" + cmd + L"\""), &tokens));
    FUZZ_REQUIRE(tokens.size() == 2);
    FUZZ_REQUIRE(Unquoted(tokens[0]) == script);
    FUZZ_REQUIRE(Unquoted(tokens[1]) == name);
    return 0;
}
