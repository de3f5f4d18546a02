"""End-to-end cases of what a failing server says: the error lines of its error log written
since its launch, and with config_test=1 what httpd.exe -t prints, as server-said lines of the
supervision log and in nbctl status. The stand-in's error_exit mode, and the real Apache
(scripts/apache) with a broken conf\\httpd.conf or a pid file it cannot write.

Registered with the driver of cases.py; run through tests/e2e/run.sh (suite.py).
"""
import json
import threading

from cases import NOT_STARTED, PORT, PORT_SETTINGS
from harness import Failure, Installation, Supervisor, case
from real_apache import APACHE, apache_case
from supervision_log import events

if not APACHE:
    print("what the server said: 3 cases skipped, Apache is not built for this Wine (scripts/apache builds it)")

IDOK = 1
# A failed start is found after 5 readiness attempts, wait_time apart.
FAIL_FAST = ["nbmonitor.wait_time=500"]


def status_json(s, inst):
    rc, out = s.run([inst.win + "bin\\nbctl.exe", "status", "--json"], cwd=inst.bin, timeout=30)
    try:
        return json.loads(out)
    except ValueError as e:
        raise Failure("nbctl status --json gave no JSON (%s): %r" % (e, out))


def failed_start(s, inst, t, watch_s=0):
    """nbmonitor started on an installation whose server fails: the warning box closed, the
    program's end awaited. With watch_s, the httpd.exe processes seen meanwhile, each
    (pid, parent pid), however short its life."""
    seen = []
    watcher = None
    if watch_s:
        def watch():
            rc, recs = s.probe("watchprocs", int(watch_s * 1000), "httpd.exe", timeout=watch_s + 30)
            seen.extend((int(r[1]), int(r[2])) for r in recs if r[0] == "seen")
        watcher = threading.Thread(target=watch)
        watcher.start()
    sup = Supervisor(inst)
    box = s.dialog("Nimbara", 60)
    t.equal(box["text"], NOT_STARTED, "text of the warning box")
    s.press("Nimbara", IDOK)
    sup.wait_exit(15)
    if watcher:
        watcher.join()
    return seen


def said(inst):
    return events(inst, "server-said")


def add_to_conf(inst, line):
    """Appends a line to conf\\httpd.conf; returns its line number."""
    text = inst.read("conf", "httpd.conf").decode("latin-1")
    if not text.endswith("\n"):
        text += "\r\n"
    text += line + "\r\n"
    inst.write("conf/httpd.conf", text.encode("latin-1"))
    return text.count("\n")


@case("said: the stand-in's error-log line becomes server-said")
def standin_error_line(s, t):
    """The stand-in writes an Apache-shaped error line to logs\\error.log and ends: the failed
    start logs it as server-said, with its level and pid; nbctl status shows it."""
    inst = Installation(s, sets=FAIL_FAST + PORT_SETTINGS, standin=["error_exit=1"])
    inst.write("logs/error.log", "[Wed Dec 09 10:00:00.000000 2026] [core:error] [pid 1:tid 2] an older failure\r\n")
    failed_start(s, inst, t)
    lines = said(inst)
    t.equal(len(lines), 1, "server-said lines: %r" % lines)
    t.true(lines and "level=error" in lines[0] and "AH00451: no listening sockets available" in lines[0],
           "the stand-in's line: %r" % lines)
    st = status_json(s, inst)
    t.true([x["level"] for x in st["apache_said"]] == ["error"], "nbctl status: apache_said %r" % st["apache_said"])


@apache_case("said: Apache's syntax error, by its configuration test")
def apache_syntax_error(s, t):
    """An unknown directive in conf\\httpd.conf: Apache ends before opening its logs, so its
    error log says nothing; with config_test=1 httpd.exe -t runs once and its AH00526 line,
    with the file and the line number, is in the log and in nbctl status --json."""
    inst = Installation(s, sets=FAIL_FAST + PORT_SETTINGS + ["httpd.config_test=1"], apache=APACHE)
    line = add_to_conf(inst, "Foo bar")
    seen = failed_start(s, inst, t, watch_s=8)
    t.equal(len(seen), 2, "httpd.exe processes: the server and its test %r" % seen)
    lines = said(inst)
    t.note("Apache said: %r" % lines)
    want = "AH00526: Syntax error on line %d of " % line
    t.true(any(want in x and "conf/httpd.conf" in x and "Invalid command 'Foo'" in x and "source=config-test" in x
               for x in lines), "server-said line with %r: %r" % (want, lines))
    st = status_json(s, inst)
    t.true(any(want in x["text"] and x["source"] == "config-test" for x in st["apache_said"]),
           "nbctl status --json apache_said: %r" % st["apache_said"])


@apache_case("said: a missing module, without then with the configuration test")
def apache_missing_module(s, t):
    """LoadModule of a module file that is not there: without config_test only the server
    itself starts (the process list shows no second httpd.exe) and nothing is said; with it,
    Apache's own "Cannot load" line."""
    inst = Installation(s, sets=FAIL_FAST + PORT_SETTINGS, apache=APACHE)
    add_to_conf(inst, "LoadModule missing_module modules/mod_missing.so")
    seen = failed_start(s, inst, t, watch_s=8)
    t.equal(len(seen), 1, "httpd.exe processes without config_test: %r" % seen)
    t.equal(said(inst) + events(inst, "config-test"), [], "server-said and config-test lines without config_test")
    settings = inst.read("conf", "nbmonitor.ini").decode("latin-1").replace("[httpd]", "[httpd]\r\nconfig_test=1", 1)
    inst.write("conf/nbmonitor.ini", settings.encode("latin-1"))
    failed_start(s, inst, t)
    lines = said(inst)
    t.note("Apache said: %r" % lines)
    t.true(any("Cannot load modules/mod_missing.so" in x and "source=config-test" in x for x in lines),
           "server-said line with Apache's Cannot load: %r" % lines)


@apache_case("said: a pid file Apache cannot write, from its error log")
def apache_pid_file(s, t):
    """PidFile in a folder that is not there: Apache opens its error log, fails to write the
    pid file and ends; its AH00099 and AH00100 lines, read from the error log, are server-said,
    each with Apache's pid and level. (A Listen on a port another program holds fails before
    Apache opens its logs on Windows: that goes to its standard error, which is lost.)"""
    inst = Installation(s, sets=FAIL_FAST + PORT_SETTINGS, apache=APACHE)
    add_to_conf(inst, "PidFile nosuchdir/httpd.pid")
    failed_start(s, inst, t)
    lines = said(inst)
    t.note("Apache said: %r" % lines)
    t.true(any("AH00100" in x and "nosuchdir/httpd.pid" in x and "level=error" in x for x in lines),
           "server-said line with AH00100 and the pid file: %r" % lines)
    t.equal(events(inst, "config-test"), [], "config-test lines (config_test is off)")
