"""Files are read before the relay is contacted and read again while they
are sent. What reaches the relay is always the bytes of the first reading:
bytes added since are left out, and a file whose first bytes changed ends
the run with status 7 and no message delivered."""
import email
import hashlib
import email.policy
import os
import re
import threading
import time

import pytest

from conftest import WINE
from peers import ScriptedPeer, call, expect, send, until
from peers import relay as aiosmtpd_relay

ENVELOPE = ["-q", "-oann@example.test", "-rbob@example.test", "-sStreamed"]


def dialogue(on_mail):
    """A relay that calls on_mail() when MAIL FROM arrives: after the first
    reading of every file, before the second."""
    return [send("220 ready"), expect(b"HELO"), send("250 hi"),
            expect(b"MAIL FROM"), call(on_mail), send("250 ok"),
            expect(b"RCPT TO"), send("250 ok"), expect(b"DATA"), send("354 go"),
            until(b"."), send("250 queued"), expect(b"QUIT"), send("221 bye")]


def data_of(received):
    """The data between the DATA command and the final ".", dot-stuffing
    undone; None when the final "." never came."""
    data = received.split(b"DATA\r\n", 1)[1]
    end = data.find(b"\r\n.\r\n")
    if end < 0:
        return None
    lines = data[:end + 2].split(b"\r\n")
    return b"\r\n".join(line[1:] if line.startswith(b".") else line for line in lines)


def attachment(data):
    message = email.message_from_bytes(data, policy=email.policy.compat32)
    return message.get_payload(decode=True)


def flip_last(path):
    data = bytearray(path.read_bytes())
    data[-1] ^= 1
    path.write_bytes(bytes(data))


def truncate(path):
    with open(path, "r+b") as f:
        f.truncate(path.stat().st_size - 1000)


def replace_by_directory(path):
    path.unlink()
    path.mkdir()


@pytest.mark.parametrize("change", [flip_last, truncate, replace_by_directory],
                         ids=["byte-flipped", "truncated", "directory"])
def test_changed_file_delivers_nothing(velsend, tmp_path, change):
    (tmp_path / "big.bin").write_bytes(os.urandom(400_000))
    (tmp_path / "note.txt").write_bytes(b"sent before the changed file\n")
    with ScriptedPeer(dialogue(lambda: change(tmp_path / "big.bin"))) as peer:
        run = velsend(*ENVELOPE, f"-h127.0.0.1:{peer.port}", "-fnote.txt,+big.bin")
    assert run.status == 7
    assert run.err == ("big.bin changed while the message was being sent\n"
                       "Program Exiting[7 (ERROR_SENDING_MAIL)]\n")
    assert b"sent before the changed file" in peer.received  # the data had begun
    assert data_of(peer.received) is None
    assert b"\r\nQUIT\r\n" not in peer.received


def test_appended_file_is_sent_as_first_read(velsend, tmp_path):
    original = os.urandom(300_000)
    path = tmp_path / "log.bin"
    path.write_bytes(original)

    def append():
        with open(path, "ab") as f:
            f.write(b"appended after the first reading\n" * 100)

    with ScriptedPeer(dialogue(append)) as peer:
        run = velsend(*ENVELOPE, f"-h127.0.0.1:{peer.port}", "-f+log.bin")
    assert run.status == 0, run.err
    assert not peer.mismatches
    assert attachment(data_of(peer.received)) == original


def test_file_growing_during_the_whole_run_is_sent_as_first_read(velsend, tmp_path):
    path = tmp_path / "growing.log"
    path.write_bytes(b"".join(b"line %d of the log\n" % i for i in range(20_000)))
    start_size = path.stat().st_size
    stop = threading.Event()

    def grow():
        with open(path, "ab", buffering=0) as f:
            n = 0
            while not stop.is_set():
                f.write(b"later line %d\n" % n)
                n += 1
                time.sleep(0.001)

    writer = threading.Thread(target=grow)
    writer.start()
    try:
        with aiosmtpd_relay() as relay:
            run = velsend(*ENVELOPE, f"-h127.0.0.1:{relay.port}", "-f+growing.log")
            time.sleep(0.05)
    finally:
        stop.set()
        writer.join()
    assert run.status == 0, run.err
    assert len(relay.messages) == 1
    sent = attachment(relay.messages[0].data)
    final = path.read_bytes()
    assert start_size <= len(sent) < len(final)
    assert final.startswith(sent)


def pattern(n):
    return bytes((i * 37 + 11) & 0xFF for i in range(n))


# The encoders' edges: base64's 57-byte lines, uuencode's 45, quoted-
# printable's 76 characters, the 998-byte limit of a 7bit line, bare breaks
# and leading dots. Every quoted-printable text ends with a line break.
BOUNDARY_FILES = {
    "e0.txt": b"", "e0.bin": b"", "b1.bin": b"\xe9",
    "b57.bin": pattern(57), "b58.bin": pattern(58), "b59.bin": pattern(59),
    "l76.txt": b"a" * 76 + b"\r\n" + b"b" * 77 + b"\n",
    "q76.txt": b"\xe9" + b"a" * 75 + b"\n" + b"b" * 77 + b" \n",
    "l998.txt": b"x" * 998 + b"\nend",
    "l999.txt": b"x" * 999 + b"\n",
    "breaks.txt": b"\r\n\n\r\r\n\n\n\r", "breaks.bin": b"\r\n\n\r\r\n\n\n\r",
    "dots.txt": b".\n..\n.x\r\n.\n",
}

# SHA-256 of the data and the trace (normalised as below), recorded with the
# program as it was when it still encoded every file before connecting.
RECORDED = {
    ("mime", "quiet"):
        "89f16c6145c3bf1425f410eedd219f035f1d7448c75c333f2080f3aad65d2ace",
    ("mime", "traced"):
        "2c20dcffac92e7375fa79573ba905374b8d1e5100a6aab6c674ca5e6847d8da1",
    ("-u", "quiet"):
        "a4b2d65961783db8728f76f63d3b54728b08672b73b9dd0fd46e331a1d3e3fe4",
    ("-u", "traced"):
        "81b0178b6d252b32e7088799336ec12591986cdd84146f49882028d221c445b8",
    ("-U", "quiet"):
        "d977e41c7809037b17f329ed79c29241df8d0d9397882f189b95c5d402251915",
    ("-U", "traced"):
        "6b65df9fd93134717621331571ff0ec71646e01440509ffa51e3546e0d51817a",
}


def normalised(data, trace):
    """The data from DATA on and the trace, without what differs by run or
    machine: the relay's name and port, the local name, the date and the
    message id."""
    data = data[data.index(b"DATA\r\n"):]
    for field in (rb"Date: [^\r]*", rb"Message-ID: [^\r]*"):
        data = re.sub(field, field[:4], data)
        trace = re.sub(field, field[:4], trace)
    trace = re.sub(rb"Connected to [^\n]*", b"Connected", trace)
    trace = re.sub(rb"HELO [^\r]*", b"HELO H", trace)
    return data + b"\0" + trace


@pytest.mark.skipif(WINE, reason="the recording holds the content types of /etc/mime.types")
@pytest.mark.parametrize("quiet", [True, False], ids=["quiet", "traced"])
@pytest.mark.parametrize("mode", [[], ["-u"], ["-U"]], ids=["mime", "uuencode", "force-uuencode"])
def test_boundary_files_go_out_as_recorded(velsend, tmp_path, mode, quiet):
    for name, content in BOUNDARY_FILES.items():
        (tmp_path / name).write_bytes(content)
    entries = ",".join(("+" if name.endswith(".bin") else "#") + name for name in BOUNDARY_FILES)
    # The charset given, so that the locale does not decide it.
    args = ENVELOPE[1:] + (ENVELOPE[:1] if quiet else []) + mode + ["-lutf-8"]
    with ScriptedPeer(dialogue(lambda: None)) as peer:
        run = velsend(*args, f"-h127.0.0.1:{peer.port}", f"-f{entries}")
    assert run.status == 0, run.err
    digest = hashlib.sha256(normalised(peer.received, run.stderr)).hexdigest()
    key = (" ".join(mode) or "mime", "quiet" if quiet else "traced")
    assert digest == RECORDED[key], (key, digest)
