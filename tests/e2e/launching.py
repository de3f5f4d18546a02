"""End-to-end cases of what nbmonitor launches and loads: the folder its programs start in
when it was started from another drive, a program planted where an unquoted server path
would find it, and DLLs planted in its own folder.

Registered with the driver of cases.py; run through tests/e2e/run.sh (suite.py).
"""
import os
import shutil

from cases import FAST, LAUNCH_LOG, PORT, clear_browser_log, nbctl, open_tray_menu, started
from harness import Failure, Installation, Supervisor, case, http_get, wait_until

# Every DLL that nbmonitor loads by name after it has begun, through a start, the tray menu,
# the restore dialog and the About box (Wine's +loaddll trace; with dwmapi and winmm, which
# the visual styles and the shell of other Wine builds load). With native
# DLLs preferred for them, as Windows' search order treats such names, one planted in the
# program's folder would be loaded from there unless the program has loaded the system's
# own first. The preference is given to nbmonitor.exe alone (Wine's AppDefaults): the
# stand-in server in the same folder imports ws2_32 and would take the marker. Wine's own
# zlib1, no DLL of Windows, is not preloaded and so not planted.
PLANTED_DLLS = ["sechost", "advapi32", "version", "win32u", "user32", "gdi32", "imm32",
                "comctl32", "uxtheme", "ws2_32", "shcore", "shlwapi", "shell32", "rpcrt4", "combase",
                "ole32", "msimg32", "dwmapi", "winmm"]


def marker(s, name):
    return os.path.join(s.build, "tests", "e2e", name)


def drive(s, letter):
    """The Unix folder of a drive of the prefix, mapped when it is not yet."""
    root = os.path.join(s.prefix, "drive_" + letter)
    link = os.path.join(s.prefix, "dosdevices", letter + ":")
    os.makedirs(root, exist_ok=True)
    if not os.path.lexists(link):
        os.symlink("../drive_" + letter, link)
    return root


@case("launch: started from drive D:, server and backup run in C:\\nimbara\\bin")
def launch_from_other_drive(s, t):
    """With D:\\work as current folder (a shortcut's working folder), the settings come from
    D:\\conf, yet the server and the backup script are started in the bin folder of the home,
    with its drive: the start serves the page."""
    inst = Installation(s, sets=FAST, standin=LAUNCH_LOG)
    inst.script("nbbackup.bat", ["@echo off", 'cd > "%~dp0..\\backup\\cwd.txt"'])
    work = os.path.join(drive(s, "d"), "work")
    conf = os.path.join(drive(s, "d"), "conf")
    os.makedirs(work, exist_ok=True)
    os.makedirs(conf, exist_ok=True)
    try:
        shutil.copyfile(inst.path("conf", "nbmonitor.ini"), os.path.join(conf, "nbmonitor.ini"))
        clear_browser_log(s)
        sup = Supervisor(inst, cwd=work)
        sup.wait_ready()
        code, _ = http_get(PORT)
        t.equal(code, 200, "HTTP status of /index.php")
        text = inst.read("launch.log").decode(errors="replace")
        dirs = [line.split(" cwd=", 1)[1].rstrip("\\").lower() for line in text.splitlines() if " cwd=" in line]
        t.equal(dirs, ["c:\\nimbara\\bin"], "current folder of the server")
        cwd = wait_until("the backup script to run", lambda: inst.exists("backup", "cwd.txt") and
                         inst.read("backup", "cwd.txt").strip(), 15, 0.3)
        t.equal(cwd.decode(errors="replace").rstrip("\\").lower(), "c:\\nimbara\\bin",
                "current folder of the backup script")
    finally:
        s.stop_all()
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(conf, ignore_errors=True)


@case("launch: home with a blank, a planted C:\\my.exe never runs")
def launch_quoted_server_path(s, t):
    """Home C:\\my apps\\nimbara: the server's path goes to the system in quotes, so a
    program at C:\\my.exe (what the unquoted line would run first) is not run, and the real
    server serves."""
    planted = os.path.join(drive(s, "c"), "my.exe")
    shutil.copyfile(marker(s, "nbmarker.exe"), planted)
    try:
        inst, sup = started(s, home="C:\\my apps\\nimbara")
        code, _ = http_get(PORT)
        t.equal(code, 200, "HTTP status of /index.php")
        t.equal(len(inst.launches()), 1, "server launches")
        t.true(not os.path.exists(planted + ".ran"), "C:\\my.exe ran in the server's place")
    finally:
        s.stop_all()
        for p in (planted, planted + ".ran"):
            if os.path.exists(p):
                os.remove(p)


def registry(s, text):
    path = os.path.join(s.out, "overrides.reg")
    with open(path, "wb") as f:
        f.write(("Windows Registry Editor Version 5.00\r\n\r\n" + text).encode("utf-16"))
    rc, out = s.run(["regedit", "/S", "Z:" + path.replace("/", "\\")], timeout=60)
    if rc != 0:
        raise Failure("regedit %s failed (%d): %s" % (path, rc, out))


APP_DEFAULTS = "HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\nbmonitor.exe"


@case("launch: DLLs planted in bin are not loaded (start, tray menu, restore dialog, About)")
def launch_planted_dlls(s, t):
    """Marker DLLs named like every system DLL nbmonitor loads by name after its start, in
    the bin folder, native ones preferred: through a start, the tray menu's About, the
    restore dialog and the About box none of them is loaded, and the program serves as
    usual."""
    registry(s, "[%s\\DllOverrides]\r\n" % APP_DEFAULTS +
             "".join('"%s"="native,builtin"\r\n' % name for name in PLANTED_DLLS))
    try:
        def plant(inst):
            for name in PLANTED_DLLS:
                shutil.copyfile(marker(s, "nbmarker.dll"), os.path.join(inst.bin, name + ".dll"))
        inst, sup = started(s, prepare=plant)
        code, _ = http_get(PORT)
        t.equal(code, 200, "HTTP status of /index.php")
        x, y, w, h = open_tray_menu(s, t)
        s.screen.click((x + w // 2, y + h // 4))
        s.dialog("情報", 10)
        s.press("情報", 1)
        s.wait_dialog_gone("情報")
        rc, _ = nbctl(s, inst, "restore")
        t.equal(rc, 0, "nbctl restore exit status")
        s.dialog("復旧", 15)
        s.press("復旧", 2)
        s.wait_dialog_gone("復旧")
        rc, _ = nbctl(s, inst, "about")
        t.equal(rc, 0, "nbctl about exit status")
        s.dialog("情報", 15)
        s.press("情報", 1)
        s.wait_dialog_gone("情報")
        t.true(sup.running(), "nbmonitor still runs")
        loaded = sorted(f for f in os.listdir(inst.bin) if f.endswith(".loaded"))
        t.equal(loaded, [], "planted DLLs that were loaded")
    finally:
        s.stop_all()
        registry(s, "[-%s]\r\n" % APP_DEFAULTS)
