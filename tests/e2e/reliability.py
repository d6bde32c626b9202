"""Helpers of the hostile-relay and bad-input suites: a run of the program
measured for time and peak memory (GNU time), and the log from which
scripts/reliability.sh builds its figures. The hostile peers themselves are
ScriptedPeer steps (peers.py).

run_measured(program, args, ...) -> Measured: like the suite's runner, plus
the program's peak resident set and the wall time; a run that outlives its
timeout is killed and fails the test as a hang.

record(suite, scenario, run, outcome, **figures): one line of that log.
"""
import json
import os
import signal
import subprocess
import tempfile
import time

import pytest


class Measured:
    def __init__(self, status, stdout, stderr, seconds, peak_kb):
        self.status = status
        self.stdout = stdout
        self.stderr = stderr
        self.seconds = seconds
        self.peak_kb = peak_kb

    @property
    def err(self):
        return self.stderr.decode("latin-1")


TIME = "/usr/bin/time"


def run_measured(program, args, stdin=b"", env=None, timeout=60, cwd=None,
                 close_stdin=False):
    """Runs program with args. close_stdin starts it with no standard input
    at all (descriptor 0 closed) instead of a pipe holding stdin.

    The peak memory comes from GNU time, which starts the program from its
    own small process: a child forked from this Python process would count
    the interpreter's pages, which it holds until it executes the program.
    """
    full_env = dict(os.environ)
    full_env.update(env or {})
    with tempfile.NamedTemporaryFile(prefix="velsend-time-") as report:
        command = [TIME, "-f", "%M", "-o", report.name, program, *args]
        if close_stdin:
            # Closed in the program's process only: GNU time's report file
            # would otherwise take descriptor 0.
            command[5:5] = ["/bin/sh", "-c", 'exec 0<&- "$0" "$@"']
        start = time.monotonic()
        proc = subprocess.Popen(
            command, stdin=subprocess.DEVNULL if close_stdin else subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=full_env, cwd=cwd,
            start_new_session=True)
        try:
            out, err = proc.communicate(None if close_stdin else stdin, timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.communicate()
            pytest.fail(f"the program hung: still running after {timeout} s")
        seconds = time.monotonic() - start
        lines = report.read().decode("latin-1").split()
    # GNU time reports a death by signal as 128 + the signal.
    status = proc.returncode
    return Measured(status, out, err, seconds, int(lines[-1]) if lines else 0)


def record(suite, scenario, run, outcome, **figures):
    """Adds one line to the figures log named by VELSEND_RELIABILITY_LOG."""
    path = os.environ.get("VELSEND_RELIABILITY_LOG")
    if not path:
        return
    entry = {"suite": suite, "scenario": scenario, "status": run.status,
             "seconds": round(run.seconds, 3), "peak_kb": run.peak_kb, "outcome": outcome}
    entry.update(figures)
    with open(path, "a", encoding="utf-8") as log:
        log.write(json.dumps(entry) + "\n")
