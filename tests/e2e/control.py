"""End-to-end cases of nbctl's reports: `nbctl status` against a running supervisor, one
whose server no longer answers and none at all, and `nbctl log` of a log written here,
followed across a rotation.

Registered with the driver of cases.py; run through tests/e2e/run.sh (suite.py).
"""
import json
import os
import time

from cases import LAUNCH_LOG, PORT, started
from harness import Failure, Installation, case, wait_until

EXIT_ANSWERS, EXIT_NOT_RUNNING, EXIT_NO_ANSWER = 0, 1, 3

# A log as the supervisor writes it: CR LF, UTF-8, values with blanks quoted, quotes doubled.
LOG_LINES = [
    '2026-12-08T23:55:00.001+09:00 1234 start version=1.1.0.0 home="C:\\ニンバラ\\"',
    '2026-12-08T23:55:01.123+09:00 1234 server-start cmd="C:\\my apps\\nimbara\\\\bin\\httpd.exe" pid=5678 port=27142',
    '2026-12-08T23:55:02.500+09:00 1234 server-ready ms=377',
    '2026-12-08T23:55:09.020+09:00 1234 server-failed reason="Nimbaraの起動に失敗しました。(""Exec"")"',
    '2026-12-08T23:56:00.000+09:00 1234 exit why=menu servers=1',
]


def ctl(s, inst, *args):
    """nbctl.exe of the installation, run in its bin folder: (exit status, output without CRs)."""
    rc, out = s.run([inst.win + "bin\\nbctl.exe"] + list(args), cwd=inst.bin, timeout=30)
    return rc, out.replace("\r", "")


def status_json(s, inst, t, expected_rc):
    rc, out = ctl(s, inst, "status", "--json")
    t.equal(rc, expected_rc, "exit status of nbctl status --json")
    try:
        return json.loads(out)
    except ValueError as e:
        raise Failure("nbctl status --json gave no JSON (%s): %r" % (e, out))


def log_tail(inst, n):
    """The last n lines of the installation's log, read from here."""
    try:
        text = inst.read("logs", "nbmonitor.log").decode("utf-8", "replace")
    except FileNotFoundError:
        return []
    return text.split("\r\n")[:-1][-n:]


@case("nbctl status: running supervisor, pid, home, port, servers, page")
def status_running(s, t):
    inst, sup = started(s)
    rc, out = ctl(s, inst, "status")
    t.equal(rc, EXIT_ANSWERS, "exit status of nbctl status")
    t.true("HTTP 200" in out, "the page's answer in the text: %r" % out)
    st = status_json(s, inst, t, EXIT_ANSWERS)
    t.equal(st["running"], True, "running")
    t.equal([st["pid"]], s.pids_of("nbmonitor.exe"), "pid")
    t.equal(st["home"], inst.win, "home")
    listen = inst.read("conf", "extra", "httpd-port.conf").decode()
    t.equal(st["port"], PORT, "port (listen file: %r)" % listen)
    t.equal(st["httpd"], sorted(s.pids_of("httpd.exe")), "httpd.exe pids")
    page = st["page"]
    t.equal((page["url"], page["ok"], page["status"], page["error"]),
            ("http://localhost:%d/index.php" % PORT, True, 200, None), "page")
    t.true(isinstance(page["ms"], int) and 0 <= page["ms"] < 5000, "page time in ms: %r" % page["ms"])
    t.equal(st["log"]["path"], inst.win + "logs\\nbmonitor.log", "log path")
    # A tick that finds the server running writes nothing: the log is quiet after the start.
    t.equal([line["text"] for line in st["log"]["lines"]], log_tail(inst, 5), "log lines (the file's last ones)")


@case("nbctl status: server gone for good, exit status 3")
def status_no_answer(s, t):
    """The server killed, and the one the monitor starts instead never listens: the
    supervisor runs, its server process too, and the page does not answer."""
    inst, sup = started(s)
    inst.write("conf/standin.ini", "[standin]\r\n%s\r\nnever_listen=1\r\n" % LAUNCH_LOG[0])
    killed = s.pids_of("httpd.exe")
    if len(killed) != 1 or s.probe("killpid", killed[0])[0] != 0:
        raise Failure("could not kill the one httpd.exe (%r)" % killed)
    wait_until("the server started again", lambda: len(inst.launches()) >= 2, 15, 0.2)
    t0 = time.monotonic()
    st = status_json(s, inst, t, EXIT_NO_ANSWER)
    t.true(time.monotonic() - t0 < 15, "nbctl status took %.1f s" % (time.monotonic() - t0))
    t.equal((st["running"], st["port"]), (True, PORT), "running, port")
    t.equal(st["httpd"], [int(inst.launches()[-1][0])], "httpd.exe pids (the new server)")
    page = st["page"]
    t.equal((page["ok"], page["status"], page["ms"], page["error"]), (False, None, None, "connection refused"), "page")
    rc, out = ctl(s, inst, "status")
    t.equal(rc, EXIT_NO_ANSWER, "exit status of nbctl status")
    t.true("index.php: connection refused" in out, "the text says why the page gave no answer: %r" % out)


@case("nbctl without a supervisor: status 1, log -n 3, log -f across a rotation")
def status_and_log_alone(s, t):
    """No supervisor runs: nbctl takes the home it is installed in. Its status exits 1 with
    the log's last lines parsed; `log -n 3` prints the last three lines as written; `log -f`
    prints the lines appended later, the last one of the old file and the new file's after a
    rotation."""
    inst = Installation(s)
    inst.write("logs/nbmonitor.log.1", "".join(line + "\r\n" for line in LOG_LINES[:2]))
    inst.write("logs/nbmonitor.log", "".join(line + "\r\n" for line in LOG_LINES[2:]))

    st = status_json(s, inst, t, EXIT_NOT_RUNNING)
    t.equal((st["running"], st["pid"], st["page"], st["home"]), (False, None, None, inst.win),
            "running, pid, page, home (nbctl's own)")
    lines = st["log"]["lines"]
    t.equal([line["text"] for line in lines], LOG_LINES, "log lines, the older ones from the rotated file")
    t.equal((lines[1]["event"], lines[1]["pid"], lines[1]["fields"]),
            ("server-start", 1234, {"cmd": "C:\\my apps\\nimbara\\\\bin\\httpd.exe", "pid": "5678", "port": "27142"}),
            "server-start line parsed")
    t.equal(lines[3]["fields"]["reason"], 'Nimbaraの起動に失敗しました。("Exec")', "doubled quotes undone")

    rc, out = ctl(s, inst, "log", "-n", "3")
    t.equal((rc, out), (0, "".join(line + "\n" for line in LOG_LINES[2:])), "nbctl log -n 3")
    rc, _ = ctl(s, inst, "log", "-n", "x")
    t.equal(rc, 2, "exit status of nbctl log -n x")

    follow_log = os.path.join(s.logs, "nbctl-follow.log")
    if os.path.exists(follow_log):
        os.remove(follow_log)
    s.start([inst.win + "bin\\nbctl.exe", "log", "-n", "1", "-f"], cwd=inst.bin, log_name="nbctl-follow.log")

    def printed():
        with open(follow_log, "rb") as f:
            return f.read().decode("utf-8", "replace").replace("\r", "").split("\n")[:-1]

    def wait_printed(what, expected, timeout):
        try:
            wait_until(what, lambda: printed() == expected, timeout)
        except Failure:
            raise Failure("nbctl log -f, %s: expected %r, printed %r" % (what, expected, printed()))

    added = ["2026-12-09T00:00:0%d.000+09:00 1234 restart pid=%d port=27142" % (i, 7000 + i) for i in range(4)]
    wait_printed("the last line", LOG_LINES[-1:], 15)
    with open(inst.path("logs", "nbmonitor.log"), "ab") as f:
        f.write((added[0] + "\r\n").encode())
    wait_printed("a line appended", LOG_LINES[-1:] + added[:1], 10)
    # Rotation as the writer does it: a last line, the rename, a new file.
    with open(inst.path("logs", "nbmonitor.log"), "ab") as f:
        f.write((added[1] + "\r\n").encode())
    os.replace(inst.path("logs", "nbmonitor.log"), inst.path("logs", "nbmonitor.log.1"))
    inst.write("logs/nbmonitor.log", "".join(line + "\r\n" for line in added[2:]))
    wait_printed("across a rotation", LOG_LINES[-1:] + added, 10)


@case("nbctl status: a settings file saved with a UTF-8 mark is shown and logged")
def status_settings_bom(s, t):
    """Windows' profile functions miss the first section of such a file (Wine skips the
    mark, so its keys still work here): the program logs settings-bom, nbctl status names
    the file in a row of its own and says settings_bom true."""
    def mark(inst):
        inst.write("conf/nbmonitor.ini", b"\xef\xbb\xbf" + inst.read("conf", "nbmonitor.ini"))
    inst, sup = started(s, prepare=mark)
    t.true(any(" settings-bom file=" in line for line in log_tail(inst, 40)), "settings-bom in the log")
    rc, out = ctl(s, inst, "status")
    t.true("settings   %sconf\\nbmonitor.ini: begins with a UTF-8 byte-order mark" % inst.win in out,
           "the settings row in %r" % out)
    t.equal(status_json(s, inst, t, EXIT_ANSWERS)["settings_bom"], True, "settings_bom")
