"""Faults of the front end: closed standard descriptors, a reader of standard
error that has gone, addresses that carry text into the envelope, and words
on the command line that are not switches."""
import os
import subprocess

import pytest

from conftest import WINE
from peers import ScriptedPeer, delay, expect, send, until_line
from test_front_end import USAGE, status_line
from test_postfix import postfix  # noqa: F401  (the strict relay, a fixture)

ADDRESSES = ["-oann@example.test", "-rbob@example.test"]
SENT_OK = "Program Exiting[0 (ERROR_NONE)]\n"


def delivery(greeting_delay=0.0):
    """A relay that takes one message without authentication."""
    return [delay(greeting_delay), send("220 ready"), expect(b"HELO "), send("250 hi"),
            expect(b"MAIL FROM:<ann@example.test>"), send("250 ok"),
            expect(b"RCPT TO:<bob@example.test>"), send("250 ok"),
            expect(b"DATA"), send("354 go"), until_line(b"."), send("250 queued"),
            expect(b"QUIT"), send("221 bye")]


def body_file(tmp_path):
    (tmp_path / "body.txt").write_bytes(b"hello\r\n")
    return "-fbody.txt"


def assert_one_delivery(peer):
    assert peer.mismatches == []
    assert peer.received.count(b"\r\nDATA\r\n") == 1 and peer.received.endswith(b"QUIT\r\n")


@pytest.mark.skipif(WINE, reason="the Wine wrapper keeps the program's standard error open")
def test_closed_standard_error_keeps_the_trace_out_of_the_connection(velsend_bin, tmp_path):
    # The socket would be the lowest free descriptor: 2.
    with ScriptedPeer(delivery()) as peer:
        proc = subprocess.run(
            ["/bin/sh", "-c", 'exec "$0" "$@" 2>&-', velsend_bin, *ADDRESSES, "-sHi",
             f"-h127.0.0.1:{peer.port}", body_file(tmp_path)],
            stdin=subprocess.DEVNULL, capture_output=True, cwd=tmp_path, timeout=60)
    assert b"Connected to" not in peer.received
    assert_one_delivery(peer)
    assert proc.returncode == 0


@pytest.mark.skipif(WINE, reason="Windows has no SIGPIPE; the Wine wrapper fails on its own")
@pytest.mark.parametrize("quiet,lines_read", [(False, 1), (False, 0), (True, 0)],
                         ids=["trace, reader leaves after one line", "trace, no reader",
                              "quiet, no reader"])
def test_gone_reader_of_standard_error_keeps_the_status(velsend_bin, tmp_path, quiet,
                                                        lines_read):
    # As "velsend ... 2>&1 | head -1": the delayed greeting makes sure the
    # program writes again after the reader has gone.
    read_end, write_end = os.pipe()
    with ScriptedPeer(delivery(greeting_delay=0.5)) as peer:
        proc = subprocess.Popen(
            [velsend_bin, *ADDRESSES, "-sHi", f"-h127.0.0.1:{peer.port}", body_file(tmp_path),
             *(["-q"] if quiet else [])],
            stdin=subprocess.DEVNULL, stdout=write_end, stderr=write_end, cwd=tmp_path)
        os.close(write_end)
        seen = b""
        while seen.count(b"\n") < lines_read:
            chunk = os.read(read_end, 1)
            assert chunk, "the program ended before its first line"
            seen += chunk
        os.close(read_end)
        status = proc.wait(timeout=60)
    assert status == 0
    assert_one_delivery(peer)  # a retrying script would send it twice


# --- Addresses ---------------------------------------------------------------

def test_parameters_injected_through_the_originator_never_reach_postfix(velsend, postfix):
    entry = "ann@example.test> RET=HDRS ENVID=x"
    run = velsend(f"-o{entry}", "-rbob@example.test", "-sInjected",
                  f"-h127.0.0.1:{postfix.port}")
    # No trace line at all: the relay was not contacted.
    assert run.err == f"Invalid address {entry}\n" + status_line(1, "ERROR_NO_ORIGINATOR")
    assert run.status == 1


@pytest.mark.parametrize("switch,entry", [
    ("-r", "bob@example.test> NOTIFY=SUCCESS ORCPT=rfc822;x@y"),
    ("-r", "Bob <bob@example.test NOTIFY=NEVER>"),
    ("-c", "carl@example.test\t"),
    ("-c", "<carl<@example.test>"),
    ("-C", "eve@example.test\x1b[2K"),
    ("-C", "eve@example.test\x7f"),
])
def test_invalid_recipient_stops_before_connecting(velsend, switch, entry):
    args = {"-r": "bob@example.test", switch: f"{entry}"}
    with ScriptedPeer(delivery()) as peer:
        run = velsend("-oann@example.test", "-sHi", f"-h127.0.0.1:{peer.port}",
                      *(k + v for k, v in args.items()))
    assert run.err == f"Invalid address {entry}\n" + status_line(2, "ERROR_NO_RECIPIENTS")
    assert run.status == 2
    assert not peer.connected.is_set()


def test_reply_to_and_display_names_are_not_envelope_addresses(velsend, tmp_path):
    # Reply-To only reaches the header block, and a display name stays
    # outside the angle brackets: neither is held to the address rule.
    with ScriptedPeer(delivery()) as peer:
        run = velsend("-oAnn  Smith\t<ann@example.test>", "-rBob <bob@example.test>",
                      "-sHi", "-Rnot an <address>", f"-h127.0.0.1:{peer.port}",
                      body_file(tmp_path))
    assert run.status == 0, run.err
    assert_one_delivery(peer)
    assert b"\r\nReply-To: not an <address>\r\n" in peer.received


# --- Words that are not switches ---------------------------------------------

def unexpected(shown):
    return (f"Unexpected word {shown} (a switch's value is glued to its letter, as in -sSubject)\n"
            + USAGE)


@pytest.mark.parametrize("words,shown", [
    (["-f", "report.pdf"], "report.pdf"),
    pytest.param(["-f", "/srv/reports/q3.pdf"], "/srv/reports/q3.pdf",
                 marks=pytest.mark.skipif(WINE, reason="'/' starts a switch on Windows")),
    pytest.param(["/rcarl@example.test"], "/rcarl@example.test",
                 marks=pytest.mark.skipif(WINE, reason="'/' starts a switch on Windows")),
    (["-p", "hunter2"], "***"),
    (["-"], "-"),
    ([""], ""),
    (["-?", "stray"], "stray"),
])
def test_word_that_is_not_a_switch_stops_before_reading_or_connecting(velsend, words, shown):
    with ScriptedPeer(delivery()) as peer:
        run = velsend(*ADDRESSES, "-sHi", f"-h127.0.0.1:{peer.port}", "-f,", *words,
                      stdin=b"must not be read\n.\n")
    assert run.status == 11
    head, more_info = run.err[:len(unexpected(shown))], run.err[len(unexpected(shown)):]
    assert head == unexpected(shown)
    assert more_info.startswith("More Information: <")
    assert more_info.endswith(">\n\n" + status_line(11, "ERROR_INVALID_ARGUMENT"))
    assert "hunter2" not in run.err
    assert not peer.connected.is_set()


@pytest.mark.skipif(not WINE, reason="'/' starts a switch on Windows only")
def test_slash_switch_on_windows(velsend, tmp_path):
    with ScriptedPeer(delivery()) as peer:
        run = velsend("/oann@example.test", "/rbob@example.test", "/sHi",
                      f"/h127.0.0.1:{peer.port}", body_file(tmp_path).replace("-", "/", 1))
    assert run.status == 0, run.err
    assert_one_delivery(peer)
