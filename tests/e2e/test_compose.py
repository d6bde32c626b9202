"""The messages people script: the text from a file, an HTML version with a
text version (given or made from the HTML), files shown inside the HTML, and
header fields of their own. Every combination is sent to a relay and read
back with Python's email package, which must find each input exactly."""
import random
import re

import pytest

import mimecheck
from peers import relay as aiosmtpd_relay
from test_postfix import postfix, split_delivery_headers  # noqa: F401 (the fixture)

SENT_OK = "Connection Closed [0]\nProgram Exiting[0 (ERROR_NONE)]\n"
PROMPT = "Type Message, end with .<CR>\n"

# Lines that start with ".", "=", a line too long for one quoted-printable
# line, text that is not ASCII, no final break: each is a way to lose bytes.
TEXT = ("Weekly report\n"
        ".dot line\n"
        "cost = 5 \u20ac, caf\u00e9\n"
        + "long " * 40 + "\n"
        "\n"
        "last line, no break").encode()

HTML = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Weekly report</title>
<style>td { padding: 2px }</style></head>
<body>
<h1>Weekly report &ndash; week 49</h1>
<p>Caf&eacute; sales rose by 5&nbsp;% (&euro;&#160;1&#x202f;200). See
<a href="https://example.test/report?week=49&amp;full=1">the full report</a>.</p>
<p><img src="cid:chart.png" alt="chart"></p>
<table><tr><th>Region</th><th>Sales</th></tr><tr><td>North</td><td>12</td></tr>
<tr><td>S\u00fcd</td><td>9</td></tr></table>
<ul><li>one<br>line two</li><li>three</li></ul>
<p>Logo: <img src="cid:logo.gif"></p>
<script>document.write("<p>no</p>")</script>
.
</body></html>
""".encode()

# What the text version made from HTML reads.
HTML_AS_TEXT = ("Weekly report \u2013 week 49\n\n"
                "Caf\u00e9 sales rose by 5 % (\u20ac 1\u202f200). See the full report "
                "[https://example.test/report?week=49&full=1].\n\n"
                "Region Sales\nNorth 12\nS\u00fcd 9\n\n"
                "* one\nline two\n* three\n\n"
                "Logo:\n\n.\n")

INLINE = {"chart.png": random.Random(7).randbytes(5000),
          "logo.gif": b"GIF89a" + random.Random(8).randbytes(300)}
ATTACHED = ("data.bin", random.Random(9).randbytes(2000))


@pytest.fixture(scope="module")
def relay():
    with aiosmtpd_relay() as server:
        yield server


@pytest.fixture
def inputs(tmp_path):
    (tmp_path / "text.txt").write_bytes(TEXT)
    (tmp_path / "report.html").write_bytes(HTML)
    for name, content in INLINE.items():
        (tmp_path / name).write_bytes(content)
    (tmp_path / ATTACHED[0]).write_bytes(ATTACHED[1])
    return tmp_path


def lf(text):
    return text.replace("\r\n", "\n")


def envelope(subject, port):
    return ["-oAnn <ann@example.test>", "-rbob@example.test", f"-s{subject}",
            f"-h127.0.0.1:{port}"]


def composition(text, html, inline, attach):
    """The arguments and standard input of one combination."""
    args, stdin = [], b""
    files = []
    if text == "file":
        args.append("--text=text.txt")
    elif text == "typed":
        files.append("")
        stdin = TEXT + b"\n.\n"
    if html:
        args.append("--html=report.html")
    if inline:
        args.append("--inline=chart.png,logo.gif" if inline == "list" else "--inline=chart.png")
        if inline != "list":
            args.append("--inline=logo.gif")
    if attach:
        files.append("+" + ATTACHED[0])
    if files:
        # "-f," is the list of the typed text alone.
        args.append("-f" + ",".join(files) + ("," if files == [""] else ""))
    # A text of UTF-8 says so; the HTML alone is labelled by its <meta>.
    if text:
        args.append("-lUTF-8")
    return args, stdin


def received(relay, subject):
    marker = f"Subject: {subject}\r\n".encode()
    found = [m.data for m in relay.messages if marker in m.data]
    assert len(found) == 1, f"{len(found)} messages with {marker!r}"
    return found[0]


def check_message(raw, text, html, inline, attach):
    """What a reader finds in the message of one combination."""
    mimecheck.check_line_ends(raw)
    msg = mimecheck.parse(raw)
    for part in msg.walk():
        assert not part.defects, (part.get_content_type(), part.defects)
        mimecheck.check_encoded_line_lengths(part, part.get_content_type())

    # The typed text ends with the break before its "." line; a file's text
    # keeps its last line unbroken. A text that is the whole body gets one
    # break more, before the data's end line, as ever.
    whole_body = not html and not attach
    expected_text = (lf(TEXT.decode()) + ("\n" if text == "typed" else "") +
                     ("\n" if whole_body else "") if text else HTML_AS_TEXT)
    plain = msg.get_body(preferencelist=("plain",))
    assert plain.get_content_type() == "text/plain"
    got = lf(plain.get_content())
    assert got == expected_text, got

    if html:
        page = msg.get_body(preferencelist=("html", "plain"))
        assert page.get_content_type() == "text/html"
        assert page.get_content_charset() in ("utf-8", "UTF-8")
        assert lf(page.get_content()) == HTML.decode()
        alternative = msg if not attach else msg.get_payload()[0]
        assert alternative.get_content_type() == "multipart/alternative"
        kinds = [p.get_content_type() for p in alternative.iter_parts()]
        assert kinds == ["text/plain", "multipart/related" if inline else "text/html"]
    else:
        assert msg.get_body(preferencelist=("html",)) is None

    ids = {}
    for part in msg.walk():
        if part["Content-ID"]:
            ids[part["Content-ID"]] = part
    if inline:
        related = msg.get_body(preferencelist=("related",))
        assert related["Content-Type"].params["type"] == "text/html"
        shown = {p.get_filename(): p for p in related.iter_attachments()}
        assert sorted(shown) == sorted(INLINE)
        for name, content in INLINE.items():
            assert shown[name].get_content_disposition() == "inline"
            assert shown[name].get_content() == content
        for reference in re.findall(rb"cid:([^\"'>\s)]+)", HTML):
            assert f"<{reference.decode()}>" in ids, reference
    else:
        assert not ids

    attachments = list(msg.iter_attachments())
    if attach:
        assert [(a.get_filename(), a.get_content()) for a in attachments] == [ATTACHED]
    else:
        assert attachments == []
    return msg


COMBINATIONS = [(text, html, inline, attach)
                for text in ("file", "typed", None)
                for html in (True, False)
                for inline in ((None, "list", "repeated") if html else (None,))
                for attach in (False, True)
                if text or html]


def combination_id(c):
    text, html, inline, attach = c
    return "-".join(filter(None, [f"text:{text}" if text else "no-text", "html" if html else "",
                                  f"inline:{inline}" if inline else "",
                                  "attach" if attach else ""]))


@pytest.mark.parametrize("combination", COMBINATIONS, ids=combination_id)
@pytest.mark.parametrize("quiet", [True, False], ids=["quiet", "trace"])
def test_every_combination_reads_back_exactly(velsend, relay, inputs, combination, quiet):
    text, html, inline, attach = combination
    subject = f"Compose {combination_id(combination)} {'q' if quiet else 't'}"
    args, stdin = composition(*combination)
    run = velsend(*envelope(subject, relay.port), *args, *(["-q"] if quiet else []),
                  stdin=stdin, cwd=inputs)
    assert run.status == 0, run.err[-2000:]
    assert run.err.endswith("Program Exiting[0 (ERROR_NONE)]\n" if quiet else SENT_OK)
    # --text reads no standard input.
    if text != "typed":
        assert PROMPT not in run.err
    # Without inline files the HTML's cid: references name nothing.
    warnings = [line for line in run.err.splitlines() if line.startswith("Warning")]
    assert warnings == ([] if inline or not html else [
        "Warning: cid:chart.png in the HTML names no inline file",
        "Warning: cid:logo.gif in the HTML names no inline file"])
    check_message(received(relay, subject), text, html, inline, attach)


# Postfix with strict_mime_encoding_domain refuses a message whose MIME it
# finds wrong; what it delivers is byte for byte what --dry-run shows.
@pytest.mark.parametrize("combination", [("file", True, "list", True), (None, True, "list", False),
                                         ("typed", True, None, False)], ids=combination_id)
def test_strict_postfix_delivers_the_message_as_shown(velsend, postfix, inputs,  # noqa: F811
                                                      combination):
    subject = f"Strict {combination_id(combination)}"
    args, stdin = composition(*combination)
    shown = velsend(*envelope(subject, postfix.port), *args, "--dry-run", stdin=stdin,
                    cwd=inputs)
    assert shown.status == 0, shown.err
    run = velsend(*envelope(subject, postfix.port), *args, "-q", stdin=stdin, cwd=inputs)
    assert run.status == 0, run.err[-2000:] + postfix.log()[-2000:]

    raw = mimecheck.maildir_to_wire(
        postfix.wait_for_message("bob", f"Subject: {subject}".encode()))
    sent = split_delivery_headers(raw)[1]
    stamp = re.compile(rb"^(Date|Message-ID): .*\r\n", re.M)
    assert stamp.sub(b"", sent) == stamp.sub(b"", shown.stdout)
    check_message(sent, *combination)


def test_progress_counts_the_composed_message_exactly(velsend, relay, inputs):
    subject = "Compose progress"
    args, stdin = composition("file", True, "list", True)
    run = velsend(*envelope(subject, relay.port), *args, "--progress", "-q", cwd=inputs)
    assert run.status == 0, run.err[-2000:]
    totals = {int(t) for t in re.findall(r"Sent \d+ of (\d+) bytes", run.err)}
    data = received(relay, subject)
    # The relay took the data without its dot-stuffing and its end line.
    stuffed = sum(1 for line in data.split(b"\r\n") if line.startswith(b"."))
    assert totals == {len(data) + stuffed + 3}


def test_header_priority_and_read_receipt_fields(velsend, relay, tmp_path):
    subject = "Compose fields"
    long_value = " ".join(f"word{i}" for i in range(40))
    run = velsend(*envelope(subject, relay.port), "-q", "--header=X-Build: 42",
                  "--header=X-Note: gr\u00fc\u00dfe aus K\u00f6ln", f"--header=X-Long: {long_value}",
                  "--header=List-Id: <reports.example.test>", "--priority=high", "--read-receipt",
                  "-lUTF-8", "-f,", stdin=b"Body\n.\n")
    assert run.status == 0, run.err[-2000:]
    raw = received(relay, subject)
    mimecheck.check_line_ends(raw)
    head = raw.split(b"\r\n\r\n", 1)[0]
    # After the program's own fields, in the order given, before MIME's.
    names = [line.split(b":")[0].decode() for line in head.split(b"\r\n") if line[:1] != b" "]
    assert names[names.index("Message-ID") + 1:] == [
        "X-Build", "X-Note", "X-Long", "List-Id", "X-Priority", "Importance",
        "Disposition-Notification-To", "MIME-Version", "Content-Type",
        "Content-Transfer-Encoding", "Content-Disposition"]
    assert max(len(line) for line in head.split(b"\r\n")) <= 78
    assert b"=?UTF-8?" in head
    msg = mimecheck.parse(raw)
    assert msg["X-Build"] == "42"
    assert msg["X-Note"] == "gr\u00fc\u00dfe aus K\u00f6ln"
    assert msg["X-Long"] == long_value
    assert msg["List-Id"] == "<reports.example.test>"
    assert (msg["X-Priority"], msg["Importance"]) == ("1", "High")
    assert msg["Disposition-Notification-To"] == "ann@example.test"
    for part in msg.walk():
        assert not part.defects


@pytest.mark.parametrize("level,priority,importance", [("normal", "3", "Normal"),
                                                       ("low", "5", "Low")])
def test_priority_levels(velsend, tmp_path, level, priority, importance):
    run = velsend("-oa@example.test", "-rb@example.test", "-sS", "--dry-run",
                  f"--priority={level}")
    assert run.status == 0, run.err
    assert f"\r\nX-Priority: {priority}\r\nImportance: {importance}\r\n".encode() in run.stdout


REFUSED = [
    (["--header=Subject: other"], "--header cannot set Subject\n"),
    (["--header=content-type: text/html"], "--header cannot set content-type\n"),
    (["--header=BCC: eve@example.test"], "--header cannot set BCC\n"),
    (["--header=X-Mailer: other"], "--header cannot set X-Mailer\n"),
    (["--header=Message-ID: <x@y>"], "--header cannot set Message-ID\n"),
    # A field an option writes is not written twice.
    (["--priority=high", "--header=importance: low"], "--header cannot set importance\n"),
    (["--read-receipt", "--header=Disposition-Notification-To: x@y"],
     "--header cannot set Disposition-Notification-To\n"),
    (["--header=X-A: b\r\nBcc: eve@example.test"],
     "Invalid header X-A: b\\r\\nBcc: eve@example.test\n"),
    (["--header=X-A: b\nc"], "Invalid header X-A: b\\nc\n"),
    (["--header=X A: b"], "Invalid header X A: b\n"),
    (["--header=X-A b"], "Invalid header X-A b\n"),
    (["--header=X-A:b", "--header=:b"], "Invalid header :b\n"),
    (["--priority=urgent"], "Invalid value for --priority: urgent\n"),
    (["--inline=chart.png"], "Option --inline needs --html, whose cid: references it serves\n"),
    (["--html=report.html", "--inline=chart.png", "--inline=sub/chart.png"],
     "Two inline files are named chart.png\n"),
    (["--html=report.html", "--inline=my chart.png"],
     "Inline file name my chart.png cannot be a Content-ID (ASCII, no blanks or brackets)\n"),
    (["--html=report.html", "-u"], "Option --html needs a MIME message (no -u or -U)\n"),
]


@pytest.mark.parametrize("args,line", REFUSED, ids=[r[1].strip()[:40] for r in REFUSED])
def test_refused_before_anything_is_read(velsend, inputs, args, line):
    run = velsend("-oa@example.test", "-rb@example.test", "-sS", "--dry-run", "-f",
                  *args, stdin=b"never read\n.\n", cwd=inputs)
    assert run.status == 11
    assert run.err == line + "Program Exiting[11 (ERROR_INVALID_ARGUMENT)]\n"
    assert run.stdout == b""


@pytest.mark.parametrize("args,name", [(["--text=missing.txt"], "missing.txt"),
                                       (["--html=missing.html"], "missing.html"),
                                       (["--html=report.html", "--inline=missing.png"],
                                        "missing.png")])
def test_unreadable_file_ends_the_run_as_an_attachment_does(velsend, inputs, args, name):
    run = velsend("-oa@example.test", "-rb@example.test", "-sS", "--dry-run", *args, cwd=inputs)
    assert run.status == 5
    assert run.err.startswith(f"Cannot read {name}: ")
    assert run.err.endswith(f">>Error attaching file {name}\nProgram Exiting[5 (ERROR_ATACHING_FILE)]\n")
    assert run.stdout == b""


def test_text_dash_is_the_typed_text(velsend, inputs):
    run = velsend("-oa@example.test", "-rb@example.test", "-sS", "--dry-run", "--text=-",
                  stdin=b"typed\n.\nleft\n", cwd=inputs)
    plain = run.stdout
    same = velsend("-oa@example.test", "-rb@example.test", "-sS", "--dry-run", "-f,",
                   stdin=b"typed\n.\nleft\n", cwd=inputs)
    assert run.status == same.status == 0
    stamp = re.compile(rb"^(Date|Message-ID): .*\r\n", re.M)
    assert stamp.sub(b"", plain) == stamp.sub(b"", same.stdout)
    assert PROMPT in run.err
