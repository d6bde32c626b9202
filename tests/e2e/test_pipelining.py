"""PIPELINING and recipient limits against real relays: a private Postfix
that caps each transaction at 100 recipients (smtpd_recipient_limit) and
offers PIPELINING, and a scripted relay that checks the grouping."""
import time

import pytest

import mimecheck
from peers import ScriptedPeer
from postfix_relay import running_postfix

SENT_OK = "Connection Closed [0]\nProgram Exiting[0 (ERROR_NONE)]\n"


@pytest.fixture(scope="module")
def postfix():
    # bob+N@ all land in bob's Maildir, one file per recipient.
    yield from running_postfix(main_cf="smtpd_recipient_limit = 100\nrecipient_delimiter = +\n")


def delivered_to_bob(postfix, marker, count, timeout=30):
    new = postfix.maildir("bob") / "new"
    deadline = time.monotonic() + timeout
    found = []
    while time.monotonic() < deadline:
        found = [f.read_bytes() for f in new.iterdir()] if new.is_dir() else []
        found = [data for data in found if marker in data]
        if len(found) >= count:
            break
        time.sleep(0.1)
    return found


def sent_part(data):
    """The message as the client sent it: the delivery's own fields dropped."""
    wire = mimecheck.maildir_to_wire(data)
    assert b"\r\n\r\n" in wire, data[:3000]
    head, body = wire.split(b"\r\n\r\n", 1)
    kept = [line for line in head.split(b"\r\n")
            if line.split(b":", 1)[0].lower() not in
            (b"return-path", b"delivered-to", b"x-original-to", b"received")
            and not line[:1] in (b" ", b"\t")]
    return b"\r\n".join(kept), body


@pytest.mark.parametrize("limit", [None, 60], ids=["relay-limit", "max-recipients"])
def test_postfix_limit_splits_into_transactions_all_delivered(velsend, postfix, limit, tmp_path):
    subject = f"Two hundred and fifty {limit}"
    recipients = [f"bob+{i}@example.test" for i in range(250)]
    options = [f"--max-recipients={limit}"] if limit else []
    run = velsend("-oann@example.test", "-r" + ",".join(recipients), f"-s{subject}",
                  f"-h127.0.0.1:{postfix.port}", *options,
                  f"-f{mimecheck.write_files(tmp_path)}", stdin=mimecheck.TYPED,
                  cwd=tmp_path, timeout=120)
    assert run.status == 0, run.err[-3000:] + postfix.log()[-2000:]
    assert run.err.endswith(SENT_OK)
    transactions = 3 if limit is None else 5
    assert run.err.count("MAIL FROM:<ann@example.test>") == transactions
    assert run.err.count("--> DATA") == transactions
    if limit is None:
        # Asked one at a time, the recipients after the first 452 wait for
        # the next transaction without being asked in this one.
        assert run.err.count("<-- 452") == 2, run.err[-3000:]

    found = delivered_to_bob(postfix, f"Subject: {subject}".encode(), 250)
    assert len(found) == 250
    # One message, byte for byte, for every recipient: the same Date and
    # Message-ID in every transaction.
    assert len({sent_part(data) for data in found}) == 1
    originals = {line for data in found for line in data.split(b"\n")
                 if line.startswith(b"X-Original-To:")}
    assert len(originals) == 250


def test_postfix_refused_recipient_delivers_nothing_to_anyone(velsend, postfix):
    subject = "Refused among many"
    recipients = [f"bob+r{i}@example.test" for i in range(5)]
    recipients.insert(3, "nobody@example.test")
    run = velsend("-oann@example.test", "-r" + ",".join(recipients), f"-s{subject}",
                  f"-h127.0.0.1:{postfix.port}", stdin=b"Never delivered.\r\n")
    assert run.status == 7, run.err[-2000:]
    assert "Error sending to 127.0.0.1" in run.err
    assert "--> DATA" not in run.err
    assert delivered_to_bob(postfix, f"Subject: {subject}".encode(), 1, timeout=3) == []


def test_pipelined_envelope_is_one_group_on_the_wire(velsend):
    """MAIL, the three RCPTs and DATA reach the relay before any reply to
    them is sent; the message only after the 354."""
    steps = [("send", b"220 ready\r\n"), ("expect", b"EHLO "),
             ("send", b"250-relay\r\n250-PIPELINING\r\n250 AUTH PLAIN\r\n"),
             ("expect", b"AUTH PLAIN"), ("send", b"235 ok\r\n"),
             ("expect", b"MAIL FROM:"), ("expect", b"RCPT TO:<b@x>"),
             ("expect", b"RCPT TO:<c@x>"), ("expect", b"RCPT TO:<d@x>"), ("expect", b"DATA"),
             ("send", b"250 ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n"),
             ("until_line", b"."),
             ("send", b"250 queued\r\n"), ("expect", b"QUIT"), ("send", b"221 bye\r\n")]
    with ScriptedPeer(steps) as peer:
        run = velsend("-oa@x", "-rb@x,c@x,d@x", "-nann", "-psecret", "-mPLAIN", "-sGrouped", "--timeout=5",
                      f"-h127.0.0.1:{peer.port}", stdin=b"body\r\n", timeout=30)
    assert run.status == 0, run.err
    assert peer.mismatches == []


def test_dry_run_shows_one_mail_line_per_transaction(velsend, tmp_path):
    run = velsend("-oa@x", "-rb@x,c@x,d@x", "-ce@x", "-Cf@x", "-sSplit", "--max-recipients=2",
                  "--dry-run", f"-f{mimecheck.write_files(tmp_path)}", stdin=mimecheck.TYPED,
                  cwd=tmp_path)
    assert run.status == 0, run.err
    assert run.err.endswith("MAIL FROM:<a@x>\nRCPT TO:<b@x>\nRCPT TO:<c@x>\n"
                            "MAIL FROM:<a@x>\nRCPT TO:<d@x>\nRCPT TO:<e@x>\n"
                            "MAIL FROM:<a@x>\nRCPT TO:<f@x>\n"
                            "Program Exiting[0 (ERROR_NONE)]\n"), run.err


@pytest.mark.parametrize("value", ["0", "-1", "x", "1000001", ""])
def test_max_recipients_refuses_what_is_not_a_count(velsend, value):
    run = velsend("-oa@x", "-rb@x", "-sS", "-h127.0.0.1:1", f"--max-recipients={value}")
    assert run.status == 11, run.err
    assert "--max-recipients" in run.err


def test_pipelined_refused_recipient_never_ends_the_data(velsend):
    """The relay answers DATA with 354 after refusing a recipient: the client
    closes without a byte of data, so nothing, not even an empty message,
    can be delivered."""
    steps = [("send", b"220 ready\r\n"), ("expect", b"EHLO "),
             ("send", b"250-relay\r\n250-PIPELINING\r\n250 AUTH PLAIN\r\n"),
             ("expect", b"AUTH PLAIN"), ("send", b"235 ok\r\n"),
             ("expect", b"MAIL FROM:"), ("expect", b"RCPT TO:<b@x>"),
             ("expect", b"RCPT TO:<c@x>"), ("expect", b"DATA"),
             ("send", b"250 ok\r\n250 ok\r\n550 no such user\r\n354 go\r\n")]
    with ScriptedPeer(steps) as peer:
        run = velsend("-oa@x", "-rb@x,c@x", "-nann", "-psecret", "-mPLAIN", "-sRefused",
                      "--timeout=5", f"-h127.0.0.1:{peer.port}", stdin=b"body\r\n", timeout=30)
    assert run.status == 7, run.err
    assert "Error sending to 127.0.0.1" in run.err
    assert peer.received.endswith(b"DATA\r\n"), peer.received[-200:]
    assert peer.mismatches == []
