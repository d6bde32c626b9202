"""Helpers of the hostile-relay and bad-input suites: a run of the program
measured for time and peak memory (GNU time), a scripted peer with hostile steps, and
the log from which scripts/reliability.sh builds its figures.

run_measured(program, args, ...) -> Measured: like the suite's runner, plus
the program's peak resident set and the wall time; a run that outlives its
timeout is killed and fails the test as a hang.

HostilePeer: ScriptedPeer with these steps as well:
    until(marker)       read until marker has arrived (the end of the data)
    trickle(data, s)    send data one byte at a time, s seconds apart
    flood(data, total)  send data over and over, total bytes at most, until
                        the client closes
    stall()             stop reading, keep the connection open until the
                        peer is stopped
    accept_all()        play a relay that accepts everything: 220, 354 to
                        DATA and 250 at the end of the data, 221 to QUIT,
                        235 to AUTH, 250 to anything else
"""
import json
import os
import signal
import subprocess
import tempfile
import threading
import time

import pytest

from peers import ScriptedPeer


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


def until(marker):
    return ("until", marker)


def trickle(data, seconds):
    if isinstance(data, str):
        data = data.encode("latin-1")
    return ("trickle", (data, seconds))


def flood(data, total):
    return ("flood", (data, total))


def stall():
    return ("stall", None)


def accept_all():
    return ("accept_all", None)


class HostilePeer(ScriptedPeer):
    def __init__(self, steps, timeout=60.0):
        self._release = threading.Event()
        self._received = bytearray()
        super().__init__(steps, timeout)

    # Collected in a bytearray: a client that sends 100,000 short commands
    # would make appending to bytes quadratic.
    @property
    def received(self):
        return bytes(self._received)

    @received.setter
    def received(self, value):
        self._received = bytearray(value)

    def _recv(self, conn, deadline):
        while not self._stop.is_set() and time.monotonic() < deadline:
            try:
                data = conn.recv(65536)
            except TimeoutError:
                continue
            except ConnectionResetError:
                return b""
            self._received.extend(data)
            return data
        return b""

    def stop(self, grace=5.0):
        self._release.set()
        super().stop(grace)

    def _play(self, conn, deadline):
        pending = b""
        for kind, arg in self.steps:
            if kind == "send":
                # A large reply may wait for a slow client to read it.
                if not self._send_some(conn, arg):
                    return
            elif kind in ("expect", "until"):
                marker = b"\n" if kind == "expect" else arg
                while marker not in pending:
                    data = self._recv(conn, deadline)
                    if not data:
                        self.mismatches.append((arg, pending))
                        return
                    pending += data
                line, pending = pending.split(marker, 1)
                if kind == "expect" and not line.startswith(arg):
                    self.mismatches.append((arg, line + b"\n"))
            elif kind == "trickle":
                data, pause = arg
                for i in range(len(data)):
                    if self._stop.is_set() or not self._send_some(conn, data[i:i + 1]):
                        return
                    time.sleep(pause)
            elif kind == "flood":
                data, total = arg
                sent = 0
                while sent < total and not self._stop.is_set():
                    if not self._send_some(conn, data):
                        return
                    sent += len(data)
            elif kind == "stall":
                self._release.wait(max(0.0, deadline - time.monotonic()))
                return
            elif kind == "accept_all":
                self._accept_all(conn, deadline, pending)
                return
            elif kind == "close":
                return
            elif kind == "silent":
                break
        while self._recv(conn, deadline):
            pass

    def _accept_all(self, conn, deadline, pending):
        replies = {b"DATA": b"354 go on\r\n", b"QUIT": b"221 bye\r\n", b"AUTH": b"235 ok\r\n"}
        pending = bytearray(pending)

        def take(marker):
            """The bytes up to marker, removed with it; None when the client
            has gone."""
            start = 0
            while (at := pending.find(marker, start)) < 0:
                start = max(0, len(pending) - len(marker) + 1)
                data = self._recv(conn, deadline)
                if not data:
                    return None
                pending.extend(data)
            taken = bytes(pending[:at])
            del pending[:at + len(marker)]
            return taken

        if not self._send_some(conn, b"220 relay.test ready\r\n"):
            return
        while (line := take(b"\n")) is not None:
            verb = line[:4].upper()
            if not self._send_some(conn, replies.get(verb, b"250 ok\r\n")):
                return
            if verb == b"QUIT":
                return
            if verb == b"DATA":
                if take(b"\r\n.\r\n") is None or not self._send_some(conn, b"250 queued\r\n"):
                    return

    def _send_some(self, conn, data):
        """Sends data, riding out a full send buffer; False once the client
        has gone or the peer is stopped."""
        view = memoryview(data)
        while view and not self._stop.is_set():
            try:
                view = view[conn.send(view):]
            except TimeoutError:
                continue
            except OSError:
                return False
        return not view
