// Files, folders, settings and text conversion on the real file system.
#include <cwchar>

#include "platform_fixture.h"
#include "wine_test.h"

namespace {

const std::string kOld = "Listen 127.0.0.1:27142\r\n";
// Every byte value a generated file may hold, CR LF and NUL included.
std::string AllBytes() {
    std::string s;
    for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
    return s + "\r\nend\r\n";
}

}  // namespace

START_TEST(replace_writes_exact_bytes) {
    std::wstring dir = fx::NewFolder(L"replace");
    std::wstring target = dir + L"\\httpd-port.conf";

    ok(fx::Os().ReplaceFileContent(target, kOld) == 1, "a new file should be written\n");
    ok(fx::ReadBytes(target) == kOld, "content of the new file differs\n");

    std::string all = AllBytes();
    ok(fx::Os().ReplaceFileContent(target, all) == 1, "replacing should succeed\n");
    std::string got = fx::ReadBytes(target);
    ok(got == all, "all 256 byte values expected back, got %u bytes\n", unsigned(got.size()));

    // Shorter content must not leave the tail of the longer one behind.
    ok(fx::Os().ReplaceFileContent(target, "x") == 1, "replacing should succeed\n");
    ok(fx::ReadBytes(target) == "x", "1 byte expected, got %u\n",
       unsigned(fx::ReadBytes(target).size()));

    ok(fx::Os().ReplaceFileContent(target, "") == 1, "an empty file should be written\n");
    bool found = false;
    ok(fx::ReadBytes(target, &found).empty() && found, "an existing empty file expected\n");

    // No temporary file stays behind.
    std::wstring names = fx::ListNames(dir);
    ok(names == L"httpd-port.conf", "only the target expected in the folder, got %s\n",
       wt::Esc(names).c_str());

    // Doubled separators, as the program's paths have them.
    std::wstring doubled = dir + L"\\\\doubled.conf";
    ok(fx::Os().ReplaceFileContent(doubled, kOld) == 1 &&
           fx::ReadBytes(dir + L"\\doubled.conf") == kOld,
       "a path with a doubled separator should be written\n");
}

START_TEST(replace_failure_keeps_old_file) {
    std::wstring dir = fx::NewFolder(L"keep");
    std::wstring target = dir + L"\\httpd-nb.conf";
    fx::WriteBytes(target, kOld);

    // A read-only target cannot be replaced.
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
    int r = fx::Os().ReplaceFileContent(target, "new content\r\n");
    ok(r == 0, "a read-only target should not be replaced, result %d\n", r);
    ok(fx::ReadBytes(target) == kOld, "the read-only target changed\n");
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    ok(fx::ListNames(dir) == L"httpd-nb.conf", "a temporary file was left: %s\n",
       wt::Esc(fx::ListNames(dir)).c_str());

    // A target held open without sharing (the server reading it, say).
    HANDLE held = ::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ok(held != INVALID_HANDLE_VALUE, "cannot hold the target, error %lu\n", ::GetLastError());
    nb::WriteError why = nb::WriteError::None;
    r = fx::Os().ReplaceFileContent(target, "new content\r\n", &why);
    ::CloseHandle(held);
    ok(r == 0, "a target held open without sharing should not be replaced, result %d\n", r);
    // Told apart, so that the caller waits the reader out.
    ok(why == nb::WriteError::TargetBusy, "a held target should read as busy, got %d\n",
       static_cast<int>(why));
    ok(fx::ReadBytes(target) == kOld, "the held target changed\n");
    ok(fx::ListNames(dir) == L"httpd-nb.conf", "a temporary file was left: %s\n",
       wt::Esc(fx::ListNames(dir)).c_str());

    // A missing folder: nothing is created anywhere.
    r = fx::Os().ReplaceFileContent(dir + L"\\missing\\httpd-nb.conf", kOld);
    ok(r == 0, "a file in a missing folder cannot be written, result %d\n", r);
    ok(fx::ListNames(dir) == L"httpd-nb.conf", "unexpected files: %s\n",
       wt::Esc(fx::ListNames(dir)).c_str());

    // A folder in the target's place.
    std::wstring folderTarget = fx::NewFolder(L"keep\\php.ini");
    r = fx::Os().ReplaceFileContent(folderTarget, kOld);
    ok(r == 0, "a folder should not be replaced by a file, result %d\n", r);
    ok(::GetFileAttributesW(folderTarget.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
       "the folder should still be there\n");
}

START_TEST(replace_short_write) {
    std::wstring dir = fx::NewFolder(L"short");
    std::wstring victim = dir + L"\\php.ini";
    std::wstring other = dir + L"\\httpd-port.conf";
    fx::WriteBytes(victim, kOld);
    fx::WriteBytes(other, kOld);

    ::SetEnvironmentVariableW(nb::win::kShortWriteFaultVariable, L"php.ini");
    int r = fx::Os().ReplaceFileContent(victim, AllBytes());
    int rOther = fx::Os().ReplaceFileContent(other, "Listen 127.0.0.1:27143\r\n");
    ::SetEnvironmentVariableW(nb::win::kShortWriteFaultVariable, nullptr);

    ok(r == 0, "a short write should fail, result %d\n", r);
    ok(fx::ReadBytes(victim) == kOld, "the old file should be intact after a short write\n");
    ok(rOther == 1 && fx::ReadBytes(other) == "Listen 127.0.0.1:27143\r\n",
       "a file the fault does not name should be written, result %d\n", rOther);
    std::wstring names = fx::ListNames(dir);
    ok(names == L"php.ini httpd-port.conf" || names == L"httpd-port.conf php.ini",
       "no temporary file should stay, got %s\n", wt::Esc(names).c_str());

    r = fx::Os().ReplaceFileContent(victim, AllBytes());
    ok(r == 1 && fx::ReadBytes(victim) == AllBytes(),
       "without the fault the write should succeed, result %d\n", r);
}

START_TEST(temporary_name) {
    std::wstring t = nb::TemporarySibling(L"C:\\nimbara\\\\php\\php.ini", 0x1a2b, 3);
    ok(t.compare(0, 23, L"C:\\nimbara\\\\php\\php.ini") == 0 && t.size() > 23,
       "the temporary file should sit beside the target, got %s\n", wt::Esc(t).c_str());
    ok(t != nb::TemporarySibling(L"C:\\nimbara\\\\php\\php.ini", 0x1a2b, 4),
       "serial numbers should give different names\n");
    ok(t != nb::TemporarySibling(L"C:\\nimbara\\\\php\\php.ini", 0x1a2c, 3),
       "process ids should give different names\n");
}

START_TEST(read_whole_file) {
    std::wstring dir = fx::NewFolder(L"read");
    std::wstring path = dir + L"\\php.ini.ORG";
    std::string big;
    for (int i = 0; i < 5000; ++i) big += "line " + std::to_string(i) + "\r\n";
    big += std::string(1, '\x1a') + "after eof marker";
    fx::WriteBytes(path, big);

    std::string got = "untouched";
    ok(fx::Os().ReadWholeFile(path, got) == 1 && got == big,
       "%u bytes expected, got %u\n", unsigned(big.size()), unsigned(got.size()));

    got = "untouched";
    ok(fx::Os().ReadWholeFile(dir + L"\\missing.ini", got) == 0 && got == "untouched",
       "a missing file should fail and leave the output alone, got %s\n", got.c_str());

    // Read without sharing: a file that someone has open cannot be read.
    HANDLE held = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    got = "untouched";
    int r = fx::Os().ReadWholeFile(path, got);
    ::CloseHandle(held);
    ok(r == 0 && got == "untouched", "a file open elsewhere should not be read, result %d\n", r);
}

START_TEST(read_from_a_file_its_writer_keeps_open) {
    std::wstring path = fx::NewFolder(L"readfrom") + L"\\error.log";
    fx::WriteBytes(path, "0123456789");
    // As the server keeps its error log: open for writing, sharing reads and writes.
    HANDLE writer = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    std::string got = "untouched";
    int r = fx::Os().ReadFileFrom(path, 3, 4, got);
    ok(r == 1 && got == "3456", "4 bytes from offset 3 expected, got %d %s\n", r, got.c_str());
    r = fx::Os().ReadFileFrom(path, 8, 100, got);
    ok(r == 1 && got == "89", "the rest up to the end expected, got %d %s\n", r, got.c_str());
    ::CloseHandle(writer);
    got = "untouched";
    ok(fx::Os().ReadFileFrom(path + L".missing", 0, 10, got) == 0 && got == "untouched",
       "a missing file should fail and leave the output alone, got %s\n", got.c_str());
}

START_TEST(list_and_remove) {
    std::wstring dir = fx::NewFolder(L"backup");
    fx::WriteBytes(dir + L"\\20260101.zip", "a");
    fx::WriteBytes(dir + L"\\20260102.zip", "b");
    fx::NewFolder(L"backup\\20260103");

    std::vector<nb::FindEntry> entries;
    ok(fx::Os().ListFolder(dir + L"\\\\*", entries) == 1, "the folder should be listed\n");
    int files = 0, dirs = 0, dots = 0;
    for (const nb::FindEntry& e : entries) {
        if (e.name == L"." || e.name == L"..") {
            ++dots;
            ok(e.directory, "%s should be a directory\n", wt::Esc(e.name).c_str());
        } else if (e.name == L"20260103") {
            ++dirs;
            ok(e.directory, "20260103 should be a directory\n");
        } else {
            ++files;
            ok(!e.directory, "%s should be a file\n", wt::Esc(e.name).c_str());
        }
    }
    ok(files == 2 && dirs == 1 && dots == 2, "2 files, 1 folder, . and .. expected, got %d %d %d\n",
       files, dirs, dots);

    std::vector<nb::FindEntry> untouched(1);
    ok(fx::Os().ListFolder(dir + L"\\missing\\*", untouched) == 0 && untouched.size() == 1,
       "a missing folder should fail and leave the output alone\n");

    ok(fx::Os().RemoveFile(dir + L"\\\\20260101.zip") == 1, "the file should be deleted\n");
    ok(::GetFileAttributesW((dir + L"\\20260101.zip").c_str()) == INVALID_FILE_ATTRIBUTES,
       "the deleted file is still there\n");
    ok(fx::Os().RemoveFile(dir + L"\\20260101.zip") == 0, "deleting twice should fail\n");
    ok(fx::Os().RemoveFile(dir + L"\\20260103") == 0, "a folder is not deleted as a file\n");
}

START_TEST(settings_reads) {
    std::wstring dir = fx::NewFolder(L"conf");
    std::wstring ini = dir + L"\\nbmonitor.ini";
    fx::WriteBytes(ini,
                   "[httpd]\r\ndefault_port=28000\r\ndefault_address=0.0.0.0\r\n"
                   "debug=-1\r\n[nbmonitor]\r\nwait_time=abc\r\n");
    nb::win::Win32Platform& os = fx::Os();
    ok(os.ProfileInt(L"httpd", L"default_port", 27142, ini.c_str()) == 28000,
       "28000 expected, got %u\n", os.ProfileInt(L"httpd", L"default_port", 27142, ini.c_str()));
    ok(os.ProfileInt(L"httpd", L"debug", 0, ini.c_str()) == 0xFFFFFFFFu,
       "-1 read as unsigned expected, got %#x\n", os.ProfileInt(L"httpd", L"debug", 0, ini.c_str()));
    ok(os.ProfileInt(L"nbmonitor", L"wait_time", 2000, ini.c_str()) == 0,
       "a text that is not a number reads as 0, got %u\n",
       os.ProfileInt(L"nbmonitor", L"wait_time", 2000, ini.c_str()));
    ok(os.ProfileInt(L"nbmonitor", L"monitor_interval", 5000, ini.c_str()) == 5000,
       "the default expected for a missing key\n");
    std::wstring addr = os.ProfileString(L"httpd", L"default_address", L"127.0.0.1", ini.c_str(), 256);
    ok(addr == L"0.0.0.0", "0.0.0.0 expected, got %s\n", wt::Esc(addr).c_str());
    addr = os.ProfileString(L"httpd", L"default_address", L"127.0.0.1", ini.c_str(), 4);
    ok(addr == L"0.0", "cut to 3 characters expected, got %s\n", wt::Esc(addr).c_str());
    addr = os.ProfileString(L"httpd", L"missing", L"127.0.0.1", (dir + L"\\none.ini").c_str(), 256);
    ok(addr == L"127.0.0.1", "the default expected without a file, got %s\n", wt::Esc(addr).c_str());
}

START_TEST(environment) {
    nb::win::Win32Platform& os = fx::Os();
    std::wstring self = fx::SelfPath();
    std::wstring module;
    ok(os.ModulePath(module, 255) == 1 && module == self.substr(0, 255),
       "module path %s expected, got %s\n", wt::Esc(self).c_str(), wt::Esc(module).c_str());
    ok(os.ModulePath(module, 5) == 1 && module == self.substr(0, 5),
       "module path cut to 5 expected, got %s\n", wt::Esc(module).c_str());

    wchar_t cwd[MAX_PATH];
    DWORD n = ::GetCurrentDirectoryW(MAX_PATH, cwd);
    std::wstring got = L"untouched";
    ok(os.CurrentDirectory(got, 260) == 1 && got == cwd, "current folder %s expected, got %s\n",
       wt::Esc(cwd).c_str(), wt::Esc(got).c_str());
    got = L"untouched";
    ok(os.CurrentDirectory(got, n) == 0 && got == L"untouched",
       "a buffer without room for the terminator should fail, got %s\n", wt::Esc(got).c_str());
    ok(os.CurrentDirectory(got, n + 1) == 1 && got == cwd, "an exact buffer should do\n");

    std::string ansi = "untouched";
    ok(os.WideToAnsi(L"127.0.0.1", ansi, 256) == 1 && ansi == "127.0.0.1",
       "127.0.0.1 expected, got %s\n", ansi.c_str());
    ansi = "untouched";
    ok(os.WideToAnsi(L"127.0.0.1", ansi, 5) == 0 && ansi == "untouched",
       "a conversion that does not fit should fail, got %s\n", ansi.c_str());

    std::wstring name = L"nbwt-mutex-" + std::to_wstring(::GetCurrentProcessId());
    bool existed = true;
    ok(os.CreateInstanceMutex(name, &existed) == 1 && !existed, "a new mutex expected\n");
    ok(os.CreateInstanceMutex(name, &existed) == 1 && existed,
       "the second creation should find the first\n");

    uint16_t granted = 0;
    ok(os.SocketsStartup(0x0101, &granted) == 1 && granted == 0x0101,
       "Windows Sockets 1.1 expected, got %#x\n", granted);
    os.SocketsCleanup();
    ok(os.SocketsStartup(0x0002, &granted) == 1 && granted == 0x0002,
       "Windows Sockets 2.0 expected, got %#x\n", granted);
    os.SocketsCleanup();

    uint32_t a = os.RegisterMessage(L"TaskbarCreated");
    ok(a >= 0xC000 && a == os.RegisterMessage(L"TaskbarCreated"),
       "a stable registered message expected, got %#x\n", a);
    ok(os.InitCommonControls(0xFF) == 1, "the common controls should register\n");
}
