"""What a process tree holds and spends, read from /proc: the processes of a tree (and of its
session), their PSS, their CPU time and how often their threads were woken, and what each
process is (the browser, a zygote, the renderer, a utility process)."""

import os
import signal
import subprocess
import time

TICK = os.sysconf("SC_CLK_TCK")


def _stat_fields(pid):
    with open("/proc/%d/stat" % pid) as f:
        stat = f.read()
    # The command name may hold spaces and parentheses: the fields start after the last ")".
    return stat[stat.rindex(")") + 2:].split()


def process_tree(leader):
    """The leader and every process below it, and every process of its session (helpers
    that were re-parented when their parent ended)."""
    parents, sessions = {}, {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            fields = _stat_fields(int(entry))
        except (OSError, ValueError):
            continue
        parents[int(entry)] = int(fields[1])
        sessions[int(entry)] = int(fields[3])
    leader_session = sessions.get(leader)
    tree = set()
    for pid in parents:
        p = pid
        while p > 1:
            if p == leader:
                tree.add(pid)
                break
            p = parents.get(p, 0)
        if leader_session is not None and sessions[pid] == leader_session:
            tree.add(pid)
    return tree


def role(pid):
    """What the process is: "browser" (the host or the browser itself), "zygote",
    "renderer", "gpu", "utility:NAME", or the program's name."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            args = f.read().decode("utf-8", "replace").split("\0")
    except OSError:
        return "?"
    if len([a for a in args if a]) == 1:
        # Chromium's processes rewrite their command line into one string.
        args = args[0].split(" ")
    kind = sub = None
    for arg in args:
        if arg.startswith("--type="):
            kind = arg[7:]
        elif arg.startswith("--utility-sub-type="):
            sub = arg[19:].split(".")[-1]
    if kind == "utility" and sub:
        return "utility:" + sub
    if kind == "gpu-process":
        return "gpu"
    if kind:
        return kind
    name = os.path.basename(args[0]) if args and args[0] else "?"
    if name == "lanternfall":
        # The host forks its guardian, which keeps the host's command line.
        try:
            parent = int(_stat_fields(pid)[1])
            with open("/proc/%d/cmdline" % parent, "rb") as f:
                if os.path.basename(f.read().split(b"\0")[0].decode("utf-8", "replace")) == name:
                    return "guardian"
        except (OSError, ValueError):
            pass
    return "browser" if name in ("lanternfall", "chromium", "chrome") else name


def pss_kib(pid):
    """Pss of one process in KiB (0 when it is gone)."""
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def tree_pss_kib(leader):
    """Sum of Pss over the process tree, in KiB, the number of processes, and the Pss of
    each role (several processes of one role add up)."""
    total, count, by_role = 0, 0, {}
    for pid in process_tree(leader):
        pss = pss_kib(pid)
        if pss <= 0:
            continue
        total += pss
        count += 1
        r = role(pid)
        by_role[r] = by_role.get(r, 0) + pss
    return total, count, by_role


def _wakeups(pid):
    """Context switches of all threads of the process (each one a thread woken or
    preempted)."""
    total = 0
    try:
        tasks = os.listdir("/proc/%d/task" % pid)
    except OSError:
        return 0
    for tid in tasks:
        try:
            with open("/proc/%d/task/%s/status" % (pid, tid)) as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
        except OSError:
            continue
    return total


def cpu_sample(leader, extra_pids=()):
    """Per process of the tree: (role, CPU seconds so far as utime + stime, wakeups so
    far). extra_pids are sampled too (the X server, for a note)."""
    sample = {}
    for pid in set(process_tree(leader)) | set(extra_pids):
        try:
            fields = _stat_fields(pid)
        except (OSError, ValueError):
            continue
        sample[pid] = (role(pid), (int(fields[11]) + int(fields[12])) / TICK, _wakeups(pid))
    return sample


def cpu_delta(before, after, pids=None):
    """CPU seconds and wakeups between two samples, in total and by role. A process that
    appeared in between counts whole; one that ended in between is lost (none do here)."""
    total_cpu, total_wake, by_role = 0.0, 0, {}
    for pid, (r, cpu, wake) in after.items():
        if pids is not None and pid not in pids:
            continue
        _, cpu0, wake0 = before.get(pid, (r, 0.0, 0))
        d_cpu, d_wake = max(0.0, cpu - cpu0), max(0, wake - wake0)
        total_cpu += d_cpu
        total_wake += d_wake
        c, w = by_role.get(r, (0.0, 0))
        by_role[r] = (c + d_cpu, w + d_wake)
    return total_cpu, total_wake, by_role


def end_group(proc, timeout=5):
    """Ends a process started in a session of its own, with everything in its group."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(proc.pid, sig)
        except ProcessLookupError:
            pass
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                os.killpg(proc.pid, 0)
            except ProcessLookupError:
                break
            proc.poll()
            time.sleep(0.05)
        else:
            continue
        break
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        pass
