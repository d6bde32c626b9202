"""CHUNKING (BDAT) end to end: a scripted relay that speaks BDAT and checks
the bytes (aiosmtpd does not offer CHUNKING), and a private Postfix over
STARTTLS with a recipient limit, which offers PIPELINING and CHUNKING."""
import re

import pytest

import mimecheck
from chunking_relay import ChunkingRelay
from tls_support import Pki
from test_pipelining import delivered_to_bob, sent_part

SENT_OK = "Connection Closed [0]\nProgram Exiting[0 (ERROR_NONE)]\n"
AUTH = ("-nann", "-psecret", "-mPLAIN")
STAMP = re.compile(rb"^(Date|Message-ID): .*\r\n", re.M)


def send(velsend, relay, tmp_path, subject, recipients="b@x,c@x,d@x", extra=(), files=True):
    args = ["-oa@x", f"-r{recipients}", f"-s{subject}", f"-h127.0.0.1:{relay.port}",
            "--timeout=10", *AUTH, *extra]
    if files:
        args.append(f"-f{mimecheck.write_files(tmp_path)}")
    return velsend(*args, stdin=mimecheck.TYPED, cwd=tmp_path, timeout=60)


# (relay offers PIPELINING, relay offers CHUNKING, --no-chunking): how the
# message goes.
MODES = [(True, True, False, "BDAT"), (False, True, False, "BDAT"), (True, False, False, "DATA"),
         (False, False, False, "DATA"), (True, True, True, "DATA")]


def test_every_mode_delivers_the_same_bytes(velsend, tmp_path):
    """Chunked or not, pipelined or not, the relay gets the same message,
    byte for byte but for its stamp, and it is whole."""
    delivered = {}
    for pipelining, chunking, off, via in MODES:
        mode = f"pipelining={pipelining} chunking={chunking} off={off}"
        with ChunkingRelay(pipelining=pipelining, chunking=chunking) as relay:
            run = velsend("-oAnn <ann@example.test>",
                          "-rBob <bob@example.test>,carl@example.test", "-cdora@example.test",
                          "-Ceve@example.test", "-sModes", f"-h127.0.0.1:{relay.port}",
                          "--timeout=10", *AUTH, *(("--no-chunking",) if off else ()),
                          f"-f{mimecheck.write_files(tmp_path)}", stdin=mimecheck.TYPED,
                          cwd=tmp_path)
        assert run.status == 0, mode + run.err[-3000:]
        assert run.err.endswith(SENT_OK), mode
        assert len(relay.messages) == 1, mode
        message = relay.messages[0]
        assert message.via == via, mode
        assert message.recipients == ["bob@example.test", "carl@example.test",
                                      "dora@example.test", "eve@example.test"]
        mimecheck.check_mime_message(message.data, "Modes")
        if via == "BDAT":
            # Small enough for one chunk: no dot-stuffing, no end marker.
            assert message.chunks == [len(message.data)], mode
            assert f"--> BDAT {len(message.data)} LAST\r\n" in run.err, mode
            assert "--> DATA" not in run.err and "<-- 354" not in run.err
        delivered[mode] = STAMP.sub(b"", message.data)
    assert len(set(delivered.values())) == 1


def test_large_message_goes_in_chunks_of_the_send_blocks(velsend, tmp_path):
    """A 3 MB file goes as several chunks, in order, the last one
    marked LAST, and arrives whole."""
    big = tmp_path / "big.bin"
    big.write_bytes(bytes(range(256)) * (3 * 1024 * 1024 // 256))
    for pipelining in (True, False):
        with ChunkingRelay(pipelining=pipelining) as relay:
            run = velsend("-oa@x", "-rb@x", "-sBig", f"-h127.0.0.1:{relay.port}", "--timeout=20",
                          *AUTH, "-fbig.bin", cwd=tmp_path, timeout=120)
        assert run.status == 0, run.err[-2000:]
        message = relay.messages[0]
        assert len(message.chunks) >= 10, message.chunks
        # The trace shows each chunk's BDAT line ahead of the lines it carries.
        shown = re.findall(r"^--> BDAT (\d+)( LAST)?\r?$", run.err, re.M)
        assert [int(size) for size, _ in shown] == message.chunks
        assert run.err.index("--> BDAT ") < run.err.index("--> From:")
        msg = mimecheck.parse(message.data)
        assert msg.get_payload(decode=True) == big.read_bytes()
        wire = bytes(relay.sessions[0].received)
        assert wire.count(b" LAST\r\n") == 1


@pytest.mark.parametrize("pipelining", [True, False], ids=["pipelined", "one-at-a-time"])
def test_refused_recipient_gets_no_chunk_and_nobody_the_message(velsend, tmp_path, pipelining):
    """The relay would deliver to the accepted recipients on BDAT LAST; the
    client sends no chunk at all once a recipient is refused."""
    with ChunkingRelay(pipelining=pipelining, refuse={"c@x"}) as relay:
        run = send(velsend, relay, tmp_path, "Refused")
    assert run.status == 7, run.err
    assert "Error sending to 127.0.0.1" in run.err
    assert relay.messages == []
    assert b"BDAT" not in relay.sessions[0].received


@pytest.mark.parametrize("chunking", [True, False], ids=["chunking", "data"])
def test_refused_auth_sent_ahead_fails_as_a_refused_login(velsend, tmp_path, chunking):
    """On a pipelining relay AUTH PLAIN goes with the envelope; refused, the
    run ends as a refused login always did, without a byte of the message."""
    with ChunkingRelay(chunking=chunking, refuse_auth=True) as relay:
        run = send(velsend, relay, tmp_path, "NoAuth")
    assert run.status == 9, run.err
    assert "Couldn't authenticate with 127.0.0.1\n" in run.err
    assert "Error sending" not in run.err
    wire = bytes(relay.sessions[0].received)
    assert wire.index(b"AUTH PLAIN") < wire.index(b"MAIL FROM")
    assert b"BDAT" not in wire and b"From:" not in wire
    assert relay.messages == []


@pytest.mark.parametrize("pipelining,chunk", [(False, 2), (True, 1), (True, 3)],
                         ids=["one-at-a-time-second", "pipelined-first", "pipelined-last"])
def test_refused_chunk_fails_as_a_refused_data_does(velsend, tmp_path, pipelining, chunk):
    big = tmp_path / "big.bin"
    big.write_bytes(b"\0" * 400 * 1024)  # about three chunks once encoded
    with ChunkingRelay(pipelining=pipelining, refuse_chunk=chunk) as relay:
        run = velsend("-oa@x", "-rb@x", "-sRefusedChunk", f"-h127.0.0.1:{relay.port}",
                      "--timeout=10", *AUTH, "-fbig.bin", cwd=tmp_path, timeout=60)
    assert run.status == 7, run.err[-2000:]
    assert "Error sending to 127.0.0.1\n" in run.err, run.err[-2000:]
    assert relay.messages == []
    if not pipelining:
        # Nothing follows a refused chunk: no LAST, so nothing to deliver.
        assert b" LAST\r\n" not in bytes(relay.sessions[0].received)


def test_recipient_limit_splits_chunked_transactions(velsend, tmp_path):
    recipients = [f"r{i}@x" for i in range(5)]
    with ChunkingRelay(limit=2) as relay:
        run = send(velsend, relay, tmp_path, "Split", recipients=",".join(recipients))
    assert run.status == 0, run.err
    assert [m.recipients for m in relay.messages] == [recipients[0:2], recipients[2:4],
                                                      recipients[4:5]]
    assert len({m.data for m in relay.messages}) == 1
    assert all(m.via == "BDAT" for m in relay.messages)


@pytest.mark.parametrize("recipients", [1, 10, 50])
@pytest.mark.parametrize("chunking", [True, False], ids=["chunking", "pipelining"])
def test_round_trips_with_authentication(velsend, tmp_path, recipients, chunking):
    """Counted by the relay: every batch of replies, the greeting included."""
    with ChunkingRelay(chunking=chunking) as relay:
        run = send(velsend, relay, tmp_path, "Trips",
                   recipients=",".join(f"r{i}@x" for i in range(recipients)), files=False)
    assert run.status == 0, run.err
    assert relay.sessions[0].rounds <= (4 if chunking else 5), run.err


# --- Postfix over STARTTLS: PIPELINING and CHUNKING offered ----------------

@pytest.fixture(scope="module")
def postfix(tmp_path_factory):
    from postfix_relay import running_postfix
    pki = Pki(tmp_path_factory.mktemp("pki"))
    relay_iter = running_postfix(tls=pki.files["valid"], password="secret",
                                 main_cf="smtpd_recipient_limit = 100\nrecipient_delimiter = +\n")
    for relay in relay_iter:
        relay.ca = pki.ca
        yield relay


@pytest.mark.parametrize("chunking", [True, False], ids=["bdat", "data"])
def test_postfix_250_recipients_in_three_chunked_transactions(velsend, postfix, tmp_path,
                                                              chunking):
    subject = f"Chunked to 250 {chunking}"
    recipients = [f"bob+c{chunking:d}{i}@example.test" for i in range(250)]
    run = velsend("-oann@example.test", "-r" + ",".join(recipients), f"-s{subject}",
                  f"-hlocalhost:{postfix.submission_port}", "--starttls",
                  f"--cacert={postfix.ca}", "-nann", "-psecret", "-mPLAIN",
                  *([] if chunking else ["--no-chunking"]),
                  f"-f{mimecheck.write_files(tmp_path)}", stdin=mimecheck.TYPED,
                  cwd=tmp_path, timeout=120)
    assert run.status == 0, run.err[-3000:] + postfix.log()[-2000:]
    assert run.err.endswith(SENT_OK)
    assert run.err.count("MAIL FROM:<ann@example.test>") == 3
    assert run.err.count(" LAST\r\n") == (3 if chunking else 0)
    assert run.err.count("--> DATA") == (0 if chunking else 3)
    found = delivered_to_bob(postfix, f"Subject: {subject}".encode(), 250)
    assert len(found) == 250
    assert len({sent_part(data) for data in found}) == 1


def test_progress_counts_the_chunked_message(velsend, tmp_path):
    """--progress and its total count the message as it goes: no
    dot-stuffing, no end marker, no BDAT lines."""
    with ChunkingRelay() as relay:
        run = send(velsend, relay, tmp_path, "Progress", extra=("--progress", "-q"))
    assert run.status == 0, run.err
    size = len(relay.messages[0].data)
    states = re.findall(r"Sent (\d+) of (\d+) bytes \((\d+)%\)", run.err)
    assert states, run.err
    assert states[-1][:3] == (str(size), str(size), "100"), (states, size)
