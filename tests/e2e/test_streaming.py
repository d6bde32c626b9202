"""Files are read before the relay is contacted and read again while they
are sent. What reaches the relay is always the bytes of the first reading:
bytes added since are left out, and a file whose first bytes changed ends
the run with status 7 and no message delivered."""
import email
import email.policy
import os
import threading
import time

import pytest

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
    assert b"QUIT" not in peer.received


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
