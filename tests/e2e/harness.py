"""The pieces the end-to-end cases are made of: a Wine session with its prefix, the probe
(winprobe.exe), an installation laid out fresh for each case, the running supervisor, the
X screen, and a small runner that prints one line per case and "N passed, M failed" last.

Everything here waits with a deadline; nothing blocks for longer than the timeout it names.
Standard library only.
"""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from resource_ids import read as read_resource_ids  # noqa: E402

# The program's command, message and control ids, from its own header.
IDS = read_resource_ids()
WINDOW_TITLE = "nbmonitorDlg"
WM_KEYDOWN = 0x0100
VK_RETURN = 0x0D
VK_ESCAPE = 0x1B
WM_TRAY_CALLBACK = IDS["WM_TRAY_CALLBACK"]
WM_RBUTTONDOWN = 0x0204


class Failure(AssertionError):
    pass


def wait_until(what, fn, timeout, interval=0.2):
    """Calls fn until it returns something true, and returns that; raises Failure naming
    `what` and fn's last value once `timeout` seconds have passed."""
    deadline = time.monotonic() + timeout
    last = None
    while True:
        last = fn()
        if last:
            return last
        if time.monotonic() >= deadline:
            raise Failure("timed out after %.1f s waiting for %s (last seen: %r)" % (timeout, what, last))
        time.sleep(interval)


def escape_arg(text):
    """Non-ASCII characters as \\uXXXX, which the probe decodes: the command line then
    survives whatever locale Wine runs in."""
    return "".join(c if ord(c) < 128 else "\\u%04x" % ord(c) for c in text)


def unescape_field(field):
    out, i = [], 0
    while i < len(field):
        c = field[i]
        if c == "\\" and i + 1 < len(field):
            out.append({"t": "\t", "r": "\r", "n": "\n", "\\": "\\"}.get(field[i + 1], field[i + 1]))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


# ---------------------------------------------------------------------------------------------


class Session:
    """One Wine prefix and X display for the whole run (set up by run.sh)."""

    def __init__(self):
        env = os.environ
        self.root = env["NB_ROOT"]
        self.build = env["NB_E2E_BUILD"]
        self.loader = env["NB_WINE_LOADER"]
        self.prefix = env["WINEPREFIX"]
        self.browser_log = env["NB_BROWSER_LOG"]
        self.display = env["DISPLAY"]
        self.probe_exe = os.path.join(self.build, "tests", "e2e", "winprobe.exe")
        self.out = env.get("NB_E2E_DIR") or os.path.join(self.root, "build", "e2e")
        self.shots = os.path.join(self.out, "shots")
        self.logs = os.path.join(self.out, "logs")
        self.env = dict(env)
        self.env["WINELOADER"] = self.loader
        self.env.setdefault("WINEDEBUG", "-all")
        self.started = []  # Popen objects of this case, ended by stop_all()
        self.screen = Screen(self)

    def build_id(self):
        """The build id the build wrote into its programs (1.1.0.0+g<commit>[+dirty])."""
        with open(os.path.join(self.build, "version", "nbmonitor_version.h"), encoding="utf-8") as f:
            return re.search(r'#define NB_BUILD_ID "([^"]*)"', f.read()).group(1)

    # --- Wine processes -------------------------------------------------------------------

    def start(self, args, cwd, log_name):
        """Starts a Windows program in the background (its own process group)."""
        log = open(os.path.join(self.logs, log_name), "ab")
        p = subprocess.Popen([self.loader] + list(args), cwd=cwd, env=self.env, stdin=subprocess.DEVNULL,
                             stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        log.close()
        self.started.append(p)
        return p

    def run(self, args, cwd=None, timeout=30):
        """Runs a Windows program to its end; returns (exit status, output text)."""
        try:
            r = subprocess.run([self.loader] + list(args), cwd=cwd or self.out, env=self.env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               timeout=timeout, start_new_session=True)
        except subprocess.TimeoutExpired as e:
            raise Failure("%s did not end within %d s" % (" ".join(args), timeout)) from e
        return r.returncode, r.stdout.decode("utf-8", "replace")

    def probe(self, *args, timeout=20):
        """Runs winprobe; returns (exit status, records), each record a list of fields."""
        try:
            r = subprocess.run([self.loader, self.probe_exe] + [escape_arg(str(a)) for a in args],
                               cwd=self.out, env=self.env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        except subprocess.TimeoutExpired as e:
            raise Failure("winprobe %s did not answer within %d s" % (" ".join(map(str, args)), timeout)) from e
        text = r.stdout.decode("utf-8", "replace")
        records = [[unescape_field(f) for f in line.split("\t")] for line in text.splitlines() if line]
        return r.returncode, records

    def stop_all(self):
        """Ends every program of the prefix, then the processes this case started."""
        try:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            pass
        for p in self.started:
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                try:
                    os.killpg(p.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    pass
        self.started = []
        try:
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            pass

    def fresh(self):
        """Ends everything of the previous case, then brings the prefix up again and keeps
        its desktop up with a program that only waits. Wine closes the desktop soon after
        its last program ends, and two programs that start while the desktop comes up can
        hang; so the next program starts only once the waiting one has the desktop."""
        self.stop_all()
        for attempt in (1, 2):
            hold = subprocess.Popen([self.loader, self.probe_exe, "hold"], cwd=self.out, env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL, start_new_session=True)
            self.started.append(hold)
            if self._first_line(hold, 60).startswith(b"desktop"):
                try:
                    wait_until("the Wine desktop with its taskbar",
                               lambda: any(w["cls"] == "Shell_TrayWnd" and w["visible"] for w in self.windows()),
                               20, 0.3)
                    return
                except Failure:
                    pass
            self.stop_all()
        raise Failure("the Wine prefix does not come up (no desktop with a taskbar)")

    @staticmethod
    def _first_line(proc, timeout):
        """The first line a process prints, or b"" once `timeout` seconds have passed."""
        import select
        deadline = time.monotonic() + timeout
        data = b""
        fd = proc.stdout.fileno()
        while b"\n" not in data and time.monotonic() < deadline:
            ready, _, _ = select.select([fd], [], [], 0.2)
            if ready:
                chunk = os.read(fd, 256)
                if not chunk:
                    break
                data += chunk
        return data

    # --- what the probe sees --------------------------------------------------------------

    def processes(self):
        rc, recs = self.probe("procs")
        return [(int(r[1]), r[3]) for r in recs if r[0] == "proc" and len(r) >= 4]

    def pids_of(self, name):
        return [pid for pid, exe in self.processes() if exe.lower() == name.lower()]

    def windows(self):
        """Top-level windows: dicts with hwnd, pid, cls, visible, rect (x, y, w, h), title..."""
        rc, recs = self.probe("windows")
        out = []
        for r in recs:
            if r[0] != "window" or len(r) < 10:
                continue
            x, y, w, h = (int(v) for v in r[5].split(","))
            out.append(dict(hwnd=r[1], pid=int(r[2]), cls=r[3], visible=r[4] == "1", rect=(x, y, w, h),
                            style=int(r[6], 16), exstyle=int(r[7], 16), owner=r[8], title=r[9]))
        return out

    def find_window(self, title):
        rc, recs = self.probe("find", title)
        return recs[0][1] if rc == 0 and recs else None

    def dialog(self, caption, timeout=15):
        """Waits for a visible dialog with that caption; returns dict(hwnd, pid, rect, text,
        controls: list of (id, class, text))."""
        rc, recs = self.probe("boxtext", caption, int(timeout * 1000), timeout=timeout + 15)
        if rc != 0:
            raise Failure("no dialog captioned %r appeared within %.0f s (visible dialogs: %s)"
                          % (caption, timeout, self.visible_dialogs()))
        return self._dialog_record(recs)

    def dialog_now(self, caption):
        rc, recs = self.probe("boxtext", caption)
        return self._dialog_record(recs) if rc == 0 else None

    @staticmethod
    def _dialog_record(recs):
        d = dict(controls=[], text="")
        for r in recs:
            if r[0] == "dialog":
                d["hwnd"], d["pid"] = r[1], int(r[2])
                d["rect"] = tuple(int(v) for v in r[3].split(","))
                d["caption"] = r[4] if len(r) > 4 else ""
            elif r[0] == "ctl":
                d["controls"].append((int(r[1]), r[2], r[3] if len(r) > 3 else ""))
            elif r[0] == "text":
                d["text"] = r[1] if len(r) > 1 else ""
        return d

    def visible_dialogs(self):
        return [(w["title"], w["rect"]) for w in self.windows() if w["visible"] and w["cls"] == "#32770"
                and w["rect"][2] > 0]

    def press(self, caption, button_id, timeout=10):
        rc, recs = self.probe("press", caption, button_id, int(timeout * 1000), timeout=timeout + 15)
        if rc != 0:
            raise Failure("could not press button %d of the dialog %r (visible dialogs: %s)"
                          % (button_id, caption, self.visible_dialogs()))

    def wait_dialog_gone(self, caption, timeout=10):
        wait_until("the dialog %r to close" % caption, lambda: self.dialog_now(caption) is None, timeout, 0.3)

    def post(self, title, msg, wp=0, lp=0):
        rc, _ = self.probe("post", title, msg, wp, lp)
        if rc != 0:
            raise Failure("could not post message %d to the window %r" % (msg, title))

    def command(self, title, cmd_id):
        rc, _ = self.probe("command", title, cmd_id)
        if rc != 0:
            raise Failure("could not post WM_COMMAND %d to the window %r" % (cmd_id, title))

    def list_rows(self, caption, control_id):
        """Rows of a list view: list of (text, selected)."""
        rc, recs = self.probe("listview", caption, control_id)
        if rc != 0:
            raise Failure("could not read the list view %d of %r" % (control_id, caption))
        return [(r[3] if len(r) > 3 else "", r[2] == "1") for r in recs if r[0] == "row"]

    def select_rows(self, caption, control_id, rows):
        rc, _ = self.probe("select", caption, control_id, ",".join(str(r) for r in rows))
        if rc != 0:
            raise Failure("could not select rows %s of the list view %d of %r" % (rows, control_id, caption))

    def stats(self, pid):
        rc, recs = self.probe("stats", pid)
        if rc != 0:
            raise Failure("no statistics for process %d" % pid)
        return {r[0]: int(r[1]) for r in recs if len(r) == 2}


# ---------------------------------------------------------------------------------------------


class Installation:
    """An installation laid out by scripts/layout in the session's prefix."""

    def __init__(self, session, home_win="C:\\nimbara", sets=(), standin=(), no_ini=False, apache=None):
        self.s = session
        args = ["--home", home_win] + (["--apache", apache] if apache else [])
        for kv in sets:
            args += ["--set", kv]
        for kv in standin:
            args += ["--standin", kv]
        if no_ini:
            args.append("--no-ini")
        r = subprocess.run([os.path.join(session.root, "scripts", "layout")] + args, env=session.env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        if r.returncode != 0:
            raise Failure("scripts/layout %s failed: %s" % (" ".join(args), r.stderr.decode(errors="replace")))
        unix, win = r.stdout.decode().splitlines()
        self.unix = unix
        self.win = win  # with trailing backslash
        self.bin = os.path.join(unix, "bin")

    def use_test_hooks(self):
        """bin\\nbmonitor.exe becomes the build's test copy, which alone has the fault switches."""
        shutil.copyfile(os.path.join(self.s.build, "testhooks", "nbmonitor.exe"),
                        os.path.join(self.bin, "nbmonitor.exe"))

    def path(self, *parts):
        return os.path.join(self.unix, *parts)

    def read(self, *parts):
        with open(self.path(*parts), "rb") as f:
            return f.read()

    def write(self, rel, data):
        p = self.path(*rel.split("/"))
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode())

    def exists(self, *parts):
        return os.path.exists(self.path(*parts))

    def backups(self):
        return sorted(os.listdir(self.path("backup")))

    def launches(self):
        """Lines of the stand-in server's launch log: (pid, 'addr:port')."""
        try:
            text = self.read("launch.log").decode()
        except FileNotFoundError:
            return []
        return re.findall(r"pid=(\d+) listen=(\S+)", text)

    def script(self, name, lines):
        """Replaces a batch file of bin with these lines (CRLF)."""
        self.write("bin/" + name, "\r\n".join(lines) + "\r\n")


class Supervisor:
    """nbmonitor.exe of an installation, started with its bin folder (or `cwd`) as current
    directory."""

    def __init__(self, inst, log_name="nbmonitor.log", cwd=None):
        self.inst = inst
        self.s = inst.s
        self.proc = self.s.start([inst.win + "bin\\nbmonitor.exe"], cwd=cwd or inst.bin, log_name=log_name)
        self.started_at = time.monotonic()

    def wait_ready(self, timeout=45):
        """Waits for the window "nbmonitorDlg" (the end of the start sequence)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                raise Failure("nbmonitor ended during its start (exit status %d); dialogs: %s"
                              % (self.proc.returncode, self.s.visible_dialogs()))
            rc, _ = self.s.probe("waitwin", WINDOW_TITLE, 2000)
            if rc == 0:
                return time.monotonic() - self.started_at
        raise Failure("no window %r within %d s; visible dialogs: %s"
                      % (WINDOW_TITLE, timeout, self.s.visible_dialogs()))

    def wait_exit(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("nbmonitor still runs %d s later; windows: %s"
                          % (timeout, [(w["title"], w["cls"]) for w in self.s.windows() if w["visible"]]))

    def running(self):
        return self.proc.poll() is None


# ---------------------------------------------------------------------------------------------


BLUE_ICON = {(0x32, 0x78, 0xE6), (0x1E, 0x50, 0xB4), (0x10, 0x2C, 0x78), (0x78, 0xAA, 0xF8)}
RED_ICON = {(0xE6, 0x32, 0x32), (0xB4, 0x1E, 0x1E), (0x78, 0x10, 0x10), (0xF8, 0x82, 0x78)}


class Screen:
    """Screenshots of the X display (ImageMagick's import) and the icon colours in them."""

    def __init__(self, session):
        self.s = session
        self._origin = None

    def origin(self):
        """Where the Wine desktop window lies on the X screen."""
        if self._origin is None:
            self._origin = (0, 0)
            try:
                out = subprocess.run(["xwininfo", "-display", self.s.display, "-name", "shell - Wine desktop"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=10).stdout.decode()
                x = re.search(r"Absolute upper-left X:\s+(-?\d+)", out)
                y = re.search(r"Absolute upper-left Y:\s+(-?\d+)", out)
                if x and y:
                    self._origin = (int(x.group(1)), int(y.group(1)))
            except (subprocess.TimeoutExpired, FileNotFoundError):
                pass
        return self._origin

    def grab(self, rect):
        """Pixels of a rectangle of the Wine desktop: (width, height, rows of RGB tuples)."""
        ox, oy = self.origin()
        x, y, w, h = rect
        data = subprocess.run(["import", "-display", self.s.display, "-window", "root",
                               "-crop", "%dx%d+%d+%d" % (w, h, x + ox, y + oy), "+repage", "-depth", "8", "ppm:-"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=20).stdout
        m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
        if not m:
            raise Failure("screenshot failed (import gave %d bytes)" % len(data))
        w, h = int(m.group(1)), int(m.group(2))
        px = data[m.end():]
        rows = [[tuple(px[(r * w + c) * 3:(r * w + c) * 3 + 3]) for c in range(w)] for r in range(h)]
        return w, h, rows

    def save(self, name, rect=None):
        """Saves a PNG of the Wine desktop, or of a rectangle of it, under build/e2e/shots."""
        os.makedirs(self.s.shots, exist_ok=True)
        path = os.path.join(self.s.shots, name)
        cmd = ["import", "-display", self.s.display, "-window", "root"]
        if rect:
            ox, oy = self.origin()
            x, y, w, h = rect
            cmd += ["-crop", "%dx%d+%d+%d" % (w, h, x + ox, y + oy), "+repage"]
        subprocess.run(cmd + [path], timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not os.path.exists(path):
            raise Failure("screenshot %s was not written" % path)
        return path

    def taskbar(self):
        for w in self.s.windows():
            if w["cls"] == "Shell_TrayWnd" and w["visible"]:
                return w["rect"]
        return None

    def tray_icon(self):
        """The program's icon in the notification area: ('blue' | 'red' | None, centre (x, y)
        in desktop coordinates or None). Only the right half of the taskbar is looked at; the
        Start button on the left has red in it."""
        bar = self.taskbar()
        if not bar:
            return None, None
        x0 = bar[0] + bar[2] // 2
        w, h, rows = self.grab((x0, bar[1], bar[2] - bar[2] // 2, bar[3]))
        blue, red = [], []
        for r, row in enumerate(rows):
            for c, p in enumerate(row):
                if p in BLUE_ICON:
                    blue.append((c, r))
                elif p in RED_ICON:
                    red.append((c, r))
        pts, colour = (blue, "blue") if len(blue) >= len(red) else (red, "red")
        if len(pts) < 20:
            return None, None
        cx = x0 + sum(p[0] for p in pts) // len(pts)
        cy = bar[1] + sum(p[1] for p in pts) // len(pts)
        return colour, (cx, cy)

    def wait_icon(self, colour, timeout):
        """Waits until the program's tray icon shows `colour`, or with None until there is
        none; returns what tray_icon() saw last."""
        def seen():
            state = self.tray_icon()
            return state if state[0] == colour else None
        if colour is None:
            wait_until("the tray icon to disappear", lambda: self.tray_icon()[0] is None, timeout, 0.25)
            return None, None
        return wait_until("the tray icon to become %s" % colour, seen, timeout, 0.25)

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=dict(self.s.env, DISPLAY=self.s.display),
                       timeout=15, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def move(self, point):
        ox, oy = self.origin()
        self.xdotool("mousemove", point[0] + ox, point[1] + oy)

    def click(self, point, button=1, times=1):
        self.move(point)
        time.sleep(0.2)
        self.xdotool("click", "--repeat", times, "--delay", 80, button)


# ---------------------------------------------------------------------------------------------


def port_answers(port, timeout=1.0):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout):
            return True
    except OSError:
        return False


def http_get(port, path="/index.php", timeout=5):
    """(status code, body) from curl, or (None, error text)."""
    r = subprocess.run(["curl", "-s", "-m", str(timeout), "-o", "-", "-w", "\n%{http_code}",
                        "http://127.0.0.1:%d%s" % (port, path)],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout + 5)
    body, _, code = r.stdout.rpartition(b"\n")
    if r.returncode != 0:
        return None, "curl exit status %d" % r.returncode
    return int(code), body


class Case:
    def __init__(self, name, fn):
        self.name, self.fn = name, fn


CASES = []


def case(name):
    """Registers a case function f(session, checks); cases run in the order of definition."""
    def register(fn):
        CASES.append(Case(name, fn))
        return fn
    return register


class Checks:
    """Soft assertions: a case records every mismatch and goes on where that makes sense."""

    def __init__(self):
        self.failures = []
        self.notes = []

    def note(self, text):
        """Something worth knowing that is not a failure; printed under the case's line."""
        self.notes.append(text)

    def equal(self, actual, expected, what):
        if actual != expected:
            self.failures.append("%s: expected %r, got %r" % (what, expected, actual))
            return False
        return True

    def true(self, cond, what):
        if not cond:
            self.failures.append(what)
        return bool(cond)


def run_cases(session, selected, before_each=None):
    passed = failed = 0
    started = time.monotonic()
    for c in CASES:
        if selected and not any(sel in c.name for sel in selected):
            continue
        t0 = time.monotonic()
        checks = Checks()
        error = None
        try:
            session.fresh()
            if before_each:
                before_each(session)
            c.fn(session, checks)
        except Failure as e:
            error = str(e)
        except Exception:  # a fault of the harness or an unexpected state: report it whole
            error = traceback.format_exc()
        finally:
            try:
                session.stop_all()
            except Exception:
                pass
        problems = checks.failures + ([error] if error else [])
        took = time.monotonic() - t0
        if problems:
            failed += 1
            print("FAIL %-42s %5.1f s" % (c.name, took))
            for p in problems:
                print("     - " + p.replace("\n", "\n       "))
        else:
            passed += 1
            print("ok   %-42s %5.1f s" % (c.name, took))
        for n in checks.notes:
            print("     (%s)" % n)
        sys.stdout.flush()
    print("e2e: %d cases in %.0f s; screenshots in %s" % (passed + failed, time.monotonic() - started,
                                                        os.path.relpath(session.shots, session.root)))
    print("%d passed, %d failed" % (passed, failed))
    return failed


def fresh_output(session, keep_shots=False):
    """Empties the log folder, and the screenshot folder too unless only some cases run."""
    for d in (session.logs,) if keep_shots else (session.shots, session.logs):
        shutil.rmtree(d, ignore_errors=True)
    for d in (session.shots, session.logs):
        os.makedirs(d, exist_ok=True)
