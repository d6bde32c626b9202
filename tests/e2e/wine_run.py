"""Runs a Windows program under Wine as if it were a native one.

Usage: wine_run.py PROGRAM.exe [ARGS...]

Standard input and output pass through untouched. Standard error of a
Windows console program is in text mode, where the runtime writes every LF
as CR LF; this undoes exactly that, so the bytes seen are the ones the
program wrote. The exit status is the program's (Wine passes it modulo 256),
and the program dies with this process.
"""
import ctypes
import os
import signal
import subprocess
import sys

PR_SET_PDEATHSIG = 1


def untranslate(data):
    """The text-mode translation LF -> CR LF, undone. Each CR LF pair, read
    left to right, holds one inserted CR, so a CR the program wrote before its
    LF ("\\r\\n" became "\\r\\r\\n") stays."""
    return data.replace(b"\r\n", b"\n")


def _die_with_parent():
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def main(argv):
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    # Wine turns the command line into Unicode by the Unix locale's charset:
    # only a UTF-8 locale passes every character a test types.
    if "UTF-8" not in env.get("LC_ALL", "") + env.get("LANG", "").upper().replace("UTF8", "UTF-8"):
        env.pop("LC_ALL", None)
        env["LANG"] = "C.UTF-8"
    proc = subprocess.Popen(["wine", *argv], stderr=subprocess.PIPE, env=env,
                            preexec_fn=_die_with_parent)
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, lambda signo, _frame: proc.send_signal(signo))
    out = sys.stderr.buffer
    held = b""
    while True:
        chunk = os.read(proc.stderr.fileno(), 65536)
        if not chunk:
            break
        data = held + chunk
        # A CR at the end may be the first half of a pair split by the read.
        held = b"\r" if data.endswith(b"\r") else b""
        out.write(untranslate(data[:len(data) - len(held)]))
        out.flush()
    out.write(held)
    out.flush()
    status = proc.wait()
    return status if status >= 0 else 128 - status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
