// Graceful, then forced, stop of the server processes.
#include "server/server_stop.h"

#include <algorithm>
#include <vector>

#include "base/layout.h"
#include "base/supervision_log.h"
#include "platform/platform.h"

namespace {

struct Waited {
    uint32_t pid;
    uint32_t parentPid;  // 0 for a server that was signalled itself
    nb::ScopedProcess process;
};

void LogGraceful(const Waited& w, uint64_t ms) {
    if (w.parentPid == 0)
        slog::Write("server-stop", {{"pid", w.pid}, {"graceful", 1}, {"ms", ms}});
    else
        slog::Write("server-stop", {{"pid", w.pid}, {"graceful", 1}, {"ms", ms}, {"parent", w.parentPid}});
}

int Force(uint32_t pid, const wchar_t* reason) {
    int ended = nb::Os().TerminateProcessById(pid, 0);
    if (ended)
        slog::Write("server-stop", {{"pid", pid}, {"forced", 1}, {"reason", reason}});
    else
        slog::Write("server-stop", {{"pid", pid}, {"forced", 1}, {"reason", reason}, {"ended", 0}});
    return ended;
}

}  // namespace

std::wstring ShutdownEventName(uint32_t pid) { return L"ap" + std::to_wstring(pid) + L"_shutdown"; }

int StopServers(uint32_t gracefulMs) {
    nb::IPlatform& os = nb::Os();
    std::vector<nb::ProcessEntry> all;
    if (!os.SnapshotProcesses(all)) return 0;
    std::vector<nb::ProcessEntry> servers;
    for (const nb::ProcessEntry& p : all)
        if (p.exeName == layout::kServerExe) servers.push_back(p);

    int ended = 0;
    if (gracefulMs == 0) {
        for (const nb::ProcessEntry& p : servers) ended += Force(p.pid, L"graceful-off");
        return ended;
    }
    gracefulMs = std::min(gracefulMs, kMaxStopTimeoutMs);

    // Ask every server that offers it first, so that they all stop at the same time.
    const uint64_t started = os.MonotonicMs();
    std::vector<Waited> waited;
    std::vector<const nb::ProcessEntry*> others;
    for (const nb::ProcessEntry& p : servers) {
        if (!os.SetNamedEvent(ShutdownEventName(p.pid))) {
            others.push_back(&p);
            continue;
        }
        nb::ScopedProcess h(os.OpenProcessToWait(p.pid));
        if (!h) {  // gone already
            LogGraceful({p.pid, 0, {}}, os.MonotonicMs() - started);
            ++ended;
            continue;
        }
        waited.push_back({p.pid, 0, std::move(h)});
    }
    // A signalled server ends its own children (Apache's worker process, also httpd.exe):
    // they are waited for with it; any other server without the event is ended at once.
    std::vector<uint32_t> signalled;
    for (const Waited& w : waited) signalled.push_back(w.pid);
    for (const nb::ProcessEntry* p : others) {
        bool child = std::find(signalled.begin(), signalled.end(), p->parentPid) != signalled.end();
        if (!child) {
            ended += Force(p->pid, L"no-event");
            continue;
        }
        nb::ScopedProcess h(os.OpenProcessToWait(p->pid));
        if (h) {
            waited.push_back({p->pid, p->parentPid, std::move(h)});
        } else {  // gone already
            LogGraceful({p->pid, p->parentPid, {}}, os.MonotonicMs() - started);
            ++ended;
        }
    }

    // Wait for all of them together, noting each one's end as it comes.
    while (!waited.empty()) {
        uint64_t now = os.MonotonicMs();
        if (now - started >= gracefulMs) break;
        std::vector<nb::ProcessRef> handles;
        for (const Waited& w : waited) handles.push_back(w.process.Get());
        int i = os.WaitAnyProcessEnd(handles, static_cast<uint32_t>(gracefulMs - (now - started)));
        if (i < 0 || static_cast<std::size_t>(i) >= waited.size()) break;
        LogGraceful(waited[static_cast<std::size_t>(i)], os.MonotonicMs() - started);
        ++ended;
        waited.erase(waited.begin() + i);
    }
    const wchar_t* reason = os.MonotonicMs() - started >= gracefulMs ? L"timeout" : L"wait-failed";
    for (const Waited& w : waited) ended += Force(w.pid, reason);
    return ended;
}
