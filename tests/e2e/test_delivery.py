"""Delivery end to end: the built program sends files of every kind to an
aiosmtpd relay, and what arrived is decoded by Python's own parser."""
import pytest

import mimecheck
from mimecheck import FILES, TYPED, canonical_text
from peers import relay as aiosmtpd_relay

SENT_OK = "Connection Closed [0]\nProgram Exiting[0 (ERROR_NONE)]\n"


@pytest.fixture(scope="module")
def relay():
    with aiosmtpd_relay() as server:
        yield server


def find(relay, subject):
    """The one stored message whose Subject field starts with subject."""
    marker = b"Subject: " + subject.encode()
    found = [m for m in relay.messages if marker in m.data]
    assert len(found) == 1, f"{len(found)} messages with {marker!r}"
    return found[0]


def send(velsend, relay, tmp_path, subject, *extra, files="", stdin=TYPED):
    args = ["-oAnn <ann@example.test>", "-rBob <bob@example.test>,carl@example.test",
            "-cdora@example.test", "-Ceve@example.test", f"-s{subject}",
            f"-h127.0.0.1:{relay.port}", *extra]
    if files:
        args.append(f"-f{files}")
    run = velsend(*args, stdin=stdin, cwd=tmp_path)
    assert run.status == 0, run.err
    assert run.err.endswith(SENT_OK), run.err[-400:]
    return run, find(relay, subject.splitlines()[0])


@pytest.mark.memcheck
@pytest.mark.parametrize("mode", [[], ["-u"], ["-U"]], ids=["mime", "uuencode", "force-uuencode"])
def test_every_kind_of_file_arrives_intact(velsend, relay, tmp_path, mode):
    subject = f"Files {' '.join(mode) or 'mime'}"
    run, message = send(velsend, relay, tmp_path, subject, *mode, files=mimecheck.write_files(tmp_path))
    assert message.mail_from == "ann@example.test"
    # Bcc travels in the envelope only.
    assert message.rcpt_tos == ["bob@example.test", "carl@example.test",
                                 "dora@example.test", "eve@example.test"]
    assert b"eve@" not in message.data
    assert run.err.startswith("Type Message, end with .<CR>\n")
    if mode:
        mimecheck.check_uuencoded_message(message.data, subject, forced=mode == ["-U"])
        assert "Warning: +blob.bin,'+' ignored on non MIME message\n" in run.err
        assert "Warning: #nofinal.txt,'#' ignored on non MIME message\n" in run.err
    else:
        mimecheck.check_mime_message(message.data, subject)
        assert "Warning" not in run.err


@pytest.mark.parametrize("name", ["blob.bin", "latin.txt"])
def test_single_file_is_the_message_body(velsend, relay, tmp_path, name):
    content = FILES[name][0]
    (tmp_path / name).write_bytes(content)
    subject = f"Single {name}"
    _, message = send(velsend, relay, tmp_path, subject, files="+" + name, stdin=b"")
    mimecheck.check_line_ends(message.data)
    msg = mimecheck.parse(message.data)
    mimecheck.check_common_headers(msg, subject)
    assert not msg.is_multipart()
    assert msg.get_filename() == name and msg.get_content_disposition() == "attachment"
    assert b"Section Boundry" not in message.data
    decoded = msg.get_payload(decode=True)
    if msg.get_content_maintype() == "text":
        # The empty line that ends a lone part belongs to the body.
        assert decoded == canonical_text(content) + b"\r\n"
    else:
        assert decoded == content


def test_typed_text_alone(velsend, relay, tmp_path):
    subject = "Typed only"
    _, message = send(velsend, relay, tmp_path, subject, files=",")
    msg = mimecheck.parse(message.data)
    assert msg["Content-Transfer-Encoding"] == "quoted-printable"
    assert msg.get_content_type() == "text/plain"
    assert msg.get_payload(decode=True) == canonical_text(mimecheck.TYPED_TEXT) + b"\r\n"
    assert b"after the end marker" not in message.data


def test_line_breaks_in_values_cannot_add_header_fields(velsend, relay, tmp_path):
    subject = "Injected\r\nX-Injected: subject"
    _, message = send(velsend, relay, tmp_path, subject, "-RReply <r@example.test>\nX-Injected: reply",
                       files=",")
    mimecheck.check_line_ends(message.data)
    msg = mimecheck.parse(message.data)
    assert msg["X-Injected"] is None
    assert msg["Subject"].startswith("Injected")
    assert msg["Reply-To"].startswith("Reply")
