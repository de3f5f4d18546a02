// The integrators' guide shows files of the repository and files the program writes; each
// copy must be the file itself: the installation's httpd.conf, the generated httpd-port.conf
// and httpd-nb.conf for the two homes it shows, and the settings table against the settings
// example.
#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "server/apache_control.h"
#include "test_env.h"

using namespace nb;

namespace {

std::string ReadSource(const std::string& relative) {
    std::ifstream in(std::string(NB_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string WithoutCr(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// The guide's lines under the heading, up to the next heading of any level (a "#" line
// inside a code block is none).
std::vector<std::string> SectionUnder(const std::string& heading) {
    std::istringstream guide(ReadSource("docs/integrating.md"));
    std::vector<std::string> lines;
    std::string line;
    bool under = false, inside = false;
    while (std::getline(guide, line)) {
        if (line.rfind("```", 0) == 0) inside = !inside;
        if (!inside && line.rfind("#", 0) == 0)
            under = line == heading;
        else if (under)
            lines.push_back(line);
    }
    return lines;
}

// The fenced code blocks of a section, each with its lines ended by LF.
std::vector<std::string> BlocksUnder(const std::string& heading) {
    std::vector<std::string> blocks;
    std::string block;
    bool inside = false;
    for (const std::string& line : SectionUnder(heading)) {
        if (line.rfind("```", 0) == 0) {
            if (inside) blocks.push_back(block);
            inside = !inside;
            block.clear();
        } else if (inside) {
            block += line + "\n";
        }
    }
    return blocks;
}

class GuideCopies : public NbTest {
protected:
    std::string Generated(const std::wstring& home, const wchar_t* file) {
        CApacheControl c(app);
        c.SetPath(home);
        EXPECT_EQ(c.CreateConf(), 1);
        EXPECT_EQ(c.CreatePortConf(), 1);
        return WithoutCr(os.File(home + L"\\conf\\extra\\" + file));
    }
};

}  // namespace

TEST_F(GuideCopies, TheInstallationsHttpdConfAndTheGeneratedFilesForTheHomesShown) {
    const std::map<std::string, std::vector<std::string>> shown = {
        {"## Which server it was written for", {ReadSource("apache/httpd.conf")}},
        {"### httpd-port.conf", {Generated(L"C:\\nimbara\\", L"httpd-port.conf")}},
        {"### httpd-nb.conf",
         {Generated(L"C:\\nimbara\\", L"httpd-nb.conf"), Generated(L"D:\\apps\\nimbara\\", L"httpd-nb.conf")}}};
    for (const auto& [heading, files] : shown) EXPECT_EQ(BlocksUnder(heading), files) << heading;
}

TEST_F(GuideCopies, TheSettingsTableHoldsTheExamplesKeysAndDefaults) {
    // | `[httpd]` | `default_port` | 27142 | ...  against  [httpd] ... default_port=27142
    std::map<std::string, std::string> table, example;
    const std::regex row(R"(^\| `\[([a-z]+)\]` \| `([a-z_]+)` \| ([^ |]+)[^|]*\|.*)");
    std::smatch m;
    for (const std::string& line : SectionUnder("## The settings file"))
        if (std::regex_match(line, m, row)) table[m[1].str() + "." + m[2].str()] = m[3];
    const std::regex header(R"(^\[([a-z]+)\])"), entry(R"(^([^;=]+)=(.*))");
    std::istringstream ini(WithoutCr(ReadSource("packaging/nbmonitor.ini.example")));
    std::string section;
    for (std::string line; std::getline(ini, line);) {
        if (std::regex_match(line, m, header)) section = m[1];
        if (std::regex_match(line, m, entry)) example[section + "." + m[1].str()] = m[2];
    }
    EXPECT_FALSE(example.empty());
    EXPECT_EQ(table, example);
}
