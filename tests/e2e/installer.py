"""End-to-end case of the example installer (packaging/installer): two builds made here with
makensis from the release zip's files and the demo's stack (the stand-in server), installed,
upgraded while nbmonitor runs and uninstalled, silently.

Registered with the driver of cases.py; run through tests/e2e/run.sh (suite.py).
"""
import datetime
import glob
import os
import re
import shutil
import struct
import subprocess
import zipfile

from cases import MONITOR_S, PORT, RESTART_WAIT_S, WAIT_S
from harness import Failure, case, http_get, wait_until
from supervision_log import events

APPS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\nbmonitor"
HOME = "C:\\nimbara\\"
SETTINGS = ("[httpd]\r\ndefault_port=%d\r\nrestart_wait=%d\r\n[nbmonitor]\r\nmonitor_interval=%d\r\n"
            "wait_time=%d\r\n" % (PORT, RESTART_WAIT_S * 1000, MONITOR_S * 1000, WAIT_S * 1000)).encode()


def lnk_working_folder(data):
    """The working folder ("Start in") of a shell link (.lnk): the third of its counted
    strings, after the header, the item id list and the link info."""
    flags = struct.unpack_from("<I", data, 0x14)[0]
    pos = 0x4C + (2 + struct.unpack_from("<H", data, 0x4C)[0] if flags & 0x1 else 0)
    pos += struct.unpack_from("<I", data, pos)[0] if flags & 0x2 else 0
    width, text = (2 if flags & 0x80 else 1), None
    for bit in (0x4, 0x8, 0x10):  # name, relative path, working folder
        if flags & bit:
            count = struct.unpack_from("<H", data, pos)[0]
            text = data[pos + 2:pos + 2 + count * width] if bit == 0x10 else None
            pos += 2 + count * width
    return text and text.decode("utf-16-le" if width == 2 else "latin-1").rstrip("\0")  # Wine counts the NUL


class Kit:
    """The two installers (the second with another start page and other settings) and what
    the case reads back in the prefix."""

    def __init__(self, s):
        self.s, self.dir = s, os.path.join(s.out, "installer")
        shutil.rmtree(self.dir, ignore_errors=True)
        r = subprocess.run(["bash", "-c", '. "$0/scripts/wine-env.sh" >/dev/null && nb__release_zip "$1"', s.root,
                            s.build], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=s.env, timeout=900)
        if r.returncode != 0:
            raise Failure("no release zip: %s" % r.stdout.decode(errors="replace")[-400:])
        self.release = os.path.join(self.dir, "release")
        zipfile.ZipFile(r.stdout.decode().split()[-1]).extractall(self.release)
        with open(os.path.join(s.build, "CPackConfig.cmake")) as f:
            self.target = re.search(r'set\(CPACK_NB_NSIS_TARGET "([^"]+)"\)', f.read()).group(1)
        self.stack, self.page = os.path.join(self.dir, "stack"), None
        demo = os.path.join(s.root, "tools", "demo")
        for name, rel in (("index.php", "htdocs"), ("nbbackup.bat", "bin"), ("nbrestore.bat", "bin"),
                          ("php.ini.ORG.in", "php")):
            with open(os.path.join(demo, name), "rb") as f:
                data = re.sub(rb"\r?\n", b"\r\n", f.read()).replace(b"@NB_LOADER_DLL@", b"php_nbloader.dll")
            self.put(os.path.join(rel, re.sub(r"\.in$", "", name)), data)
            self.page = data if name == "index.php" else self.page
        shutil.copy(os.path.join(s.build, "tools", "bin", "httpd.exe"), os.path.join(self.stack, "bin"))
        self.page2 = self.page + b"<!-- the second build -->\r\n"
        self.setup1 = self.make("1", SETTINGS)
        self.put(os.path.join("htdocs", "index.php"), self.page2)
        self.setup2 = self.make("2", b"; other settings\r\n" + SETTINGS)

    def put(self, rel, data):
        os.makedirs(os.path.dirname(os.path.join(self.stack, rel)), exist_ok=True)
        with open(os.path.join(self.stack, rel), "wb") as f:
            f.write(data)

    def make(self, n, settings):
        ini, out = os.path.join(self.dir, "settings%s.ini" % n), os.path.join(self.dir, "setup%s.exe" % n)
        with open(ini, "wb") as f:
            f.write(settings)
        r = subprocess.run(["makensis", "-V2", "-WX", "-DNB_FILES=" + self.release, "-DNB_STACK=" + self.stack,
                            "-DNB_INI=" + ini, "-DNB_VERSION=1.1.0.0", "-DNB_BUILD_ID=1.1.0.0+test" + n,
                            "-DNB_TARGET=" + self.target, "-DNB_OUTFILE=" + out,
                            os.path.join(self.s.root, "packaging", "installer", "nbmonitor.nsi")],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        if r.returncode != 0:
            raise Failure("makensis failed: %s" % r.stdout.decode(errors="replace")[-600:])
        return out

    def wine(self, *args, timeout=180):
        """Runs a program to its end, output to a log (a pipe would be held by the nbmonitor
        an installer starts), without menu entries on this machine for the shortcut."""
        env = dict(self.s.env, WINEDLLOVERRIDES=self.s.env.get("WINEDLLOVERRIDES", "") + ";winemenubuilder.exe=d")
        with open(os.path.join(self.s.logs, "installer.log"), "ab") as log:
            try:
                return subprocess.run([self.s.loader] + list(args), cwd=self.s.out, env=env, stdin=subprocess.DEVNULL,
                                      stdout=log, stderr=subprocess.STDOUT, timeout=timeout).returncode
            except subprocess.TimeoutExpired as e:
                raise Failure("%s did not end within %d s" % (" ".join(args), timeout)) from e

    def home(self, *parts):
        return os.path.join(self.s.prefix, "drive_c", "nimbara", *parts)

    def read(self, *parts):
        with open(self.home(*parts), "rb") as f:
            return f.read()

    def shortcut(self):
        found = glob.glob(os.path.join(self.s.prefix, "drive_c", "users", "*", "AppData", "Roaming", "Microsoft",
                                       "Windows", "Start Menu", "Programs", "*", "nbmonitor.lnk"))
        return ([p for p in found if os.path.basename(os.path.dirname(p)).lower() == "startup"] + [None])[0]

    def apps_entry(self):
        r = subprocess.run([self.s.loader, "reg", "query", APPS_KEY], env=self.s.env, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, timeout=60)
        return dict(re.findall(r"^\s+(\w+)\s+REG_\w+\s+(.*?)\s*$", r.stdout.decode(errors="replace"), re.M)) or None

    def clean(self):
        shutil.rmtree(self.home(), ignore_errors=True)
        if self.shortcut():
            os.remove(self.shortcut())
        self.wine("reg", "delete", APPS_KEY, "/f", timeout=60)

    def uninstall(self, *args):
        """As the apps list starts it: it copies itself away and returns at once, so wait
        until the copy has removed the original and ended."""
        rc = self.wine(self.home("uninstall.exe"), "/S", *args)
        wait_until("the uninstaller to end", lambda: not os.path.exists(self.home("uninstall.exe")) and not
                   [n for _, n in self.s.processes() if re.match(r"(?i)(un_\w|au_)\.exe$", n)], 60, 0.5)
        return rc


def running(s):
    return s.probe("waitwin", "nbmonitorDlg", 30000, timeout=45)[0] == 0


@case("installer: install, upgrade while running, uninstall keeping the data")
def installer_lifecycle(s, t):
    """Install into an empty home: files, settings, the Startup shortcut (bin\\ as working
    folder), the Apps entry, nbmonitor started and serving. A second build while it runs:
    `exit reason=command` logged before any file is written, the new page, the data, a backup
    and the settings unchanged, nbmonitor again. Uninstall: nbmonitor ended, program files,
    shortcut and entry gone, data kept; with /KEEPDATA=0 the home gone."""
    kit = Kit(s)
    kit.clean()
    try:
        t.equal(kit.wine(kit.setup1, "/S"), 0, "exit status of the first install")
        t.equal(kit.read("conf", "nbmonitor.ini"), SETTINGS, "conf\\nbmonitor.ini written")
        link = open(kit.shortcut(), "rb").read() if kit.shortcut() else b""
        target = HOME + "bin\\nbmonitor.exe"
        t.true(target.encode() + b"\0" in link or target.encode("utf-16-le") + b"\0\0" in link, "the shortcut's target")
        t.equal(link and lnk_working_folder(link), HOME + "bin", "the shortcut's working folder")
        apps = kit.apps_entry() or {}
        t.equal([apps.get(k) for k in ("DisplayVersion", "Publisher", "UninstallString")],
                ["1.1.0.0+test1", "Nimbara Project", '"%suninstall.exe"' % HOME],
                "the Apps entry")
        if not running(s):
            raise Failure("nbmonitor did not start after the install")
        t.equal(wait_until("the page", lambda: http_get(PORT)[0] == 200 and http_get(PORT), 20), (200, kit.page),
                "the page served after the install")
        data = {("htdocs", "data", "app.db"): b"the database\r\n", ("backup", "app-20261209-120000-00.db"): b"a backup\r\n",
                ("conf", "nbmonitor.ini"): SETTINGS}
        for parts, content in data.items():
            with open(kit.home(*parts), "wb") as f:
                f.write(content)

        t.equal(kit.wine(kit.setup2, "/S"), 0, "exit status of the upgrade")
        exits = [line for line in events(kit, "exit") if "reason=command" in line]
        ended = datetime.datetime.fromisoformat(exits[0].split()[0]).timestamp() if len(exits) == 1 else None
        for parts in (("bin", "nbmonitor.exe"), ("htdocs", "index.php")):
            t.true(ended and ended <= os.stat(kit.home(*parts)).st_mtime,
                   "one exit reason=command logged before %s was written: %r" % ("\\".join(parts), exits))
        t.equal(kit.read("htdocs", "index.php"), kit.page2, "the page of the second build")
        for parts, content in data.items():
            t.equal(kit.read(*parts), content, "\\".join(parts) + " after the upgrade")
        t.true(running(s) and wait_until("two start lines", lambda: len(events(kit, "start")) == 2, 20),
               "nbmonitor started again")
        t.equal(wait_until("the new page", lambda: http_get(PORT)[1] == kit.page2 and http_get(PORT), 20),
                (200, kit.page2), "the page served after the upgrade")

        t.equal(kit.uninstall(), 0, "exit status of the uninstaller")
        t.equal([n for _, n in s.processes() if n.lower() in ("nbmonitor.exe", "httpd.exe")], [], "processes left")
        t.equal([p for p in ("bin/nbmonitor.exe", "bin/nbctl.exe", "bin/httpd.exe", "htdocs/index.php", "README.md")
                 if os.path.exists(kit.home(*p.split("/")))], [], "program files left")
        t.equal((kit.shortcut(), kit.apps_entry()), (None, None), "shortcut and Apps entry left")
        for parts, content in data.items():
            t.true(os.path.exists(kit.home(*parts)) and kit.read(*parts) == content, "\\".join(parts) + " kept")
        t.true(os.path.exists(kit.home("logs", "nbmonitor.log")), "logs\\nbmonitor.log kept")
        t.equal(kit.wine(kit.setup2, "/S", "/NOSTART"), 0, "exit status of the install with /NOSTART")
        t.equal(s.pids_of("nbmonitor.exe"), [], "nbmonitor after the install with /NOSTART")
        t.equal(kit.uninstall("/KEEPDATA=0"), 0, "exit status of the uninstaller with /KEEPDATA=0")
        t.true(not os.path.exists(kit.home()), "the home is gone with /KEEPDATA=0")
    finally:
        s.stop_all()
        kit.clean()
