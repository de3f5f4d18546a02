// Graceful, then forced, stop of the server processes.
#include "server/server_stop.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "base/layout.h"
#include "base/supervision_log.h"
#include "platform/file_paths.h"
#include "platform/processes.h"
#include "server/process_control.h"

namespace nb {

namespace {

struct Waited {
    uint32_t pid;
    uint32_t parentPid;  // 0 for a server that was signalled itself
    nb::ScopedProcess process;
};

// The log line of one stop: server-stop for the servers Exit and Restart end, server-orphan for
// one left behind by an earlier supervisor of this home.
void LogGraceful(const Waited& w, uint64_t ms, bool orphan) {
    std::vector<slog::Field> fields{{"pid", w.pid}};
    if (orphan)
        fields.emplace_back("stopped", L"graceful");
    else
        fields.emplace_back("graceful", 1);
    fields.emplace_back("ms", ms);
    if (w.parentPid != 0) fields.emplace_back("parent", w.parentPid);
    slog::Write(orphan ? "server-orphan" : "server-stop", fields);
}

int Force(uint32_t pid, const wchar_t* reason, bool orphan) {
    int ended = nb::Processes().TerminateProcessById(pid, 0);
    std::vector<slog::Field> fields{{"pid", pid}};
    if (orphan)
        fields.emplace_back("stopped", L"forced");
    else
        fields.emplace_back("forced", 1);
    fields.emplace_back("reason", reason);
    if (!ended) fields.emplace_back("ended", 0);
    slog::Write(orphan ? "server-orphan" : "server-stop", fields);
    return ended;
}

}  // namespace

std::wstring ShutdownEventName(uint32_t pid) { return L"ap" + std::to_wstring(pid) + L"_shutdown"; }

namespace {

// One graceful stop under way: when it began, the processes it waits for and how many have
// ended so far.
struct GracefulStop {
    uint64_t started = 0;
    std::vector<Waited> waited;
    int ended = 0;
    bool orphan = false;

    // Waits for pid (a server's child: parentPid its server; a server: 0). One that has gone
    // already has ended gracefully; one that runs but cannot be waited for is ended now.
    void Wait(uint32_t pid, uint32_t parentPid) {
        bool gone = false;
        nb::ScopedProcess h(nb::Processes().OpenProcessToWait(pid, &gone));
        if (h) {
            waited.push_back({pid, parentPid, std::move(h)});
        } else if (gone) {
            LogGraceful({pid, parentPid, {}}, nb::Processes().MonotonicMs() - started, orphan);
            ++ended;
        } else {
            ended += Force(pid, L"cannot-wait", orphan);
        }
    }
};

bool SnapshotServers(std::vector<nb::ProcessEntry>* servers) {
    std::vector<nb::ProcessEntry> all;
    if (!nb::Processes().SnapshotProcesses(all)) return false;
    for (const nb::ProcessEntry& p : all)
        if (p.exeName == layout::kServerExe) servers->push_back(p);
    return true;
}

// A path as Windows compares file names: case ignored, repeated separators as one.
std::wstring PathKey(const std::wstring& path) {
    std::wstring key = nb::CollapseRepeatedSeparators(path);
    for (wchar_t& c : key) c = static_cast<wchar_t>(std::towupper(c));
    return key;
}

// Asks every server that offers it first, so that they all stop at the same time; returns the
// servers without the event.
std::vector<const nb::ProcessEntry*> SignalServers(const std::vector<nb::ProcessEntry>& servers,
                                                   GracefulStop& stop) {
    std::vector<const nb::ProcessEntry*> others;
    for (const nb::ProcessEntry& p : servers) {
        if (nb::Processes().SetNamedEvent(ShutdownEventName(p.pid)))
            stop.Wait(p.pid, 0);
        else
            others.push_back(&p);
    }
    return others;
}

// A signalled server ends its own children (Apache's worker process, also httpd.exe): they are
// waited for with it; any other server without the event is ended at once.
void WaitForChildrenForceOthers(const std::vector<const nb::ProcessEntry*>& others,
                                GracefulStop& stop) {
    std::vector<uint32_t> signalled;
    for (const Waited& w : stop.waited) signalled.push_back(w.pid);
    for (const nb::ProcessEntry* p : others) {
        bool child = std::find(signalled.begin(), signalled.end(), p->parentPid) != signalled.end();
        if (child)
            stop.Wait(p->pid, p->parentPid);
        else
            stop.ended += Force(p->pid, L"no-event", stop.orphan);
    }
}

// Waits for all of them together, at most ms from the start, noting each one's end as it comes;
// then ends whatever still runs.
void WaitTogetherThenForce(GracefulStop& stop, uint32_t ms) {
    std::vector<Waited>& waited = stop.waited;
    while (!waited.empty()) {
        uint64_t now = nb::Processes().MonotonicMs();
        if (now - stop.started >= ms) break;
        std::vector<nb::ProcessRef> handles;
        for (const Waited& w : waited) handles.push_back(w.process.Get());
        int i = nb::Processes().WaitAnyProcessEnd(handles,
                                                  static_cast<uint32_t>(ms - (now - stop.started)));
        if (i < 0 || static_cast<std::size_t>(i) >= waited.size()) break;
        LogGraceful(waited[static_cast<std::size_t>(i)],
                    nb::Processes().MonotonicMs() - stop.started, stop.orphan);
        ++stop.ended;
        waited.erase(waited.begin() + i);
    }
    const wchar_t* reason = nb::Processes().MonotonicMs() - stop.started >= ms ? L"timeout"
                                                                               : L"wait-failed";
    for (const Waited& w : waited) stop.ended += Force(w.pid, reason, stop.orphan);
}

}  // namespace

namespace {

int Stop(const std::vector<nb::ProcessEntry>& servers, uint32_t gracefulMs, bool orphan) {
    if (gracefulMs == 0) {
        int ended = 0;
        for (const nb::ProcessEntry& p : servers) ended += Force(p.pid, L"graceful-off", orphan);
        return ended;
    }
    GracefulStop stop;
    stop.started = nb::Processes().MonotonicMs();
    stop.orphan = orphan;
    WaitForChildrenForceOthers(SignalServers(servers, stop), stop);
    WaitTogetherThenForce(stop, BoundedStopMs(gracefulMs));
    return stop.ended;
}

}  // namespace

int CProcessControl::TerminateHttpd(uint32_t gracefulMs) {
    std::vector<nb::ProcessEntry> servers;
    if (!SnapshotServers(&servers)) return 0;
    return Stop(servers, gracefulMs, false);
}

bool AnyServerRunning() {
    std::vector<nb::ProcessEntry> servers;
    return !SnapshotServers(&servers) || !servers.empty();
}

int StopOrphanServers(const std::wstring& serverExe, uint32_t gracefulMs) {
    std::vector<nb::ProcessEntry> all;
    if (!nb::Processes().SnapshotProcesses(all)) return 0;
    const std::wstring wanted = PathKey(serverExe);
    std::vector<nb::ProcessEntry> ours;
    for (const nb::ProcessEntry& p : all) {
        std::wstring image;
        if (p.exeName == layout::kServerExe && nb::Processes().ProcessImagePath(p.pid, image) &&
            PathKey(image) == wanted)
            ours.push_back(p);
    }
    // A server whose creator still runs is supervised: another copy of the program on this
    // home (under another file name, which the single-instance check does not see) keeps its
    // own. Apache's worker is judged by the server that created it.
    auto running = [&all](uint32_t pid) {
        return std::any_of(all.begin(), all.end(),
                           [pid](const nb::ProcessEntry& p) { return p.pid == pid; });
    };
    auto server = [&ours](uint32_t pid) -> const nb::ProcessEntry* {
        for (const nb::ProcessEntry& p : ours)
            if (p.pid == pid) return &p;
        return nullptr;
    };
    std::vector<nb::ProcessEntry> orphans;
    for (const nb::ProcessEntry& p : ours) {
        const nb::ProcessEntry* top = &p;
        for (int depth = 0; depth < 4; ++depth) {
            const nb::ProcessEntry* up = server(top->parentPid);
            if (!up || up == top) break;
            top = up;
        }
        if (!running(top->parentPid)) orphans.push_back(p);
    }
    return Stop(orphans, gracefulMs, true);
}

}  // namespace nb
