"""End-to-end cases of how the server is stopped: Exit with a server that offers Apache's
graceful stop (the event ap<PID>_shutdown) and one that hangs in it, `nbctl exit --wait`,
and a log-off (Wine's end of session) that must not start the server again.

Registered with the driver of cases.py; run through tests/e2e/run.sh (suite.py).
"""
import re
import time

from cases import LAUNCH_LOG, MONITOR_S, PORT, started
from harness import case, http_get, wait_until
from supervision_log import events

GRACEFUL = LAUNCH_LOG + ["shutdown_event=1", "shutdown_delay_ms=400"]
HANGS = LAUNCH_LOG + ["shutdown_event=1", "shutdown_ignore=1"]
EXIT_STILL_RUNNING = 4


def exit_wait(s, inst, *option):
    """nbctl exit --wait[=MS]: (exit status, seconds it took)."""
    t0 = time.monotonic()
    rc, out = s.run([inst.win + "bin\\nbctl.exe", "exit"] + list(option), cwd=inst.bin, timeout=60)
    return rc, time.monotonic() - t0, out


def stopped_gracefully(inst):
    try:
        return re.findall(r"pid=(\d+) stopped=graceful", inst.read("launch.log").decode())
    except FileNotFoundError:
        return []


@case("stop: Exit, the server stops gracefully, nbctl exit --wait")
def stop_graceful(s, t):
    """A server that stops 400 ms after its shutdown event is set: nbctl exit --wait returns
    0 once nbmonitor has ended, the server has logged its graceful stop, the log says
    graceful=1 with the time, and nothing was killed."""
    inst, sup = started(s, standin=GRACEFUL)
    pid = int(inst.launches()[-1][0])
    rc, took, out = exit_wait(s, inst, "--wait")
    t.equal(rc, 0, "exit status of nbctl exit --wait (%r)" % out)
    t.true(not sup.running() or sup.wait_exit(2) is not None, "nbmonitor has ended when nbctl returns")
    t.equal(stopped_gracefully(inst), [str(pid)], "graceful stops in the server's log")
    stops = events(inst, "server-stop")
    m = re.search(r"pid=%d graceful=1 ms=(\d+)" % pid, stops[0]) if len(stops) == 1 else None
    t.true(m and 300 <= int(m.group(1)) < 3000, "server-stop line: %r" % stops)
    t.true(events(inst, "exit") and "servers_ended=1" in events(inst, "exit")[0], "exit line: %r" % events(inst, "exit"))
    t.equal(s.pids_of("httpd.exe"), [], "httpd.exe processes left")
    t.note("nbctl exit --wait took %.2f s" % took)


@case("stop: a server that hangs in its stop is killed after stop_timeout")
def stop_timeout(s, t):
    """A server that ignores its shutdown event, stop_timeout 1500: nbctl exit --wait=300
    gives up with 4 while nbmonitor still waits; the server is then ended by force, about
    1.5 s after Exit, and the log says forced=1 reason=timeout."""
    inst, sup = started(s, sets=["httpd.stop_timeout=1500"], standin=HANGS)
    pid = int(inst.launches()[-1][0])
    t0 = time.monotonic()
    rc, took, out = exit_wait(s, inst, "--wait=300")
    t.equal(rc, EXIT_STILL_RUNNING, "exit status of nbctl exit --wait=300 (%r)" % out)
    sup.wait_exit(15)
    took = time.monotonic() - t0
    t.true(1.4 <= took < 6, "Exit to the end of nbmonitor took %.2f s, want about 1.5" % took)
    t.note("Exit to the end of nbmonitor: %.2f s" % took)
    t.equal(stopped_gracefully(inst), [], "graceful stops in the server's log")
    t.equal([line.split(" server-stop ", 1)[1] for line in events(inst, "server-stop")],
            ["pid=%d forced=1 reason=timeout" % pid], "server-stop lines")
    t.equal(s.pids_of("httpd.exe"), [], "httpd.exe processes left")


@case("stop: log-off (wineboot --end-session), no restart, exit line")
def stop_session_end(s, t):
    """Wine ends the session: nbmonitor stops its timers, stops the server gracefully, writes
    exit reason=session-end and ends; no server is started again and none is left."""
    inst, sup = started(s, standin=GRACEFUL)
    launches = len(inst.launches())
    rc, out = s.run(["wineboot", "--end-session"], timeout=60)
    t.equal(rc, 0, "exit status of wineboot --end-session (%r)" % out)
    wait_until("the exit line", lambda: events(inst, "exit"), 10, 0.2)
    t.true("reason=session-end" in events(inst, "exit")[0], "exit line: %r" % events(inst, "exit"))
    time.sleep(3 * MONITOR_S + 0.5)
    t.equal(len(inst.launches()), launches, "server launches")
    t.equal(events(inst, "restart"), [], "restart lines")
    t.equal(len(stopped_gracefully(inst)), 1, "graceful stops in the server's log")
    t.equal(s.pids_of("httpd.exe"), [], "httpd.exe processes left")
    t.true(not sup.running() or sup.wait_exit(10) is not None, "nbmonitor ended")


@case("stop: nbctl exit --wait outlasts a stop_timeout of 40 s")
def stop_exit_wait_follows_stop_timeout(s, t):
    """A server that ignores its shutdown event, stop_timeout 40000: nbmonitor ends it by force
    after 40 s, and nbctl exit --wait, whose default follows stop_timeout, returns 0."""
    inst, sup = started(s, sets=["httpd.stop_timeout=40000"], standin=HANGS)
    rc, took, out = exit_wait(s, inst, "--wait")
    t.equal(rc, 0, "exit status of nbctl exit --wait after %.1f s (%r)" % (took, out))
    t.true(39 <= took < 50, "nbctl exit --wait took %.1f s, want about 40" % took)
    t.equal([line.split(" server-stop ", 1)[1].split(" ", 1)[1] for line in events(inst, "server-stop")],
            ["forced=1 reason=timeout"], "server-stop lines")


@case("start: a server of this home left running is stopped, the page on the first port")
def start_orphan_stopped(s, t):
    """A stand-in of this home already listens on the port (its nbmonitor was ended from
    outside): the new nbmonitor stops it gracefully before it probes the port, and its own
    server serves the page on that same port."""
    orphan = []

    def leave_an_orphan(inst):
        inst.write("conf/extra/httpd-port.conf", "Listen 127.0.0.1:%d\r\n" % PORT)
        s.start([inst.win + "bin\\httpd.exe"], inst.bin, "orphan.log")
        orphan.extend(wait_until("the orphan's start", lambda: inst.launches(), 15, 0.2))
    inst, sup = started(s, standin=GRACEFUL, prepare=leave_an_orphan)
    pid = int(orphan[0][0])
    orphans = [line.split(" server-orphan ", 1)[1] for line in events(inst, "server-orphan")]
    t.true(len(orphans) == 1 and re.match(r"pid=%d stopped=graceful ms=\d+$" % pid, orphans[0]),
           "server-orphan lines: %r" % orphans)
    t.equal(stopped_gracefully(inst), [str(pid)], "graceful stops in the server's log")
    t.equal(events(inst, "server-start")[0].split("port=")[1], str(PORT), "the new server's port")
    t.equal(http_get(PORT, timeout=2)[0], 200, "HTTP status on the first port")
    t.equal(len(s.pids_of("httpd.exe")), 1, "httpd.exe processes")
