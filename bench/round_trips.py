#!/usr/bin/python3
"""Round trips of one authenticated message, velsend side by side with
msmtp, swaks --pipeline and curl, on loopback, to a relay that holds back
every batch of replies for --delay seconds (50 ms: a provider's relay
across a continent). The relay (tests/e2e/chunking_relay.py) answers
everything that arrived together in one batch and counts the batches, the
greeting included: that count is the round trips. It offers PIPELINING,
with and without CHUNKING, and AUTH PLAIN, which every tool is told to use.
No root and no change to the machine's network: the delay is the relay's.

Usage: round_trips.py --velsend PATH [--runs N] [--delay SECONDS] [--baseline OLD_VELSEND]
Prints a Markdown table: the median round trips (and wall time) per tool
and recipient count. A tool that is not installed is left out, with why.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
from chunking_relay import ChunkingRelay  # noqa: E402

RECIPIENTS = (1, 10, 50)
SENDER = "ann@example.org"
USER, PASSWORD = "ann", "bench-secret"
BODY = b"Subject: Round trips\r\n\r\nOne short message.\r\n"


def recipients(count):
    return [f"r{i}@example.org" for i in range(count)]


def velsend_cmd(velsend):
    def cmd(port, rcpts, work):
        return ([str(velsend), "-q", f"-o{SENDER}", "-r" + ",".join(rcpts), "-sRound trips",
                 f"-h127.0.0.1:{port}", f"-n{USER}", "-mPLAIN"],
                {"VELSEND_PASSWORD": PASSWORD})
    return cmd


def msmtp_cmd(port, rcpts, work):
    return (["msmtp", "--file=/dev/null", "--host=127.0.0.1", f"--port={port}", "--tls=off",
             "--auth=plain", f"--user={USER}", f"--passwordeval=echo {PASSWORD}",
             f"--from={SENDER}", "--", *rcpts], {})


def swaks_cmd(port, rcpts, work):
    return (["swaks", "--silent", "2", "--server", f"127.0.0.1:{port}", "--from", SENDER,
             "--to", ",".join(rcpts), "--auth", "PLAIN", "--auth-user", USER,
             "--auth-password", PASSWORD, "--pipeline", "--body", "One short message."], {})


def curl_cmd(port, rcpts, work):
    message = work / "message.eml"
    message.write_bytes(BODY)
    args = ["curl", "-sS", f"smtp://127.0.0.1:{port}", "--mail-from", SENDER,
            "-u", f"{USER}:{PASSWORD}", "--login-options", "AUTH=PLAIN", "-T", str(message)]
    for rcpt in rcpts:
        args += ["--mail-rcpt", rcpt]
    return args, {}


def tools(velsend, baseline=None):
    found, missing = [], []
    found.append(("velsend", velsend_cmd(velsend)))
    if baseline:
        found.append(("velsend before", velsend_cmd(baseline)))
    for name, label, cmd in (("msmtp", "msmtp", msmtp_cmd),
                             ("swaks", "swaks --pipeline", swaks_cmd),
                             ("curl", "curl", curl_cmd)):
        if shutil.which(name):
            found.append((label, cmd))
        else:
            missing.append(f"{label}: {name} is not installed "
                           "(scripts/install-deps.sh bench installs it)")
    return found, missing


def one_run(cmd, chunking, count, delay, work):
    """(round trips, seconds) of one delivery; None when it failed."""
    with ChunkingRelay(pipelining=True, chunking=chunking, delay=delay) as relay:
        args, extra_env = cmd(relay.port, recipients(count), work)
        env = dict(os.environ, **extra_env)
        start = time.monotonic()
        run = subprocess.run(args, input=BODY, capture_output=True, env=env, timeout=120)
        seconds = time.monotonic() - start
        delivered = [m for m in relay.messages if len(m.recipients) == count]
        if run.returncode != 0 or not delivered:
            sys.stderr.write(f"{args[0]} failed ({run.returncode}): "
                             f"{run.stderr.decode(errors='replace')[-500:]}\n")
            return None
        return relay.sessions[0].rounds, seconds


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--velsend", required=True, type=Path)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--delay", type=float, default=0.05)
    ap.add_argument("--baseline", type=Path, help="another velsend, run as 'velsend before'")
    args = ap.parse_args()
    found, missing = tools(args.velsend.resolve(), args.baseline and args.baseline.resolve())
    work = Path(tempfile.mkdtemp(prefix="velsend-rtt-"))
    out = [f"### Round trips of one authenticated message ({args.delay * 1000:.0f} ms per "
           f"batch of replies)\n",
           f"Median of {args.runs} runs: round trips counted by the relay (the greeting "
           "included), then wall time. Every tool uses AUTH PLAIN.\n"]
    try:
        for chunking in (False, True):
            offer = "PIPELINING, CHUNKING" if chunking else "PIPELINING"
            out.append(f"\nRelay offers {offer}:\n")
            out.append("| recipients | " + " | ".join(label for label, _ in found) + " |")
            out.append("|---|" + "---|" * len(found))
            for count in RECIPIENTS:
                cells = []
                for label, cmd in found:
                    results = [one_run(cmd, chunking, count, args.delay, work)
                               for _ in range(args.runs)]
                    results = [r for r in results if r]
                    if not results:
                        cells.append("failed")
                        continue
                    rounds = statistics.median(r[0] for r in results)
                    seconds = statistics.median(r[1] for r in results)
                    cells.append(f"{rounds:g} ({seconds:.2f} s)")
                out.append(f"| {count} | " + " | ".join(cells) + " |")
        for reason in missing:
            out.append(f"\nLeft out: {reason}.")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("\n".join(out))


if __name__ == "__main__":
    main()
