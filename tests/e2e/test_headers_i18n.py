"""Headers in any language and of any length, read back by Python's own
parser under its default and strict policies: subjects and display names
come back exactly, file names through get_filename(), no header line is
over 998 characters, and none over 78 where a blank allows a break."""
import email
import email.errors
import re
import email.policy
import os

import pytest

from conftest import WINE
from mimecheck import CRLF, canonical_text, check_line_ends
from peers import relay as aiosmtpd_relay
from test_postfix import postfix  # noqa: F401 (the shared Postfix fixture)


def typed(text, charset):
    """A command-line word as the user's system passes it: the Linux program
    gets the bytes of its locale's charset; the Windows program gets Unicode
    and writes it in the charset -l names."""
    return text.encode("utf-8" if WINE else charset)


def on_disk(text, charset):
    """A file name as the file system holds it (Wine stores Unicode names
    as UTF-8)."""
    return text.encode("utf-8" if WINE else charset)

SENT_OK = "Connection Closed [0]\nProgram Exiting[0 (ERROR_NONE)]\n"
POLICIES = [email.policy.default, email.policy.strict]

# (id, charset given with -l, subject, originator display name); text is
# given as str and sent in the charset.
SUBJECTS = [
    ("german", "UTF-8", "Bericht für März – ✓", "Jürgen Müller"),
    ("french", "UTF-8", "Réunion à l'école : ça avance, déjà vu", "Émilie Bérénice"),
    ("greek", "UTF-8", "Καλημέρα κόσμε, ελληνικό θέμα", "Αλέξανδρος Παπαδόπουλος"),
    ("japanese", "UTF-8", "日本語の件名です。会議の資料を送ります", "山田 太郎"),
    ("shift-jis", "shift_jis", "日本語の件名（シフトJIS）" * 6, "山田 太郎"),
    ("euc-jp", "EUC-JP", "日本語の件名（EUC）" * 6, "鈴木 花子"),
    ("emoji", "UTF-8", "Party 🎉🎂 at 8 👍" * 5, "Zoë 😀"),
    ("long", "UTF-8", " ".join(f"wörd{i}" for i in range(300)), "Ann"),
    ("one-word", "UTF-8", "x" * 1500, "Ann"),
    ("blanks", "UTF-8", "  leading, double  blanks  and trailing ü  ", "Ann"),
    ("ascii-long", "UTF-8", " ".join(["Quarterly report"] * 30), "Ann"),
    ("comma-quote", "UTF-8", "Re: \"quoted\" ü", 'Smith, John "JJ" Q. \\ Jr.'),
    ("encoded-look", "UTF-8", "=?UTF-8?Q?x?= café", "=?x?q?y?= Bär"),
    ("empty", "UTF-8", "", "Jürgen"),
    # Control bytes would reach a terminal or a parser raw.
    ("controls", "UTF-8", "bell\x07 and \x1b[31mred\x1b[0m", "Ann\x1b]0;x\x07 Lee"),
    ("iso-2022-jp", "ISO-2022-JP", "日本語の件名です", "山田 太郎"),
]


@pytest.fixture(scope="module")
def relay():
    with aiosmtpd_relay() as server:
        yield server


def header_lines(raw):
    head = raw.split(CRLF + CRLF, 1)[0]
    return head.split(CRLF)


def check_header_block(raw):
    """No line over 998; a line over 78 only when it has no blank to break at."""
    check_line_ends(raw)
    for line in header_lines(raw):
        assert len(line) <= 998, len(line)
        if len(line) > 78:
            assert b" " not in line.strip(b" \t")[:78].rstrip(b";"), line[:100]


def to_name(name):
    """-r splits its value at commas: the To name is the one without them."""
    return name.replace(",", "")


def run_to(velsend, port, tmp_path, marker, charset, subject, name, files=None, extra=()):
    args = [typed(f"-o{name} <ann@example.test>", charset),
            typed(f"-r{to_name(name)} <bob@example.test>", charset), typed(f"-s{subject}", charset), f"-R{marker}@example.test".encode(), f"-l{charset}".encode(),
            f"-h127.0.0.1:{port}".encode(), *extra]
    if files:
        args.append(b"-f" + files)
    run = velsend(*args, cwd=tmp_path)
    assert run.status == 0, run.err[-2000:]
    assert run.err.endswith(SENT_OK)
    return run


def stored(relay, marker):
    found = [m.data for m in relay.messages if f"{marker}@example.test".encode() in m.data]
    assert len(found) == 1
    return found[0]


def check_round_trip(raw, charset, subject, name):
    check_header_block(raw)
    # Encoded, a control byte never stands raw in the header; Python still
    # flags it once it has decoded an address's display name.
    head = raw.split(CRLF + CRLF, 1)[0].replace(CRLF, b"")
    assert not re.search(rb"[\x00-\x08\x0a-\x1f\x7f]", head)
    name_defects = (email.errors.NonPrintableDefect,) if re.search(r"[\x00-\x1f]", name) else ()
    for policy in POLICIES:
        msg = email.message_from_bytes(raw, policy=policy)
        assert not msg.defects
        if not subject:
            assert msg["Subject"] is None  # an empty subject writes no field
        else:
            assert msg["Subject"] == subject
            assert not msg["Subject"].defects
        for field, expected in (("From", name), ("To", to_name(name))):
            header = msg[field]
            assert all(isinstance(d, name_defects) for d in header.defects), (field, header.defects)
            assert [a.display_name for a in header.addresses] == [expected], field


@pytest.mark.parametrize("case", [
    pytest.param(*[c], marks=pytest.mark.skipif(
        WINE and c[1] == "ISO-2022-JP", reason="Wine has no ISO-2022-JP code page"))
    for c in SUBJECTS], ids=[c[0] for c in SUBJECTS])
@pytest.mark.parametrize("mode", [[], [b"-u"]], ids=["mime", "uuencode"])
def test_subjects_and_names_come_back_exactly(velsend, relay, tmp_path, case, mode):
    key, charset, subject, name = case
    marker = f"{key}-{len(mode)}"
    run_to(velsend, relay.port, tmp_path, marker, charset, subject, name, extra=mode)
    check_round_trip(stored(relay, marker), charset, subject, name)


def test_short_ascii_headers_keep_their_bytes(velsend, relay, tmp_path):
    run_to(velsend, relay.port, tmp_path, "plain", "UTF-8", "Report", "Ann")
    head = header_lines(stored(relay, "plain"))
    assert head[:4] == [b"From: Ann  <ann@example.test>", b"To: Ann  <bob@example.test>",
                        b"Reply-To: plain@example.test", b"Subject: Report"]


FILE_NAMES = {
    "non-ascii": "Grüße aus München – Übersicht.txt",
    "japanese": "会議資料" * 19 + ".txt",
    "injection": 'x"; filename="invoice.pdf',
    "quotes": 'a "quoted" name.txt',
    "semicolons": "one;two; three.txt",
    "long": "long file name " * 16 + "end.txt",
    "plain": "report.txt",
}


@pytest.mark.parametrize("key", FILE_NAMES)
def test_file_names_come_back_through_get_filename(velsend, relay, tmp_path, key):
    name = FILE_NAMES[key]
    if WINE and '"' in name:
        pytest.skip("a Windows file name cannot hold a quote")
    (tmp_path / name).write_bytes(b"content\n")
    run_to(velsend, relay.port, tmp_path, f"file-{key}", "UTF-8", "Files", "Ann",
           files=b"+" + name.encode())
    raw = stored(relay, f"file-{key}")
    check_header_block(raw)
    for policy in POLICIES:
        msg = email.message_from_bytes(raw, policy=policy)
        assert msg.get_filename() == name
        # One file name only: nothing in a name can add a parameter.
        assert not msg["Content-Disposition"].defects
        assert list(msg["Content-Disposition"].params) == ["filename"]


def test_uuencode_begin_line_keeps_the_plain_name(velsend, relay, tmp_path):
    name = "Grüße.bin"
    (tmp_path / name).write_bytes(bytes(range(256)))
    run_to(velsend, relay.port, tmp_path, "uu-name", "UTF-8", "Files", "Ann",
           files=b"+" + name.encode(), extra=[b"-U"])
    assert b"\r\nbegin 644 " + name.encode() + b"\r\n" in stored(relay, "uu-name")


@pytest.mark.parametrize("content,cte", [
    (b"no final break \xe9\xe8 here\nlast line", "quoted-printable"),
    (b"first\r\nlast without break ends in a blank ", "7bit"),
    (b"caf\xe9", "quoted-printable"),
])
def test_text_files_without_a_final_break_decode_to_their_bytes(velsend, relay, tmp_path,
                                                                 content, cte):
    (tmp_path / "a.txt").write_bytes(content)
    (tmp_path / "b.bin").write_bytes(b"\x00\x01")
    marker = f"final-{abs(hash(content))}"
    run_to(velsend, relay.port, tmp_path, marker, "UTF-8", "Files", "Ann", files=b"+a.txt,+b.bin")
    msg = email.message_from_bytes(stored(relay, marker), policy=email.policy.default)
    part = next(msg.iter_parts())
    assert part["Content-Transfer-Encoding"] == cte
    assert part.get_payload(decode=True) == canonical_text(content, final_break=False)


POSTFIX_CASES = [c for c in SUBJECTS if c[0] in ("german", "shift-jis", "emoji", "one-word", "comma-quote")]


@pytest.mark.parametrize("case", POSTFIX_CASES, ids=[c[0] for c in POSTFIX_CASES])
def test_strict_postfix_delivers_them_unaltered(velsend, postfix, tmp_path, case):  # noqa: F811
    key, charset, subject, name = case
    file_name = "件名 Grüße.txt" if charset == "UTF-8" else "資料.txt"
    # The file's name is in the same charset as the rest of the message.
    with open(os.fsencode(tmp_path) + b"/" + on_disk(file_name, charset), "wb") as f:
        f.write(b"content")
    marker = f"postfix-{key}"
    run_to(velsend, postfix.port, tmp_path, marker, charset, subject, name,
           files=b"+" + typed(file_name, charset))
    raw = postfix.wait_for_message("bob", f"{marker}@example.test".encode())
    raw = raw.replace(b"\n", CRLF)
    check_round_trip(raw, charset, subject, name)
    msg = email.message_from_bytes(raw, policy=email.policy.strict)
    assert msg.get_filename() == file_name
