"""Relays that break the rules of the dialogue: one that never ends a reply,
one that answers before it is asked, one that writes control bytes into its
replies. Each run ends promptly with the right status and error line."""
import pytest

from peers import ScriptedPeer, expect, flood, send, send_raw, stall, until_bytes
from reliability import record, run_measured

BASE = ["-oann@x.test", "-rbob@x.test", "-sFaults", "-fbody.txt"]
TIMEOUT_S = 1

AUTH_FAILED = "Couldn't authenticate with 127.0.0.1"
SEND_FAILED = "Error sending to 127.0.0.1"

GREETING = [send("220 relay.test ready"), expect("HELO "), send("250 relay.test")]
ENVELOPE = [expect("MAIL FROM:<ann@x.test>"), send("250 sender ok"),
            expect("RCPT TO:<bob@x.test>"), send("250 ok"), expect("DATA")]
DATA = [send("354 go on"), until_bytes(b"\r\n.\r\n")]
QUIT = [expect("QUIT"), send("221 bye")]


def run_against(velsend_bin, tmp_path, steps, *extra):
    (tmp_path / "body.txt").write_bytes(b"hello\r\n")
    with ScriptedPeer(steps) as peer:
        run = run_measured(velsend_bin, [*BASE, f"-h127.0.0.1:{peer.port}",
                                         f"--timeout={TIMEOUT_S}", *extra],
                           cwd=tmp_path, timeout=60)
    return peer, run


def endless(code):
    """Continuation lines for as long as the client reads them."""
    return flood(b"".join(b"%s-streaming line %05d\r\n" % (code, i) for i in range(2000)),
                 1 << 40)


STREAMS = [
    ("greeting", [endless(b"220")], 9, AUTH_FAILED),
    ("HELO reply", GREETING[:2] + [endless(b"250")], 9, AUTH_FAILED),
    ("final reply", GREETING + ENVELOPE + DATA + [endless(b"250")], 7, SEND_FAILED),
]


@pytest.mark.parametrize("where,steps,status,error_line", STREAMS, ids=[s[0] for s in STREAMS])
@pytest.mark.parametrize("quiet", [False, True], ids=["traced", "quiet"])
def test_endless_reply_ends_the_run(velsend_bin, tmp_path, where, steps, status, error_line,
                                    quiet):
    peer, run = run_against(velsend_bin, tmp_path, steps, *(["-q"] if quiet else []))
    record("peers", f"endless continuation lines: {where}", run, f"status {run.status}")
    assert run.status == status, run.err[-2000:]
    assert f"{error_line}\n" in run.err, run.err[-2000:]
    # Ended by the bound on one reply's size or by its time-out, whichever
    # comes first; never by the relay.
    if not quiet:
        assert ("Reply longer than 1048576 bytes received\n" in run.err
                or "Timed out waiting for localhost\n" in run.err), run.err[-2000:]
    assert run.seconds < TIMEOUT_S + 10
    assert len(run.err) < 4 * 1024 * 1024
    assert b"QUIT" not in peer.received


# Replies sent together with the one before them, to commands not yet sent.
AHEAD = [
    ("HELO reply with the greeting", [send_raw(b"220 ready\r\n250 hello\r\n"), stall()],
     9, AUTH_FAILED, b""),
    ("RCPT reply with the MAIL reply",
     GREETING + [expect("MAIL"), send_raw(b"250 sender ok\r\n250 recipient ok\r\n"), stall()],
     7, SEND_FAILED, b"MAIL FROM:<ann@x.test>\r\n"),
    ("final reply with the 354",
     GREETING + ENVELOPE + [send_raw(b"354 go\r\n250 queued\r\n"), stall()],
     7, SEND_FAILED, b"DATA\r\n"),
]


@pytest.mark.parametrize("what,steps,status,error_line,last", AHEAD, ids=[a[0] for a in AHEAD])
def test_reply_ahead_of_its_command_is_not_taken(velsend_bin, tmp_path, what, steps, status,
                                                 error_line, last):
    peer, run = run_against(velsend_bin, tmp_path, steps)
    record("peers", f"answers ahead: {what}", run, f"status {run.status}")
    assert run.status == status, run.err[-2000:]
    assert f"{error_line}\n" in run.err
    assert "replied before it was asked\n" in run.err
    # Nothing follows the step whose reply came early.
    assert peer.received.endswith(last)
    assert b"hello" not in peer.received


def test_control_bytes_in_replies_do_not_reach_the_terminal(velsend_bin, tmp_path):
    steps = [send_raw(b"220 \x1b[2K\x1b[1AProgram Exiting[0 (ERROR_NONE)]\x07\r\n"),
             expect("HELO "), send("250 relay.test")] + ENVELOPE + DATA + \
        [send("250 queued\x1b]0;title\x07")] + QUIT
    peer, run = run_against(velsend_bin, tmp_path, steps)
    assert peer.mismatches == []
    assert run.status == 0, run.err
    assert "\x1b" not in run.err and "\x07" not in run.err
    assert "<-- 220 \\x1B[2K\\x1B[1AProgram Exiting[0 (ERROR_NONE)]\\x07\n" in run.err
    assert "<-- 250 queued\\x1B]0;title\\x07\n" in run.err
