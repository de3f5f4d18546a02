"""End-to-end cases under faults: a server that dies at once, folders and files that cannot be
written, a full disk, no free port, a home path the generated files cannot hold, a damaged
settings file, hostile backup names, and strangers that share the program's names. Each case
sets up one fault, checks the reaction and that nothing that was there is lost.

Registered with the driver of cases.py; run through tests/e2e/run.sh (suite.py).

Read-only folders and the full disk are made with mounts (a read-only bind mount, a small
tmpfs): root only. Where mounting is refused, a read-only folder falls back to the immutable
flag, a full disk to the program's short-write switch, and the case says which it used.
"""
import contextlib
import os
import shutil
import socket
import subprocess
import time

from cases import (APP_TITLE, FAST, ID_RESTORE_LIST, ID_TRAY_EXIT, IDOK, LAUNCH_LOG, MONITOR_S, NOT_STARTED,
                   PORT, RESTART_WAIT_S, WAIT_S, START_FAILED_PORT, START_FAILED_WRITE, UNSAFE_NAME, browser_lines,
                   clear_browser_log, open_restore, press_through_boxes, row_of, start_page, started)
from harness import (WINDOW_TITLE, Failure, Installation, Session, Supervisor, case, http_get, port_answers,
                     wait_until)

# ---------------------------------------------------------------------------------------------
# Helpers


def snapshot(folder):
    """Every file below a folder: {relative path: content}."""
    found = {}
    for d, _, files in os.walk(folder):
        for f in files:
            p = os.path.join(d, f)
            with open(p, "rb") as fh:
                found[os.path.relpath(p, folder)] = fh.read()
    return found


def differences(before, after):
    """What changed between two snapshots, in words; empty when nothing did."""
    out = []
    for name in sorted(set(before) | set(after)):
        if name not in after:
            out.append("%s is gone" % name)
        elif name not in before:
            out.append("%s appeared (%d bytes)" % (name, len(after[name])))
        elif before[name] != after[name]:
            out.append("%s changed: %r -> %r" % (name, before[name][:60], after[name][:60]))
    return out


def unchanged(t, before, folder, what):
    diff = differences(before, snapshot(folder))
    return t.true(not diff, "%s: %s" % (what, "; ".join(diff)))


def _sh(*args):
    return subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)


def _unmount(path):
    for attempt in range(10):
        if _sh("umount", path).returncode == 0:
            return
        time.sleep(0.3)
    _sh("umount", "-l", path)


@contextlib.contextmanager
def read_only(folder):
    """Makes a folder read-only for every program, Wine's included (root may write into a
    folder without write permission, so permissions are no use): a read-only bind mount of
    the folder onto itself, or the immutable flag where mounting is refused. Yields how."""
    how = None
    if _sh("mount", "--bind", folder, folder).returncode == 0:
        if _sh("mount", "-o", "remount,ro,bind", folder).returncode == 0:
            how = "read-only bind mount"
        else:
            _unmount(folder)
    if how is None:
        r = _sh("chattr", "+i", folder)
        if r.returncode != 0:
            raise Failure("cannot make %s read-only here (no mount, chattr: %s)"
                          % (folder, r.stdout.decode(errors="replace").strip()))
        how = "immutable flag"
    try:
        yield how
    finally:
        if how == "read-only bind mount":
            _unmount(folder)
        else:
            _sh("chattr", "-i", folder)


@contextlib.contextmanager
def full_disk(folder):
    """Puts a small tmpfs over a folder, with copies of its files, and fills it up: a file can
    still be created there, but nothing written into it. Yields False where mounting is
    refused (nothing done then)."""
    files = snapshot(folder)
    if _sh("mount", "-t", "tmpfs", "-o", "size=32k,mode=755", "tmpfs", folder).returncode != 0:
        yield False
        return
    try:
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        fd = os.open(os.path.join(folder, "filler"), os.O_WRONLY | os.O_CREAT, 0o644)
        try:
            while os.write(fd, b"\0" * 512) > 0:
                pass
        except OSError:
            pass
        finally:
            os.close(fd)
        yield True
    finally:
        _unmount(folder)


def hold_file(s, win_path, seconds):
    """Another program keeps the file open without sharing for that long; returns once it
    has it open."""
    p = subprocess.Popen([s.loader, s.probe_exe, "holdfile", win_path, str(int(seconds * 1000))],
                         cwd=s.out, env=s.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, start_new_session=True)
    s.started.append(p)
    if not Session._first_line(p, 30).startswith(b"held"):
        raise Failure("winprobe could not hold %s open" % win_path)
    return p


def linux_memory(s, exe):
    """Memory of a program of the session's prefix as Linux counts it (smaps_rollup, in
    bytes): Wine reports no private bytes for other processes (0), so the private pages and
    the resident size of the Wine process are what can be measured. Wine starts a program by
    forking its parent, so for a moment a child carries the parent's command line: the oldest
    process that matches is the one."""
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmd = f.read().split(b"\0")[0].decode(errors="replace")
            if not cmd.lower().endswith("\\" + exe.lower()):
                continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if ("WINEPREFIX=" + s.prefix).encode() not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/stat" % pid) as f:
                started_at = int(f.read().rsplit(")", 1)[1].split()[19])
            with open("/proc/%s/smaps_rollup" % pid) as f:
                kb = {line.split(":")[0]: int(line.split()[1]) for line in f if line.rstrip().endswith("kB")}
            found.append((started_at, int(pid), {"rss": kb["Rss"] * 1024,
                                                 "private": (kb["Private_Clean"] + kb["Private_Dirty"]) * 1024}))
        except (OSError, KeyError, ValueError, IndexError):
            continue
    if not found:
        raise Failure("no Linux process for %s in this prefix" % exe)
    return min(found)[2]


def nimbara_boxes(s):
    return [w for w in s.windows() if w["visible"] and w["cls"] == "#32770" and w["title"] == "Nimbara"
            and w["rect"][2] > 0]


def failed_start(s, t, inst, text, what, env=None):
    """Starts nbmonitor on a start that must fail with one box of that text; presses its OK
    and checks the exit status 255 (ExitProcess(-1) seen through Wine)."""
    saved = dict(s.env)
    s.env.update(env or {})
    try:
        sup = Supervisor(inst)
    finally:
        s.env = saved
    box = s.dialog("Nimbara", 30)
    t.equal(box["text"], text, "text of the box (%s)" % what)
    time.sleep(0.5)
    t.equal(len(nimbara_boxes(s)), 1, "boxes captioned Nimbara (%s)" % what)
    s.press("Nimbara", IDOK)
    t.equal(sup.wait_exit(15), 255, "exit status (%s)" % what)
    t.equal(inst.launches(), [], "server launches (%s)" % what)
    return sup


def serves(s, t, inst, port=PORT, what=""):
    code, body = http_get(port)
    t.equal(code, 200, "HTTP status of /index.php %s" % what)
    t.equal(body, inst.read("htdocs", "index.php"), "body of /index.php %s" % what)


OLD_PORT_CONF = b"Listen 127.0.0.1:1\r\n# the listen file as it was\r\n"
OLD_SERVER_CONF = b"# the server configuration as it was\r\n"
OLD_PHP_INI = b"; php.ini as it was, edited by hand\r\nextension_dir = \"/elsewhere/php/ext\"\r\n"


def old_files(inst):
    inst.write("conf/extra/httpd-port.conf", OLD_PORT_CONF)
    inst.write("conf/extra/httpd-nb.conf", OLD_SERVER_CONF)
    inst.write("php/php.ini", OLD_PHP_INI)


# ---------------------------------------------------------------------------------------------
# The server


# How long the server is kept dying. Every tick that finds it dead costs the fixed 2 s pause
# plus the launch, so this gives about 28 restarts (200 would take 7 minutes).
CRASH_LOOP_S = float(os.environ.get("NB_E2E_CRASH_LOOP_S", 60))
MEMORY_SLACK = 512 * 1024


@case("fault: server dies at once, restarted on every tick, memory flat")
def crash_loop(s, t):
    """A server that ends right after each start, with a 100 ms monitor tick and no restart
    wait: every tick finds it dead and starts it again, one restart per ~2 s (the fixed
    pause). No box shows, the program keeps running, its handle count stays the same from
    the 3rd restart to the last, and its memory does not keep growing."""
    inst, sup = started(s, sets=["nbmonitor.monitor_interval=100", "httpd.restart_wait=0"])
    pid = s.pids_of("nbmonitor.exe")
    if len(pid) != 1:
        raise Failure("nbmonitor.exe processes: %r" % pid)
    pid = pid[0]
    inst.write("conf/standin.ini", "[standin]\r\nlog=launch.log\r\nexit_now=1\r\n")
    s.probe("kill", "httpd.exe")
    wait_until("3 restarts", lambda: len(inst.launches()) >= 4, 30, 0.2)

    def sample():
        return dict(s.stats(pid), **linux_memory(s, "nbmonitor.exe"))
    first = sample()
    restarts_before = len(inst.launches())
    t0 = time.monotonic()
    boxes, private = [], [first["private"]]
    while time.monotonic() - t0 < CRASH_LOOP_S:
        time.sleep(5)
        if not sup.running():
            raise Failure("nbmonitor ended during the crash loop (exit status %d)" % sup.proc.returncode)
        boxes += [w["title"] for w in s.windows() if w["visible"] and w["cls"] == "#32770" and w["rect"][2] > 0
                  and w["title"] != WINDOW_TITLE]
        private.append(linux_memory(s, "nbmonitor.exe")["private"])
    last = sample()
    took = time.monotonic() - t0
    restarts = len(inst.launches()) - restarts_before
    t.equal(boxes, [], "boxes seen during the crash loop")
    t.true(restarts >= took / 3.5, "only %d restarts in %.0f s" % (restarts, took))
    try:  # between two launches no server lives: the fault really kills each one
        wait_until("a moment without httpd.exe", lambda: not s.pids_of("httpd.exe"), 4, 0.1)
    except Failure as e:
        t.true(False, str(e))
    # A leak per restart makes the memory grow in most 5 s intervals; the heap taking a new
    # block now and then is one step. So: growth in at most a third of the intervals, and
    # not by more than MEMORY_SLACK in all.
    grew = sum(1 for a, b in zip(private, private[1:]) if b > a)
    t.true(grew <= (len(private) - 1) // 3 and last["private"] - first["private"] <= MEMORY_SLACK,
           "private memory grew in %d of %d intervals, from %d to %d KiB over %d restarts"
           % (grew, len(private) - 1, first["private"] // 1024, last["private"] // 1024, restarts))
    if first["owned_handles"] >= 0:
        t.true(last["owned_handles"] - first["owned_handles"] <= 1,
               "handles grew from %d to %d over %d restarts" % (first["owned_handles"], last["owned_handles"],
                                                                 restarts))
    t.note("%d restarts in %.0f s (%.2f s each); private memory %d -> %d KiB (every 5 s: %s), resident %d -> %d "
           "KiB, handles %d -> %d" % (restarts, took, took / max(restarts, 1), first["private"] // 1024,
                                      last["private"] // 1024, ",".join(str(p // 1024) for p in private),
                                      first["rss"] // 1024, last["rss"] // 1024, first["owned_handles"],
                                      last["owned_handles"]))

    # The server well again: the next restart serves.
    inst.write("conf/standin.ini", "[standin]\r\nlog=launch.log\r\n")
    wait_until("the port to answer again", lambda: port_answers(PORT), 10, 0.3)
    serves(s, t, inst, what="after the crash loop")


@case("fault: a stranger's httpd.exe on the port, next port, Exit ends both")
def stranger_server(s, t):
    """Another installation's httpd.exe (a copy in C:\\other\\bin, listening on the default
    port because its own listen file says so) runs before the program starts: the program
    takes the next port everywhere, and its Exit ends both servers, as it ends every process
    of that name."""
    inst = Installation(s, sets=FAST, standin=LAUNCH_LOG)
    other = os.path.join(s.prefix, "drive_c", "other")
    shutil.rmtree(other, ignore_errors=True)
    try:
        for d in ("bin", "conf/extra", "htdocs"):
            os.makedirs(os.path.join(other, d))
        shutil.copy(os.path.join(inst.bin, "httpd.exe"), os.path.join(other, "bin"))
        with open(os.path.join(other, "conf", "extra", "httpd-port.conf"), "wb") as f:
            f.write(b"Listen 127.0.0.1:%d\r\n" % PORT)
        with open(os.path.join(other, "htdocs", "index.php"), "wb") as f:
            f.write(b"the other installation\n")
        s.start(["C:\\other\\bin\\httpd.exe"], cwd=os.path.join(other, "bin"), log_name="other-httpd.log")
        wait_until("the other server to answer on %d" % PORT, lambda: port_answers(PORT), 20, 0.3)

        clear_browser_log(s)
        sup = Supervisor(inst)
        sup.wait_ready()
        t.equal(inst.read("conf", "extra", "httpd-port.conf"), b"Listen 127.0.0.1:%d\r\n" % (PORT + 1),
                "httpd-port.conf")
        serves(s, t, inst, PORT + 1, "on the next port")
        t.equal(http_get(PORT)[1], b"the other installation\n", "body on the other server's port")
        wait_until("the start page URL", lambda: browser_lines(s), 10)
        t.equal(browser_lines(s), [start_page(PORT + 1)], "URLs handed to the browser")
        t.equal(len(s.pids_of("httpd.exe")), 2, "httpd.exe processes while both run")

        s.command(WINDOW_TITLE, ID_TRAY_EXIT)
        sup.wait_exit(15)
        wait_until("every httpd.exe to end", lambda: not s.pids_of("httpd.exe"), 10, 0.3)
        t.true(not port_answers(PORT) and not port_answers(PORT + 1), "a server still answers after Exit")
    finally:
        s.stop_all()
        shutil.rmtree(other, ignore_errors=True)


@case("fault: no free port from 65534 on, (Port) box")
def no_port_probed(s, t):
    """default_port 65534 with 65534 taken: the probe fails there and stops (65535 is never
    tried), the (Port) box, exit code -1, no listen file. (default_port 65535, which probes
    nothing, is the case "start: no port left".)"""
    holder = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        holder.bind(("127.0.0.1", 65534))
        holder.listen(5)
        inst = Installation(s, sets=FAST + ["httpd.default_port=65534"], standin=LAUNCH_LOG)
        failed_start(s, t, inst, START_FAILED_PORT, "65534 taken")
        t.true(not inst.exists("conf", "extra", "httpd-port.conf"), "httpd-port.conf was written")
    finally:
        holder.close()


# ---------------------------------------------------------------------------------------------
# Files that cannot be written


@case("fault: conf\\extra read-only or listen file held, box, files kept")
def extra_unwritable(s, t):
    """conf\\extra read-only at start: the write-permission box once, exit code -1, both files
    there byte for byte as they were. The same with only the listen file held open by another
    program: the replacement written beside it is removed again."""
    inst = Installation(s, sets=FAST, standin=LAUNCH_LOG)
    old_files(inst)
    extra = inst.path("conf", "extra")
    before = snapshot(extra)
    with read_only(extra) as how:
        failed_start(s, t, inst, START_FAILED_WRITE, "read-only conf\\extra")
        unchanged(t, before, extra, "conf\\extra after the start failed (%s)" % how)
    t.note("conf\\extra made read-only by a %s" % how)

    s.fresh()
    inst = Installation(s, sets=FAST, standin=LAUNCH_LOG)
    old_files(inst)
    before = snapshot(extra)
    hold_file(s, inst.win + "conf\\extra\\httpd-port.conf", 60)
    failed_start(s, t, inst, START_FAILED_WRITE, "listen file held open")
    after = snapshot(extra)
    t.equal(after.get("httpd-port.conf"), OLD_PORT_CONF, "the held listen file")
    t.equal(sorted(after), sorted(before), "files in conf\\extra (no replacement left behind)")


@case("fault: conf\\extra read-only while running, one box per failure run")
def extra_unwritable_running(s, t):
    """conf\\extra read-only after a good start, then the server killed: one write-permission
    box for the first failed restart and none for the ticks that fail after it, no launch, the
    listen file kept; once the folder is writable again the next restart serves and re-arms
    the box, so a second run of failures shows it again."""
    inst, sup = started(s)
    s.screen.wait_icon("blue", MONITOR_S + 4)
    extra = inst.path("conf", "extra")
    limit = MONITOR_S + 2.0 + RESTART_WAIT_S + 8
    for round_no in (1, 2):
        before = snapshot(extra)
        with read_only(extra):
            s.probe("kill", "httpd.exe")
            box = s.dialog("Nimbara", limit)
            t.equal(box["text"], START_FAILED_WRITE, "text of the box of failed restart %d" % round_no)
            time.sleep(3 * MONITOR_S + 2.5)  # more failing ticks, inside the box's loop or after it
            t.equal(len(nimbara_boxes(s)), 1, "boxes after several failed restarts (round %d)" % round_no)
            t.equal(len(inst.launches()), round_no, "server launches while conf\\extra is read-only")
            unchanged(t, before, extra, "conf\\extra while read-only (round %d)" % round_no)
        s.press("Nimbara", IDOK)
        s.wait_dialog_gone("Nimbara")
        wait_until("the server to be started again (round %d)" % round_no,
                   lambda: len(inst.launches()) > round_no, limit + 2 * MONITOR_S, 0.2)
        wait_until("the port to answer (round %d)" % round_no, lambda: port_answers(PORT), 5, 0.2)
    t.true(sup.running(), "nbmonitor still runs")
    t.equal(inst.read("conf", "extra", "httpd-port.conf"), b"Listen 127.0.0.1:%d\r\n" % PORT, "httpd-port.conf")


@case("fault: php.ini.ORG missing, php.ini kept, server serves")
def php_template_missing(s, t):
    """Without the template php.ini is left as it is and the program starts and serves."""
    def prepare(inst):
        os.remove(inst.path("php", "php.ini.ORG"))
        inst.write("php/php.ini", OLD_PHP_INI)
    inst, sup = started(s, prepare=prepare)
    t.equal(sorted(os.listdir(inst.path("php"))), ["ext", "php.ini"], "files in php\\")
    t.equal(inst.read("php", "php.ini"), OLD_PHP_INI, "php.ini")
    serves(s, t, inst)


@case("fault: php\\ read-only, php.ini held open: kept, server serves")
def php_unwritable(s, t):
    """php\\ read-only with no php.ini: still none afterwards. php.ini held open by another
    program: kept byte for byte, no replacement left beside it. Both times the program starts
    and serves."""
    inst = Installation(s, sets=FAST, standin=LAUNCH_LOG)
    php = inst.path("php")
    before = snapshot(php)
    with read_only(php):
        sup = Supervisor(inst)
        sup.wait_ready()
        unchanged(t, before, php, "php\\ (read-only)")
        serves(s, t, inst, what="(php\\ read-only)")

    s.fresh()
    inst = Installation(s, sets=FAST, standin=LAUNCH_LOG)
    inst.write("php/php.ini", OLD_PHP_INI)
    before = snapshot(php)
    hold_file(s, inst.win + "php\\php.ini", 60)
    sup = Supervisor(inst)
    sup.wait_ready()
    unchanged(t, before, php, "php\\ (php.ini held open)")
    serves(s, t, inst, what="(php.ini held open)")


@case("fault: full disk under conf\\extra, short php.ini write: files kept")
def disk_full(s, t):
    """conf\\extra on a full file system: the start fails with the write-permission box, the
    files there stay byte for byte, no half-written file is left. A php.ini write that comes
    up short (the program's fault switch) keeps the old php.ini and leaves nothing beside it;
    the program starts and serves."""
    inst = Installation(s, sets=FAST, standin=LAUNCH_LOG)
    old_files(inst)
    extra = inst.path("conf", "extra")
    with full_disk(extra) as mounted:
        if mounted:
            t.note("conf\\extra on a filled 32 KiB tmpfs")
            before = snapshot(extra)
            failed_start(s, t, inst, START_FAILED_WRITE, "full disk")
            unchanged(t, before, extra, "conf\\extra on the full disk")
        else:
            t.note("tmpfs cannot be mounted here; the listen file's write is cut short instead")
            inst.use_test_hooks()
            before = snapshot(extra)
            failed_start(s, t, inst, START_FAILED_WRITE, "short write of httpd-port.conf",
                         env={"NBMONITOR_FAULT_SHORT_WRITE": "httpd-port"})
            t.equal(snapshot(extra).get("httpd-port.conf"), OLD_PORT_CONF, "httpd-port.conf after a short write")
            t.equal(sorted(snapshot(extra)), sorted(before), "files in conf\\extra after a short write")

    s.fresh()
    inst = Installation(s, sets=FAST, standin=LAUNCH_LOG)
    old_files(inst)
    inst.use_test_hooks()
    php = inst.path("php")
    before = snapshot(php)
    saved = dict(s.env)
    s.env["NBMONITOR_FAULT_SHORT_WRITE"] = "php.ini"
    try:
        sup = Supervisor(inst)
    finally:
        s.env = saved
    sup.wait_ready()
    unchanged(t, before, php, "php\\ after a short write of php.ini")
    t.equal(inst.read("conf", "extra", "httpd-port.conf"), b"Listen 127.0.0.1:%d\r\n" % PORT,
            "httpd-port.conf (written whole)")
    serves(s, t, inst, what="after a short write of php.ini")


HOME_JP = "C:\\\u30cb\u30f3\u30d0\u30e9"  # C:\ニンバラ


@case("fault: home path with Japanese letters, files kept")
def home_beyond_latin1(s, t):
    """Home C:\\ニンバラ\\: the server configuration and php.ini would have to name the
    folder, which their 8-bit text cannot hold: neither is written, the old ones stay byte for
    byte and nothing is left beside them. The Listen line names no path, so the listen file is
    written and the start goes on: the server runs from that home and serves."""
    inst = Installation(s, home_win=HOME_JP, sets=FAST, standin=LAUNCH_LOG)
    old_files(inst)
    php = inst.path("php")
    before = snapshot(php)
    clear_browser_log(s)
    sup = Supervisor(inst)
    t.equal(start_outcome(s, sup), "running", "outcome of the start")
    unchanged(t, before, php, "php\\")
    extra = snapshot(inst.path("conf", "extra"))
    t.equal(extra, {"httpd-nb.conf": OLD_SERVER_CONF, "httpd-port.conf": b"Listen 127.0.0.1:%d\r\n" % PORT},
            "files in conf\\extra")
    t.equal(len(inst.launches()), 1, "launches of C:\\ニンバラ\\bin\\httpd.exe")
    serves(s, t, inst, what="from C:\\ニンバラ")
    wait_until("the start page URL", lambda: browser_lines(s), 10)
    t.equal(browser_lines(s), [start_page()], "URLs handed to the browser")


def write_settings(inst, text):
    """conf\\nbmonitor.ini as UTF-16 with its byte-order mark, which the profile functions read
    as Unicode: so any character can be put into a value."""
    inst.write("conf/nbmonitor.ini", b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le"))


def fast_settings(**httpd):
    values = dict(default_port=PORT, default_address="127.0.0.1", restart_wait=int(RESTART_WAIT_S * 1000))
    values.update(httpd)
    return ("[httpd]\n" + "".join("%s=%s\n" % kv for kv in values.items()) +
            "[nbmonitor]\nmonitor_interval=%d\nwait_time=%d\n" % (MONITOR_S * 1000, WAIT_S * 1000))


@case("fault: listen address beyond Latin-1, listen file kept, box")
def address_beyond_latin1(s, t):
    """A default_address with a full-width digit (127.0.0.１): the Listen line cannot be
    written in 8-bit text, so the listen file is not written, the old one stays, and the start
    fails with the write-permission box and exit code -1. (Under Wine the probe binds such an
    address, which inet_addr reads as 255.255.255.255, so the start gets as far as the file.)"""
    inst = Installation(s, standin=LAUNCH_LOG, no_ini=True)
    write_settings(inst, fast_settings(default_address="127.0.0.\uff11"))
    old_files(inst)
    extra = inst.path("conf", "extra")
    before = snapshot(extra)
    failed_start(s, t, inst, START_FAILED_WRITE, "address beyond Latin-1")
    t.equal(snapshot(extra).get("httpd-port.conf"), OLD_PORT_CONF, "httpd-port.conf")
    t.equal(sorted(snapshot(extra)), sorted(before), "files in conf\\extra")


# ---------------------------------------------------------------------------------------------
# A damaged settings file


def start_outcome(s, sup, timeout=30):
    """'running' once the start sequence is over, 'box' while any box shows, 'ended'."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if s.find_window(WINDOW_TITLE) is not None:
            return "running"
        if s.visible_dialogs():
            return "box"
        if not sup.running():
            return "ended"
        time.sleep(0.2)
    return "nothing after %d s" % timeout


@case("settings: numbers that are not numbers")
def settings_garbage(s, t):
    """Values read as integers take their leading digits, or 0 where there are none, as the
    profile functions read them: default_port "<port>abc" is that port, debug "on"/"yes" is
    off (no box), monitor_interval "100 ms" is 100, restart_wait "soon" is 0 (a restart comes
    right after the fixed 2 s pause, not 2 s later). Lines that are no key are passed over."""
    port = PORT + 5
    inst = Installation(s, standin=LAUNCH_LOG, no_ini=True)
    inst.write("conf/nbmonitor.ini",
               "[httpd]\r\ndefault_port=%dabc\r\ndebug=on\r\nthis line is no key\r\nrestart_wait=soon\r\n"
               "[nbmonitor]\r\nmonitor_interval=100 ms\r\nwait_time=300ms\r\ndebug=yes\r\n=\r\n" % port)
    clear_browser_log(s)
    sup = Supervisor(inst)
    t.equal(start_outcome(s, sup), "running", "outcome of the start (a box would be a debug box)")
    t.equal(inst.read("conf", "extra", "httpd-port.conf"), b"Listen 127.0.0.1:%d\r\n" % port, "httpd-port.conf")
    serves(s, t, inst, port)
    wait_until("the start page URL", lambda: browser_lines(s), 10)
    t.equal(browser_lines(s), [start_page(port)], "URLs handed to the browser")
    s.probe("kill", "httpd.exe")
    killed = time.monotonic()
    wait_until("the restart", lambda: len(inst.launches()) >= 2, 10, 0.05)
    took = time.monotonic() - killed
    t.true(2.0 <= took < 3.8, "restart %.2f s after the kill (2 s pause, restart_wait 0, tick 100 ms)" % took)
    t.note("restart %.2f s after the kill" % took)


@case("settings: no [httpd] section, defaults")
def settings_no_httpd(s, t):
    """Without the section "httpd" every key of it takes its default: the port is probed from
    27142 on the address 127.0.0.1."""
    inst = Installation(s, standin=LAUNCH_LOG, no_ini=True)
    inst.write("conf/nbmonitor.ini", "[nbmonitor]\r\nmonitor_interval=1000\r\nwait_time=300\r\n")
    taken = [p for p in range(27142, 27146) if port_answers(p, 0.3)]
    sup = Supervisor(inst)
    sup.wait_ready()
    expected = next(p for p in range(27142, 27150) if p not in taken)
    t.equal(inst.read("conf", "extra", "httpd-port.conf"), b"Listen 127.0.0.1:%d\r\n" % expected, "httpd-port.conf")
    serves(s, t, inst, expected)
    if taken:
        t.note("ports %s were in use by another program" % taken)


@case("settings: 300-character address cut to 255, httpd debug=2")
def settings_long_address(s, t):
    """A default_address of 300 characters is read as its first 255: the Listen line carries
    exactly those. httpd debug=2 shows the diagnostic boxes as 1 does. The address is no IPv4
    address, so the server cannot listen and the start ends with the warning box."""
    address = "".join("abcdefghij"[i % 10] for i in range(300))
    inst = Installation(s, standin=LAUNCH_LOG, no_ini=True)
    write_settings(inst, fast_settings(default_address=address, debug=2))
    sup = Supervisor(inst)
    seen = press_through_boxes(s, sup.running)
    t.equal(sup.wait_exit(15), 255, "exit status")
    home = "C:\\nimbara\\"
    t.equal(seen, [
        ("SetPath: m_path", home), ("SetPath: m_dir", "nimbara"),
        ("SetPath: m_path", home), ("SetPath: m_dir", "nimbara"),
        ("httpd start cmd", "C:\\nimbara\\\\bin\\httpd.exe"),
        ("Nimbara", NOT_STARTED),
    ], "boxes (caption, text) of the start")
    t.equal(inst.read("conf", "extra", "httpd-port.conf"), ("Listen %s:%d\r\n" % (address[:255], PORT)).encode(),
            "httpd-port.conf")


# ---------------------------------------------------------------------------------------------
# Restore


# Names the command interpreter would act on. Each one that could run a command would make a
# file mkNN in the folder the script runs in. The last four hold characters Windows does not
# allow in names; they are made from the Linux side, and Wine lists them as they are.
HOSTILE_NAMES = [
    "x & copy nul mk01", "x&&copy nul mk02", "x ^& copy nul mk03", "(copy nul mk04)", "x)&(copy nul mk05",
    "%COMSPEC% & copy nul mk06", "!COMSPEC! & copy nul mk07", "%PATH%", "!x!", "100% & copy nul mk10",
    "a^b & copy nul mk11", "x & md mk12", "x & call copy nul mk13", "x & for %a in (1) do copy nul mk14",
    "x & if 1==1 copy nul mk15", "^&copy nul mk16",
    "x | copy nul mk17", "x > mk18", "a\" & copy nul mk19 & \"", "x\ncopy nul mk20",
]
RESTORE_RAN = "restore-ran.log"


@case("restore: twenty hostile names, each refused, nothing runs")
def restore_hostile(s, t):
    """Each of twenty names with characters the command interpreter acts on (& ^ ( ) % ! | >
    " and a line feed), restored through the dialog: the refusal box, the dialog stays open
    with the row, nbrestore.bat never runs and no command of a name does."""
    def prepare(inst):
        inst.script("nbbackup.bat", ["@echo off", "exit /b 0"])
        inst.script("nbrestore.bat", ["@echo off", 'echo ran %*>>"%~dp0..\\' + RESTORE_RAN + '"'])
        for n in HOSTILE_NAMES:
            inst.write("backup/" + n, "backup")
    inst, sup = started(s, prepare=prepare)
    open_restore(s, t, inst)
    rows = s.list_rows("復旧", ID_RESTORE_LIST)
    t.equal(sorted(r[0] for r in rows), sorted(HOSTILE_NAMES), "rows of the restore list")
    refused = 0
    for name in HOSTILE_NAMES:
        if name not in [r[0] for r in rows]:
            continue
        s.select_rows("復旧", ID_RESTORE_LIST, [row_of(rows, name)])
        s.press("復旧", IDOK)
        box = s.dialog(APP_TITLE, 10)
        if t.equal(box["text"], UNSAFE_NAME, "text of the box for %r" % name):
            refused += 1
        s.press(APP_TITLE, IDOK)
        s.wait_dialog_gone(APP_TITLE)
        if s.dialog_now("復旧") is None:
            raise Failure("the restore dialog closed after %r" % name)
    t.equal(refused, len(HOSTILE_NAMES), "names refused")
    t.equal(len(s.list_rows("復旧", ID_RESTORE_LIST)), len(HOSTILE_NAMES), "rows left in the dialog")
    time.sleep(1.5)  # room for a script that was started after all
    ran = inst.read(RESTORE_RAN) if inst.exists(RESTORE_RAN) else None
    t.equal(ran, None, "what nbrestore.bat wrote down (it must not run)")

    def marker(f):  # a file or folder mkNN
        return f.startswith("mk") and len(f) == 4
    markers = [os.path.join(d, f) for d, ds, fs in os.walk(inst.unix) for f in ds + fs if marker(f)]
    drive_c = os.path.join(s.prefix, "drive_c")
    markers += [os.path.join(drive_c, f) for f in os.listdir(drive_c) if marker(f)]
    t.equal(markers, [], "files made by commands in the names")
    t.equal(sorted(inst.backups()), sorted(HOSTILE_NAMES), "entries in backup\\")
    s.press("復旧", 2)
    s.wait_dialog_gone("復旧")
    t.true(sup.running(), "nbmonitor still runs")


# ---------------------------------------------------------------------------------------------
# A copy under another name


@case("fault: a copy named nbmonitor2.exe is not refused")
def renamed_copy(s, t):
    """The single-instance lock is named after the program file: a copy named nbmonitor2.exe
    in the same bin folder is not refused. It does not end within seconds, and it does not ask
    the first to open the start page (only the first's own URL is in the browser log on the
    first's port). Both end on their Exit command."""
    inst, sup = started(s)
    wait_until("the first start page URL", lambda: browser_lines(s), 10)
    shutil.copy(os.path.join(inst.bin, "nbmonitor.exe"), os.path.join(inst.bin, "nbmonitor2.exe"))
    second = s.start([inst.win + "bin\\nbmonitor2.exe"], cwd=inst.bin, log_name="nbmonitor2.log")
    time.sleep(8)
    t.true(second.poll() is None, "nbmonitor2.exe ended at once (exit status %r)" % second.poll())
    t.equal([u for u in browser_lines(s) if u == start_page()], [start_page()], "start page URLs on the first's port")
    t.note("browser log: %s" % browser_lines(s))
    windows = [w["hwnd"] for w in s.windows() if w["title"] == WINDOW_TITLE]
    t.note("%d windows titled nbmonitorDlg" % len(windows))
    for hwnd in windows:
        s.command("hwnd:" + hwnd, ID_TRAY_EXIT)
    sup.wait_exit(15)
    try:
        second.wait(timeout=20)
    except subprocess.TimeoutExpired:
        t.true(False, "nbmonitor2.exe still runs after its Exit")
    wait_until("every httpd.exe to end", lambda: not s.pids_of("httpd.exe"), 10, 0.3)
