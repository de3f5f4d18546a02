"""End-to-end cases of the supervision log, logs\\nbmonitor.log: what a killed server leaves
there, and that a log another program holds open does not keep the server from restarting.

Registered with the driver of cases.py; run through tests/e2e/run.sh (suite.py).
"""
import re
import time

from cases import MONITOR_S, PORT, RESTART_WAIT_S, started
from faults import hold_file
from harness import Failure, case, port_answers, wait_until

LINE = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d (\d+) ([a-z-]+)( .*)?$")


def log_lines(inst):
    try:
        return inst.read("logs", "nbmonitor.log").decode("utf-8").split("\r\n")[:-1]
    except FileNotFoundError:
        return []


def events(inst, name):
    return [line for line in log_lines(inst) if LINE.match(line) and LINE.match(line).group(2) == name]


def kill_server(s, code):
    servers = s.pids_of("httpd.exe")
    if len(servers) != 1:
        raise Failure("httpd.exe processes before the kill: %r" % servers)
    rc, _ = s.probe("killpid", servers[0], code)
    if rc != 0:
        raise Failure("could not kill httpd.exe %d" % servers[0])
    return servers[0]


@case("log: a killed server leaves server-exited with its code, then restart")
def log_killed_server(s, t):
    """Every line has the stamp, the program's pid and an event; the start is there with the
    build's id; a server
    killed with exit code 7 is found by a tick and logged with that code, and the restart
    that follows names the new server's pid and port."""
    inst, sup = started(s)
    lines = log_lines(inst)
    bad = [line for line in lines if not LINE.match(line)]
    t.equal(bad, [], "lines not in the log's format")
    t.equal(sorted(set(int(LINE.match(line).group(1)) for line in lines if LINE.match(line))),
            s.pids_of("nbmonitor.exe"), "process ids in the log")
    t.true(events(inst, "start") and "home=C:\\nimbara\\" in events(inst, "start")[0],
           "start line with the home: %r" % events(inst, "start"))
    t.true(events(inst, "start") and (" build=%s " % s.build_id()) in events(inst, "start")[0],
           "start line with the build id %s: %r" % (s.build_id(), events(inst, "start")))
    launches = len(inst.launches())
    old = kill_server(s, 7)
    wait_until("restart in the log", lambda: events(inst, "restart"), MONITOR_S + 2.0 + RESTART_WAIT_S + 6, 0.2)
    exited = events(inst, "server-exited")
    t.true(len(exited) == 1 and ("pid=%d code=7 " % old) in exited[0], "server-exited line: %r" % exited)
    # The restart line follows the launch at once; the new server writes its own line a
    # moment later.
    wait_until("the new server's launch line", lambda: len(inst.launches()) > launches, 5, 0.1)
    new = [int(p) for p, _ in inst.launches()][-1]
    restart = events(inst, "restart")[0]
    t.true(("pid=%d port=%d " % (new, PORT)) in restart, "restart line %r names pid %d" % (restart, new))
    wait_until("the port to answer after the restart", lambda: port_answers(PORT), 5)
    n = len(log_lines(inst))
    time.sleep(2 * MONITOR_S + 0.5)
    t.equal(log_lines(inst)[n:], [], "lines written by ticks that found the server running")


@case("log: held open without sharing, the server is still restarted")
def log_held(s, t):
    """Another program holds logs\\nbmonitor.log open without sharing: the program cannot
    write its lines, and still restarts a killed server and serves."""
    inst, sup = started(s)
    before = inst.read("logs", "nbmonitor.log")
    launches = len(inst.launches())
    hold = hold_file(s, inst.win + "logs\\nbmonitor.log", MONITOR_S + 2.0 + RESTART_WAIT_S + 8)
    try:
        kill_server(s, 1)
        wait_until("a new server launch", lambda: len(inst.launches()) > launches,
                   MONITOR_S + 2.0 + RESTART_WAIT_S + 6, 0.2)
        wait_until("the port to answer after the restart", lambda: port_answers(PORT), 5)
        t.true(sup.running(), "nbmonitor still runs")
        t.equal(inst.read("logs", "nbmonitor.log"), before, "the held log")
    finally:
        hold.kill()
        hold.wait()
    # Once the log is free again, the next event is written.
    kill_server(s, 1)
    wait_until("server-exited after the hold", lambda: events(inst, "server-exited"),
               MONITOR_S + 2.0 + RESTART_WAIT_S + 6, 0.2)
