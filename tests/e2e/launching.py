"""End-to-end cases of what nbmonitor launches and loads: the folder its programs start in
when it was started from another drive, a program planted where an unquoted server path
would find it, and DLLs planted in its own folder.

Registered with the driver of cases.py; run through tests/e2e/run.sh (suite.py).
"""
import os
import shutil

from cases import FAST, LAUNCH_LOG, PORT, clear_browser_log, nbctl, started
from harness import Installation, Supervisor, case, http_get, wait_until

# Names of DLLs that the common controls and the shell load by name after start-up. With
# native DLLs preferred for them, as Windows' search order treats such names, one planted in
# the program's folder would be loaded from there unless the program restricts the search.
PLANTED_DLLS = ["uxtheme", "dwmapi", "winmm", "version"]


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


@case("launch: DLLs planted in bin are not loaded (start, restore dialog, About)")
def launch_planted_dlls(s, t):
    """Marker DLLs named like system DLLs in the bin folder, native ones preferred: through a
    start, the restore dialog and the About box none of them is loaded, and the program
    serves as usual."""
    saved = dict(s.env)
    overrides = [o for o in s.env.get("WINEDLLOVERRIDES", "").split(";") if o]
    s.env["WINEDLLOVERRIDES"] = ";".join(overrides + [",".join(PLANTED_DLLS) + "=n,b"])
    try:
        def plant(inst):
            for name in PLANTED_DLLS:
                shutil.copyfile(marker(s, "nbmarker.dll"), os.path.join(inst.bin, name + ".dll"))
        inst, sup = started(s, prepare=plant)
        code, _ = http_get(PORT)
        t.equal(code, 200, "HTTP status of /index.php")
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
        s.env = saved
