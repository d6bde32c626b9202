"""Reads delivered messages back with Python's own parser and checks that every
body source arrived intact, independently of how the program encoded it."""
import binascii
import email
import email.policy
import email.utils
import random
import re
from datetime import datetime, timezone

CRLF = b"\r\n"

# The message text typed on standard input: LF line ends, "=" and bytes above
# 0x7F that must be escaped, a line too long for one quoted-printable line,
# lines starting with "." that are not the end marker, and text after the
# end marker that must not be sent.
TYPED = (b"Hello Bob,\n"
         b"a=b costs 5 \xe2\x82\xac\n"
         b"." + b"long" * 40 + b"\n"
         b"..two dots\n"
         b". dot and blank\n"
         b"trailing blank \n"
         b"\n"
         b"last line\n"
         b".\n"
         b"after the end marker\n")
TYPED_TEXT = TYPED[:TYPED.index(b"\n.\n") + 1]


def _random_bytes(size, seed):
    return random.Random(seed).randbytes(size)


# name -> (content, transfer encoding in a MIME message, Encoding type with -u).
# None: decided by the content type the system registers for the extension.
# 90014 bytes end in a 14-byte uuencode line, whose length character is ".".
FILES = {
    "blob.bin": (_random_bytes(90014, 1), "base64", "UUENCODE"),
    "tiny.bin": (bytes(range(0, 256, 3)), "base64", "UUENCODE"),
    "lf.txt": (b"first line\nsecond line\n\nfourth line\n", "7bit", "TEXT"),
    "crlf.txt": (b"first line\r\nsecond line\r\n\r\nfourth line\r\n", "7bit", "TEXT"),
    "latin.txt": (b"Caf\xe9 cr\xe8me\nna\xefve r\xe9sum\xe9\nplain\n", "quoted-printable", "UUENCODE"),
    "dots.txt": (b".\n..\n.hidden\nmiddle . line\n. \n...\n", "7bit", "TEXT"),
    "empty.txt": (b"", "7bit", "TEXT"),
    "nofinal.txt": (b"one\ntwo\nno final break", "7bit", "TEXT"),
    "run.sh": (b"#!/bin/sh\nset -e\necho \"sum: $((1 + 2))\" > /dev/null\n.\nexit 0\n", None, "TEXT"),
}

# The -f entries: the typed text first, then every file, most as attachments,
# one inline under its name, one inline without a name.
MARKERS = {"nofinal.txt": "#", "run.sh": ""}


def write_files(directory):
    for name, (content, _, _) in FILES.items():
        (directory / name).write_bytes(content)
    return "," + ",".join(MARKERS.get(name, "+") + name for name in FILES)


def canonical_text(data, final_break=True):
    """data with every CR LF, lone CR and lone LF made CR LF; with
    final_break, a last line without a break gets one."""
    lines = re.split(rb"\r\n|\r|\n", data)
    ended = lines[-1] == b""
    if ended:
        lines.pop()
    text = CRLF.join(lines)
    if lines and (ended or final_break):
        text += CRLF
    return text


def check_line_ends(raw):
    """Every line of the message ends with CR LF and fits SMTP's limit."""
    assert raw.endswith(CRLF), raw[-40:]
    for number, line in enumerate(raw[:-2].split(CRLF), 1):
        assert b"\r" not in line and b"\n" not in line, f"bare CR or LF in line {number}: {line[:80]!r}"
        assert len(line) <= 998, f"line {number} is {len(line)} bytes long"


def parse(raw):
    return email.message_from_bytes(raw, policy=email.policy.default)


def maildir_to_wire(data):
    """A Maildir file stores LF line ends; the message on the wire had CR LF."""
    return data.replace(b"\n", CRLF)


def check_common_headers(msg, subject):
    """The fields every message carries, whichever its mode."""
    name, address = email.utils.parseaddr(msg["From"])
    assert (name.strip(), address) == ("Ann", "ann@example.test")
    assert [a for _, a in email.utils.getaddresses(msg.get_all("To"))] == [
        "bob@example.test", "carl@example.test"]
    assert [a for _, a in email.utils.getaddresses(msg.get_all("Cc"))] == ["dora@example.test"]
    assert msg["Bcc"] is None
    assert msg["Subject"] == subject
    assert msg["X-Mailer"] == "Tarnvale SMTP Class"
    assert msg["Date"] and msg["Message-ID"], "Date or Message-ID missing"
    date = email.utils.parsedate_to_datetime(msg["Date"])
    assert date.tzinfo is not None
    assert abs((datetime.now(timezone.utc) - date).total_seconds()) < 600, msg["Date"]
    assert re.fullmatch(r"<[^<>@\s]+@[^<>@\s]+>", msg["Message-ID"]), msg["Message-ID"]
    for field in ("From", "To", "Cc", "Subject", "X-Mailer", "Date", "Message-ID", "Bcc"):
        assert len(msg.get_all(field, [])) <= 1, f"{field} appears more than once"


def check_encoded_line_lengths(part, name):
    """Quoted-printable and base64 lines hold at most 76 characters."""
    if part["Content-Transfer-Encoding"] in ("quoted-printable", "base64"):
        for line in part.get_payload(decode=False).splitlines():
            assert len(line) <= 76, f"{name}: {len(line)} characters in {line[:20]!r}..."


def check_mime_message(raw, subject):
    """A MIME message: the typed text first, then one part per file."""
    check_line_ends(raw)
    msg = parse(raw)
    check_common_headers(msg, subject)
    assert msg["MIME-Version"] == "1.0"
    assert msg.get_content_type() == "multipart/mixed"
    parts = list(msg.iter_parts())
    assert len(parts) == 1 + len(FILES)

    text = parts[0]
    assert text.get_content_type() == "text/plain"
    assert text["Content-Transfer-Encoding"] == "quoted-printable"
    assert text.get_content_disposition() == "inline" and text.get_filename() is None
    check_encoded_line_lengths(text, "message text")
    assert text.get_payload(decode=True) == canonical_text(TYPED_TEXT)

    for part, (name, (content, encoding, _)) in zip(parts[1:], FILES.items()):
        marker = MARKERS.get(name, "+")
        assert part.get_content_disposition() == ("attachment" if marker == "+" else "inline"), name
        assert part.get_filename() == (name if marker else None), name
        cte = part["Content-Transfer-Encoding"]
        check_encoded_line_lengths(part, name)
        decoded = part.get_payload(decode=True)
        if part.get_content_maintype() == "text":
            assert encoding in (None, cte), f"{name} sent as {cte}"
            assert part.get_param("charset") is not None, name
        else:
            assert name.endswith((".bin", ".sh")), f"{name} typed {part.get_content_type()}"
            assert cte == "base64", f"{name} sent as {cte}"
        if cte == "base64":
            assert decoded == content, name
        else:
            # A last line without a break is ended by the delimiter's CR LF,
            # which belongs to the delimiter (quoted-printable by a soft break).
            assert decoded == canonical_text(content, final_break=False), name
    for name in ("lf.txt", "crlf.txt", "latin.txt", "dots.txt", "empty.txt", "nofinal.txt"):
        assert parts[1 + list(FILES).index(name)].get_content_type() == "text/plain", name
    return msg


def split_encoded_body(raw):
    """Splits a message without MIME into the body parts its RFC 1154
    Encoding field counts: a list of (type word, lines), the uuencoded ones
    with their begin and end lines."""
    head, body = raw.split(CRLF + CRLF, 1)
    msg = parse(head + CRLF + CRLF)
    items = [item.strip().split(" ") for item in msg["Encoding"].split(",") if item.strip()]
    lines = body.split(CRLF)
    parts = []
    position = 0
    for count, word in items:
        chunk = lines[position:position + int(count)]
        assert len(chunk) == int(count), f"body ends inside the {word} part"
        position += int(count)
        assert lines[position] == b"", f"no empty line after the {word} part"
        position += 1
        parts.append((word, chunk))
    assert all(line == b"" for line in lines[position:]), lines[position:position + 3]
    return msg, parts


def uudecode(lines):
    """The bytes of a uuencoded block, framed by "begin 644 name" and "end";
    returns (name, bytes)."""
    match = re.fullmatch(rb"begin 644 (.+)", lines[0])
    assert match, lines[0]
    assert lines[-1] == b"end"
    return match.group(1).decode("latin-1"), b"".join(binascii.a2b_uu(line) for line in lines[1:-1])


def check_uuencoded_message(raw, subject, forced):
    """A message without MIME (-u, or -U when forced)."""
    check_line_ends(raw)
    msg, parts = split_encoded_body(raw)
    check_common_headers(msg, subject)
    assert msg["MIME-Version"] is None and msg["Content-Type"] is None
    assert len(parts) == 1 + len(FILES)

    word, lines = parts[0]
    assert word == "TEXT"
    # The typed text is quoted-printable in this mode too.
    assert all(len(line) <= 76 for line in lines)
    assert binascii.a2b_qp(CRLF.join(lines) + CRLF) == canonical_text(TYPED_TEXT)

    for (word, lines), (name, (content, _, plain_word)) in zip(parts[1:], FILES.items()):
        expected_word = "UUENCODE" if forced else plain_word
        assert word == expected_word, f"{name} counted as {word}"
        if word == "UUENCODE":
            begin_name, decoded = uudecode(lines)
            assert begin_name == (name if MARKERS.get(name, "+") else "noname")
            assert decoded == content, name
        else:
            # Text files keep their lines; each ends with CR LF, the last too.
            received = CRLF.join(lines) + CRLF if lines else b""
            assert received == canonical_text(content), name
    return msg
