// Server controller: port probe, generated files, start / restart reporting, termination.
#include "server/apache_control.h"

#include "server/generated_text.h"
#include "server/php_ini.h"
#include "test_env.h"

using namespace nb;

namespace {
const std::wstring kPortConf = L"C:\\nimbara\\\\conf\\extra\\httpd-port.conf";
const std::wstring kNbConf = L"C:\\nimbara\\\\conf\\extra\\httpd-nb.conf";
}  // namespace

class PortCheckTest : public NbTest {};

TEST_F(PortCheckTest, TakesTheFirstFreePortAndKeepsItAcrossProbes) {
    CApacheControl c(app);
    os.takenPorts = {27142, 27143};
    EXPECT_EQ(c.PortCheck(), 1);
    EXPECT_EQ(c.Port(), 27144u);
    EXPECT_EQ(os.probes, 3);
    // A later probe starts from the port found, never from default_port again.
    os.takenPorts = {27144};
    EXPECT_EQ(c.PortCheck(), 1);
    EXPECT_EQ(c.Port(), 27145u);
    EXPECT_EQ(c.CreatePortConf(), 1);
    EXPECT_EQ(os.File(kPortConf), "Listen 127.0.0.1:27145\r\n");
}

TEST_F(PortCheckTest, StopsBelow65535) {
    Set(L"httpd", L"default_port", L"65535");
    CApacheControl high(app);
    EXPECT_EQ(high.PortCheck(), 0);
    EXPECT_EQ(os.probes, 0);

    Set(L"httpd", L"default_port", L"65534");
    CApacheControl last(app);
    os.takenPorts = {65534};
    EXPECT_EQ(last.PortCheck(), 0);
    EXPECT_EQ(last.Port(), 65535u);
    EXPECT_EQ(os.probes, 1);
}

TEST_F(PortCheckTest, HostNameAddressFailsEveryBindUpToTheLastPort) {
    Set(L"httpd", L"default_address", L"localhost");
    Set(L"httpd", L"default_port", L"65000");
    CApacheControl c(app);
    EXPECT_EQ(c.PortCheck(), 0);
    EXPECT_EQ(c.Port(), 65535u);
    EXPECT_EQ(os.probes, 535);
}

TEST_F(PortCheckTest, ConversionFailureAndListenFailureBoxes) {
    Set(L"httpd", L"debug", L"1");
    CApacheControl c(app);
    os.Clear();
    os.ansiFails = true;
    EXPECT_EQ(c.PortCheck(), 0);
    EXPECT_EQ(os.probes, 0);
    EXPECT_THAT(os.Boxes(), ElementsAre(FakePlatform::Box(0, L"文字の変換に失敗しました", L"エラー",
                                                          MB_OK | MB_ICONERROR)));
    os.ansiFails = false;
    os.Clear();
    os.listenFailPorts = {27142};
    EXPECT_EQ(c.PortCheck(), 1);
    EXPECT_EQ(c.Port(), 27143u);
    EXPECT_THAT(os.Boxes(), ElementsAre(FakePlatform::Box(0, L"listen() failed",
                                                          L"CApacheControl::PortCheck", MB_OK)));
}

TEST_F(PortCheckTest, AllInterfacesAddressGoesIntoTheListenLine) {
    Set(L"httpd", L"default_address", L"0.0.0.0");
    CApacheControl c(app);
    ASSERT_EQ(c.PortCheck(), 1);
    ASSERT_EQ(c.CreatePortConf(), 1);
    EXPECT_EQ(os.File(kPortConf), "Listen 0.0.0.0:27142\r\n");
    EXPECT_EQ(os.File(kPortConf).size(), 22u);
}

class GeneratedFiles : public NbTest {};

TEST_F(GeneratedFiles, ListenFileIs24BytesWithDefaults) {
    CApacheControl c(app);
    ASSERT_EQ(c.CreatePortConf(), 1);
    EXPECT_EQ(os.File(kPortConf), "Listen 127.0.0.1:27142\r\n");
    EXPECT_EQ(os.File(kPortConf).size(), 24u);
}

TEST_F(GeneratedFiles, ServerConfigurationForThreeHomes) {
    struct Case {
        const wchar_t* home;
        const char* root;
        std::size_t size;
    } cases[] = {
        {L"C:\\nimbara\\", "/nimbara", 716},
        {L"D:\\apps\\nimbara\\", "/apps/nimbara", 716 + 9 * 5},  // nine paths in the file
        {L"C:\\", "/", 716 - 9 * 7},
    };
    for (const Case& k : cases) {
        CApacheControl c(app);
        c.SetPath(k.home);
        ASSERT_EQ(c.CreateConf(), 1);
        const std::string& f = os.File(std::wstring(k.home) + L"\\conf\\extra\\httpd-nb.conf");
        EXPECT_EQ(f.size(), k.size) << U8(k.home);
        std::string root = k.root;
        // At a drive's root the server path is empty: "/" + "" + "/htdocs".
        std::string slash = root;
        EXPECT_EQ(f.substr(0, f.find('\n') + 1), "ServerRoot \"" + root + "\"\r\n");
        EXPECT_THAT(f, HasSubstr("DocumentRoot \"" + slash + "/htdocs\"\r\n"));
        EXPECT_THAT(f, HasSubstr("LoadModule php5_module \"" + slash + "/php/php5apache2_2.dll\"\r\n"));
        EXPECT_EQ(f.find("D:"), std::string::npos);
    }
}

TEST_F(GeneratedFiles, ServerConfigurationByteExactForTheDefaultHome) {
    const char* expected =
        "ServerRoot \"/nimbara\"\r\n"
        "DocumentRoot \"/nimbara/htdocs\"\r\n"
        "<Directory \"/nimbara/htdocs\">\r\n"
        "    Options Indexes FollowSymLinks\r\n"
        "    AllowOverride None\r\n"
        "    Order allow,deny\r\n"
        "    Allow from all\r\n"
        "</Directory>\r\n"
        "<IfModule alias_module>\r\n"
        "    ScriptAlias /cgi-bin/ \"/nimbara/cgi-bin/\"\r\n"
        "</IfModule>\r\n"
        "<Directory \"/nimbara/cgi-bin\">\r\n"
        "AllowOverride None\r\n"
        "    Options None\r\n"
        "    Order allow,deny\r\n"
        "    Allow from all\r\n"
        "</Directory>\r\n"
        "PHPIniDir \"/nimbara/php/\"\r\n"
        "LoadFile \"/nimbara/php/php5ts.dll\"\r\n"
        "LoadModule php5_module \"/nimbara/php/php5apache2_2.dll\"\r\n"
        "<Directory \"/nimbara/htdocs\">\r\n"
        "    Options Indexes FollowSymLinks\r\n"
        "    DirectoryIndex index.php\r\n"
        "    AllowOverride None\r\n"
        "    Order allow,deny\r\n"
        "    Allow from 127.0.0.1\r\n"
        "</Directory>\r\n";
    CApacheControl c(app);
    ASSERT_EQ(c.CreateConf(), 1);
    EXPECT_EQ(os.File(kNbConf), expected);
    ASSERT_EQ(c.CreateConf(), 1);
    EXPECT_EQ(os.File(kNbConf), expected);  // a second run writes the same bytes
}

TEST_F(GeneratedFiles, UnwritableFileKeepsOldContentAndNamesThePathWhenDebugging) {
    Set(L"httpd", L"debug", L"1");
    CApacheControl c(app);
    os.File(kNbConf) = "old";
    os.File(kPortConf) = "old port";
    os.unwritable = {FakePlatform::Key(kNbConf), FakePlatform::Key(kPortConf)};
    os.Clear();
    EXPECT_EQ(c.CreateConf(), 0);
    EXPECT_EQ(c.CreatePortConf(), 0);
    EXPECT_EQ(os.File(kNbConf), "old");
    EXPECT_EQ(os.File(kPortConf), "old port");
    EXPECT_THAT(os.Boxes(),
                ElementsAre(FakePlatform::Box(0, kNbConf, L"CApacheControl::CreateConf", MB_OK),
                            FakePlatform::Box(0, kPortConf, L"CApacheControl::CreatePortConf",
                                              MB_OK)));
}

TEST_F(GeneratedFiles, CharacterAbove00FFWritesNothing) {
    Set(L"httpd", L"debug", L"1");
    CApacheControl c(app);
    std::wstring home = L"C:\\ニンバラ\\";
    c.SetPath(home);
    std::wstring path = home + L"\\conf\\extra\\httpd-nb.conf";
    os.File(path) = "previous";
    os.Clear();
    EXPECT_EQ(c.CreateConf(), 0);
    EXPECT_EQ(os.File(path), "previous");
    EXPECT_TRUE(os.Only({"WriteFile"}).empty());
    EXPECT_THAT(os.Boxes(), ElementsAre(FakePlatform::Box(0, path, L"CApacheControl::CreateConf", MB_OK)));
    // Latin-1 letters are fine: one byte each.
    std::string bytes;
    ASSERT_TRUE(EncodeGeneratedText(L"caf\u00e9\n", &bytes));
    EXPECT_EQ(bytes, "caf\xe9\r\n");
}

class StartTest : public NbTest {
protected:
    std::vector<std::string> UserBoxes() {
        std::vector<std::string> out;
        for (const auto& b : os.Boxes())
            if (b.find("caption=Nimbara ") != std::string::npos) out.push_back(b);
        return out;
    }
};

TEST_F(StartTest, LaunchesTheServerHiddenFromTheBinFolder) {
    CApacheControl c(app);
    c.SetPath(L"D:\\my apps\\nimbara\\");
    os.modulePath = L"D:\\my apps\\nimbara\\bin\\nbmonitor.exe";
    ASSERT_EQ(c.Start(), 1);
    // Quoted for its blank, doubled separator, the bin folder with its drive as current
    // directory.
    EXPECT_THAT(os.Only({"CreateProcess"}),
                ElementsAre("CreateProcess \"D:\\my apps\\nimbara\\\\bin\\httpd.exe\" dir=D:\\my apps\\nimbara\\bin\\"));
    EXPECT_EQ(c.Process(), os.lastProcess);
    EXPECT_TRUE(c.ReportsErrors());
    // Only a blank or a tab brings the quotes; every other line is the bare path.
    for (auto [home, line] : {std::pair{L"C:\\nimbara\\", "C:\\nimbara\\\\bin\\httpd.exe"},
                              std::pair{L"C:\\", "C:\\\\bin\\httpd.exe"},
                              std::pair{L"E:\\a\tb\\", "\"E:\\a\tb\\\\bin\\httpd.exe\""}}) {
        c.SetPath(home);
        EXPECT_EQ(U8(c.ServerCommandLine()), line);
    }
}

TEST_F(StartTest, EachFailureIsReportedOnceUntilALaunchSucceeds) {
    CApacheControl c(app);
    os.createResults = {false, false, false, true, false};
    EXPECT_EQ(c.Start(), 0);
    EXPECT_EQ(c.Start(), 0);
    EXPECT_EQ(c.Start(), 0);
    EXPECT_THAT(UserBoxes(), ElementsAre(FakePlatform::Box(0, L"Nimbaraの起動に失敗しました。(Exec)",
                                                           L"Nimbara", MB_OK | MB_ICONERROR)));
    EXPECT_EQ(c.Start(), 1);
    EXPECT_EQ(c.Start(), 0);
    EXPECT_EQ(UserBoxes().size(), 2u);
}

TEST_F(StartTest, FailedLaunchLeavesTheLastServerHandle) {
    CApacheControl c(app);
    ASSERT_EQ(c.Start(), 1);
    nb::ProcessRef first = c.Process();
    uint32_t pid = c.ProcessId();
    os.createResults = {false};
    EXPECT_EQ(c.Start(), 0);
    EXPECT_EQ(c.Process(), first);
    EXPECT_EQ(c.ProcessId(), pid);
    // A later launch replaces and closes it.
    ASSERT_EQ(c.Start(), 1);
    EXPECT_NE(c.Process(), first);
    EXPECT_EQ(os.openProcesses.count(first), 0u);
}

TEST_F(StartTest, PortAndWriteFailuresWithDebugBoxes) {
    Set(L"httpd", L"debug", L"1");
    Set(L"httpd", L"default_port", L"65534");
    CApacheControl c(app);
    os.takenPorts = {65534};
    os.Clear();
    EXPECT_EQ(c.Start(), 0);
    EXPECT_THAT(os.Boxes(),
                ElementsAre(FakePlatform::Box(0, L"Nimbaraの起動に失敗しました。(Port)", L"Nimbara", 0x10),
                            FakePlatform::Box(0, L"PortCheck", L"Nimbara", MB_OK)));

    os.takenPorts.clear();
    CApacheControl w(app);
    os.unwritable = {FakePlatform::Key(kPortConf)};
    os.Clear();
    EXPECT_EQ(w.Start(), 0);
    EXPECT_THAT(os.Boxes(),
                ElementsAre(FakePlatform::Box(0, kPortConf, L"CApacheControl::CreatePortConf", MB_OK),
                            FakePlatform::Box(0,
                                              L"Nimbaraの起動に失敗しました。\nフォルダに書き込み権限があることを確認してください。",
                                              L"Nimbara", 0x10),
                            FakePlatform::Box(0, L"CreatePortConf", L"Nimbara", MB_OK)));
    EXPECT_TRUE(os.Only({"CreateProcess"}).empty());

    os.unwritable.clear();
    os.createResults = {false};
    CApacheControl e(app);
    os.Clear();
    EXPECT_EQ(e.Start(), 0);
    EXPECT_THAT(os.Boxes(),
                ElementsAre(FakePlatform::Box(0, L"C:\\nimbara\\\\bin\\httpd.exe", L"httpd start cmd", MB_OK),
                            FakePlatform::Box(0, L"Nimbaraの起動に失敗しました。(Exec)", L"Nimbara", 0x10),
                            FakePlatform::Box(0, L"Exec", L"CApacheControl::Start", MB_OK)));
}

TEST_F(StartTest, RestartTerminatesWaitsTheCurrentRestartWaitAndStarts) {
    CApacheControl c(app);
    os.processes = {{11, L"httpd.exe"}, {12, L"HTTPD.EXE"}, {13, L"httpd.exe.bak"},
                    {14, L"httpd.exe"}, {15, L"xhttpd.exe"}};
    Set(L"httpd", L"restart_wait", L"0");
    c.Restart();
    Set(L"httpd", L"restart_wait", L"750");
    c.Restart();
    EXPECT_THAT(os.Only({"Snapshot", "Terminate", "Sleep", "CreateProcess"}),
                ElementsAre("Snapshot", "Terminate 11 0", "Terminate 14 0", "Sleep 0",
                            "CreateProcess C:\\nimbara\\\\bin\\httpd.exe dir=C:\\nimbara\\bin\\",
                            "Snapshot", "Terminate 11 0", "Terminate 14 0", "Sleep 750",
                            "CreateProcess C:\\nimbara\\\\bin\\httpd.exe dir=C:\\nimbara\\bin\\"));
}

// --- php.ini -------------------------------------------------------------------------------

namespace {
const char* kTemplate =
    "[PHP]\r\n"
    "extension_dir = \"/nimbara/php/ext\"\r\n"
    "session.save_path = \"/nimbara/tmp\"\r\n"
    "eaccelerator.cache_dir=\"/nimbara/tmp/eaccelerator\"\r\n"
    "zend_extension=\"/nimbara/php/ext/php_nbloader.dll\"\r\n";
}

TEST(PhpIni, DefaultHomeCopiesEveryLineUnchanged) {
    std::string bytes;
    ASSERT_TRUE(EncodeGeneratedText(PhpIniText(kTemplate, L"nimbara"), &bytes));
    EXPECT_EQ(bytes, kTemplate);
}

TEST(PhpIni, OtherHomeRewritesExactlyTheFourLines) {
    std::string bytes;
    ASSERT_TRUE(EncodeGeneratedText(PhpIniText(kTemplate, L"apps/nimbara"), &bytes));
    EXPECT_EQ(bytes,
              "[PHP]\r\n"
              "extension_dir = \"/apps/nimbara/php/ext\"\r\n"
              "session.save_path = \"/apps/nimbara/tmp\"\r\n"
              "eaccelerator.cache_dir=\"/apps/nimbara/tmp/eaccelerator\"\r\n"
              "zend_extension=\"/apps/nimbara/php/ext/php_nbloader.dll\"\r\n");
}

TEST(PhpIni, NearMissesAreCopiedUnchanged) {
    const char* lines[] = {
        "extension_dir = \"/nimbara/php/ext\" ",
        "extension_dir\t= \"/nimbara/php/ext\"",
        "Extension_dir = \"/nimbara/php/ext\"",
        " session.save_path = \"/nimbara/tmp\"",
        "session.save_path = \"/other/tmp\"",
        "eaccelerator.cache_dir = \"/nimbara/tmp/eaccelerator\"",
        "zend_extension=\"/nimbara/php/ext/other.dll\"",
        "extension_dir = \"/other/php/ext\"",
    };
    for (const char* l : lines) {
        std::string bytes;
        ASSERT_TRUE(EncodeGeneratedText(PhpIniText(std::string(l) + "\n", L"apps/x"), &bytes));
        EXPECT_EQ(bytes, std::string(l) + "\r\n");
    }
}

TEST(PhpIni, TextModeReadingAndLineEnds) {
    std::string bytes;
    // Bare LF and a missing last line end both come out as CR LF; 0x1A ends the template.
    ASSERT_TRUE(EncodeGeneratedText(PhpIniText("a\nb\r\nc", L"n"), &bytes));
    EXPECT_EQ(bytes, "a\r\nb\r\nc\r\n");
    ASSERT_TRUE(EncodeGeneratedText(PhpIniText("a\r\n\x1A" "after\r\n", L"n"), &bytes));
    EXPECT_EQ(bytes, "a\r\n");
    EXPECT_EQ(PhpIniText("", L"n"), L"");
    EXPECT_EQ(PhpIniText("\x1A", L"n"), L"");
    // High bytes survive unchanged, long lines stay whole.
    std::string high = "; caf\xe9 \x80\xff\r\n";
    ASSERT_TRUE(EncodeGeneratedText(PhpIniText(high, L"n"), &bytes));
    EXPECT_EQ(bytes, high);
    std::string longLine = std::string(5000, 'x') + "\r\n";
    ASSERT_TRUE(EncodeGeneratedText(PhpIniText(longLine, L"n"), &bytes));
    EXPECT_EQ(bytes, longLine);
    ASSERT_TRUE(EncodeGeneratedText(PhpIniText("\r\n\r\n", L"n"), &bytes));
    EXPECT_EQ(bytes, "\r\n\r\n");
}

class PhpIniFiles : public NbTest {};

TEST_F(PhpIniFiles, MissingTemplateOrUnwritableResultKeepsTheOldFile) {
    const std::wstring ini = L"C:\\nimbara\\\\php\\php.ini";
    os.File(ini) = "hand edited";
    EXPECT_EQ(RegeneratePhpIni(L"C:\\nimbara\\"), 0);
    EXPECT_EQ(os.File(ini), "hand edited");

    os.File(L"C:\\nimbara\\php\\php.ini.ORG") = kTemplate;
    os.unwritable = {FakePlatform::Key(ini)};
    EXPECT_EQ(RegeneratePhpIni(L"C:\\nimbara\\"), 0);
    EXPECT_EQ(os.File(ini), "hand edited");

    os.unwritable.clear();
    EXPECT_EQ(RegeneratePhpIni(L"C:\\nimbara\\"), 1);
    EXPECT_EQ(os.File(ini), kTemplate);

    // A home that cannot be written in 8 bits leaves php.ini as it was.
    os.File(L"C:\\データ\\php\\php.ini.ORG") = kTemplate;
    os.File(L"C:\\データ\\php\\php.ini") = "old";
    EXPECT_EQ(RegeneratePhpIni(L"C:\\データ\\"), 0);
    EXPECT_EQ(os.File(L"C:\\データ\\php\\php.ini"), "old");
}
