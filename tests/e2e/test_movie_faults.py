"""A movie that misbehaves: a flood of commands, a function that throws, a page process
that dies. The host reports clearly, goes on, and can always be closed."""

import os
import signal
import subprocess
import time
import unittest

from harness import HostTestCase, probe_script, wait_for


def renderer_pids(host_pid):
    """The page (renderer) processes among the host's descendants: explicit renderers, or
    the children that a zygote process forked (they keep the zygote's command line)."""
    out = subprocess.run(["ps", "-eo", "pid=,ppid=,args="], capture_output=True, text=True).stdout
    children, args = {}, {}
    for line in out.splitlines():
        pid, ppid, cmd = line.strip().split(None, 2) + [""] * (3 - len(line.strip().split(None, 2)))
        children.setdefault(int(ppid), []).append(int(pid))
        args[int(pid)] = cmd
    found, todo = [], [host_pid]
    while todo:
        pid = todo.pop()
        for child in children.get(pid, []):
            todo.append(child)
            if "--type=renderer" in args.get(child, "") or (
                    "--type=zygote" in args.get(child, "") and "--type=zygote" in args.get(pid, "")):
                found.append(child)
    return found


class MovieFaultsTest(HostTestCase):

    def close_window(self, host):
        wid = host.window()
        self.display.run("xdotool", "windowactivate", "--sync", str(wid))
        self.display.run("xdotool", "key", "--clearmodifiers", "alt+F4")

    def test_flood_of_commands_is_handled_in_order(self):
        host = self.make_host(config=probe_script(
            ("flood", "10000", "DebugData", "x"),
            ("flood", "300", "ReadHighScores"),
            ("send", "GetPlayerList"), ("wait", "PlayerLoadComplete"),
        ))
        host.start()
        host.wait_ready()
        host.wait_command("probe_done", timeout=120)
        self.assertEqual(len(host.commands("DebugData")), 10000)
        wait_for(lambda: len(host.calls("HSReadComplete")) == 300, what="300 answers")
        names = [c["name"] for c in host.commands() if c["name"] in ("DebugData", "ReadHighScores", "GetPlayerList")]
        self.assertEqual(names, ["DebugData"] * 10000 + ["ReadHighScores"] * 300 + ["GetPlayerList"])
        self.assertIsNone(host.proc.poll())

    def test_a_function_that_throws_is_reported_and_the_host_goes_on(self):
        host = self.make_host(config=probe_script(
            ("throw", "HSReadComplete"),
            ("send", "ReadHighScores"),
            ("send", "GetPlayerList"), ("wait", "PlayerLoadComplete"),
        ))
        proc = host.start()
        host.wait_ready()
        host.wait_command("probe_done")
        failed = wait_for(lambda: [c for c in host.calls("HSReadComplete") if c["outcome"] != "ok"],
                          what="the failed call")
        self.assertIn("probe throws", failed[0]["outcome"])
        wait_for(lambda: "probe throws" in host.stderr_of(proc), what="the report on stderr")
        self.assertIsNone(proc.poll())

    def test_a_dead_page_process_is_reported_and_the_window_can_be_closed(self):
        host = self.make_host()
        proc = host.start()
        host.wait_ready()
        pids = wait_for(lambda: renderer_pids(proc.pid), what="the page process")
        for pid in pids:
            os.kill(pid, signal.SIGKILL)
        wait_for(lambda: "page process ended" in host.stderr_of(proc), what="the report")
        # The player reads the report first: a box that comes up after the window was
        # activated takes the focus, and the close would close the box (seen under load).
        box = wait_for(self.display.dialogs, what="the report box")[0]
        self.display.run("xdotool", "windowactivate", "--sync", str(box))
        self.display.run("xdotool", "key", "Return")
        wait_for(lambda: not self.display.dialogs(), what="the report box closed")
        self.close_window(host)
        self.assertEqual(proc.wait(15), 0)

    def test_a_slow_answer_is_no_failure_and_the_commands_keep_their_order(self):
        # 12 s: longer than any fixed bound a call once had; the page is busy, not stuck.
        host = self.make_host(config=probe_script(
            ("slow", "HSReadComplete", "12000"),
            ("send", "ReadHighScores"), ("send", "GetPlayerList"), ("wait", "PlayerLoadComplete"),
        ))
        proc = host.start()
        host.wait_command("probe_done", timeout=90)
        self.assertEqual([c["outcome"] for c in host.calls("HSReadComplete")], ["ok"])
        names = [c["name"] for c in host.commands() if c["name"] in ("ReadHighScores", "GetPlayerList")]
        self.assertEqual(names, ["ReadHighScores", "GetPlayerList"])
        self.assertEqual(host.reports(proc), [])

    def test_a_stuck_page_is_ended_and_reported_and_the_window_can_be_closed(self):
        # The script runs inside the call that hands it over, and never returns: that call
        # waits out the page's whole bound, then the page is ended (nothing of it runs later).
        host = self.make_host(config=probe_script(("hang",)))
        proc = host.start()
        wait_for(lambda: [c for c in host.calls("ConfigDataReadComplete") if "stopped responding" in c["outcome"]],
                 90, what="the call failed")
        self.assertIn("stopped responding", host.stderr_of(proc))
        wait_for(lambda: not renderer_pids(proc.pid), what="the page process ended")
        self.close_window(host)
        self.assertEqual(proc.wait(15), 0)


if __name__ == "__main__":
    unittest.main()
