"""Bad input from the command line, files and the standard input: line-break
injection through every switch that reaches the wire, the longest values an
argument can hold, 100,000 recipients, 10,000 files, odd names, files that
vanish before they are read, an empty or closed standard input."""
import base64
import email
import email.policy
import errno
import hashlib
import os
import re
import subprocess
import threading
import time

import pytest

from conftest import WINE
from peers import ScriptedPeer, accept_all
from reliability import Measured, record, run_measured

BASE = {"o": b"ann@x.test", "r": b"bob@x.test", "s": b"Subject"}
OK_TAIL = b"Program Exiting[0 (ERROR_NONE)]\n"
# One argument holds at most MAX_ARG_STRLEN bytes, its NUL included: 32 pages.
MAX_ARGUMENT = 32 * os.sysconf("SC_PAGE_SIZE")
LONG_COMMAND_LINE = pytest.mark.skipif(WINE, reason="a Windows command line holds 32767 characters")


def send(velsend_bin, switches, *extra, stdin=b"", cwd=None, timeout=120, env=None):
    """Runs against a relay that accepts everything; returns (run, raw bytes
    the relay received). switches maps a letter to its value (bytes)."""
    with ScriptedPeer([accept_all()], timeout=timeout) as peer:
        args = [b"-" + letter.encode() + value for letter, value in switches.items()]
        run = run_measured(velsend_bin, [*args, f"-h127.0.0.1:{peer.port}".encode(), *extra],
                           stdin=stdin, cwd=cwd, timeout=timeout, env=env)
    return run, peer.received


def data_of(raw):
    """The DATA content of the first transaction, without the final dot."""
    start = raw.index(b"DATA\r\n") + len(b"DATA\r\n")
    return raw[start:raw.index(b"\r\n.\r\n", start) + 2]


def lines_of(raw):
    """The received bytes cut at every CR, LF or CR LF, as a relay might."""
    return re.split(rb"\r\n|\r|\n", raw)


# --- Injection -------------------------------------------------------------

def payload(brk):
    # No "<", ">" or ",": the value must stay one item of the same switch.
    return f"v{brk}X-Injected: yes{brk}.{brk}QUIT{brk}RSET{brk}DATA".encode()


def injected_lines(raw):
    """Lines a value put on the wire of its own: each counts once."""
    lines = lines_of(raw)
    return (sum(line in (b"X-Injected: yes", b"RSET") for line in lines)
            + max(0, lines.count(b".") - 1) + max(0, lines.count(b"QUIT") - 1)
            + max(0, lines.count(b"DATA") - 1))


def blanked(value):
    return value.replace(b"\r", b" ").replace(b"\n", b" ")


# where, switch, how to place the payload v, where v must arrive (line
# breaks blanked), or the status of a run refused before connecting: an
# envelope address may hold no control byte
INJECTION = [
    ("o-address", "o", lambda v: v + b"@x.test", 1),
    ("o-name", "o", lambda v: v + b" <ann@x.test>",
     lambda v: b'From: "' + v + b'"  <ann@x.test>\r\n'),  # quoted: it holds a colon
    ("r", "r", lambda v: b"bob@x.test," + v, 2),
    ("c-name", "c", lambda v: v + b" <cc@x.test>", lambda v: b'Cc: "' + v + b'"  <cc@x.test>\r\n'),
    ("C", "C", lambda v: v, 2),
    ("s", "s", lambda v: v, lambda v: b"Subject: " + v + b"\r\n"),
    ("R", "R", lambda v: v, lambda v: b"Reply-To: " + v + b"\r\n"),
    ("l", "l", lambda v: v, 11),  # a charset name is one token
    ("f-name", "f", lambda v: b"#" + v + b".txt", lambda v: b' filename="' + v + b'.txt"\r\n'),
    ("n", "n", lambda v: v, None),
    ("p", "p", lambda v: v, None),
]


@pytest.mark.parametrize("brk", [pytest.param("\r\n", id="CRLF", marks=pytest.mark.memcheck),
                                 pytest.param("\n", id="LF"), pytest.param("\r", id="CR")])
@pytest.mark.parametrize("where,letter,place,arrives", [
    pytest.param(*case, id=case[0], marks=pytest.mark.skipif(
        WINE and case[1] == "f", reason="Windows file names hold no line breaks"))
    for case in INJECTION])
def test_line_break_injection_never_reaches_the_wire(velsend_bin, tmp_path, brk, where, letter,
                                                     place, arrives):
    value = payload(brk)
    switches = dict(BASE)
    placed = place(value)
    if letter == "f":
        # A file name may hold line breaks; a text part shows the name.
        (tmp_path / os.fsdecode(placed[1:])).write_bytes(b"body\r\n")
    elif letter == "l":
        (tmp_path / "body.txt").write_bytes(b"body\r\n")
        switches["f"] = b"body.txt"
    switches[letter] = placed
    run, raw = send(velsend_bin, switches, cwd=tmp_path)
    if isinstance(arrives, int):
        record("bad input", f"injection through -{where} ({brk!r})", run, f"status {run.status}",
               injections=injected_lines(raw), bytes_lost=0)
        assert run.status == arrives, run.err
        assert re.search(rb"^Invalid (address|charset) ", run.stderr, re.M) and raw == b""
        return
    assert run.status == 0, run.err
    injections = injected_lines(raw)
    if arrives:
        # Each break became one blank; no other byte was lost.
        lost = 0 if arrives(blanked(value)) in raw else len(value)
    else:
        user = value if letter == "n" else b""
        password = value if letter == "p" else b""
        credential = base64.b64encode(b"\0" + user + b"\0" + password)
        lost = 0 if b"AUTH PLAIN " + credential + b"\r\n" in raw else len(value)
    record("bad input", f"injection through -{where} ({brk!r})", run, f"status {run.status}",
           injections=injections, bytes_lost=lost)
    assert injections == 0
    assert lost == 0
    # The relay saw exactly one transaction.
    assert raw.count(b"\r\nDATA\r\n") == 1 and raw.endswith(b"\r\n.\r\nQUIT\r\n")


def test_dot_lines_in_content_stay_content(velsend_bin, tmp_path):
    text = b"a\r\n.\r\nMAIL FROM:<evil@x>\r\n..\r\n.\n.\r"
    (tmp_path / "dots.txt").write_bytes(text)
    run, raw = send(velsend_bin, {**BASE, "f": b"dots.txt"}, cwd=tmp_path)
    assert run.status == 0, run.err
    body = data_of(raw).split(b"\r\n\r\n", 1)[1]
    unstuffed = b"\r\n".join(line[1:] if line.startswith(b".") else line
                             for line in body.split(b"\r\n"))
    expected = b"a\r\n.\r\nMAIL FROM:<evil@x>\r\n..\r\n.\r\n.\r\n"
    lost = 0 if unstuffed.startswith(expected) else len(text)
    record("bad input", "dot lines in a file", run, f"status {run.status}",
           injections=injected_lines(raw), bytes_lost=lost)
    assert lost == 0
    assert injected_lines(raw) == 0


@pytest.mark.parametrize("spool", [
    "private", pytest.param("missing", marks=pytest.mark.skipif(
        WINE, reason="Windows takes its temporary folder from the profile, not TMPDIR"))])
def test_large_typed_text_keeps_memory_flat(velsend_bin, tmp_path, spool):
    """40 MB piped in: spooled to a private temporary file that is gone after
    the run, or held in memory where no file can be made; either way every
    byte arrives, dot lines stuffed across the spool's blocks."""
    block = (b"plain line of text\n.starts with a dot\n..two dots\n"
             b"caf\xe9 \xfcber = equals\n" + b"long " * 40 + b"\n")
    text = block * (40_000_000 // len(block))
    folder = tmp_path / "spool"
    if spool == "private":
        folder.mkdir()
    run, raw = send(velsend_bin, {**BASE, "f": b",", "l": b"iso-8859-1"}, stdin=text,
                    cwd=tmp_path, env=None if WINE else {"TMPDIR": str(folder)}, timeout=300)
    assert run.status == 0, run.err[-500:]
    lines = data_of(raw).split(b"\r\n")
    unstuffed = b"\r\n".join(line[1:] if line.startswith(b".") else line for line in lines)
    message = email.message_from_bytes(unstuffed, policy=email.policy.compat32)
    received = message.get_payload(decode=True)
    # The data's own last line break ends the part too.
    assert hashlib.sha256(received).digest() == \
        hashlib.sha256(text.replace(b"\n", b"\r\n") + b"\r\n").digest()
    if spool == "private" and not WINE:
        assert list(folder.iterdir()) == []  # nothing left behind
        assert run.peak_kb < 24 * 1024, run.peak_kb  # not the 40 MB


# --- Very long values ------------------------------------------------------

def long_value(size):
    pattern = b"abcdefghijklmnopqrstuvwxyz0123456789"
    return (pattern * (size // len(pattern) + 1))[:size]


def test_an_argument_past_the_kernel_limit_cannot_be_given(velsend_bin):
    # So a 1 MB subject cannot reach the program at all: the largest value
    # tested below is the longest one argument can carry.
    with pytest.raises(OSError) as refused:
        subprocess.run([velsend_bin, b"-s" + long_value(1024 * 1024)], timeout=30)
    assert refused.value.errno == errno.E2BIG
    record("bad input", "-s of 1 MB", Measured(None, b"", b"", 0, 0),
           "not run: the kernel refuses the argument (E2BIG)")


# switch, where the value must arrive whole
LONGEST = [
    ("s", None),  # one long word: carried in encoded words, read back below
    ("p", lambda v: b"AUTH PLAIN " + base64.b64encode(b"\0\0" + v) + b"\r\n"),
]


@LONG_COMMAND_LINE
@pytest.mark.parametrize("letter,arrives", LONGEST, ids=[c[0] for c in LONGEST])
def test_longest_values_arrive_whole(velsend_bin, tmp_path, letter, arrives):
    value = long_value(MAX_ARGUMENT - 1 - 2)  # its NUL and "-s" take the rest
    switches = {**BASE, letter: value}
    run, raw = send(velsend_bin, switches, cwd=tmp_path)
    if arrives:
        lost = 0 if arrives(value) in raw else len(value)
    else:
        head = data_of(raw).split(b"\r\n\r\n")[0]
        assert max(len(line) for line in head.split(b"\r\n")) <= 998
        subject = email.message_from_bytes(head, policy=email.policy.default)["Subject"]
        lost = 0 if subject == value.decode() else len(value)
    record("bad input", f"-{letter} of {len(value)} bytes", run, f"status {run.status}",
           injections=injected_lines(raw), bytes_lost=lost)
    assert run.status == 0, run.err[-500:]
    assert lost == 0
    assert run.peak_kb < 64 * 1024


# switch, how to place a value, the status: an address longer than RFC
# 5321's path or a charset name past any registered one would make a header
# line longer than 998 characters, so it is refused before connecting.
TOO_LONG = [
    ("o", lambda v: b"Ann <" + v + b">", 1, b"Invalid address "),
    ("r", lambda v: v, 2, b"Invalid address "),
    ("c", lambda v: v, 2, b"Invalid address "),
    ("C", lambda v: v, 2, b"Invalid address "),
    ("R", lambda v: v, 11, b"Invalid address "),
    ("l", lambda v: v, 11, b"Invalid charset "),
]


@pytest.mark.parametrize("letter,place,status,line", TOO_LONG, ids=[c[0] for c in TOO_LONG])
@pytest.mark.parametrize("size", [1200, 2000])
def test_values_too_long_for_a_header_line_are_refused(velsend_bin, tmp_path, letter, place,
                                                       status, line, size):
    value = long_value(size - 7) + b"@x.test"
    run, raw = send(velsend_bin, {**BASE, letter: place(value)}, cwd=tmp_path)
    assert run.status == status, run.err[-500:]
    assert line in run.stderr and raw == b""
    # The longest that fits still goes.
    if letter != "l":
        fits = long_value(254 - 7) + b"@x.test"
        run, raw = send(velsend_bin, {**BASE, letter: place(fits)}, cwd=tmp_path)
        assert run.status == 0, run.err[-500:]
        assert max(len(line) for line in data_of(raw).split(b"\r\n")) <= 998


@LONG_COMMAND_LINE
def test_hundred_thousand_recipients(velsend_bin):
    # Two switches, since one argument holds at most 128 KiB of them.
    names = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
    to = [names[i % len(names)].encode() for i in range(50_000)]
    cc = [names[(i * 7) % len(names)].encode() for i in range(50_000)]
    switches = {**BASE, "r": b",".join(to), "c": b",".join(cc)}
    run, raw = send(velsend_bin, switches, timeout=300)
    assert run.status == 0, run.err[-500:]
    sent = re.findall(rb"^RCPT TO:<([^>\r\n]*)>\r$", raw[:raw.index(b"DATA\r\n")], re.M)
    # Each address is one byte: a wrong or missing one is a byte lost.
    lost = sum(a != b for a, b in zip(sent, to + cc)) + abs(len(sent) - 100_000)
    shown = re.findall(rb"^(?:To: |Cc: |    ) <([^>\r\n]*)>,?\r$", data_of(raw), re.M)
    record("bad input", "100,000 recipients (To and Cc)", run, f"status {run.status}",
           injections=injected_lines(raw), bytes_lost=lost)
    assert lost == 0
    assert shown == to + cc


@LONG_COMMAND_LINE
def test_ten_thousand_files(velsend_bin, tmp_path):
    names = [f"f{i:05d}.txt" for i in range(10_000)]
    for i, name in enumerate(names):
        (tmp_path / name).write_bytes(b"part %05d\r\n" % i * (i % 3 + 1))
    files = ",".join("#" + name for name in names).encode()
    assert len(files) < MAX_ARGUMENT
    run, raw = send(velsend_bin, {**BASE, "f": files}, cwd=tmp_path, timeout=300)
    assert run.status == 0, run.err[-500:]
    message = email.message_from_bytes(data_of(raw), policy=email.policy.compat32)
    parts = message.get_payload()
    lost = abs(len(parts) - len(names))
    for i, (name, part) in enumerate(zip(names, parts)):
        expected = b"part %05d\r\n" % i * (i % 3 + 1)
        if part.get_filename() != name or part.get_payload(decode=True) != expected:
            lost += len(expected)
    record("bad input", "10,000 files", run, f"status {run.status}",
           injections=injected_lines(raw), bytes_lost=lost)
    assert lost == 0


# --- Odd names -------------------------------------------------------------

ODD_NAMES = [b"my report.txt", b'say "hi".txt', b"caf\xe9.txt", "日本語.txt".encode(),
             b"it's & more (1).txt", b" leading and trailing .txt"]


@pytest.mark.skipif(WINE, reason="Windows file names hold no quotes; "
                    "UTF-8 names do not pass the ANSI code page")
def test_names_with_blanks_quotes_and_non_ascii(velsend_bin, tmp_path):
    for i, name in enumerate(ODD_NAMES):
        (tmp_path / os.fsdecode(name)).write_bytes(b"content %d\r\n" % i)
    files = b",".join(b"#" + name for name in ODD_NAMES)
    originator = 'Zoë "Z" O\'Neil <zoe@x.test>'.encode()
    run, raw = send(velsend_bin, {**BASE, "o": originator, "s": "Grüße".encode(), "f": files},
                    cwd=tmp_path)
    assert run.status == 0, run.err
    data = data_of(raw)
    # Each part still holds its file, under its name escaped or encoded.
    bodies = [(sent_file_name(head), body) for head, body in
              re.findall(rb'\r\n(Content-Disposition: [^\r\n]*(?:\r\n [^\r\n]*)*)\r\n\r\n'
                         rb'([^\r\n]*)\r\n', data)]
    found = dict(bodies)
    lost = sum(len(b"content %d\r\n" % i) for i, name in enumerate(ODD_NAMES)
               if found.get(name) != b"content %d" % i)
    record("bad input", "names with blanks, quotes, non-ASCII bytes", run,
           f"status {run.status}", injections=injected_lines(raw), bytes_lost=lost)
    assert [name for name, _ in bodies] == ODD_NAMES
    assert lost == 0
    msg = email.message_from_bytes(data, policy=email.policy.default)
    assert msg["From"].addresses[0].display_name == 'Zoë "Z" O\'Neil'
    assert msg["Subject"] == "Grüße"


def sent_file_name(disposition):
    """The bytes of the file name a Content-Disposition field carries: a
    quoted string, or RFC 2231 percent-encoding, in continuations or not."""
    unfolded = disposition.replace(b"\r\n", b"")
    pieces = re.findall(rb'filename(?:\*\d+)?(\*?)=("(?:[^"\\]|\\.)*"|[^;\s]+)', unfolded)
    name = b""
    for extended, value in pieces:
        if extended:
            value = value.split(b"\'\'", 1)[-1]
            name += re.sub(rb"%([0-9A-F]{2})", lambda m: bytes([int(m.group(1), 16)]), value)
        else:
            name += re.sub(rb"\\(.)", rb"\1", value[1:-1])
    return name


# --- Files that vanish, standard input --------------------------------------

def make_unreadable(path, how):
    path.unlink()
    if how == "directory":
        path.mkdir()
    elif how == "dangling link":
        path.symlink_to(path.parent / "nowhere")
    elif how == "fifo":
        os.mkfifo(path)


@pytest.mark.memcheck
@pytest.mark.parametrize("how", ["deleted", "directory", "dangling link", pytest.param(
    "fifo", marks=pytest.mark.skipif(
        WINE, reason="Windows has no FIFOs; Wine opens one without a writer as an empty file"))])
def test_file_that_vanishes_after_the_text_is_typed(velsend_bin, tmp_path, how):
    # The text comes first: the file is taken away while the program waits
    # for it, after the list was read and before the file is opened.
    (tmp_path / "gone.txt").write_bytes(b"here when listed\r\n")
    with ScriptedPeer([accept_all()]) as peer:
        start = time.monotonic()
        proc = subprocess.Popen([velsend_bin, "-oa@x", "-rb@x", "-ss", f"-h127.0.0.1:{peer.port}",
                                 "-f,#gone.txt"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, cwd=tmp_path, start_new_session=True)
        guard = threading.Timer(30, proc.kill)
        guard.start()
        try:
            prompt = proc.stderr.readline()
            make_unreadable(tmp_path / "gone.txt", how)
            out, err = proc.communicate(b"typed text\r\n.\r\n", timeout=30)
        finally:
            guard.cancel()
    run = Measured(proc.returncode, out, prompt + err, time.monotonic() - start, 0)
    change = how if how == "deleted" else f"replaced by a {how}"
    record("bad input", f"file {change} between listing and reading", run,
           f"status {run.status}")
    assert prompt == b"Type Message, end with .<CR>\n"
    assert proc.returncode == 5
    cause = {"deleted": "No such file or directory", "directory": "Is a directory",
             "dangling link": "No such file or directory", "fifo": "not a regular file"}[how]
    assert err == (f"Cannot read gone.txt: {cause}\n>>Error attaching file gone.txt\n"
                   "Program Exiting[5 (ERROR_ATACHING_FILE)]\n").encode()
    assert not peer.connected.is_set()


@pytest.mark.parametrize("stdin", [b"", b".\r\n", b"\r\n", b"no line end"],
                         ids=["empty", "dot only", "one empty line", "no line end"])
def test_short_standard_input(velsend_bin, stdin):
    run, raw = send(velsend_bin, {**BASE, "f": b""}, stdin=stdin)
    # An empty -f value names nothing; "," names the text.
    assert run.status == 0
    run, raw = send(velsend_bin, {**BASE, "f": b","}, stdin=stdin)
    assert run.status == 0, run.err
    message = email.message_from_bytes(data_of(raw), policy=email.policy.compat32)
    text = {b"": b"", b".\r\n": b"", b"\r\n": b"\r\n", b"no line end": b"no line end\r\n"}
    # The part's text, then the line break that ends a single part.
    body = message.get_payload(decode=True)
    lost = 0 if body == text[stdin] + b"\r\n" else max(1, len(stdin))
    record("bad input", f"standard input {stdin!r}", run, f"status {run.status}",
           bytes_lost=lost)
    assert message.get_content_type() == "text/plain"
    assert body == text[stdin] + b"\r\n"


# Not under memcheck: valgrind started with descriptor 0 closed takes that
# descriptor for itself, which the program then cannot read.
@pytest.mark.parametrize("files", [None, b",", b"#a.txt,,"],
                         ids=["not needed", "text", "file then text"])
def test_standard_input_closed(velsend_bin, tmp_path, files):
    # A closed descriptor 0 reads as the null device: an empty text, never
    # a file or socket opened later under that number.
    (tmp_path / "a.txt").write_bytes(b"file content\r\n")
    switches = dict(BASE)
    if files is not None:
        switches["f"] = files
    with ScriptedPeer([accept_all()]) as peer:
        args = [b"-" + k.encode() + v for k, v in switches.items()]
        run = run_measured(velsend_bin, [*args, f"-h127.0.0.1:{peer.port}".encode()],
                           cwd=tmp_path, close_stdin=True)
    record("bad input", f"standard input closed, -f {files!r}", run, f"status {run.status}")
    assert run.status == 0, run.err
    assert run.stderr.endswith(OK_TAIL)
    data = data_of(peer.received)
    assert data.count(b"file content") == (1 if files == b"#a.txt,," else 0)
