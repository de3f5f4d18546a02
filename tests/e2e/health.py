"""End-to-end cases of a server that runs but does not answer, and of one that keeps dying:
the opt-in health check restarts a hung stand-in (and leaves it alone when off), a window
command is handled at once while a check waits, and a server that dies at once again and
again leaves one crash-loop line, which nbctl status reports with the last exit's meaning.

Registered with the driver of cases.py; run through tests/e2e/run.sh (suite.py).
"""
import json
import time

from cases import LAUNCH_LOG, MONITOR_S, PORT, RESTART_WAIT_S, started
from harness import WINDOW_TITLE, Failure, case, http_get, wait_until
from supervision_log import events, kill_server

HANG = LAUNCH_LOG + ["hang=1"]


def health(interval, timeout, failures, start_period=0):
    """The check's settings; start_period None leaves health_start_period at its default."""
    return ["nbmonitor.health_interval=%d" % interval, "nbmonitor.health_timeout=%d" % timeout,
            "nbmonitor.health_failures=%d" % failures] + \
        ([] if start_period is None else ["nbmonitor.health_start_period=%d" % start_period])


def answers_next_time(inst):
    """The stand-in's faults for its next launch: none (this one read its own at its start)."""
    inst.write("conf/standin.ini", "[standin]\r\n%s\r\n" % LAUNCH_LOG[0])


def status_json(s, inst):
    rc, out = s.run([inst.win + "bin\\nbctl.exe", "status", "--json"], cwd=inst.bin, timeout=30)
    try:
        return rc, json.loads(out)
    except ValueError as e:
        raise Failure("nbctl status --json gave no JSON (%s): %r" % (e, out))


@case("health: a hung server is found and restarted")
def health_hung_restarted(s, t):
    """Check every 1000 ms, 500 ms each, restart after 2: the stand-in takes connections and
    never answers; two timeouts give server-hung, and the new server answers."""
    inst, sup = started(s, sets=health(1000, 500, 2), standin=HANG)
    answers_next_time(inst)
    code, _ = http_get(PORT, timeout=2)
    t.equal(code, None, "HTTP status of the hung stand-in")
    hung = wait_until("server-hung in the log", lambda: events(inst, "server-hung"), 2 * 1.5 + 8, 0.2)
    t.true("failures=2 last=timeout" in hung[0], "server-hung line: %r" % hung)
    t.equal([("reason=timeout" in line) for line in events(inst, "health-failed")], [True, True],
            "health-failed lines before the restart")
    wait_until("a second server launch", lambda: len(inst.launches()) >= 2, 2.0 + RESTART_WAIT_S + 6, 0.2)
    wait_until("the new server to answer", lambda: http_get(PORT, timeout=2)[0] == 200, 10, 0.3)
    ok = wait_until("health-ok for the new server", lambda: events(inst, "health-ok"), 5, 0.2)
    t.true("pid=%s " % inst.launches()[-1][0] in ok[-1], "health-ok names the new server: %r" % ok)
    t.equal([line for line in events(inst, "server-hung") if "pid=%s " % inst.launches()[-1][0] in line], [],
            "server-hung lines for the server that answers")
    rc, st = status_json(s, inst)
    t.equal((rc, st["health"]["on"], st["health"]["last"], st["health"]["failures"]), (0, True, "ok", 0),
            "nbctl status: health")
    t.true(sup.running(), "nbmonitor still runs")


@case("health: a server slow to listen is not taken for hung")
def health_slow_listener(s, t):
    """Check every 1000 ms, 500 ms each, restart after 2, the start period at its default: the
    server's next launch opens its port only 3 s after its start. Its refused checks do not
    count, it is not restarted, and its first answer is logged."""
    inst, sup = started(s, sets=health(1000, 500, 2, None))
    inst.write("conf/standin.ini", "[standin]\r\n%s\r\nlisten_delay_ms=3000\r\n" % LAUNCH_LOG[0])
    kill_server(s, 1)
    wait_until("a second server launch", lambda: len(inst.launches()) >= 2, MONITOR_S + 2.0 + RESTART_WAIT_S + 8, 0.2)
    pid = inst.launches()[-1][0]
    wait_until("health-ok for the slow server",
               lambda: [line for line in events(inst, "health-ok") if "pid=%s " % pid in line], 12, 0.3)
    time.sleep(2.5)
    t.equal(len(inst.launches()), 2, "server launches")
    t.equal(events(inst, "server-hung"), [], "server-hung lines")
    failed = [line for line in events(inst, "health-failed") if "pid=%s " % pid in line]
    t.true(failed and all("starting=1" in line for line in failed),
           "the slow server's failed checks are its start's: %r" % failed)
    t.equal(http_get(PORT, timeout=2)[0], 200, "HTTP status of the slow server")


@case("health: off by default, a hung server is left alone")
def health_off_hung_kept(s, t):
    inst, sup = started(s, standin=HANG)
    time.sleep(10)
    t.equal(len(inst.launches()), 1, "server launches after 10 s of a hung server")
    t.equal([e for e in ("health-ok", "health-failed", "server-hung") if events(inst, e)], [],
            "health events in the log")
    t.equal(http_get(PORT, timeout=2)[0], None, "HTTP status of the hung stand-in")
    rc, st = status_json(s, inst)
    t.equal((rc, st["health"]["on"]), (3, False), "nbctl status: exit status, health")


@case("health: a window command is handled while a check waits")
def health_command_while_waiting(s, t):
    """A check against the hung stand-in waits its 5000 ms; `nbctl show` sent meanwhile shows
    the window at once, before that check has ended."""
    inst, sup = started(s, sets=health(1000, 5000, 100), standin=HANG)
    time.sleep(1.5)  # the first check began 1 s after the timers started

    def visible():
        return [w["visible"] for w in s.windows() if w["title"] == WINDOW_TITLE] == [True]
    sent = time.monotonic()
    rc, _ = s.run([inst.win + "bin\\nbctl.exe", "show"], cwd=inst.bin)
    t.equal(rc, 0, "nbctl show exit status")
    wait_until("nbmonitorDlg to be shown", visible, 10, 0.1)
    took = time.monotonic() - sent
    t.equal(events(inst, "health-failed"), [], "a check ended before the window was shown (%.1f s)" % took)
    t.true(took < 3.0, "the window was shown %.1f s after the command" % took)
    failed = wait_until("the waiting check's timeout", lambda: events(inst, "health-failed"), 8, 0.2)
    t.true("reason=timeout" in failed[0], "health-failed line: %r" % failed)
    t.note("window shown %.1f s after nbctl show" % took)


@case("crash loop: a server that dies at once leaves one crash-loop line")
def crash_loop(s, t):
    """The server killed with exit code 1, and each new one ending at once (code 3): the
    third quick failure in a row logs crash-loop, once however many follow; nbctl status
    names the last exit, the restarts and the loop."""
    inst, sup = started(s, sets=["nbmonitor.crash_balloon=1"])
    inst.write("conf/standin.ini", "[standin]\r\n%s\r\nexit_now=1\r\n" % LAUNCH_LOG[0])
    kill_server(s, 1)
    per_failure = MONITOR_S + 2.0 + RESTART_WAIT_S + 1
    wait_until("five server-exited lines", lambda: len(events(inst, "server-exited")) >= 5, 5 * per_failure + 10, 0.3)
    exited = events(inst, "server-exited")
    t.true('code=1 code_hex=0x00000001 meaning="Apache' in exited[0], "the killed server's line: %r" % exited[0])
    t.true("code=3 code_hex=0x00000003 ran_ms=" in exited[1], "a quick failure's line: %r" % exited[1])
    loops = events(inst, "crash-loop")
    t.equal(len(loops), 1, "crash-loop lines: %r" % loops)
    t.true(loops and "count=3 code=0x00000003" in loops[0], "crash-loop line: %r" % loops)
    rc, st = status_json(s, inst)
    t.equal((st["last_exit"] or {}).get("code_hex"), "0x00000003", "nbctl status: last exit")
    t.true(st["restarts_last_hour"] >= 4, "nbctl status: restarts in the last hour %r" % st["restarts_last_hour"])
    t.equal((st["crash_loop"]["state"], st["crash_loop"]["count"]), ("looping", 3), "nbctl status: crash loop")
    t.true(sup.running(), "nbmonitor still runs")
