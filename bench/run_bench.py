#!/usr/bin/python3
"""Delivers the same attachments with velsend, curl and s-nail to the bench
sink on loopback, alternating the tools run by run, and prints a Markdown
report: medians of wall time, CPU time and peak resident memory, whether each
message arrived whole, and velsend's time as a ratio of each tool's (the
median of the per-run ratios). Also the two limits (curl -T of the prebuilt
message: transfer alone; coreutils base64: encoding alone), velsend's own
scaling with size, parts and recipients, and the cost of its trace.

Usage: run_bench.py --build DIR [--runs N] [--work DIR] [--skip-1000]
                    [--baseline VELSEND] [--wine VELSEND_EXE]
--baseline runs another velsend build (an older commit) side by side, as
"velsend before", in the comparison and the size scaling. --only rtt (or
all) counts the round trips of one authenticated message with velsend,
msmtp, swaks --pipeline and curl (bench/round_trips.py). --wine (with --only wine
or all) sends a file of 2112 MiB with the 32-bit Windows program under Wine (not in CI: it
takes a minute and 2.2 GB of disk). --only tls (or all) sends a 100 MiB attachment
over STARTTLS, verified against a CA made for the run, and the same in clear
text, round by round.
"""
import argparse
import email
import email.policy
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

MB = 1000 * 1000
FROM = "bench@example.org"
RCPT = "sink@example.org"


# --- the sink --------------------------------------------------------------

class Sink:
    """The bench sink on a free loopback port, stopped by stop()."""

    def __init__(self, binary, work, save=None, tls=None):
        """tls: (certificate, key) to offer STARTTLS with."""
        self.log = work / ("sink-save.log" if save else "sink.log")
        self.log.write_text("")
        port_file = work / ("sink-save.port" if save else "sink.port")
        port_file.unlink(missing_ok=True)
        args = [str(binary), "--port-file", str(port_file), "--log", str(self.log)]
        if save:
            args += ["--save", str(save)]
        if tls:
            args += ["--cert", str(tls[0]), "--key", str(tls[1])]
        self.proc = subprocess.Popen(args)
        deadline = time.monotonic() + 10
        while not port_file.exists():
            if time.monotonic() > deadline or self.proc.poll() is not None:
                self.stop()
                sys.exit("bench sink did not start")
            time.sleep(0.02)
        self.port = int(port_file.read_text())
        self.seen = 0

    def cpu_seconds(self):
        """User + system time the sink has used so far (Linux)."""
        fields = Path(f"/proc/{self.proc.pid}/stat").read_text().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def new_messages(self):
        """Data byte counts of the messages received since the last call."""
        lines = self.log.read_text().split()
        fresh = [int(x) for x in lines[self.seen:]]
        self.seen = len(lines)
        return fresh

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


# --- measuring one run -----------------------------------------------------

class Measure:
    def __init__(self, wall, cpu, rss_kib, status, received):
        self.wall, self.cpu, self.rss_kib, self.status, self.received = (
            wall, cpu, rss_kib, status, received)


def measure(cmd, sink, work, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL):
    """Runs cmd under /usr/bin/time -v; wall time is taken here, finer
    than time's own."""
    time_file = work / "time.txt"
    start = time.perf_counter()
    proc = subprocess.run(["/usr/bin/time", "-v", "-o", str(time_file), *cmd],
                          stdin=stdin, stdout=stdout, stderr=stderr)
    wall = time.perf_counter() - start
    text = time_file.read_text()
    user = float(re.search(r"User time \(seconds\): ([\d.]+)", text).group(1))
    system = float(re.search(r"System time \(seconds\): ([\d.]+)", text).group(1))
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1))
    received = sink.new_messages() if sink else []
    return Measure(wall, user + system, rss, proc.returncode, received)


# --- inputs ----------------------------------------------------------------

def make_inputs(work, sizes):
    files = {}
    for size in sizes:
        path = work / f"random-{size}MB.bin"
        if not path.exists() or path.stat().st_size != size * MB:
            with open(path, "wb") as f:
                for _ in range(size):
                    f.write(os.urandom(MB))
        files[f"random {size} MB"] = path
    letters = bytes((ord("a") + i % 26) if i % 8 else ord(" ") for i in range(256))
    # About 1% of the bytes above 0x7F: 3 values of 256 map to Latin-1 letters.
    high = bytearray(letters)
    high[0], high[1], high[2] = 0xE9, 0xE8, 0xFC
    for name, table in (("text-7bit-10MB.txt", letters), ("text-1pct-10MB.txt", bytes(high))):
        path = work / name
        if not path.exists():
            raw = os.urandom(10 * MB).translate(table)
            # Lines of 72 characters, LF-terminated, 10 MB in all.
            lines = [raw[i:i + 71] for i in range(0, len(raw), 72)]
            data = (b"\n".join(lines) + b"\n")[:10 * MB - 1] + b"\n"
            path.write_bytes(data)
    files["text 10 MB (7bit)"] = work / "text-7bit-10MB.txt"
    files["text 10 MB (1% high)"] = work / "text-1pct-10MB.txt"
    return files


# --- the tools -------------------------------------------------------------

def is_text(path):
    return path.suffix == ".txt"


def velsend_cmd(velsend, port, path, quiet=True):
    return [str(velsend), *(["-q"] if quiet else []), f"-h127.0.0.1:{port}", f"-o{FROM}",
            f"-r{RCPT}", "-sBench", f"-f+{path}"]


def curl_cmd(port, path):
    kind = ("type=text/plain;encoder=quoted-printable" if is_text(path)
            else "type=application/octet-stream;encoder=base64")
    return ["curl", "-s", f"smtp://127.0.0.1:{port}", "--mail-from", FROM, "--mail-rcpt", RCPT,
            "-F", f"=@{path};{kind}"]


def snail_cmd(port, path):
    # smtp-auth=none: without it s-nail asks for a password it cannot get;
    # the charsets: without them it refuses a file with Latin-1 bytes.
    return ["s-nail", "-:/", "-Sv15-compat", "-Ssmtp-auth=none", "-Sttycharset=iso-8859-1",
            "-Ssendcharsets=iso-8859-1", f"-Smta=smtp://127.0.0.1:{port}",
            f"-Sfrom={FROM}", "-s", "Bench", "-a", str(path), RCPT]


def curl_upload_cmd(port, message):
    return ["curl", "-s", f"smtp://127.0.0.1:{port}", "--mail-from", FROM, "--mail-rcpt", RCPT,
            "-T", str(message)]


def base64_cmd(path):
    return ["base64", "-w76", str(path)]


# --- checking what arrived ---------------------------------------------------

def unstuff(data):
    data = re.sub(rb"\r\n\.\.", b"\r\n.", data)
    return data[1:] if data.startswith(b"..") else data


def decoded_attachment(message_bytes):
    """The payload of the message's only part carrying the file."""
    msg = email.message_from_bytes(message_bytes, policy=email.policy.compat32)
    parts = [p for p in msg.walk() if not p.is_multipart()]
    payloads = [p.get_payload(decode=True) or b"" for p in parts]
    return max(payloads, key=len), [p.get("Content-Transfer-Encoding", "7bit") for p in parts]


def verify(tools, files, sink_bin, work):
    """One delivery per tool and file, captured and decoded: the reference
    size of a whole message, and the encoding each tool chose."""
    saved = work / "saved-message"
    sink = Sink(sink_bin, work, save=saved)
    reference = {}
    prebuilt = {}
    try:
        for label, path in files.items():
            original = path.read_bytes()
            for tool, make in tools.items():
                m = measure(make(sink.port, path), sink, work)
                data = unstuff(saved.read_bytes()) if m.received else b""
                payload, encodings = decoded_attachment(data) if data else (b"", [])
                # Text travels with CR LF, and a single-part message may end
                # with an empty line; compare it line by line.
                same = (payload == original if not is_text(path) else
                        payload.replace(b"\r\n", b"\n").rstrip(b"\n") == original.rstrip(b"\n"))
                reference[(label, tool)] = (m.received[0] if m.received else -1, same,
                                            ",".join(encodings))
                if tool == "velsend":
                    prebuilt[label] = work / (path.name + ".eml")
                    prebuilt[label].write_bytes(data)
    finally:
        sink.stop()
    return reference, prebuilt


# --- reporting -------------------------------------------------------------

def median(values):
    return statistics.median(values) if values else float("nan")


def fmt_s(x):
    return f"{x:.3f}"


def run_comparison(args, velsend, sink_bin, files, work, out):
    tools = {
        "velsend": lambda port, p: velsend_cmd(velsend, port, p),
        "curl": curl_cmd,
        "s-nail": snail_cmd,
    }
    if args.baseline:
        tools["velsend before"] = lambda port, p: velsend_cmd(args.baseline, port, p)
    reference, prebuilt = verify(tools, files, sink_bin, work)

    sink = Sink(sink_bin, work)
    results = {}
    try:
        for label, path in files.items():
            runners = dict(tools)
            runners["curl -T (transfer alone)"] = lambda port, p, m=prebuilt[label]: (
                curl_upload_cmd(port, m))
            runners["base64 -w76 (encoding alone)"] = lambda port, p: base64_cmd(p)
            # A warm-up round, so that every run finds the file in the page cache.
            for make in runners.values():
                measure(make(sink.port, path), sink, work)
            for _ in range(args.runs):
                for tool, make in runners.items():
                    results.setdefault((label, tool), []).append(
                        measure(make(sink.port, path), sink, work))
    finally:
        sink.stop()

    out.append("## Side by side\n")
    out.append(f"{args.runs} runs of each tool, alternating; medians. CPU is user + system. "
               "'whole': the message of every timed run had the size of a reference delivery "
               "whose attachment was decoded and found identical to the file. "
               "Ratio: velsend's wall time over the tool's, median of the per-run ratios.\n")
    for label, path in files.items():
        size = path.stat().st_size
        out.append(f"### {label} ({size / MB:.0f} MB, `{path.name}`)\n")
        out.append("| tool | wall s | CPU s | peak RSS MiB | data bytes received | encoding | whole "
                   "| velsend / tool |")
        out.append("|---|---:|---:|---:|---:|---|---|---:|")
        mine = results[(label, "velsend")]
        for tool in ["velsend", *(["velsend before"] if args.baseline else []), "curl",
                     "s-nail", "curl -T (transfer alone)", "base64 -w76 (encoding alone)"]:
            runs = results[(label, tool)]
            ref = reference.get((label, tool))
            if tool == "base64 -w76 (encoding alone)":
                received, whole, encoding = "-", "-", "base64"
            else:
                sizes = {r.received[0] if len(r.received) == 1 else -1 for r in runs}
                expected = ref[0] if ref else (runs[0].received[0] if runs[0].received else -1)
                ok = all(r.status == 0 for r in runs) and (
                    ref[1] if ref else True) and all(
                    s >= 0 and abs(s - expected) <= 256 for s in sizes)
                received = "/".join(str(s) for s in sorted(sizes))
                whole = "yes" if ok else "**NO**"
                encoding = ref[2] if ref else "as prebuilt"
            ratio = ("1" if tool == "velsend" else
                     f"{median([a.wall / b.wall for a, b in zip(mine, runs)]):.2f}")
            out.append(f"| {tool} | {fmt_s(median([r.wall for r in runs]))} | "
                       f"{fmt_s(median([r.cpu for r in runs]))} | "
                       f"{median([r.rss_kib for r in runs]) / 1024:.1f} | {received} | "
                       f"{encoding} | {whole} | {ratio} |")
        out.append("")
    return results, reference


def targets(results, files, out):
    label = next((l for l in files if l.startswith("random 100")), None)
    if label is None:
        return
    mine = results[(label, "velsend")]

    def ratio(tool):
        return median([a.wall / b.wall for a, b in zip(mine, results[(label, tool)])])

    def ratio_to_larger(first, second):
        return median([a.wall / max(b.wall, c.wall) for a, b, c in
                       zip(mine, results[(label, first)], results[(label, second)])])

    best_peer = min(ratio("curl"), ratio("s-nail"))
    limit = ratio_to_larger("curl -T (transfer alone)", "base64 -w76 (encoding alone)")
    rss = median([r.rss_kib for r in mine]) / 1024
    out.append("### Targets (100 MB random attachment)\n")
    out.append("Ratios are medians of the per-round ratios of wall times.\n")
    out.append("| target | measured | bound | met |")
    out.append("|---|---:|---:|---|")
    out.append(f"| wall / the faster of curl and s-nail | {best_peer:.2f} | 0.33 | "
               f"{'yes' if best_peer <= 1 / 3 else 'no'} |")
    out.append(f"| wall / max(encoding alone, transfer alone) | {limit:.2f} | 1.2 | "
               f"{'yes' if limit <= 1.2 else 'no'} |")
    out.append(f"| peak RSS, whatever the size | {rss:.1f} MiB | 16 MiB | "
               f"{'yes' if rss <= 16 else 'no'} |")
    if ("random 100 MB", "velsend before") in results:
        out.append(f"| wall / velsend before | {ratio('velsend before'):.2f} | - | - |")
    out.append("")


def run_encoders(build, results, files, out):
    """The encoder micro-benchmarks against their targets; coreutils base64
    on the 100 MB file (page cache, output to /dev/null) as the reference."""
    proc = subprocess.run([str(build / "bench" / "bench_encoders"), "--benchmark_repetitions=5",
                           "--benchmark_report_aggregates_only=true", "--benchmark_format=json"],
                          capture_output=True, text=True)
    rates = {}
    for b in json.loads(proc.stdout)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            rates[b["run_name"]] = b["bytes_per_second"] / 2**20
    label = next((l for l in files if l.startswith("random 100")), None)
    coreutils = None
    if label and (label, "base64 -w76 (encoding alone)") in results:
        runs = results[(label, "base64 -w76 (encoding alone)")]
        size = files[label].stat().st_size / 2**20
        coreutils = (size / median([r.wall for r in runs]),
                     size / max(median([r.cpu for r in runs]), 1e-3))
    out.append("## Encoders alone\n")
    out.append("Google Benchmark (`bench_encoders`): 8 MiB in memory (random bytes for base64 and "
               "uuencode, 40-100 character lines for the text encoders, 1% of the bytes above 0x7F "
               "for quoted-printable), median of 5 repetitions, MiB of input per CPU second.\n")
    out.append("| encoder | MiB/s | target | met |")
    out.append("|---|---:|---|---|")
    targets = {"SevenBit": (1024, "≥ 1024 (1 GiB/s)"), "QuotedPrintable": (250, "≥ 250"),
               "Base64": (coreutils[1] if coreutils else None,
                          f"≥ coreutils base64 ({coreutils[1]:.0f} per CPU second, "
                          f"{coreutils[0]:.0f} by wall time)" if coreutils else "-"),
               "Uuencode": (None, "-")}
    for name in ["SevenBit", "QuotedPrintable", "Base64", "Uuencode"]:
        rate = rates.get(name, float("nan"))
        bound, text = targets[name]
        met = "-" if bound is None else ("yes" if rate >= bound else "no")
        out.append(f"| {name} | {rate:.0f} | {text} | {met} |")
    out.append("")


def run_velsend_series(args, velsend, sink, work, cases):
    """cases: (name, argv for velsend without host, unit count); returns
    table rows with the cost of each unit over the first case's."""
    rows = []
    first = None
    for name, argv, units in cases:
        runs = []
        measure([str(velsend), f"-h127.0.0.1:{sink.port}", *argv], sink, work)  # warm-up
        for _ in range(args.scale_runs):
            runs.append(measure([str(velsend), f"-h127.0.0.1:{sink.port}", *argv], sink, work))
        ok = all(r.status == 0 and len(r.received) == 1 for r in runs)
        wall = median([r.wall for r in runs])
        marginal = "-"
        if first is None:
            first = (units, wall)
        else:
            marginal = f"{1000 * (wall - first[1]) / (units - first[0]):.3f}"
        rows.append(f"| {name} | {wall:.3f} | {median([r.cpu for r in runs]):.3f} | "
                    f"{median([r.rss_kib for r in runs]) / 1024:.1f} | "
                    f"{runs[0].received[0] if runs[0].received else '-'} | "
                    f"{marginal} | {'yes' if ok else '**NO**'} |")
    return rows


def run_scaling(args, velsend, sink_bin, work, out):
    sink = Sink(sink_bin, work)
    header = ["| case | wall s | CPU s | peak RSS MiB | data bytes | ms per added unit | delivered |",
              "|---|---:|---:|---:|---:|---:|---|"]
    try:
        sizes = [10, 100] + ([] if args.skip_1000 else [1000])
        files = make_inputs(work, sizes)
        cases = [(f"{s} MB random", ["-q", f"-o{FROM}", f"-r{RCPT}", "-sBench",
                                     f"-f+{files[f'random {s} MB']}"], s) for s in sizes]
        out.append("## Scaling\n")
        out.append(f"velsend alone, median of {args.scale_runs} runs each. 'ms per added "
                   "unit': wall time over the first row's, divided by the units added (one MB, "
                   "one part, one recipient); equal figures down a table mean linear growth.\n")
        out.append("### Message size\n")
        out += header + run_velsend_series(args, velsend, sink, work, cases)
        if args.skip_1000:
            out.append("\n(1000 MB skipped on request.)")
        out.append("")
        if args.baseline:
            out.append("### Message size, velsend before\n")
            out += header + run_velsend_series(args, args.baseline, sink, work, cases)
            out.append("")

        parts_dir = work / "parts"
        parts_dir.mkdir(exist_ok=True)
        part_files = []
        for i in range(1000):
            p = parts_dir / f"part{i:04d}.bin"
            if not p.exists():
                p.write_bytes(os.urandom(100 * 1000))
            part_files.append(p)
        cases = [(f"{n} part{'s' if n > 1 else ''} of 100 kB", ["-q", f"-o{FROM}", f"-r{RCPT}", "-sBench",
                                           "-f" + ",".join(f"+{p}" for p in part_files[:n])], n)
                 for n in (1, 100, 1000)]
        out.append("### Parts\n")
        out += header + run_velsend_series(args, velsend, sink, work, cases)
        out.append("")

        # An HTML report whose text version is made from it, with an inline
        # image of the same size: both stream, so the peak stays flat.
        html_dir = work / "html"
        html_dir.mkdir(exist_ok=True)
        row = (b"<tr><td>Row &amp; caf&eacute;</td>"
               b"<td><a href='https://example.org/?a=1&amp;b=2'>link</a></td></tr>\n")
        cases = []
        for n in (1, 10, 40):
            page, image = html_dir / f"report{n}.html", html_dir / f"chart{n}.png"
            if not page.exists():
                page.write_bytes(b"<html><head><meta charset=utf-8></head><body><table>\n" +
                                 row * (n * 1000 * 1000 // len(row)) +
                                 f"</table><img src='cid:{image.name}'></body></html>\n".encode())
                image.write_bytes(os.urandom(n * 1000 * 1000))
            cases.append((f"HTML {n} MB + inline image {n} MB",
                          ["-q", f"-o{FROM}", f"-r{RCPT}", "-sBench", f"--html={page}",
                           f"--inline={image}"], n))
        out.append("### HTML with a made text version and an inline image\n")
        out += header + run_velsend_series(args, velsend, sink, work, cases)
        out.append("")

        small = parts_dir / "part0000.bin"
        cases = [(f"{n} recipient{'s' if n > 1 else ''}", ["-q", f"-o{FROM}",
                                       "-r" + ",".join(f"r{i}@example.org" for i in range(n)),
                                       "-sBench", f"-f+{small}"], n) for n in (1, 100, 1000)]
        out.append("### Recipients (one 100 kB part)\n")
        out += header + run_velsend_series(args, velsend, sink, work, cases)
        out.append("")

        # The trace written to a file against the quiet run.
        big = files["random 100 MB"]
        trace_file = work / "trace.txt"
        quiet, traced = [], []
        for _ in range(args.runs):
            quiet.append(measure(velsend_cmd(velsend, sink.port, big), sink, work))
            with open(trace_file, "wb") as f:
                traced.append(measure(velsend_cmd(velsend, sink.port, big, quiet=False), sink,
                                      work, stderr=f))
        q, t = median([r.wall for r in quiet]), median([r.wall for r in traced])
        out.append("### Trace (100 MB random, standard error to a file)\n")
        out.append("| run | wall s | CPU s | trace bytes |")
        out.append("|---|---:|---:|---:|")
        out.append(f"| quiet (-q) | {q:.3f} | {median([r.cpu for r in quiet]):.3f} | - |")
        out.append(f"| traced | {t:.3f} | {median([r.cpu for r in traced]):.3f} | "
                   f"{trace_file.stat().st_size} |")
        out.append(f"\nTraced / quiet: {median([a.wall / b.wall for a, b in zip(traced, quiet)]):.2f}"
                   " (target ≤ 2).\n")
    finally:
        sink.stop()


def make_tls_files(work):
    """A CA and a certificate for 127.0.0.1 signed by it, valid for a day:
    (CA file, certificate, key)."""
    ca_key, ca, key, csr, cert, ext = (work / n for n in (
        "ca.key", "ca.pem", "sink.key", "sink.csr", "sink.pem", "sink.ext"))
    ext.write_text("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n")
    for cmd in (["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key,
                 "-out", ca, "-days", "1", "-subj", "/CN=velsend bench CA"],
                ["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
                 "-subj", "/CN=127.0.0.1"],
                ["openssl", "x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key,
                 "-CAcreateserial", "-days", "1", "-extfile", ext, "-out", cert]):
        subprocess.run([str(c) for c in cmd], check=True, capture_output=True)
    return ca, cert, key


def run_tls(args, velsend, sink_bin, work, out):
    """100 MiB of random bytes over STARTTLS against the same in clear text,
    alternating round by round, to the same sink (which offers STARTTLS to
    both; the clear run just does not take it)."""
    path = work / "random-100MiB.bin"
    if not path.exists() or path.stat().st_size != 100 * 2**20:
        with open(path, "wb") as f:
            for _ in range(100):
                f.write(os.urandom(2**20))
    ca, cert, key = make_tls_files(work)
    clear = velsend_cmd(velsend, 0, path)
    modes = {"clear text": [], "STARTTLS": ["--starttls", f"--cacert={ca}"]}

    def cmd(mode, port):
        return [c.replace("127.0.0.1:0", f"127.0.0.1:{port}") for c in clear] + modes[mode]

    selftest = subprocess.run([str(sink_bin), "--self-test", "1000", "--cert", str(cert),
                               "--key", str(key)], capture_output=True, text=True)
    # Each mode once through a saving sink: the attachment must come out whole.
    saved = work / "saved-tls-message"
    whole = {}
    sink = Sink(sink_bin, work, save=saved, tls=(cert, key))
    try:
        original = path.read_bytes()
        for mode in modes:
            m = measure(cmd(mode, sink.port), sink, work)
            data = unstuff(saved.read_bytes()) if m.status == 0 and m.received else b""
            whole[mode] = bool(data) and decoded_attachment(data)[0] == original
            saved.unlink(missing_ok=True)
    finally:
        sink.stop()

    results = {mode: [] for mode in modes}
    sink_cpu = {mode: [] for mode in modes}
    sink = Sink(sink_bin, work, tls=(cert, key))
    try:
        for mode in modes:  # warm-up
            measure(cmd(mode, sink.port), sink, work)
        for _ in range(args.runs):
            for mode in modes:
                before = sink.cpu_seconds()
                results[mode].append(measure(cmd(mode, sink.port), sink, work))
                sink_cpu[mode].append(sink.cpu_seconds() - before)
    finally:
        sink.stop()

    clear_runs, tls_runs = results["clear text"], results["STARTTLS"]

    def both(tls, tls_sink, clear, clear_sink):
        return [(a.cpu + b) / max(c.cpu + d, 1e-3)
                for a, b, c, d in zip(tls, tls_sink, clear, clear_sink)]

    ratio = median([a.wall / b.wall for a, b in zip(tls_runs, clear_runs)])
    together = both(tls_runs, sink_cpu["STARTTLS"], clear_runs, sink_cpu["clear text"])
    out.append("## STARTTLS against clear text (100 MiB random)\n")
    out.append(f"`velsend -q ... -f+{path.name}`, with `--starttls --cacert=CA` and without, "
               f"{args.runs} alternating rounds after a warm-up; medians. The sink offers "
               f"STARTTLS to both. Sink alone over TLS: {selftest.stdout.strip()}.\n")
    out.append("| mode | wall s | CPU s | sink CPU s | peak RSS MiB | data bytes | whole |")
    out.append("|---|---:|---:|---:|---:|---:|---|")
    for mode, runs in results.items():
        sizes = {r.received[0] if len(r.received) == 1 else -1 for r in runs}
        ok = (whole[mode] and all(r.status == 0 for r in runs) and len(sizes) == 1
              and -1 not in sizes)
        out.append(f"| {mode} | {fmt_s(median([r.wall for r in runs]))} | "
                   f"{fmt_s(median([r.cpu for r in runs]))} | {fmt_s(median(sink_cpu[mode]))} | "
                   f"{median([r.rss_kib for r in runs]) / 1024:.1f} | "
                   f"{'/'.join(str(s) for s in sorted(sizes))} | {'yes' if ok else '**NO**'} |")
    out.append(f"\nSTARTTLS / clear text, wall time (median of the per-round ratios): "
               f"{ratio:.2f} (target ≤ 1.3: {'met' if ratio <= 1.3 else 'not met'}); "
               f"velsend's CPU time: "
               f"{median([a.cpu / max(b.cpu, 1e-3) for a, b in zip(tls_runs, clear_runs)]):.2f}; "
               f"velsend's and the sink's CPU time together: "
               f"{median(together):.2f}. "
               f"Load average after the runs: {os.getloadavg()[0]:.1f}.\n")


def pe_machine(exe):
    """The machine field of a PE executable: 0x14c for i386, 0x8664 for x86-64."""
    with open(exe, "rb") as f:
        head = f.read(4096)
    offset = int.from_bytes(head[0x3C:0x40], "little")
    return int.from_bytes(head[offset + 4:offset + 6], "little")


def wine_skip_reason(exe):
    """Why the 2 GiB run means nothing here, or None: it tests a 32-bit
    address space, so a 64-bit program or a kernel without 32-bit support
    cannot show it."""
    if pe_machine(exe) != 0x14C:
        return f"{exe} is not a 32-bit program"
    probe = Path(__file__).resolve().parent.parent / "scripts" / "kernel-runs-i386.sh"
    result = subprocess.run([str(probe)], capture_output=True, text=True)
    if result.returncode != 0:
        return result.stdout.strip()
    return None


def run_wine(args, sink_bin, work, out):
    """The 32-bit program's largest attachment: more than 2 GiB, which its
    address space could never hold whole."""
    reason = wine_skip_reason(args.wine)
    if reason:
        out.append("## The 32-bit Windows program under Wine\n")
        out.append(f"Skipped: {reason}; the 2 GiB attachment only tests a 32-bit "
                   "address space.\n")
        return
    big = work / "random-2112MiB.bin"
    if not big.exists():
        chunk = os.urandom(64 * 2**20)
        with open(big, "wb") as f:
            for _ in range(33):
                f.write(chunk)
    windows_path = "Z:" + str(big.resolve()).replace("/", "\\")
    sink = Sink(sink_bin, work)
    try:
        m = measure(["env", "WINEDEBUG=-all", "wine", str(args.wine), "-q",
                     f"-h127.0.0.1:{sink.port}", f"-o{FROM}", f"-r{RCPT}", "-sBench",
                     f"-f+{windows_path}"], sink, work)
    finally:
        sink.stop()
    out.append("## The 32-bit Windows program under Wine\n")
    out.append("| attachment | status | wall s | peak RSS MiB (the wine process) | data bytes |")
    out.append("|---|---:|---:|---:|---:|")
    out.append(f"| {big.stat().st_size} bytes | {m.status} | {m.wall:.1f} | "
               f"{m.rss_kib / 1024:.1f} | {m.received[0] if m.received else '-'} |")
    out.append("")


def machine(out):
    cpu = "unknown"
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
    mem = "unknown"
    for line in Path("/proc/meminfo").read_text().splitlines():
        if line.startswith("MemTotal"):
            mem = f"{int(line.split()[1]) / 2**20:.1f} GiB"
    versions = []
    for cmd in (["curl", "--version"], ["s-nail", "-V"], ["base64", "--version"]):
        try:
            first = subprocess.run(cmd, capture_output=True, text=True).stdout.splitlines()[0]
            versions.append(first.strip())
        except (OSError, IndexError):
            pass
    out.append(f"Machine: {os.cpu_count()} CPUs (nproc), {cpu}, {mem} memory; "
               f"{os.uname().sysname} {os.uname().release}.\n")
    out.append("Tools: " + "; ".join(versions) + ".\n")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True, type=Path)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--scale-runs", type=int, default=3)
    ap.add_argument("--work", type=Path)
    ap.add_argument("--skip-1000", action="store_true")
    ap.add_argument("--only", choices=["compare", "scale", "tls", "wine", "rtt", "all"],
                    default="all")
    ap.add_argument("--baseline", type=Path, help="another velsend, run as 'velsend before'")
    ap.add_argument("--wine", type=Path, help="velsend.exe (32-bit) to send 2112 MiB under Wine")
    args = ap.parse_args()

    velsend = (args.build / "velsend").resolve()
    sink_bin = (args.build / "bench" / "bench_sink").resolve()
    work = args.work or Path(tempfile.mkdtemp(prefix="velsend-bench-"))
    work.mkdir(parents=True, exist_ok=True)
    out = []
    machine(out)
    selftest = subprocess.run([str(sink_bin), "--self-test", "2000"], capture_output=True,
                              text=True)
    out.append(f"Sink alone: {selftest.stdout.strip()} (its own client pushing 2000 MiB).\n")
    try:
        if args.only in ("compare", "all"):
            files = make_inputs(work, [10, 100])
            results, _ = run_comparison(args, velsend, sink_bin, files, work, out)
            targets(results, files, out)
            run_encoders(args.build, results, files, out)
        if args.only in ("scale", "all"):
            run_scaling(args, velsend, sink_bin, work, out)
        if args.only in ("tls", "all"):
            run_tls(args, velsend, sink_bin, work, out)
        if args.wine and args.only in ("wine", "all"):
            run_wine(args, sink_bin, work, out)
        if args.only in ("rtt", "all"):
            # Round trips against a relay that delays its replies: its own
            # script, which can also be run alone.
            rtt = subprocess.run([sys.executable, str(Path(__file__).with_name("round_trips.py")),
                                  "--velsend", str(velsend), "--runs", str(args.runs),
                                  *(["--baseline", str(args.baseline)] if args.baseline else [])],
                                 capture_output=True, text=True, check=True)
            out.append(rtt.stdout)
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)
    print("\n".join(out))


if __name__ == "__main__":
    main()
