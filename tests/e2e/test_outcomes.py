"""Outcomes a script can act on: the --report JSON for every kind of ending,
--exit-codes=sysexits, --retry of temporary failures (never past the end of
the data) and the relay's refusal shown in quiet mode."""
import contextlib
import json
import re
import socket
import threading
import time

import pytest

from peers import HOST, closed_port

# The reply to every command unless a script says otherwise.
DEFAULTS = {
    "greeting": "220 relay.test ready",
    "HELO": "250 relay.test",
    "EHLO": "250 relay.test",
    "MAIL": "250 2.1.0 ok",
    "RCPT": "250 2.1.5 ok",
    "DATA": "354 go on",
    "end": "250 2.0.0 Ok: queued as 4F2A11C0B3",
    "QUIT": "221 2.0.0 bye",
}
CLOSE = "close"    # close the connection instead of replying
SILENT = "silent"  # never reply; read until the client goes


class ScriptRelay:
    """Plays one script per connection, in order; a connection past the last
    script is closed at once. A script maps a command ("MAIL", "RCPT", ...),
    "greeting" or "end" (the reply to the end of the data) to its reply; a
    list gives one reply per use ("RCPT": ["250 ok", "550 no"]). "cut_data"
    closes the connection after that many bytes of data. Every connection's
    received bytes and every whole message are kept."""

    def __init__(self, scripts):
        self.scripts = list(scripts)
        self.connections = []  # the bytes each connection received
        self.messages = []     # each message's data, the "." line included
        self._stop = threading.Event()
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.bind((HOST, 0))
        self._listener.listen(8)
        self._listener.settimeout(0.1)
        self.port = self._listener.getsockname()[1]
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(30)
        self._listener.close()

    def _run(self):
        while not self._stop.is_set():
            try:
                conn, _ = self._listener.accept()
            except (TimeoutError, socket.timeout):
                continue
            except OSError:
                return
            index = len(self.connections)
            self.connections.append(bytearray())
            with conn:
                conn.settimeout(0.1)
                if index < len(self.scripts):
                    with contextlib.suppress(OSError, EOFError):
                        self._play(conn, self.scripts[index], self.connections[index])

    def _recv_line(self, conn, buffer, received):
        while b"\n" not in buffer:
            data = self._recv(conn)
            received.extend(data)
            buffer.extend(data)
        line, _, rest = bytes(buffer).partition(b"\n")
        buffer[:] = rest
        return line.rstrip(b"\r")

    def _recv(self, conn):
        while not self._stop.is_set():
            try:
                data = conn.recv(65536)
            except (TimeoutError, socket.timeout):
                continue
            if not data:
                raise EOFError
            return data
        raise EOFError

    def _reply(self, conn, script, key, uses):
        reply = script.get(key, DEFAULTS.get(key, "250 ok"))
        if isinstance(reply, list):
            reply = reply[min(uses.get(key, 0), len(reply) - 1)]
            uses[key] = uses.get(key, 0) + 1
        if reply == CLOSE:
            raise EOFError
        if reply == SILENT:
            while True:
                self._recv(conn)
        conn.sendall(reply.encode() + b"\r\n")
        return reply

    def _play(self, conn, script, received):
        buffer = bytearray()
        uses = {}
        self._reply(conn, script, "greeting", uses)
        while True:
            line = self._recv_line(conn, buffer, received)
            verb = line[:4].decode("latin-1").upper()
            reply = self._reply(conn, script, verb, uses)
            if verb == "QUIT":
                return
            if verb == "DATA" and reply.startswith("354"):
                cut = script.get("cut_data")
                # Searched from where the last search stopped: a large
                # message would otherwise cost quadratic time.
                end = buffer.find(b"\r\n.\r\n")
                while end < 0:
                    if cut is not None and len(buffer) >= cut:
                        raise EOFError
                    data = self._recv(conn)
                    received.extend(data)
                    buffer.extend(data)
                    end = buffer.find(b"\r\n.\r\n", max(0, len(buffer) - len(data) - 4))
                end += 5
                self.messages.append(bytes(buffer[:end]))
                buffer[:] = buffer[end:]
                self._reply(conn, script, "end", uses)


def message_args(port, *extra):
    return ("-ofrom@example.org", "-rann@example.org,bob@example.org", "-sOutcome",
            f"-h{HOST}:{port}", *extra)


def read_report(path):
    text = path.read_text()
    assert text.endswith("\n") and text.count("\n") == 1
    return json.loads(text)


def exiting_status(run):
    return int(re.search(r"Program Exiting\[(\d+) ", run.err).group(1))


# (what, script, classic status, sysexits status, temporary, stage, reply
# code, delivery_unknown, extra options)
ENDINGS = [
    ("delivered", {}, 0, 0, False, "quit", 250, False, ()),
    ("greeting 4xx", {"greeting": "421 4.3.2 busy"}, 9, 75, True, "greeting", 421, False, ()),
    ("greeting 5xx", {"greeting": "554 5.7.1 go away"}, 9, 69, False, "greeting", 554, False,
     ()),
    ("MAIL 4xx", {"MAIL": "451 4.3.0 try later"}, 7, 75, True, "mail", 451, False, ()),
    ("MAIL 5xx", {"MAIL": "553 5.7.1 sender refused"}, 7, 69, False, "mail", 553, False, ()),
    ("RCPT 4xx", {"RCPT": "450 4.2.1 mailbox busy"}, 7, 75, True, "rcpt", 450, False, ()),
    ("RCPT 5xx", {"RCPT": ["250 2.1.5 ok", "550 5.1.1 <bob@example.org>: unknown"]}, 7, 69,
     False, "rcpt", 550, False, ()),
    ("DATA 4xx", {"DATA": "451 4.3.0 later"}, 7, 75, True, "data", 451, False, ()),
    ("DATA 5xx", {"DATA": "554 5.5.1 no valid recipients"}, 7, 69, False, "data", 554, False,
     ()),
    ("end of data 4xx", {"end": "452 4.3.1 out of space"}, 7, 75, True, "end-of-data", 452,
     False, ()),
    ("end of data 5xx", {"end": "552 5.3.4 too big"}, 7, 69, False, "end-of-data", 552, False,
     ()),
    ("time-out", {"greeting": SILENT}, 9, 75, True, "greeting", None, False, ("--timeout=1",)),
    ("closed after MAIL", {"RCPT": CLOSE}, 7, 75, True, "rcpt", None, False, ()),
    ("no final reply", {"end": SILENT}, 7, 69, False, "end-of-data", None, True,
     ("--timeout=1",)),
    ("TLS not offered", {"EHLO": "250 relay.test"}, 12, 69, False, "tls", 250, False,
     ("--starttls",)),
]


@pytest.mark.parametrize("what,script,classic,sysexits,temporary,stage,code,unknown,extra",
                         ENDINGS, ids=[e[0] for e in ENDINGS])
def test_report_for_each_ending(velsend, tmp_path, what, script, classic, sysexits, temporary,
                                stage, code, unknown, extra):
    report = tmp_path / "report.json"
    # An old report is replaced, not appended to.
    report.write_text("old\n")
    with ScriptRelay([script]) as relay:
        run = velsend(*message_args(relay.port, "-q", f"--report={report}",
                                    "--exit-codes=sysexits", *extra))
    assert exiting_status(run) == classic
    assert run.status == sysexits
    got = read_report(report)
    assert got["status"] == sysexits
    assert got["temporary"] is temporary
    assert got["stage"] == stage
    assert got["delivery_unknown"] is unknown
    assert got["attempts"] == 1
    assert got["elapsed_ms"] >= 0
    assert (got["reply"] or {}).get("code") == code
    assert [r["address"] for r in got["recipients"]] == (
        ["ann@example.org", "bob@example.org"]
        if stage in ("mail", "rcpt", "data", "end-of-data", "quit") else [])
    if what == "delivered":
        assert got["status_name"] == "EX_OK"
        assert got["reply"] == {"code": 250, "enhanced": "2.0.0", "text": "Ok: queued as 4F2A11C0B3"}
        assert got["queue_id"] == "4F2A11C0B3"
        assert [r["accepted"] for r in got["recipients"]] == [True, True]
        assert got["recipients"][0]["reply"]["enhanced"] == "2.1.5"
        assert got["transactions"] == 1
        (message,) = relay.messages
        assert got["bytes"] == len(message)  # the data, "." line included
        header = re.search(rb"^Message-ID: (\S+)\r$", message, re.M).group(1).decode()
        assert got["message_id"] == header
    else:
        assert got["queue_id"] is None
    if what == "RCPT 5xx":
        first, second = got["recipients"]
        assert first["accepted"] and not second["accepted"]
        assert second["reply"] == {"code": 550, "enhanced": "5.1.1",
                                   "text": "<bob@example.org>: unknown"}
    if what == "no final reply":
        assert got["bytes"] > 0 and relay.messages
    # Never a secret, and nothing but the one object.
    assert "PASS" not in report.read_text()


def test_report_of_runs_that_never_reach_a_relay(velsend, tmp_path):
    report = tmp_path / "report.json"
    port = closed_port()
    cases = [
        ("refused connection", (), 6, 75, True, "connect"),
        ("bad file", ("-fmissing.txt",), 5, 66, False, "before-connecting"),
    ]
    for what, extra, classic, sysexits, temporary, stage in cases:
        run = velsend(*message_args(port, "-q", f"--report={report}", "--exit-codes=sysexits",
                                    *extra))
        assert (exiting_status(run), run.status) == (classic, sysexits), what
        got = read_report(report)
        assert (got["status"], got["temporary"], got["stage"]) == (sysexits, temporary, stage), what
        assert got["reply"] is None and got["recipients"] == [], what
        assert got["message_id"] is None and got["bytes"] == 0, what
        assert got["attempts"] == (0 if stage == "before-connecting" else 1), what


def test_report_to_standard_output_with_the_classic_statuses(velsend, tmp_path):
    with ScriptRelay([{"RCPT": "550 5.1.1 no such user"}]) as relay:
        run = velsend(*message_args(relay.port, "-q", "--report=-"))
    assert run.status == 7
    got = json.loads(run.out)
    assert (got["status"], got["status_name"]) == (7, "ERROR_SENDING_MAIL")


def test_tls_failure_is_reported(velsend, tmp_path):
    # A relay that offers STARTTLS and then answers the handshake with text.
    report = tmp_path / "report.json"
    script = {"EHLO": "250-relay.test\r\n250 STARTTLS", "STAR": "220 go ahead"}
    with ScriptRelay([script]) as relay:
        run = velsend(*message_args(relay.port, "-q", "--starttls", "--timeout=2",
                                    f"--report={report}"))
    assert run.status == 12
    got = read_report(report)
    assert got["stage"] == "tls"
    assert got["status_name"] == "ERROR_TLS"


RETRY = ("--retry=3", "--retry-delay=0")


def test_temporary_failures_are_tried_again_until_delivered(velsend, tmp_path):
    report = tmp_path / "report.json"
    scripts = [{"greeting": "421 4.3.2 busy"}, {"RCPT": "451 4.3.0 later"}, {}]
    with ScriptRelay(scripts) as relay:
        run = velsend(*message_args(relay.port, f"--report={report}", *RETRY))
    assert run.status == 0, run.err
    assert len(relay.connections) == 3
    assert len(relay.messages) == 1
    assert run.err.count("failed; trying again in 0.000 s") == 2
    # Every attempt is traced.
    assert run.err.count("Connected to ") == 3
    got = read_report(report)
    assert (got["attempts"], got["status"], got["queue_id"]) == (3, 0, "4F2A11C0B3")


def test_data_cut_short_is_tried_again_with_the_same_message(velsend, tmp_path):
    # The relay closes the connection after the message's first bytes: the
    # "." never left, so the second try may deliver; its Date and Message-ID
    # are those the first try sent.
    big = tmp_path / "big.txt"
    big.write_bytes(b"a line of the body, repeated to fill the buffers\r\n" * 400000)
    scripts = [{"cut_data": 2000}, {}]
    with ScriptRelay(scripts) as relay:
        run = velsend(*message_args(relay.port, "-q", f"-f{big}", *RETRY), timeout=120)
    assert run.status == 0, run.err
    assert len(relay.connections) == 2
    (message,) = relay.messages
    first = bytes(relay.connections[0])
    for field in (rb"^Date: .*\r$", rb"^Message-ID: .*\r$"):
        assert re.search(field, first, re.M).group(0) == re.search(field, message, re.M).group(0)


@pytest.mark.parametrize("what,script,unknown", [
    ("no final reply", {"end": SILENT}, True),
    ("refused recipient", {"RCPT": "550 5.1.1 unknown"}, False),
    ("final reply 4xx", {"end": "451 4.3.0 later"}, False),
])
def test_never_tried_again(velsend, tmp_path, what, script, unknown):
    report = tmp_path / "report.json"
    with ScriptRelay([script, {}, {}, {}]) as relay:
        run = velsend(*message_args(relay.port, "-q", "--timeout=1", f"--report={report}",
                                    *RETRY))
    assert run.status == 7
    assert len(relay.connections) == 1
    assert "trying again" not in run.err
    got = read_report(report)
    assert (got["attempts"], got["delivery_unknown"]) == (1, unknown)


def test_waits_are_bounded_traced_and_the_last_status_stays(velsend, tmp_path):
    # 1 s, then 2 s, each less at most a quarter; then the last try's status.
    scripts = [{"greeting": "421 busy"}] * 3
    with ScriptRelay(scripts) as relay:
        start = time.monotonic()
        run = velsend(*message_args(relay.port, "-q", "--retry=2", "--retry-delay=1",
                                    "--exit-codes=sysexits"))
        elapsed = time.monotonic() - start
    assert run.status == 75
    waits = [float(w) for w in re.findall(r"Attempt \d of 3 failed; trying again in ([\d.]+) s",
                                          run.err)]
    assert len(waits) == 2 and len(relay.connections) == 3
    assert 0.75 <= waits[0] <= 1.0 and 1.5 <= waits[1] <= 2.0
    assert elapsed < 3.0 + 20  # the waits and three quick tries, with room for a slow machine
    assert elapsed >= sum(waits)


# Where the relay refuses, and the line a quiet run must show for it.
REFUSALS = [
    ("MAIL", {"MAIL": "553 5.7.1 <from@example.org>: Sender address rejected"}),
    ("RCPT", {"RCPT": "550 5.1.1 <ann@example.org>: Recipient address rejected"}),
    ("DATA", {"DATA": "554 5.5.1 Error: no valid recipients"}),
    ("end of data", {"end": "552 5.3.4 Message size exceeds fixed limit"}),
]


@pytest.mark.parametrize("what,script", REFUSALS, ids=[r[0] for r in REFUSALS])
def test_quiet_run_shows_the_refusal_once(velsend, what, script):
    (line,) = [v for v in script.values()]
    with ScriptRelay([script]) as relay:
        quiet = velsend(*message_args(relay.port, "-q"))
    assert quiet.status == 7
    assert f"{line}\nError sending to {HOST}\n" in quiet.err
    with ScriptRelay([script]) as relay:
        traced = velsend(*message_args(relay.port))
    # The trace shows the reply already; it is not printed twice.
    assert traced.err.count(line) == 1
    assert f"<-- {line}\n" in traced.err


def test_quiet_refusal_line_is_made_printable(velsend):
    with ScriptRelay([{"RCPT": "550 5.1.1 bad\x1b[2J user"}]) as relay:
        run = velsend(*message_args(relay.port, "-q"))
    assert "550 5.1.1 bad\\x1B[2J user\nError sending to" in run.err
    assert "\x1b" not in run.err
