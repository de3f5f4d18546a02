"""The guide's quick start (docs/integrating.md), followed literally with the real Apache: its
numbered steps are this case's steps, in order. Each step's instruction (its first sentence)
must read as written here, so a step changed in the guide fails the case until the case
follows it again; a failure names the step it happened in.

Registered with the driver of cases.py; run through tests/e2e/run.sh (suite.py).
"""
import hashlib
import os
import re
import shutil
import subprocess
import zipfile

from cases import PORT, browser_lines, clear_browser_log, start_page
from harness import Failure, Installation, Supervisor, http_get
from real_apache import APACHE, apache_case, no_errors

GUIDE = os.path.join(os.environ["NB_ROOT"], "docs", "integrating.md")


def guide_section(heading):
    with open(GUIDE, encoding="utf-8") as f:
        return f.read().split("\n%s\n" % heading, 1)[1].split("\n## ", 1)[0]


def quick_start_steps():
    """The quick start's numbered steps: (number, first sentence), blanks folded."""
    steps, current = [], None
    for line in guide_section("## Quick start").split("\n"):
        m = re.match(r"^(\d+)\. (.*)", line)
        if m:
            current = [int(m.group(1)), m.group(2)]
            steps.append(current)
        elif current and line.startswith("   "):
            current[1] += " " + line.strip()
        else:
            current = None
    return [(n, re.split(r"\.(?:\s|$)", text, 1)[0]) for n, text in steps]


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


class Steps:
    """What the steps share: the session, the checks, the home and the zip."""

    def __init__(self, s, t):
        self.s, self.t = s, t
        self.home = os.path.join(s.prefix, "drive_c", "nimbara")
        self.zip = None
        self.inst = None
        self.sup = None

    def path(self, *parts):
        return os.path.join(self.home, *parts)

    def write(self, rel, data):
        p = self.path(*rel.split("/"))
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data)

    # 1.
    def check_download(self):
        r = subprocess.run(["bash", "-c", '. scripts/wine-env.sh >/dev/null && nb__release_zip "$1"', "_", self.s.build],
                           cwd=self.s.root, env=self.s.env, stdout=subprocess.PIPE, timeout=600)
        self.zip = r.stdout.decode().strip()
        if r.returncode != 0 or not os.path.isfile(self.zip):
            raise Failure("no release zip of %s" % self.s.build)
        with open(self.zip, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        with open(os.path.join(os.path.dirname(self.zip), "SHA256SUMS")) as f:
            sums = f.read()
        self.t.true("%s  %s\n" % (digest, os.path.basename(self.zip)) in sums, "the zip's hash in SHA256SUMS")
        self.t.true(re.match(r"nbmonitor-%s-win(32|64)\.zip$" % re.escape(self.s.build_id()), os.path.basename(self.zip)),
                    "the zip's name carries the build id: %s" % os.path.basename(self.zip))

    # 2.
    def unblock(self):
        self.t.note("step 2: a file made here carries no download mark (Wine keeps no Zone.Identifier)")

    # 3.
    def unpack(self):
        shutil.rmtree(self.home, ignore_errors=True)
        os.makedirs(self.home)
        with zipfile.ZipFile(self.zip) as z:
            z.extractall(self.home)
        for f in ("nbmonitor.exe", "nbctl.exe"):
            if not os.path.isfile(self.path("bin", f)):
                raise Failure("bin\\%s not in the unpacked zip" % f)

    # 4.
    def apache(self):
        for f in os.listdir(os.path.join(APACHE, "bin")):
            shutil.copy(os.path.join(APACHE, "bin", f), self.path("bin"))
        shutil.copytree(os.path.join(APACHE, "modules"), self.path("modules"))
        shutil.copy(os.path.join(APACHE, "conf", "mime.types"), self.path("conf"))
        os.makedirs(self.path("conf", "extra"))
        os.makedirs(self.path("logs"))
        conf = re.search(r"```apache\n(.*?)```", guide_section("## Which server it was written for"), re.S)
        self.write("conf/httpd.conf", crlf(conf.group(1)))

    # 5.
    def php(self):
        # The PHP stand-in module of the Apache build (PHP itself is not run by the tests).
        shutil.copytree(os.path.join(APACHE, "php"), self.path("php"))
        with open(os.path.join(self.s.root, "tools", "demo", "php.ini.ORG.in"), encoding="latin-1") as f:
            template = f.read().replace("@NB_LOADER_DLL@", "php_nbloader.dll")
        self.write("php/php.ini.ORG", crlf(template))

    # 6.
    def application(self):
        with open(os.path.join(self.s.root, "tools", "demo", "index.php"), encoding="utf-8") as f:
            self.write("htdocs/index.php", crlf(f.read()))
        self.write("htdocs/data/app.db", b"quick start database\r\n")
        for d in ("cgi-bin", "tmp/eaccelerator", "backup"):
            os.makedirs(self.path(*d.split("/")))

    # 7.
    def scripts(self):
        for name in ("nbbackup", "nbrestore"):
            shutil.copy(self.path("bin", name + ".bat.example"), self.path("bin", name + ".bat"))

    # 8.
    def settings(self):
        with open(self.path("conf", "nbmonitor.ini.example"), "rb") as f:
            text = f.read()
        # The one change: the tests' own port.
        self.write("conf/nbmonitor.ini", text.replace(b"default_port=27142\r\n", b"default_port=%d\r\n" % PORT))

    # 9.
    def permissions(self):
        self.t.note("step 9: Wine keeps no permissions; nothing to set here")

    # 10.
    def shortcut(self):
        self.inst = Installation.__new__(Installation)
        self.inst.s, self.inst.unix, self.inst.win = self.s, self.home, "C:\\nimbara\\"
        self.inst.bin = self.path("bin")

    # 11.
    def start(self):
        clear_browser_log(self.s)
        self.sup = Supervisor(self.inst, cwd=self.inst.bin)  # "Start in" C:\nimbara\bin
        self.sup.wait_ready(60)
        code, body = http_get(PORT)
        self.t.equal((code, body), (200, self.inst.read("htdocs", "index.php")), "the start page on port %d" % PORT)
        self.t.true(start_page() in " ".join(browser_lines(self.s)), "the browser opened %s" % start_page())
        rc, out = self.s.run([self.inst.win + "bin\\nbctl.exe", "status"], cwd=self.inst.bin, timeout=30)
        out = out.replace("\r", "")
        self.t.equal(rc, 0, "exit status of nbctl status")
        for text in ("running", "HTTP 200", "nbmonitor %s, nbctl %s" % (self.s.build_id(), self.s.build_id())):
            self.t.true(text in out, "nbctl status says %r: %s" % (text, out))
        no_errors(self.t, self.inst)

    # 12.
    def stop(self):
        rc, _ = self.s.run([self.inst.win + "bin\\nbctl.exe", "exit", "--wait"], cwd=self.inst.bin, timeout=60)
        self.t.equal(rc, 0, "exit status of nbctl exit --wait")
        self.sup.wait_exit(10)
        self.t.equal(self.s.pids_of("httpd.exe"), [], "httpd.exe processes after Exit")


STEPS = [
    ("Check the download: `certutil -hashfile nbmonitor-1.1.0.0+g<commit>-win32.zip SHA256` must print the "
     "hash in `SHA256SUMS` ([The release zip](#the-release-zip))", Steps.check_download),
    ("Unblock the zip before you unpack it: in its Properties, \"Unblock\", or `Unblock-File` in PowerShell",
     Steps.unblock),
    ("Unpack the zip into `C:\\nimbara\\`: the programs must lie in `C:\\nimbara\\bin\\`, one folder below the "
     "home ([The installation](#the-installation))", Steps.unpack),
    ("Put Apache httpd into the home (`bin\\httpd.exe` with its DLLs, `modules\\`, `conf\\mime.types`), make the "
     "folders `conf\\extra\\` and `logs\\`, and write `conf\\httpd.conf` as shown in "
     "[Which server](#which-server-it-was-written-for)", Steps.apache),
    ("Put thread-safe PHP 5 into `php\\` (`php5ts.dll`, `php5apache2_2.dll`, `ext\\` with `php_nbloader.dll`) and "
     "write `php\\php.ini.ORG` with the paths of `C:\\nimbara\\`, whatever the real home is ([php.ini](#phpini))",
     Steps.php),
    ("Put the application into `htdocs\\` (`index.php`; its database is `htdocs\\data\\app.db`), and make "
     "`cgi-bin\\`, `tmp\\eaccelerator\\` and `backup\\`", Steps.application),
    ("Adapt `bin\\nbbackup.bat.example` and `bin\\nbrestore.bat.example` to your data and rename them to "
     "`bin\\nbbackup.bat` and `bin\\nbrestore.bat` ([The programs it starts](#the-programs-it-starts))",
     Steps.scripts),
    ("Only to change a setting: copy `conf\\nbmonitor.ini.example` to `conf\\nbmonitor.ini` and edit it, with "
     "plain decimal numbers ([Settings](#the-settings-file))", Steps.settings),
    ("Set the folders' permissions ([Security](#security)): administrators only may write the home folder "
     "itself, `bin\\`, `conf\\`, `modules\\`, `php\\ext\\` and PHP's DLLs", Steps.permissions),
    ("Put a shortcut to `C:\\nimbara\\bin\\nbmonitor.exe` with \"Start in\" `C:\\nimbara\\bin` into the Startup "
     "folder ([Starting at logon](#starting-at-logon))", Steps.shortcut),
    ("Start it by that shortcut", Steps.start),
    ("To stop it, choose 終了(&X) (Exit) in the tray icon's menu, or run `C:\\nimbara\\bin\\nbctl.exe exit --wait`",
     Steps.stop),
]


@apache_case("quick start: the guide's steps, release zip and real Apache, page served, Exit")
def quick_start(s, t):
    """The guide's quick start step by step: the release zip checked and unpacked into an empty
    home, Apache and the guide's httpd.conf, the PHP stand-in, the demo application, the
    scripts and settings from their examples, nbmonitor started in bin\\, the page served, the
    build id in nbctl status, Exit through nbctl exit --wait with no server left."""
    guide = quick_start_steps()
    t.equal([n for n, _ in guide], list(range(1, len(STEPS) + 1)), "the quick start's step numbers")
    steps = Steps(s, t)
    for n, (sentence, run) in enumerate(STEPS, 1):
        written = guide[n - 1][1] if n <= len(guide) else "(missing)"
        if written != sentence:
            raise Failure("step %d of the guide reads %r; this case follows %r" % (n, written, sentence))
        before = len(t.failures)
        try:
            run(steps)
        except Failure as e:
            raise Failure("step %d (%s): %s" % (n, sentence[:40], e))
        if len(t.failures) > before:
            t.failures[before:] = ["step %d: %s" % (n, f) for f in t.failures[before:]]
            return
