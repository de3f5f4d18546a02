"""End-to-end case of the example installer (packaging/installer): built here with makensis
from the release zip's files and the demo's stack (the stand-in server), then installed,
upgraded while nbmonitor runs and uninstalled, silently, as a user's installer does it.

Registered with the driver of cases.py; run through tests/e2e/run.sh (suite.py).
"""
import datetime
import glob
import os
import re
import shutil
import struct
import subprocess
import time
import zipfile

from cases import MONITOR_S, PORT, RESTART_WAIT_S, WAIT_S
from harness import Failure, case, http_get, wait_until
from supervision_log import events

APPS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\nbmonitor"
HOME = "C:\\nimbara\\"
SETTINGS = ("[httpd]\r\ndefault_port=%d\r\nrestart_wait=%d\r\n[nbmonitor]\r\nmonitor_interval=%d\r\n"
            "wait_time=%d\r\n" % (PORT, RESTART_WAIT_S * 1000, MONITOR_S * 1000, WAIT_S * 1000))


def lnk_target_and_folder(data):
    """(target path, working folder) of a shell link (.lnk) file."""
    flags = struct.unpack_from("<I", data, 0x14)[0]
    pos = 0x4C
    if flags & 0x1:  # item id list
        pos += 2 + struct.unpack_from("<H", data, pos)[0]
    target = None
    if flags & 0x2:  # link info: the local path, in UTF-16 when the header is long enough
        size, header = struct.unpack_from("<II", data, pos)
        base = struct.unpack_from("<I", data, pos + 16)[0]
        if header >= 0x24:
            start = end = pos + struct.unpack_from("<I", data, pos + 28)[0]
            while data[end:end + 2] != b"\0\0":
                end += 2
            target = data[start:end].decode("utf-16-le")
        else:
            target = data[pos + base:data.index(b"\0", pos + base)].decode("latin-1")
        pos += size
    strings = []
    for bit in (0x4, 0x8, 0x10):  # name, relative path, working folder
        if flags & bit:
            count = struct.unpack_from("<H", data, pos)[0]
            width = 2 if flags & 0x80 else 1
            raw = data[pos + 2:pos + 2 + count * width]
            strings.append(raw.decode("utf-16-le" if width == 2 else "latin-1").rstrip("\0"))  # Wine counts the NUL
            pos += 2 + count * width
        else:
            strings.append(None)
    return target, strings[2]


class Kit:
    """Two builds of the installer (the second with a changed start page and other settings)
    and what the case reads back in the prefix."""

    def __init__(self, s):
        self.s = s
        self.dir = os.path.join(s.out, "installer")
        shutil.rmtree(self.dir, ignore_errors=True)
        build, root = s.build, s.root
        r = subprocess.run(["bash", "-c", '. "$0/scripts/wine-env.sh" >/dev/null && nb__release_zip "$1"', root, build],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=s.env, timeout=900)
        zip_path = r.stdout.decode().strip().splitlines()[-1] if r.returncode == 0 else ""
        if not os.path.isfile(zip_path):
            raise Failure("no release zip of %s: %s" % (build, r.stdout.decode(errors="replace")[-400:]))
        self.release = os.path.join(self.dir, "release")
        zipfile.ZipFile(zip_path).extractall(self.release)
        with open(os.path.join(build, "CPackConfig.cmake")) as f:
            target = re.search(r'set\(CPACK_NB_NSIS_TARGET "([^"]+)"\)', f.read()).group(1)
        stack = os.path.join(self.dir, "stack")
        demo = os.path.join(root, "tools", "demo")
        crlf = lambda text: re.sub(r"\r?\n", "\r\n", text).encode("latin-1")  # noqa: E731
        self.page = crlf(open(os.path.join(demo, "index.php"), encoding="latin-1").read())
        files = {
            "bin/nbbackup.bat": crlf(open(os.path.join(demo, "nbbackup.bat"), encoding="latin-1").read()),
            "bin/nbrestore.bat": crlf(open(os.path.join(demo, "nbrestore.bat"), encoding="latin-1").read()),
            "php/php.ini.ORG": crlf(open(os.path.join(demo, "php.ini.ORG.in"), encoding="latin-1").read()
                                    .replace("@NB_LOADER_DLL@", "php_nbloader.dll")),
            "htdocs/index.php": self.page,
        }
        for rel, data in files.items():
            os.makedirs(os.path.dirname(os.path.join(stack, rel)), exist_ok=True)
            with open(os.path.join(stack, rel), "wb") as f:
                f.write(data)
        shutil.copy(os.path.join(build, "tools", "bin", "httpd.exe"), os.path.join(stack, "bin"))
        self.settings = SETTINGS.encode()
        self.page2 = self.page + b"<!-- the second build -->\r\n"
        self.setup1 = self.make("1", stack, self.settings, target)
        with open(os.path.join(stack, "htdocs", "index.php"), "wb") as f:
            f.write(self.page2)
        self.setup2 = self.make("2", stack, b"; other settings\r\n" + self.settings, target)

    def make(self, n, stack, settings, target):
        ini = os.path.join(self.dir, "settings%s.ini" % n)
        with open(ini, "wb") as f:
            f.write(settings)
        out = os.path.join(self.dir, "setup%s.exe" % n)
        r = subprocess.run(["makensis", "-V2", "-WX", "-DNB_FILES=" + self.release, "-DNB_STACK=" + stack,
                            "-DNB_INI=" + ini, "-DNB_VERSION=1.1.0.0", "-DNB_BUILD_ID=1.1.0.0+test" + n,
                            "-DNB_TARGET=" + target, "-DNB_OUTFILE=" + out,
                            os.path.join(self.s.root, "packaging", "installer", "nbmonitor.nsi")],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        if r.returncode != 0:
            raise Failure("makensis failed: %s" % r.stdout.decode(errors="replace")[-600:])
        return out

    # --- the prefix -------------------------------------------------------------------------

    def env(self):
        # No menu entries on this machine for the shortcut the installer makes.
        return dict(self.s.env, WINEDLLOVERRIDES=self.s.env.get("WINEDLLOVERRIDES", "") + ";winemenubuilder.exe=d")

    def run(self, exe, *args, timeout=180):
        """Runs an installer or uninstaller to its end; its output goes to a log, since the
        nbmonitor it starts would hold a pipe open."""
        with open(os.path.join(self.s.logs, "installer.log"), "ab") as log:
            try:
                return subprocess.run([self.s.loader, exe] + list(args), cwd=self.s.out, env=self.env(),
                                      stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                      timeout=timeout).returncode
            except subprocess.TimeoutExpired as e:
                raise Failure("%s %s did not end within %d s" % (exe, " ".join(args), timeout)) from e

    def home(self, *parts):
        return os.path.join(self.s.prefix, "drive_c", "nimbara", *parts)

    def read(self, *parts):
        with open(self.home(*parts), "rb") as f:
            return f.read()

    def shortcut(self):
        found = glob.glob(os.path.join(self.s.prefix, "drive_c", "users", "*", "AppData", "Roaming", "Microsoft",
                                       "Windows", "Start Menu", "Programs", "*", "nbmonitor.lnk"))
        found = [p for p in found if os.path.basename(os.path.dirname(p)).lower() == "startup"]  # Wine: StartUp
        return found[0] if found else None

    def apps_entry(self):
        """The values of the uninstall entry, or None when there is none."""
        r = subprocess.run([self.s.loader, "reg", "query", APPS_KEY], env=self.env(), stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, timeout=60)
        values = dict(re.findall(r"^\s+(\w+)\s+REG_\w+\s+(.*?)\s*$", r.stdout.decode(errors="replace"), re.M))
        return values if r.returncode == 0 and values else None

    def clean(self):
        shutil.rmtree(self.home(), ignore_errors=True)
        if self.shortcut():
            os.remove(self.shortcut())
        subprocess.run([self.s.loader, "reg", "delete", APPS_KEY, "/f"], env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)

    def uninstall(self, *args):
        """The uninstaller as the Apps list starts it: it copies itself away and returns at
        once, so wait until its copy has removed it and ended."""
        rc = self.run(self.home("uninstall.exe"), "/S", *args)
        wait_until("the uninstaller to end", lambda: not os.path.exists(self.home("uninstall.exe")) and
                   not [n for _, n in self.s.processes() if re.match(r"(?i)(un_\w|au_)\.exe$", n)], 60, 0.5)
        return rc


class Home:
    """The installed home as the supervision log helpers read it."""

    def __init__(self, kit):
        self.kit = kit

    def read(self, *parts):
        return self.kit.read(*parts)


def log_time(line):
    return datetime.datetime.fromisoformat(line.split(" ", 1)[0]).timestamp()


def running(s):
    return s.probe("waitwin", "nbmonitorDlg", 30000, timeout=45)[0] == 0


@case("installer: install, upgrade while running, uninstall keeping the data")
def installer_lifecycle(s, t):
    """The example installer, silent: into an empty home it lays out the files, the Startup
    shortcut (target bin\\nbmonitor.exe, working folder bin\\) and the Apps entry, and starts
    nbmonitor, which serves the page. A second build installed while it runs stops it with
    `nbctl exit --wait` before any file is written, replaces the page, keeps the data, a
    backup and the settings, and starts it again. The uninstaller stops it, removes the
    program files and the shortcut and keeps the data; with /KEEPDATA=0 the home goes."""
    kit = Kit(s)
    inst = Home(kit)
    kit.clean()
    try:
        # 1. install
        t.equal(kit.run(kit.setup1, "/S"), 0, "exit status of the first install")
        t.equal(kit.read("bin", "nbmonitor.exe"), open(os.path.join(kit.release, "bin", "nbmonitor.exe"), "rb").read(),
                "bin\\nbmonitor.exe is the release's")
        t.equal(kit.read("conf", "nbmonitor.ini"), kit.settings, "conf\\nbmonitor.ini written")
        link = kit.shortcut()
        t.equal(link and lnk_target_and_folder(open(link, "rb").read()),
                (HOME + "bin\\nbmonitor.exe", HOME + "bin"), "the shortcut's target and working folder")
        apps = kit.apps_entry() or {}
        t.equal((apps.get("DisplayVersion"), apps.get("Publisher"), apps.get("UninstallString")),
                ("1.1.0.0+test1", "Nimbara Project", '"%suninstall.exe"' % HOME), "the Apps entry")
        if not running(s):
            raise Failure("nbmonitor did not start after the install")
        t.equal(wait_until("the page", lambda: http_get(PORT)[0] == 200 and http_get(PORT), 20), (200, kit.page),
                "the page served after the install")
        data = {("htdocs", "data", "app.db"): b"the application's database\r\n",
                ("backup", "app-20261209-120000-00.db"): b"a backup\r\n"}
        for parts, content in data.items():
            with open(kit.home(*parts), "wb") as f:
                f.write(content)

        # 2. upgrade while it runs
        t.equal(kit.run(kit.setup2, "/S"), 0, "exit status of the upgrade")
        exits = [line for line in events(inst, "exit") if "reason=command" in line]
        t.equal(len(exits), 1, "exit lines with reason=command after the upgrade")
        for parts in (("bin", "nbmonitor.exe"), ("htdocs", "index.php")):
            changed = os.stat(kit.home(*parts)).st_mtime
            t.true(exits and log_time(exits[0]) <= changed, "nbmonitor ended (%s) before %s was written (%s)"
                   % (exits[:1], "\\".join(parts), time.strftime("%H:%M:%S", time.localtime(changed))))
        t.equal(kit.read("htdocs", "index.php"), kit.page2, "the page of the second build")
        for parts, content in data.items():
            t.equal(kit.read(*parts), content, "\\".join(parts) + " after the upgrade")
        t.equal(kit.read("conf", "nbmonitor.ini"), kit.settings, "conf\\nbmonitor.ini after the upgrade")
        t.true(running(s) and wait_until("two start lines", lambda: len(events(inst, "start")) == 2, 20),
               "nbmonitor started again")
        t.equal(wait_until("the new page", lambda: http_get(PORT)[1] == kit.page2 and http_get(PORT), 20),
                (200, kit.page2), "the page served after the upgrade")

        # 3. uninstall, keeping the data; then again with /KEEPDATA=0
        t.equal(kit.uninstall(), 0, "exit status of the uninstaller")
        t.equal([n for _, n in s.processes() if n.lower() in ("nbmonitor.exe", "httpd.exe")], [], "processes left")
        t.equal([p for p in (("bin", "nbmonitor.exe"), ("bin", "nbctl.exe"), ("bin", "httpd.exe"),
                             ("htdocs", "index.php"), ("README.md",)) if os.path.exists(kit.home(*p))], [],
                "program files left")
        t.equal((kit.shortcut(), kit.apps_entry()), (None, None), "shortcut and Apps entry left")
        for parts, content in list(data.items()) + [(("conf", "nbmonitor.ini"), kit.settings)]:
            t.true(os.path.exists(kit.home(*parts)) and kit.read(*parts) == content, "\\".join(parts) + " kept")
        t.true(events(inst, "exit"), "the log kept")
        t.equal(kit.run(kit.setup2, "/S", "/NOSTART"), 0, "exit status of the install with /NOSTART")
        t.equal(s.pids_of("nbmonitor.exe"), [], "nbmonitor after the install with /NOSTART")
        t.equal(kit.uninstall("/KEEPDATA=0"), 0, "exit status of the uninstaller with /KEEPDATA=0")
        t.true(not os.path.exists(kit.home()), "the home is gone with /KEEPDATA=0: %s"
               % (os.path.exists(kit.home()) and sorted(os.listdir(kit.home()))))
    finally:
        s.stop_all()
        kit.clean()
