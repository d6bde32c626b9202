"""Message composition where it once went wrong: attached messages, standard
input inherited in non-blocking mode, locales outside the charset table and
attachment names that carried the sender's directories."""
import os
import shutil
import subprocess
import time

import pytest

import mimecheck
from conftest import WINE
from peers import relay as aiosmtpd_relay
from test_postfix import postfix  # noqa: F401 (the fixture)

SENT_OK = "Connection Closed [0]\nProgram Exiting[0 (ERROR_NONE)]\n"

INNER = (b"From: Dora <dora@example.test>\n"
         b"To: Bob <bob@example.test>\n"
         b"Subject: The inner message\n"
         b"\n"
         b"Forwarded as it was.\n"
         b".\n"
         b"Last line\n")


@pytest.fixture(scope="module")
def relay():
    with aiosmtpd_relay() as server:
        yield server


def envelope(subject, port):
    return ["-oAnn <ann@example.test>", "-rbob@example.test", f"-s{subject}", f"-h127.0.0.1:{port}"]


def received(relay, subject):
    marker = f"Subject: {subject}\r\n".encode()
    found = [m.data for m in relay.messages if marker in m.data]
    assert len(found) == 1, f"{len(found)} messages with {marker!r}"
    return found[0]


def only_part(msg, name):
    parts = [p for p in msg.iter_parts() if p.get_filename() == name]
    assert len(parts) == 1, [p.get_filename() for p in msg.iter_parts()]
    return parts[0]


# A message or multipart body may not be base64: strict Postfix refuses such
# a mail, and readers see no inner message in it.
@pytest.mark.parametrize("name,content,sent_as", [
    ("inner.eml", INNER, "message"),
    ("latin.eml", INNER.replace(b"as it was", b"caf\xe9 cr\xe8me"), "octets"),
], ids=["7bit", "8bit"])
def test_attached_message_passes_strict_mime_checks(velsend, postfix, tmp_path,  # noqa: F811
                                                     name, content, sent_as):
    (tmp_path / name).write_bytes(content)
    subject = f"Attached {name}"
    run = velsend(*envelope(subject, postfix.port), f"-f,+{name}", stdin=b"See attached.\n.\n")
    assert run.status == 0, run.err[-2000:] + postfix.log()[-2000:]
    assert run.err.endswith(SENT_OK)

    raw = mimecheck.maildir_to_wire(postfix.wait_for_message("bob", f"Subject: {subject}".encode()))
    mimecheck.check_line_ends(raw)
    part = only_part(mimecheck.parse(raw), name)
    assert part.get_content_disposition() == "attachment"
    if sent_as == "message":
        assert part.get_content_type() == "message/rfc822"
        assert part["Content-Transfer-Encoding"] == "7bit"
        inner = part.get_payload()[0]
        assert inner["Subject"] == "The inner message"
        assert inner.get_content().replace("\r\n", "\n") == "Forwarded as it was.\n.\nLast line\n"
    else:
        assert part.get_content_type() == "application/octet-stream"
        assert part["Content-Transfer-Encoding"] == "base64"
        assert part.get_payload(decode=True) == content


@pytest.mark.skipif(WINE, reason="a non-blocking pipe is a POSIX descriptor's mode")
def test_text_in_pieces_on_a_non_blocking_input_posix(velsend_bin, relay, tmp_path):
    subject = "Non-blocking input"
    read_end, write_end = os.pipe()
    os.set_blocking(read_end, False)
    err = tmp_path / "stderr.txt"
    with open(err, "wb") as err_file:
        proc = subprocess.Popen([velsend_bin, *envelope(subject, relay.port), "-f,"], cwd=tmp_path,
                                stdin=read_end, stdout=subprocess.DEVNULL, stderr=err_file)
    os.close(read_end)
    try:
        for piece in (b"first piece\n", b"second ", b"piece\n", b".\n"):
            time.sleep(0.3)  # the program finds nothing waiting in between
            os.write(write_end, piece)
        status = proc.wait(timeout=30)
    finally:
        os.close(write_end)
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    assert status == 0, err.read_text(errors="replace")
    msg = mimecheck.parse(received(relay, subject))
    # The empty line that ends a lone part belongs to the body.
    assert msg.get_content().replace("\r\n", "\n") == "first piece\nsecond piece\n\n"


@pytest.fixture(scope="module")
def latin9_locale(tmp_path_factory):
    """LOCPATH of a compiled de_DE.ISO-8859-15 locale, whose code page has no
    row in the charset table."""
    if not shutil.which("localedef"):
        pytest.skip("localedef is not installed")
    path = tmp_path_factory.mktemp("locales")
    build = subprocess.run(["localedef", "-i", "de_DE", "-f", "ISO-8859-15",
                            str(path / "de_DE.ISO-8859-15")], capture_output=True)
    if not (path / "de_DE.ISO-8859-15").is_dir():
        pytest.skip(f"cannot compile de_DE.ISO-8859-15: {build.stderr[-300:]!r}")
    return str(path)


@pytest.mark.skipif(WINE, reason="the Windows program takes its charset from the code page")
def test_locale_outside_the_table_names_its_own_charset_posix(velsend, relay, latin9_locale):
    subject = "Latin-9 locale"
    run = velsend(*envelope(subject, relay.port), "-f,",
                  stdin="Preis: 5 \u20ac\n.\n".encode("iso-8859-15"),
                  env={"LOCPATH": latin9_locale, "LC_ALL": "de_DE.ISO-8859-15"})
    assert run.status == 0, run.err
    msg = mimecheck.parse(received(relay, subject))
    assert msg.get_content_charset() == "iso-8859-15"
    assert msg.get_content() == "Preis: 5 \u20ac\r\n\r\n"


@pytest.mark.parametrize("number,entry,name", [
    (1, "+sub/q3.pdf", "q3.pdf"),
    (2, "+{tmp}/sub/q3.pdf", "q3.pdf"),
    pytest.param(3, "#odd\\name.txt", "odd\\name.txt",
                 marks=pytest.mark.skipif(WINE, reason="a Windows name holds no backslash")),
])
def test_attachment_name_leaves_the_directories_out(velsend, relay, tmp_path, number, entry, name):
    (tmp_path / "sub").mkdir()
    (tmp_path / "sub" / "q3.pdf").write_bytes(b"%PDF-1.4\n")
    if not WINE:
        (tmp_path / "odd\\name.txt").write_bytes(b"text\n")
    subject = f"Attachment name {number}"
    run = velsend(*envelope(subject, relay.port), "-f" + entry.format(tmp=tmp_path))
    assert run.status == 0, run.err
    data = received(relay, subject)
    part = mimecheck.parse(data)
    assert part.get_param("name") == name
    assert part.get_filename() == name
    assert b"sub/" not in data and str(tmp_path).encode() not in data
