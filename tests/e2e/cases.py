#!/usr/bin/env python3
"""End-to-end cases: nbmonitor.exe on a fresh demo installation under Wine, watched through
its files, the stand-in server's launch log, the browser log, the probe and the screen.
Run through tests/e2e/run.sh, which prepares Wine and the environment this file reads.

    cases.py [CASE...]     only the cases whose name contains one of the words
"""
import os
import shutil
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import (IDS, VK_ESCAPE, VK_RETURN, WINDOW_TITLE, WM_KEYDOWN, WM_RBUTTONDOWN, WM_TRAY_CALLBACK,  # noqa: E402
                     Failure, Installation, Session, Supervisor, case, fresh_output, http_get, port_answers,
                     run_cases, wait_until)

# The program's default port; NB_E2E_PORT moves the whole suite elsewhere (through
# default_port) where another copy of the stack already uses it on this machine.
DEFAULT_PORT = 27142
PORT = int(os.environ.get("NB_E2E_PORT", DEFAULT_PORT))
PORT_SETTINGS = [] if PORT == DEFAULT_PORT else ["httpd.default_port=%d" % PORT]

# Short intervals keep the suite fast: a monitor tick every second, 300 ms pauses.
MONITOR_S = 1.0
WAIT_S = 0.3
RESTART_WAIT_S = 0.3
FAST = ["nbmonitor.monitor_interval=%d" % (MONITOR_S * 1000), "nbmonitor.wait_time=%d" % (WAIT_S * 1000),
        "httpd.restart_wait=%d" % (RESTART_WAIT_S * 1000)] + PORT_SETTINGS
LAUNCH_LOG = ["log=launch.log"]
ID_TRAY_EXIT = IDS["ID_TRAY_EXIT"]
ID_RESTORE_LIST = IDS["IDC_BACKUP_LIST"]
ID_DELETE = IDS["IDC_DELETE"]
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
WS_EX_TOPMOST, WS_EX_TOOLWINDOW, WS_EX_APPWINDOW = 0x8, 0x80, 0x40000

START_FAILED_EXEC = "Nimbaraの起動に失敗しました。(Exec)"
START_FAILED_PORT = "Nimbaraの起動に失敗しました。(Port)"
START_FAILED_WRITE = "Nimbaraの起動に失敗しました。\nフォルダに書き込み権限があることを確認してください。"
NOT_STARTED = "正常に動作を開始することができませんでした。\nNimbaraを終了します。"
BACKED_UP = "バックアップしました   "
RESTORED = "復旧しました  "
SELECT_ONE = "1つのみ選択してください"
UNSAFE_NAME = "このファイル名は復旧に使用できません。"
CONFIRM_DELETE = "削除します。\nよろしいですか？"
CONFIRM_INIT = "初期化を実行します。\nよろしいですか？"
APP_TITLE = "nbmonitor"  # caption of the boxes that are given none


def server_conf(d):
    """The server configuration the program must write for server path d."""
    lines = [
        (0, 'ServerRoot "/%s"'), (0, 'DocumentRoot "/%s/htdocs"'), (0, '<Directory "/%s/htdocs">'),
        (4, "Options Indexes FollowSymLinks"), (4, "AllowOverride None"), (4, "Order allow,deny"),
        (4, "Allow from all"), (0, "</Directory>"), (0, "<IfModule alias_module>"),
        (4, 'ScriptAlias /cgi-bin/ "/%s/cgi-bin/"'), (0, "</IfModule>"), (0, '<Directory "/%s/cgi-bin">'),
        (0, "AllowOverride None"), (4, "Options None"), (4, "Order allow,deny"), (4, "Allow from all"),
        (0, "</Directory>"), (0, 'PHPIniDir "/%s/php/"'), (0, 'LoadFile "/%s/php/php5ts.dll"'),
        (0, 'LoadModule php5_module "/%s/php/php5apache2_2.dll"'), (0, '<Directory "/%s/htdocs">'),
        (4, "Options Indexes FollowSymLinks"), (4, "DirectoryIndex index.php"), (4, "AllowOverride None"),
        (4, "Order allow,deny"), (4, "Allow from 127.0.0.1"), (0, "</Directory>"),
    ]
    return "".join(" " * n + (t % d if "%s" in t else t) + "\r\n" for n, t in lines).encode("latin-1")


def php_ini_for(template, d):
    """php.ini as regenerated from the template for server path d: CRLF everywhere, the
    four path lines of the default installation rewritten."""
    lines = template.replace(b"\r\n", b"\n").split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    out = []
    for line in lines:
        text = line.decode("latin-1")
        if text in ('extension_dir = "/nimbara/php/ext"', 'session.save_path = "/nimbara/tmp"',
                    'eaccelerator.cache_dir="/nimbara/tmp/eaccelerator"') or \
                (text.startswith('zend_extension="/nimbara/php/ext/') and text.endswith('"')):
            text = text.replace("/nimbara/", "/%s/" % d, 1)
        out.append(text.encode("latin-1") + b"\r\n")
    return b"".join(out)


def browser_lines(s):
    try:
        with open(s.browser_log) as f:
            return [line.rstrip("\n") for line in f]
    except FileNotFoundError:
        return []


def clear_browser_log(s):
    if os.path.exists(s.browser_log):
        os.remove(s.browser_log)


def start_page(port=PORT):
    return "http://localhost:%d/index.php" % port


def started(s, sets=(), standin=LAUNCH_LOG, home="C:\\nimbara", prepare=None):
    """A fresh installation with the fast settings, and nbmonitor started on it and through
    its start sequence."""
    inst = Installation(s, home_win=home, sets=list(FAST) + list(sets), standin=standin)
    if prepare:
        prepare(inst)
    clear_browser_log(s)
    sup = Supervisor(inst)
    sup.wait_ready()
    return inst, sup


def nbctl(s, inst, word, timeout=30):
    rc, out = s.run([inst.win + "bin\\nbctl.exe", word], cwd=inst.bin, timeout=timeout)
    return rc, out


def taskbar_corner(s):
    """The right end of the taskbar with the notification area, for screenshots."""
    bar = s.screen.taskbar()
    if not bar:
        raise Failure("the Wine desktop shows no taskbar")
    return (bar[0] + bar[2] - 240, bar[1] - 40, 240, bar[3] + 40)


def around(rect, margin=12):
    x, y, w, h = rect
    return (max(0, x - margin), max(0, y - margin), w + 2 * margin, h + 2 * margin)


def wait_backups(inst, count, timeout=20):
    return wait_until("%d entries in backup\\" % count, lambda: len(inst.backups()) >= count and inst.backups(),
                      timeout, 0.3)


# ---------------------------------------------------------------------------------------------
# Start


def press_through_boxes(s, go_on, limit=12, timeout=60):
    """Answers the message boxes with OK as they appear, while go_on() holds, and returns
    their (caption, text) pairs in order."""
    seen = []
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and go_on() and len(seen) < limit:
        boxes = [w for w in s.windows() if w["visible"] and w["cls"] == "#32770" and w["rect"][2] > 0
                 and w["title"] != WINDOW_TITLE]
        if not boxes:
            time.sleep(0.2)
            continue
        box = s.dialog_now("hwnd:" + boxes[0]["hwnd"])
        if box is None:
            continue
        seen.append((boxes[0]["title"], box["text"]))
        s.press("hwnd:" + boxes[0]["hwnd"], IDOK)
        wait_until("the box %r to close" % boxes[0]["title"],
                   lambda: boxes[0]["hwnd"] not in [w["hwnd"] for w in s.windows() if w["visible"]], 10, 0.2)
    return seen


@case("start: files, server, start page, first backup")
def start_sequence(s, t):
    """A plain start writes the configuration, starts the server, opens the start page once,
    runs the backup script once, shows the blue icon after the first monitor tick, and then
    idles."""
    inst, sup = started(s)
    t.equal(inst.read("conf", "extra", "httpd-port.conf"), b"Listen 127.0.0.1:%d\r\n" % PORT, "httpd-port.conf")
    conf = inst.read("conf", "extra", "httpd-nb.conf")
    t.equal(len(conf), 716, "size of httpd-nb.conf")
    t.equal(conf, server_conf("nimbara"), "httpd-nb.conf")
    template = inst.read("php", "php.ini.ORG")
    t.equal(inst.read("php", "php.ini"), php_ini_for(template, "nimbara"), "php.ini regenerated from php.ini.ORG")

    wins = [w for w in s.windows() if w["title"] == WINDOW_TITLE]
    if t.equal(len(wins), 1, "windows titled nbmonitorDlg"):
        t.equal(wins[0]["visible"], False, "nbmonitorDlg visible")

    code, body = http_get(PORT)
    t.equal(code, 200, "HTTP status of /index.php")
    t.equal(body, inst.read("htdocs", "index.php"), "body of /index.php")

    wait_until("the browser to be asked for the start page", lambda: browser_lines(s), 10)
    wait_backups(inst, 1)
    time.sleep(1.5)  # room for a wrong second URL or backup to show up
    t.equal(browser_lines(s), [start_page()], "URLs handed to the browser")
    t.equal(len(inst.backups()), 1, "entries in backup\\ after the start")
    launches = inst.launches()
    t.equal([addr for _, addr in launches], ["127.0.0.1:%d" % PORT], "server launches")
    t.equal(s.pids_of("httpd.exe"), [int(launches[0][0])] if launches else [], "running httpd.exe")

    s.screen.wait_icon("blue", MONITOR_S + 4)
    s.screen.save("tray-running.png", taskbar_corner(s))

    # Between ticks the program waits for messages: over a few ticks it uses next to no CPU.
    nbm = s.pids_of("nbmonitor.exe")
    if t.equal(len(nbm), 1, "nbmonitor.exe processes"):
        before = s.stats(nbm[0])["cpu_ms"]
        time.sleep(4 * MONITOR_S)
        used = s.stats(nbm[0])["cpu_ms"] - before
        t.true(used < 800, "nbmonitor used %d ms of CPU time over %.0f s of running" % (used, 4 * MONITOR_S))


@case("start: home D:\\apps\\nimbara, paths follow it")
def start_other_home(s, t):
    """Started from D:\\apps\\nimbara\\bin, every generated path is drive-less under
    /apps/nimbara, and the server still starts from the real home."""
    inst, sup = started(s, home="D:\\apps\\nimbara")
    t.equal(inst.read("conf", "extra", "httpd-nb.conf"), server_conf("apps/nimbara"), "httpd-nb.conf")
    template = inst.read("php", "php.ini.ORG")
    php = inst.read("php", "php.ini")
    t.equal(php, php_ini_for(template, "apps/nimbara"), "php.ini")
    t.true(b'extension_dir = "/apps/nimbara/php/ext"' in php, "php.ini names /apps/nimbara/php/ext")
    t.true(b"D:" not in inst.read("conf", "extra", "httpd-nb.conf"), "no drive letter in httpd-nb.conf")
    code, _ = http_get(PORT)
    t.equal(code, 200, "HTTP status of /index.php")
    t.equal(len(inst.launches()), 1, "server launches")


@case("start: current folder C:\\nimbara, settings from C:\\conf")
def start_other_cwd(s, t):
    """Started with C:\\nimbara as current folder, the program reads C:\\conf\\nbmonitor.ini
    (the parent of the current folder), yet finds the server through its own location."""
    inst = Installation(s, sets=FAST, standin=LAUNCH_LOG)
    other = PORT + 7
    conf_dir = os.path.join(s.prefix, "drive_c", "conf")
    os.makedirs(conf_dir, exist_ok=True)
    try:
        with open(os.path.join(conf_dir, "nbmonitor.ini"), "wb") as f:
            f.write(("[httpd]\r\ndefault_port=%d\r\nrestart_wait=300\r\n[nbmonitor]\r\nwait_time=300\r\n"
                     "monitor_interval=1000\r\n" % other).encode())
        clear_browser_log(s)
        sup = Supervisor(inst, cwd=inst.unix)
        sup.wait_ready()
        t.equal(inst.read("conf", "extra", "httpd-port.conf"), b"Listen 127.0.0.1:%d\r\n" % other,
                "httpd-port.conf (port from C:\\conf\\nbmonitor.ini)")
        wait_until("the start page URL", lambda: browser_lines(s), 10)
        t.equal(browser_lines(s), [start_page(other)], "URLs handed to the browser")
        code, _ = http_get(other)
        t.equal(code, 200, "HTTP status on the port from C:\\conf\\nbmonitor.ini")
    finally:
        s.stop_all()
        shutil.rmtree(conf_dir, ignore_errors=True)


@case("start: listen file not writable, box, exit code -1")
def start_listen_file_locked(s, t):
    """A read-only conf\\extra\\httpd-port.conf: the write-permission box, no server, exit
    code -1 after OK."""
    inst = Installation(s, sets=FAST, standin=LAUNCH_LOG)
    locked = inst.path("conf", "extra", "httpd-port.conf")
    inst.write("conf/extra/httpd-port.conf", b"Listen 127.0.0.1:1\r\n")
    os.chmod(locked, 0o444)
    try:
        sup = Supervisor(inst)
        box = s.dialog("Nimbara", 30)
        t.equal(box["text"], START_FAILED_WRITE, "text of the start failure box")
        t.equal(inst.launches(), [], "server launches")
        s.press("Nimbara", IDOK)
        t.equal(sup.wait_exit(15), 255, "exit status (ExitProcess(-1) seen through Wine)")
        t.equal(inst.read("conf", "extra", "httpd-port.conf"), b"Listen 127.0.0.1:1\r\n", "the read-only listen file")
    finally:
        os.chmod(locked, 0o644)


@case("start: no port left, (Port) box, exit code -1")
def start_no_port(s, t):
    """default_port 65535 leaves no port to probe: the (Port) box, no server, exit code -1."""
    inst = Installation(s, sets=FAST + ["httpd.default_port=65535"], standin=LAUNCH_LOG)
    sup = Supervisor(inst)
    box = s.dialog("Nimbara", 30)
    t.equal(box["text"], START_FAILED_PORT, "text of the start failure box")
    s.press("Nimbara", IDOK)
    t.equal(sup.wait_exit(15), 255, "exit status (ExitProcess(-1) seen through Wine)")
    t.equal(inst.launches(), [], "server launches")


@case("start: debug boxes, in order, with their values")
def start_debug_boxes(s, t):
    """Both debug settings on: every diagnostic box of a start shows, in order, with the
    value it names (paths, the server's command line, the URL, the backup command line)."""
    inst = Installation(s, sets=FAST + ["httpd.debug=1", "nbmonitor.debug=2"], standin=LAUNCH_LOG)
    clear_browser_log(s)
    sup = Supervisor(inst)
    seen = press_through_boxes(s, lambda: s.find_window(WINDOW_TITLE) is None and sup.running())
    home = "C:\\nimbara\\"
    t.equal(seen, [
        ("SetPath: m_path", home), ("SetPath: m_dir", "nimbara"),
        ("CMainDlg::GetHomeDir", home),
        ("SetPath: m_path", home), ("SetPath: m_dir", "nimbara"),
        ("httpd start cmd", "C:\\nimbara\\\\bin\\httpd.exe"),
        ("url", start_page()),
        ("CMainDlg::OnBackup", '"C:\\nimbara\\\\bin\\nbbackup.bat"'),
    ], "diagnostic boxes (caption, text) of the start")
    sup.wait_ready(15)
    t.equal(browser_lines(s), [start_page()], "URLs handed to the browser")


@case("start: port taken, the next one used everywhere")
def start_port_taken(s, t):
    """With a Linux program listening on 127.0.0.1:27142 the server gets 27143: the listen
    file, the server and the start page all say so."""
    holder = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    # Connections of earlier cases may still linger on the port in TIME_WAIT; they do not
    # keep a listener out once it asks for SO_REUSEADDR (which still refuses a second one).
    holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        holder.bind(("127.0.0.1", PORT))
        holder.listen(5)
        inst, sup = started(s)
        t.equal(inst.read("conf", "extra", "httpd-port.conf"), b"Listen 127.0.0.1:%d\r\n" % (PORT + 1), "httpd-port.conf")
        wait_until("the start page URL", lambda: browser_lines(s), 10)
        t.equal(browser_lines(s), [start_page(PORT + 1)], "URLs handed to the browser")
        code, _ = http_get(PORT + 1)
        t.equal(code, 200, "HTTP status on the next port")
        t.equal([a for _, a in inst.launches()], ["127.0.0.1:%d" % (PORT + 1)], "server launches")
    finally:
        holder.close()


@case("start: no httpd.exe, Exec box, exit code -1")
def start_exec_fails(s, t):
    """Without bin\\httpd.exe the start fails with the (Exec) box; the red icon is in the tray
    while it shows; after OK the program ends with exit code -1."""
    inst = Installation(s, sets=FAST)
    os.remove(os.path.join(inst.bin, "httpd.exe"))
    clear_browser_log(s)
    sup = Supervisor(inst)
    box = s.dialog("Nimbara", 30)
    t.equal(box["text"], START_FAILED_EXEC, "text of the start failure box")
    t.equal(s.find_window(WINDOW_TITLE), None, "window nbmonitorDlg while the start fails")
    t.equal(s.screen.tray_icon()[0], "red", "tray icon while the failure box shows")
    s.screen.save("start-failed.png", around(box["rect"], 40))
    s.press("Nimbara", IDOK)
    t.equal(sup.wait_exit(15), 255, "exit status (ExitProcess(-1) seen through Wine)")
    t.equal(browser_lines(s), [], "URLs handed to the browser")


@case("start: server never listens, warning box after 5 tries")
def start_never_answers(s, t):
    """A server that never accepts connections: after five attempts the servers are ended and
    the icon removed, then the warning box; exit code -1 once it is closed."""
    inst = Installation(s, sets=FAST, standin=LAUNCH_LOG + ["never_listen=1"])
    clear_browser_log(s)
    sup = Supervisor(inst)
    box = s.dialog("Nimbara", 30)
    t.equal(box["text"], NOT_STARTED, "text of the warning box")
    t.equal(s.pids_of("httpd.exe"), [], "httpd.exe processes while the warning shows")
    t.equal(len(inst.launches()), 1, "server launches")
    t.equal(s.screen.tray_icon()[0], None, "tray icon while the warning shows")
    s.press("Nimbara", IDOK)
    t.equal(sup.wait_exit(15), 255, "exit status (ExitProcess(-1) seen through Wine)")
    t.equal(browser_lines(s), [], "URLs handed to the browser")
    t.equal(inst.backups(), [], "entries in backup\\")


# ---------------------------------------------------------------------------------------------
# Running


@case("monitor: killed server is restarted, icon red then blue")
def monitor_restart(s, t):
    """The server killed from outside: the next tick turns the icon red, and after the fixed
    2 s pause and restart_wait a new server serves the same port; the icon turns blue again."""
    inst, sup = started(s)
    s.screen.wait_icon("blue", MONITOR_S + 4)

    for round_no in (1, 2):
        servers = s.pids_of("httpd.exe")
        if len(servers) != 1:
            raise Failure("httpd.exe processes before kill %d: %r" % (round_no, servers))
        rc, _ = s.probe("killpid", servers[0])
        if rc != 0:
            raise Failure("could not kill httpd.exe %d" % servers[0])
        killed_at = time.monotonic()
        if round_no == 1:
            s.screen.wait_icon("red", MONITOR_S + 3)
            s.screen.save("tray-stopped.png", taskbar_corner(s))
        limit = MONITOR_S + 2.0 + RESTART_WAIT_S + 4.0
        wait_until("restart %d in the launch log" % round_no, lambda: len(inst.launches()) > round_no, limit, 0.1)
        took = time.monotonic() - killed_at
        t.true(took >= 2.0, "restart %d came %.2f s after the kill, before the fixed 2 s pause" % (round_no, took))
        wait_until("the port to answer after restart %d" % round_no, lambda: port_answers(PORT), 5)
        s.screen.wait_icon("blue", MONITOR_S + 4)
        if round_no == 1:
            s.screen.save("tray-running-again.png", taskbar_corner(s))

    launches = inst.launches()
    t.equal([a for _, a in launches], ["127.0.0.1:%d" % PORT] * 3, "server launches")
    t.equal(len(set(p for p, _ in launches)), 3, "distinct server processes")
    t.equal(s.pids_of("httpd.exe"), [int(launches[-1][0])], "running httpd.exe")
    code, _ = http_get(PORT)
    t.equal(code, 200, "HTTP status after the restarts")


@case("monitor: server gone for good, one (Exec) box at a time")
def monitor_exec_fails(s, t):
    """The server killed while bin\\httpd.exe is missing: one (Exec) box, however many ticks
    fail meanwhile; once the file is back a later tick restarts the server; a new failure
    after that success shows the box again."""
    inst, sup = started(s)
    s.screen.wait_icon("blue", MONITOR_S + 4)
    exe = os.path.join(inst.bin, "httpd.exe")
    limit = MONITOR_S + 2.0 + RESTART_WAIT_S + 8
    for round_no in (1, 2):
        os.rename(exe, exe + ".off")
        s.probe("kill", "httpd.exe")
        box = s.dialog("Nimbara", limit)
        t.equal(box["text"], START_FAILED_EXEC, "text of the box of failed restart %d" % round_no)
        time.sleep(3 * MONITOR_S + 2.5)  # more failing ticks, inside the box's loop or after it
        boxes = [w for w in s.windows() if w["visible"] and w["cls"] == "#32770" and w["title"] == "Nimbara"]
        t.equal(len(boxes), 1, "(Exec) boxes after several failed restarts (round %d)" % round_no)
        t.equal(len(inst.launches()), round_no, "server launches while httpd.exe is missing")
        os.rename(exe + ".off", exe)
        s.press("Nimbara", IDOK)
        s.wait_dialog_gone("Nimbara")
        wait_until("the server to be started again (round %d)" % round_no,
                   lambda: len(inst.launches()) > round_no, limit + 2 * MONITOR_S, 0.2)
        s.screen.wait_icon("blue", MONITOR_S + 4)
        t.true(port_answers(PORT), "the server answers after round %d" % round_no)
    t.true(sup.running(), "nbmonitor still runs")


@case("backup timer: a backup every backup_interval")
def backup_timer(s, t):
    """With backup_interval 2.5 s, backups keep coming after the one of the start, and no
    completion box shows for them."""
    inst, sup = started(s, sets=["nbmonitor.backup_interval=2500"])
    wait_backups(inst, 3, timeout=2 * 2.5 + 8)
    t.equal(s.dialog_now("Nimbara"), None, "a box for a timer backup")


@case("second start and double-click: start page again")
def second_instance(s, t):
    """A second nbmonitor.exe ends within seconds without starting anything; the running one
    opens the start page again, as it does for a double-click on its icon."""
    inst, sup = started(s)
    wait_until("the first start page URL", lambda: browser_lines(s), 10)
    second = s.start([inst.win + "bin\\nbmonitor.exe"], cwd=inst.bin, log_name="second.log")
    try:
        rc = second.wait(timeout=20)
    except Exception:
        raise Failure("the second nbmonitor.exe still runs after 20 s")
    wait_until("a second start page URL", lambda: len(browser_lines(s)) >= 2, 10)
    time.sleep(1)
    t.equal(browser_lines(s), [start_page()] * 2, "URLs handed to the browser")
    t.equal(len(s.pids_of("nbmonitor.exe")), 1, "nbmonitor.exe processes")
    t.equal(len(inst.launches()), 1, "server launches")
    t.true(sup.running(), "the first nbmonitor still runs")
    t.note("the second instance's exit status was %d" % rc)

    colour, centre = s.screen.wait_icon("blue", MONITOR_S + 4)
    s.screen.click(centre, 1, times=2)
    wait_until("a third start page URL after a double-click on the icon", lambda: len(browser_lines(s)) >= 3, 10)
    t.equal(browser_lines(s), [start_page()] * 3, "URLs handed to the browser after the double-click")


@case("second start during the start sequence: nothing opened")
def second_instance_early(s, t):
    """A second start while the first is still in its start sequence (no window titled
    nbmonitorDlg yet) ends and makes the first open nothing beyond its own start page."""
    inst = Installation(s, sets=FAST + ["nbmonitor.wait_time=2500"], standin=LAUNCH_LOG)
    clear_browser_log(s)
    sup = Supervisor(inst)
    wait_until("the server launch", lambda: inst.launches(), 30, 0.1)
    second = s.start([inst.win + "bin\\nbmonitor.exe"], cwd=inst.bin, log_name="second.log")
    try:
        second.wait(timeout=20)
    except Exception:
        raise Failure("the second nbmonitor.exe still runs after 20 s")
    if s.find_window(WINDOW_TITLE) is not None:
        raise Failure("the first start sequence ended before the second instance did; the case proves nothing")
    sup.wait_ready()
    wait_until("the first start page URL", lambda: browser_lines(s), 10)
    time.sleep(1.5)
    t.equal(browser_lines(s), [start_page()], "URLs handed to the browser")
    t.equal(len(inst.launches()), 1, "server launches")


@case("window: show/hide, Enter and Escape, exit command")
def window_commands(s, t):
    """The host is a zero-sized tool window that owns the topmost supervisor window. Enter
    and Escape posted to the host or the supervisor end nothing; nbctl show shows the
    supervisor window and its OK hides it again; WM_COMMAND ID_TRAY_EXIT ends the program,
    every httpd.exe and the icon."""
    inst, sup = started(s)
    s.screen.wait_icon("blue", MONITOR_S + 4)
    nbm = s.pids_of("nbmonitor.exe")
    hosts = [w for w in s.windows() if nbm and w["pid"] == nbm[0] and w["cls"] == "#32770" and w["title"] == ""]
    if len(hosts) != 1:
        raise Failure("untitled dialogs (the host) of nbmonitor: %r" % hosts)
    host = hosts[0]
    t.equal(host["rect"], (0, 0, 0, 0), "the host's rectangle")
    t.equal((bool(host["exstyle"] & WS_EX_TOOLWINDOW), bool(host["exstyle"] & WS_EX_APPWINDOW)), (True, False),
            "the host's tool-window and app-window styles")
    supervisor = [w for w in s.windows() if w["title"] == WINDOW_TITLE]
    t.true(supervisor and supervisor[0]["exstyle"] & WS_EX_TOPMOST, "nbmonitorDlg is not topmost: %r" % supervisor)
    t.true(supervisor and supervisor[0]["owner"] == host["hwnd"], "nbmonitorDlg is not owned by the host: %r" % supervisor)
    for target in ("hwnd:" + host["hwnd"], WINDOW_TITLE):
        for key in (VK_ESCAPE, VK_RETURN):
            s.post(target, WM_KEYDOWN, key, 1)
    time.sleep(1.5)
    t.true(sup.running(), "nbmonitor ended after Enter/Escape")
    t.true(s.find_window(WINDOW_TITLE) is not None, "window nbmonitorDlg gone after Enter/Escape")

    def supervisor_visible():
        return [w["visible"] for w in s.windows() if w["title"] == WINDOW_TITLE] == [True]
    rc, _ = nbctl(s, inst, "show")
    t.equal(rc, 0, "nbctl show exit status")
    wait_until("nbmonitorDlg to be shown", supervisor_visible, 5)
    s.press(WINDOW_TITLE, IDOK)
    wait_until("nbmonitorDlg to be hidden by its OK", lambda: not supervisor_visible(), 5)
    t.true(s.find_window(WINDOW_TITLE) is not None, "window nbmonitorDlg gone after its OK")
    t.true(sup.running(), "nbmonitor ended after the window's OK")

    s.command(WINDOW_TITLE, ID_TRAY_EXIT)
    rc = sup.wait_exit(15)
    t.equal(s.pids_of("httpd.exe"), [], "httpd.exe processes after exit")
    t.true(not port_answers(PORT), "port %d still answers after exit" % PORT)
    t.equal(s.find_window(WINDOW_TITLE), None, "window nbmonitorDlg after exit")
    s.screen.wait_icon(None, 5)
    t.note("exit status %d" % rc)


def open_tray_menu(s, t):
    """Right-clicks the tray icon; returns the menu window's rectangle. Falls back to the
    icon's callback message when the click brings no menu."""
    colour, centre = s.screen.wait_icon("blue", MONITOR_S + 4)

    def menu():
        ms = [w for w in s.windows() if w["cls"] == "#32768" and w["visible"] and w["rect"][2] > 0]
        return ms[0]["rect"] if ms else None
    s.screen.click(centre, 3)
    try:
        return wait_until("the popup menu", menu, 4, 0.2)
    except Failure:
        t.note("a right-click on the tray icon opened no menu; WM_RBUTTONDOWN posted instead")
        s.post(WINDOW_TITLE, WM_TRAY_CALLBACK, 0, WM_RBUTTONDOWN)
        return wait_until("the popup menu after WM_TRAY_CALLBACK", menu, 5, 0.2)


@case("tray menu: About box, then Exit")
def tray_menu(s, t):
    """Right-click on the icon: a two-item menu; its first item shows the About box (the
    command reaches the host), its second ends the program and the server."""
    inst, sup = started(s)
    rect = open_tray_menu(s, t)
    x, y, w, h = rect
    # Point at the first item (it lights up and the icon's tooltip goes), then take the
    # menu with the notification area below it.
    s.screen.move((x + w // 2, y + h // 4))
    time.sleep(0.6)
    bar = s.screen.taskbar()
    left, top = max(0, min(x, bar[0] + bar[2] - 320) - 40), max(0, y - 60)
    s.screen.save("menu.png", (left, top, bar[0] + bar[2] - left, bar[1] + bar[3] - top))
    s.screen.click((x + w // 2, y + h // 4))
    about = s.dialog("情報", 10)
    texts = [text for _, cls, text in about["controls"] if cls.lower() == "static"]
    t.true("Nimbara" in texts, "About box statics %r lack the product name Nimbara" % texts)
    t.true(any(cls.lower() == "button" and cid == IDOK for cid, cls, _ in about["controls"]), "About box has OK")
    time.sleep(0.5)
    s.screen.save("about.png", around(about["rect"], 16))
    s.press("情報", IDOK)
    s.wait_dialog_gone("情報")
    t.true(sup.running(), "nbmonitor ended with the About box")

    rect = open_tray_menu(s, t)
    x, y, w, h = rect
    s.screen.click((x + w // 2, y + 3 * h // 4))
    sup.wait_exit(15)
    t.equal(s.pids_of("httpd.exe"), [], "httpd.exe processes after Exit")


# ---------------------------------------------------------------------------------------------
# Maintenance


@case("backup command: new entry and completion box")
def backup_command(s, t):
    """nbctl backup: the script runs again (a new entry) and the box says so."""
    inst, sup = started(s)
    first = wait_backups(inst, 1)
    rc, out = nbctl(s, inst, "backup")
    t.equal(rc, 0, "nbctl backup exit status")
    box = s.dialog("Nimbara", 15)
    t.equal(box["text"], BACKED_UP, "text of the backup box")
    new = wait_until("a new entry in backup\\", lambda: sorted(set(inst.backups()) - set(first)), 20, 0.3)
    t.equal(len(new), 1, "new entries after nbctl backup")
    s.press("Nimbara", IDOK)
    s.wait_dialog_gone("Nimbara")
    t.true(sup.running(), "nbmonitor still runs")


RESTORE_ARGS = "restore-args.txt"


def restore_setup(names):
    def prepare(inst):
        # No backup at start, so the folder holds exactly the entries the case puts there;
        # the restore script only writes down what it was given.
        inst.script("nbbackup.bat", ["@echo off", "exit /b 0"])
        target = '"%~dp0..\\' + RESTORE_ARGS + '"'
        inst.script("nbrestore.bat", ["@echo off", 'set "ALL=%*"', 'set "FIRST=%~1"',
                                      "echo all=%ALL% >" + target, "echo first=%FIRST% >>" + target])
        for n in names:
            inst.write("backup/" + n, "backup " + n)
    return prepare


def restore_args(inst):
    """What the test's nbrestore.bat wrote down: [all arguments, first argument unquoted]."""
    try:
        text = inst.read(RESTORE_ARGS).decode("utf-8", "replace")
    except FileNotFoundError:
        return None
    found = dict(line.rstrip(" ").split("=", 1) for line in text.replace("\r\n", "\n").split("\n") if "=" in line)
    if "all" not in found or "first" not in found:
        return None  # not written completely yet
    return [found["all"], found["first"]]


def open_restore(s, t, inst):
    rc, _ = nbctl(s, inst, "restore")
    t.equal(rc, 0, "nbctl restore exit status")
    return s.dialog("復旧", 15)


def row_of(rows, name):
    for i, (text, _) in enumerate(rows):
        if text == name:
            return i
    raise Failure("no row %r in the restore list %r" % (name, [r[0] for r in rows]))


@case("restore: list, select, script gets the name")
def restore_one(s, t):
    """nbctl restore lists the backups newest name first; restoring one hands exactly its
    name to nbrestore.bat and says so. Without a running nbmonitor, nbctl fails."""
    names = ["app-20260101-090000-00.db", "app-20260102-090000-00.db", "app-20260103-090000-00.db"]
    inst = Installation(s, sets=FAST, standin=LAUNCH_LOG)
    restore_setup(names)(inst)
    rc, _ = nbctl(s, inst, "restore")
    t.true(rc != 0, "nbctl restore without nbmonitor exited with 0")
    clear_browser_log(s)
    sup = Supervisor(inst)
    sup.wait_ready()

    dlg = open_restore(s, t, inst)
    rows = s.list_rows("復旧", ID_RESTORE_LIST)
    t.equal([r[0] for r in rows], sorted(names, reverse=True), "rows of the restore list")
    time.sleep(0.5)
    s.screen.save("restore.png", around(dlg["rect"], 16))
    chosen = names[1]
    s.select_rows("復旧", ID_RESTORE_LIST, [row_of(rows, chosen)])
    t.equal([r[0] for r in s.list_rows("復旧", ID_RESTORE_LIST) if r[1]], [chosen], "selected rows")
    s.press("復旧", IDOK)
    box = s.dialog(APP_TITLE, 15)
    t.equal(box["text"], RESTORED, "text of the restore box")
    args = wait_until("nbrestore.bat to run", lambda: restore_args(inst), 15, 0.3)
    t.equal(args[0], chosen, "argument text nbrestore.bat received")
    s.press(APP_TITLE, IDOK)
    s.wait_dialog_gone("復旧")
    t.equal(sorted(inst.backups()), names, "entries in backup\\ after the restore")
    t.true(sup.running(), "nbmonitor still runs")


@case("restore: hostile name, one row only, quoting, delete, none")
def restore_guarded(s, t):
    """A name that the command interpreter would run as a second command is refused and runs
    nothing; two selected rows are refused; a name with a blank reaches the script whole;
    Delete removes the selected entries after Yes; Restore with no row closes the dialog."""
    hostile = "x & copy nul pwned.txt"
    blank = "app 2.db"
    plain = "app-1.db"
    inst = Installation(s, sets=FAST, standin=LAUNCH_LOG)
    restore_setup([hostile, blank, plain])(inst)
    sup = Supervisor(inst)
    sup.wait_ready()

    open_restore(s, t, inst)
    rows = s.list_rows("復旧", ID_RESTORE_LIST)
    t.equal(sorted(r[0] for r in rows), sorted([hostile, blank, plain]), "rows of the restore list")
    s.select_rows("復旧", ID_RESTORE_LIST, [row_of(rows, hostile)])
    s.press("復旧", IDOK)
    box = s.dialog(APP_TITLE, 15)
    t.equal(box["text"], UNSAFE_NAME, "text of the box for a hostile name")
    s.press(APP_TITLE, IDOK)
    s.wait_dialog_gone(APP_TITLE)
    time.sleep(2)
    t.equal(restore_args(inst), None, "nbrestore.bat ran for the hostile name")
    pwned = [os.path.join(d, f) for d, _, fs in os.walk(inst.unix) for f in fs if "pwned" in f and "&" not in f]
    t.equal(pwned, [], "files made by the hostile name")

    t.true(s.dialog_now("復旧") is not None, "the restore dialog is still open")
    s.select_rows("復旧", ID_RESTORE_LIST, [row_of(rows, blank), row_of(rows, plain)])
    s.press("復旧", IDOK)
    box = s.dialog(APP_TITLE, 15)
    t.equal(box["text"], SELECT_ONE, "text of the box for two rows")
    s.press(APP_TITLE, IDOK)
    s.wait_dialog_gone(APP_TITLE)
    t.equal(sorted(r[0] for r in s.list_rows("復旧", ID_RESTORE_LIST) if r[1]), sorted([blank, plain]),
            "selection after the two-row refusal")

    s.select_rows("復旧", ID_RESTORE_LIST, [row_of(rows, blank)])
    s.press("復旧", IDOK)
    box = s.dialog(APP_TITLE, 15)
    t.equal(box["text"], RESTORED, "text of the restore box")
    args = wait_until("nbrestore.bat to run", lambda: restore_args(inst), 15, 0.3)
    t.equal(args[1], blank, "first argument (%~1) nbrestore.bat received for a name with a blank")
    s.press(APP_TITLE, IDOK)
    s.wait_dialog_gone("復旧")

    open_restore(s, t, inst)
    rows = s.list_rows("復旧", ID_RESTORE_LIST)
    s.select_rows("復旧", ID_RESTORE_LIST, sorted([row_of(rows, hostile), row_of(rows, plain)]))
    s.press("復旧", ID_DELETE)
    box = s.dialog(APP_TITLE, 15)
    t.equal(box["text"], CONFIRM_DELETE, "text of the delete question")
    s.press(APP_TITLE, IDYES)
    s.wait_dialog_gone(APP_TITLE)
    wait_until("the deleted entries to go", lambda: inst.backups() == [blank], 5, 0.2)
    t.equal([r[0] for r in s.list_rows("復旧", ID_RESTORE_LIST)], [blank], "rows after Delete")
    s.press("復旧", IDCANCEL)
    s.wait_dialog_gone("復旧")

    # Restore with nothing selected closes the dialog and runs nothing.
    os.remove(inst.path(RESTORE_ARGS))
    open_restore(s, t, inst)
    s.select_rows("復旧", ID_RESTORE_LIST, [])
    s.press("復旧", IDOK)
    s.wait_dialog_gone("復旧")
    time.sleep(1.5)
    t.equal(restore_args(inst), None, "nbrestore.bat ran with nothing selected")
    t.equal(s.dialog_now(APP_TITLE), None, "a box after Restore with nothing selected")
    t.true(sup.running(), "nbmonitor still runs")


@case("initialize: No keeps app.db, Yes deletes it")
def initialize(s, t):
    """nbctl initialize asks (empty caption); No deletes nothing, Yes deletes
    htdocs\\data\\app.db; the server keeps running."""
    inst, sup = started(s)
    for answer in (IDNO, IDYES):
        rc, _ = nbctl(s, inst, "initialize")
        t.equal(rc, 0, "nbctl initialize exit status")
        box = s.dialog("", 15)
        t.equal(box["text"], CONFIRM_INIT, "text of the initialization question")
        s.press("", answer)
        s.wait_dialog_gone("")
        if answer == IDNO:
            time.sleep(1)
            t.true(inst.exists("htdocs", "data", "app.db"), "app.db was deleted after No")
    wait_until("app.db to be deleted", lambda: not inst.exists("htdocs", "data", "app.db"), 5, 0.2)
    t.equal(len(s.pids_of("httpd.exe")), 1, "httpd.exe processes after the initialization")
    t.true(port_answers(PORT), "the server answers after the initialization")


def ports_free(s):
    """Another program on the ports the cases use would make them fail for no fault of the
    program; say so plainly instead."""
    def free():
        return not port_answers(PORT, 0.5) and not port_answers(PORT + 1, 0.5)
    if not free():
        time.sleep(3)
    if not free():
        raise Failure("port %d or %d is in use by another program on this machine (NB_E2E_PORT moves "
                      "the suite elsewhere):\n%s" % (PORT, PORT + 1, listeners(PORT)))


def listeners(port):
    try:
        out = subprocess.run(["ss", "-ltnp"], stdout=subprocess.PIPE, timeout=10).stdout.decode()
        return "\n".join(line for line in out.splitlines() if ":%d " % port in line or ":%d " % (port + 1) in line)
    except Exception as e:
        return "(ss: %s)" % e


def main():
    session = Session()
    selected = sys.argv[1:]
    fresh_output(session, keep_shots=bool(selected))
    failed = run_cases(session, selected, before_each=ports_free)
    return min(failed, 125)


if __name__ == "__main__":
    sys.exit(main())
