"""The delivered message passes a strict real MTA: a private Postfix instance
that rejects bare LF, wants clean envelopes and adds no Date or Message-ID of
its own, delivering to one Maildir per user."""
import re

import pytest

import mimecheck
from postfix_relay import DELIVERY_HEADERS, PostfixRelay, PostfixUnavailable, postfix_command

SENT_OK = "Connection Closed [0]\nProgram Exiting[0 (ERROR_NONE)]\n"

HEADER_NAMES = ["From", "To", "Cc", "Subject", "X-Mailer", "Date", "Message-ID"]


@pytest.fixture(scope="session")
def postfix():
    if not postfix_command():
        pytest.skip("Postfix is not installed; scripts/install-deps.sh test installs it")
    try:
        relay = PostfixRelay()
    except PostfixUnavailable as e:
        pytest.skip(str(e))
    try:
        yield relay.start()
    finally:
        relay.stop()


def split_delivery_headers(data):
    """(names of the fields the delivery added, the message as it was sent)."""
    head, body = data.split(b"\r\n\r\n", 1)
    added, kept = [], []
    current = None
    for line in head.split(b"\r\n"):
        if line[:1] in (b" ", b"\t"):
            current.append(line)
            continue
        name = line.split(b":", 1)[0].decode().lower()
        current = added if name in DELIVERY_HEADERS else kept
        current.append(line)
    names = [line.split(b":", 1)[0].decode().lower() for line in added if line[:1] not in (b" ", b"\t")]
    return names, b"\r\n".join(kept) + b"\r\n\r\n" + body


@pytest.mark.parametrize("mode", [[], ["-u"], ["-U"]], ids=["mime", "uuencode", "force-uuencode"])
def test_postfix_delivers_the_message_unaltered(velsend, postfix, tmp_path, mode):
    subject = f"Through Postfix {' '.join(mode) or 'mime'}"
    run = velsend("-oAnn <ann@example.test>", "-rBob <bob@example.test>,carl@example.test",
                  "-cdora@example.test", "-Ceve@example.test", f"-s{subject}",
                  f"-h127.0.0.1:{postfix.port}", *mode, f"-f{mimecheck.write_files(tmp_path)}",
                  stdin=mimecheck.TYPED, cwd=tmp_path)
    assert run.status == 0, run.err[-2000:] + postfix.log()[-2000:]
    assert run.err.endswith(SENT_OK)

    marker = f"Subject: {subject}".encode()
    delivered = {user: mimecheck.maildir_to_wire(postfix.wait_for_message(user, marker))
                 for user in ("bob", "carl", "dora", "eve")}
    added, sent = split_delivery_headers(delivered["bob"])
    assert "delivered-to" in added and "received" in added
    # Every recipient, the Bcc one included, got the same message.
    for user, data in delivered.items():
        assert split_delivery_headers(data)[1] == sent, user
        assert f"Delivered-To: {user}@example.test".encode() in data

    if mode:
        msg = mimecheck.check_uuencoded_message(sent, subject, forced=mode == ["-U"])
        expected = HEADER_NAMES + ["Encoding"]
    else:
        msg = mimecheck.check_mime_message(sent, subject)
        expected = HEADER_NAMES + ["MIME-Version", "Content-Type"]
    # Nothing was added or repaired on our behalf: the fields are the ones
    # the program sent, with the values its trace shows.
    assert sorted(msg.keys()) == sorted(expected)
    for field in ("Date", "Message-ID"):
        traced = re.search(rf"--> {field}: (.*)\r\n", run.err)
        assert traced and msg[field] == traced.group(1), field
