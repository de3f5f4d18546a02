"""End-to-end cases with the real web server: Apache httpd for Windows as scripts/apache builds
it, laid out with the installation's conf\\httpd.conf and the PHP stand-in module (PHP is not
run), under nbmonitor and the files it generates. Skipped, with one line, when that build is
not there.

Registered with the driver of cases.py; run through tests/e2e/run.sh (suite.py).
"""
import os
import re
import subprocess
import time

from cases import ID_TRAY_EXIT, PORT, PORT_SETTINGS, clear_browser_log, server_conf
from harness import WINDOW_TITLE, Installation, Supervisor, case, http_get, port_answers, wait_until
from supervision_log import events

# Monitor ticks every second and a short restart wait; wait_time stays at its default, as the
# readiness check has to wait for a real server's start (5 connection attempts, wait_time apart).
SUPERVISION = ["nbmonitor.monitor_interval=1000", "httpd.restart_wait=300"]
LOG_ERRORS = re.compile(r"\[[a-z_0-9]*:(emerg|alert|crit|error)\]")


def apache_build():
    """The folder scripts/apache builds Apache into for the Wine in use, or None without it."""
    root = os.environ["NB_ROOT"]
    try:
        out = subprocess.run([os.path.join(root, "scripts", "apache"), "--print-dir"], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, timeout=60).stdout.decode().strip()
    except (OSError, subprocess.SubprocessError):
        return None
    return out if out and os.path.isfile(os.path.join(out, "bin", "httpd.exe")) else None


APACHE = apache_build()


def error_log(inst):
    try:
        return inst.read("logs", "error.log").decode("utf-8", "replace").replace("\r", "").splitlines()
    except FileNotFoundError:
        return []


def no_errors(t, inst, expected=()):
    """No error lines in Apache's error log but those with one of the `expected` message ids."""
    bad = [line for line in error_log(inst) if LOG_ERRORS.search(line) and not any(e in line for e in expected)]
    t.equal(bad, [], "error lines in Apache's error log")


def parent_pid(inst):
    try:
        return int(inst.read("logs", "httpd.pid").decode().strip())
    except (FileNotFoundError, ValueError):
        return None


def headers(port=PORT):
    r = subprocess.run(["curl", "-s", "-I", "-m", "5", "http://127.0.0.1:%d/index.php" % port],
                       stdout=subprocess.PIPE, timeout=10)
    return r.stdout.decode("latin-1").replace("\r", "")


def apache_started(s, t, sets=SUPERVISION):
    """A fresh installation with Apache, nbmonitor started on it; notes how long Apache took to
    listen after nbmonitor's start."""
    inst = Installation(s, sets=list(sets) + PORT_SETTINGS, apache=APACHE)
    clear_browser_log(s)
    sup = Supervisor(inst)
    wait_until("Apache to listen on port %d" % PORT, lambda: port_answers(PORT) or not sup.running(), 60, 0.1)
    t.note("Apache listened %.1f s after nbmonitor's start" % (time.monotonic() - sup.started_at))
    sup.wait_ready(60)
    return inst, sup


def apache_case(name):
    """A case that needs the Apache build; none is registered without it."""
    def register(fn):
        return case(name)(fn) if APACHE else fn
    return register


if not APACHE:
    print("real Apache: 4 cases skipped, Apache is not built for this Wine (scripts/apache builds it)")


@apache_case("apache: defaults, page served through the generated files")
def apache_serves(s, t):
    """Default settings: Apache starts from the installation's httpd.conf with the two files
    nbmonitor wrote, answers before the readiness check gives up and serves the start page
    through them (document root, DirectoryIndex, .php handed to the PHP stand-in, which sends
    it as HTML); the database and cgi-bin are closed whatever the URL's case; its error log
    has no errors."""
    inst, sup = apache_started(s, t, sets=[])
    t.equal(inst.read("conf", "extra", "httpd-nb.conf"), server_conf("nimbara"), "conf\\extra\\httpd-nb.conf")
    code, body = http_get(PORT)
    t.equal(code, 200, "HTTP status of /index.php")
    t.equal(body, inst.read("htdocs", "index.php"), "the page is htdocs\\index.php")
    code, body = http_get(PORT, "/")
    t.equal((code, body), (200, inst.read("htdocs", "index.php")), "/ through DirectoryIndex index.php")
    for path in ("/data/app.db", "/DATA/APP.DB", "/cgi-bin/"):
        t.equal(http_get(PORT, path)[0], 403, "HTTP status of %s, closed by conf\\httpd.conf" % path)
    head = headers()
    t.true(re.search(r"^Server: Apache/2\.4\.\d+ \(Win(32|64)\)$", head, re.M), "Server header: %r" % head)
    t.true("\nContent-Type: text/html; charset=utf-8\n" in head, "content type of a .php file: %r" % head)
    t.true(len(s.pids_of("httpd.exe")) == 2, "Apache's parent and child: %r" % s.pids_of("httpd.exe"))
    access = inst.read("logs", "access.log").decode("latin-1")
    t.true('"GET /index.php HTTP/1.1" 200' in access, "the request in Apache's access log: %r" % access)
    # The refusals above are logged (AH01797, client denied by server configuration).
    no_errors(t, inst, expected=("AH01797",))


@apache_case("apache: processes killed, restarted")
def apache_restart(s, t):
    """Both of Apache's processes killed from outside: the monitor finds the server gone and
    starts Apache again, which serves the page."""
    inst, sup = apache_started(s, t)
    old = parent_pid(inst)
    for pid in s.pids_of("httpd.exe"):
        s.probe("killpid", pid)
    wait_until("a restart in the supervision log", lambda: events(inst, "restart"), 20, 0.2)
    wait_until("Apache to answer after the restart", lambda: http_get(PORT)[0] == 200, 30, 0.3)
    t.true(parent_pid(inst) not in (None, old), "a new Apache parent: %r, before %r" % (parent_pid(inst), old))
    t.equal(len(s.pids_of("httpd.exe")), 2, "httpd.exe processes after the restart")
    # A child that outlives its killed parent for a moment says so (AH02538), as it should.
    no_errors(t, inst, expected=("AH02538",))


@apache_case("apache: Exit stops Apache through its shutdown event")
def apache_exit(s, t):
    """Exit from the tray menu: nbmonitor sets Apache's own shutdown event (ap<pid>_shutdown),
    Apache says so in its error log and both its processes end; the supervision log has the
    graceful stop."""
    inst, sup = apache_started(s, t)
    s.command(WINDOW_TITLE, ID_TRAY_EXIT)
    sup.wait_exit(30)
    wait_until("Apache's processes to end", lambda: not s.pids_of("httpd.exe"), 10, 0.3)
    stops = events(inst, "server-stop")
    t.true(stops and "graceful=1" in stops[-1], "server-stop line with graceful=1: %r" % stops)
    took = re.search(r" ms=(\d+)", stops[-1]) if stops else None
    if took:
        t.note("Apache ended %s ms after nbmonitor set its shutdown event" % took.group(1))
    log = error_log(inst)
    t.true(any("Received shutdown signal" in line for line in log), "Apache's shutdown in its error log: %r" % log)
    no_errors(t, inst)


@apache_case("apache: the health check finds Apache answering")
def apache_health(s, t):
    """With the health check on, Apache's answers count as healthy: health-ok for its parent
    process, no failed check, no hang, no restart."""
    inst, sup = apache_started(s, t, sets=SUPERVISION + ["nbmonitor.health_interval=1000",
                                                         "nbmonitor.health_timeout=1000",
                                                         "nbmonitor.health_failures=2"])
    first = parent_pid(inst)
    ok = wait_until("health-ok in the supervision log", lambda: events(inst, "health-ok"), 10, 0.2)
    t.true(("pid=%d " % first) in ok[0], "health-ok names Apache's parent %r: %r" % (first, ok))
    time.sleep(4)
    for event in ("health-failed", "server-hung", "restart"):
        t.equal(events(inst, event), [], "%s lines" % event)
    t.equal(parent_pid(inst), first, "Apache's parent")
    no_errors(t, inst)
