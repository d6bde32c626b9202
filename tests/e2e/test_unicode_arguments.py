"""Text typed in any language: subjects, display names, user names and file
names come back exactly, under a Western and a Japanese code page for the
Windows program (which takes its command line as Unicode) and the UTF-8
locale for the Linux one; the charset label always matches the bytes."""
import base64
import email
import email.policy
import shutil
import subprocess

import pytest

from conftest import WINE
from peers import relay as aiosmtpd_relay

SENT_OK = "Connection Closed [0]\nProgram Exiting[0 (ERROR_NONE)]\n"

# (id, subject, display name, user name, file name)
TEXTS = [
    ("german", "Bericht für März – Übersicht", "Jürgen Müller", "jürgen", "Bericht_März_€.txt"),
    ("greek", "Καλημέρα κόσμε", "Αλέξανδρος", "αλέξανδρος", "Έκθεση_2026.txt"),
    ("japanese", "会議の資料を送ります", "山田 太郎", "山田", "会議_2026.txt"),
    ("emoji", "Party 🎉 at 8 👍", "Zoë 😀", "zoë😀", "chart_📊.txt"),
]


@pytest.fixture(scope="module")
def japanese_locale(tmp_path_factory):
    """LOCPATH and LANG of a compiled ja_JP.UTF-8 locale: Wine takes the
    ANSI code page (932) from it."""
    if not shutil.which("localedef"):
        pytest.skip("localedef is not installed")
    path = tmp_path_factory.mktemp("locales")
    build = subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", str(path / "ja_JP.UTF-8")],
                           capture_output=True)
    if not (path / "ja_JP.UTF-8").is_dir():
        pytest.skip(f"cannot compile ja_JP.UTF-8: {build.stderr[-300:]!r}")
    return {"LOCPATH": str(path), "LANG": "ja_JP.UTF-8", "LC_ALL": ""}


@pytest.fixture(params=["western", "japanese"])
def code_page(request):
    """The environment of a run: the usual Western code page, or a Japanese one."""
    if request.param == "western":
        return {}
    return request.getfixturevalue("japanese_locale")


@pytest.fixture(scope="module")
def relay():
    with aiosmtpd_relay(user="placeholder", password="pw") as server:
        yield server


@pytest.mark.parametrize("case", TEXTS, ids=[c[0] for c in TEXTS])
def test_texts_and_file_names_come_back_exactly(velsend, relay, tmp_path, code_page, case):
    key, subject, name, user, file_name = case
    (tmp_path / file_name).write_bytes(b"content of the file\n")
    marker = f"{key}-{len(code_page)}@example.test"
    run = velsend(f"-o{name} <ann@example.test>".encode(), f"-r{name} <bob@example.test>".encode(),
                  f"-s{subject}".encode(), f"-R{marker}".encode(), f"-f+{file_name}".encode(),
                  f"-n{user}".encode(), b"-ppw", f"-h127.0.0.1:{relay.port}".encode(),
                  env=code_page)
    # The relay knows one user only: the name it was given is what arrived.
    login = relay.logins[-1]
    assert login[1] == user.encode("utf-8"), login  # SASL names are UTF-8
    assert run.status == 9, run.err[-1500:]  # refused as an unknown user, as it must be
    relay.logins.clear()

    run = velsend(f"-o{name} <ann@example.test>".encode(), f"-r{name} <bob@example.test>".encode(),
                  f"-s{subject}".encode(), f"-R{marker}".encode(), f"-f+{file_name}".encode(),
                  f"-h127.0.0.1:{relay.port}".encode(), env=code_page)
    assert run.status == 0, run.err[-1500:]
    assert run.err.endswith(SENT_OK)
    raw = [m.data for m in relay.messages if marker.encode() in m.data][-1]
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    assert not msg.defects
    assert msg["Subject"] == subject
    assert [a.display_name for a in msg["From"].addresses] == [name]
    assert [a.display_name for a in msg["To"].addresses] == [name]
    attachment = msg  # one part: the message is the attachment
    assert attachment.get_filename() == file_name
    assert attachment.get_content().replace("\r\n", "\n").rstrip("\n") == "content of the file"


def test_ascii_only_runs_keep_their_bytes(velsend, relay, tmp_path, code_page):
    (tmp_path / "report.txt").write_bytes(b"plain\n")
    run = velsend(b"-oAnn <ann@example.test>", b"-rbob@example.test", b"-sMonthly report",
                  b"-f+report.txt", b"--dry-run", env=code_page)
    assert run.status == 0, run.err
    head = run.stdout.split(b"\r\n\r\n", 1)[0].split(b"\r\n")
    assert head[:3] == [b"From: Ann  <ann@example.test>", b"To:  <bob@example.test>",
                        b"Subject: Monthly report"]
    assert b'filename="report.txt"' in run.stdout


@pytest.mark.skipif(not WINE, reason="the Linux program writes the bytes its locale typed")
@pytest.mark.parametrize("charset,subject", [("iso-8859-1", "Grüße €"), ("shift_jis", "Ελλάδα"),
                                             ("us-ascii", "é")])
def test_a_character_outside_the_charset_of_l_is_refused(velsend, relay, charset, subject):
    run = velsend(b"-oann@example.test", b"-rbob@example.test", f"-s{subject}".encode(),
                  f"-l{charset}".encode(), f"-h127.0.0.1:{relay.port}".encode())
    assert run.status == 11, run.err
    assert run.stderr.startswith(f"Cannot write {subject} in charset {charset}\n".encode())
    assert "Connected" not in run.err


@pytest.mark.skipif(not WINE, reason="the Linux program writes the bytes its locale typed")
def test_a_subject_in_the_charset_of_l_is_written_in_it(velsend, relay):
    run = velsend(b"-oann@example.test", b"-rbob@example.test", "-sGrüße €".encode(),
                  b"-lwindows-1252", b"--dry-run")
    assert run.status == 0, run.err
    expected = "Subject: =?windows-1252?Q?Gr=FC=DFe_=80?=".encode()
    assert expected in run.stdout or b"?windows-1252?B?" + base64.b64encode(
        "Grüße €".encode("cp1252")) in run.stdout


def test_message_text_with_a_byte_order_mark_is_labelled_utf8(velsend, code_page):
    run = velsend(b"-oann@example.test", b"-rbob@example.test", b"-sBOM", b"-f,", b"--dry-run",
                  stdin="\ufeffGrüße, 会議\n.\n".encode("utf-8"), env=code_page)
    assert run.status == 0, run.err
    msg = email.message_from_bytes(run.stdout, policy=email.policy.default)
    assert msg.get_content_charset() == "utf-8"
    assert "Grüße, 会議" in msg.get_content()


def test_file_names_in_error_lines_are_shown_whole(velsend, tmp_path, code_page):
    run = velsend(b"-oann@example.test", b"-rbob@example.test", b"-sx", "-f+会議_2026.txt".encode(),
                  b"--dry-run", env=code_page)
    assert run.status == 5
    assert "Cannot read 会議_2026.txt: ".encode() in run.stderr
    assert ">>Error attaching file 会議_2026.txt\n".encode() in run.stderr


def test_option_files_and_commands_by_unicode_names(velsend, tmp_path):
    """--cacert, --password-file and --password-command take names outside
    the ANSI code page too."""
    from tls_support import Pki
    pki = Pki(tmp_path / "pki")
    folder = tmp_path / "証明書_Grüße"
    folder.mkdir()
    ca = folder / "ca_€.pem"
    ca.write_bytes(open(pki.ca, "rb").read())
    secret = folder / "пароль.txt"
    secret.write_bytes(b"secret\n")
    with aiosmtpd_relay("ann", "secret", tls_context=pki.server_context(),
                        require_starttls=True, auth_require_tls=True) as r:
        for source in (f"--password-file={secret}",
                       f"--password-command={'type' if WINE else 'cat'} {secret.name}"):
            run = velsend(b"-oann@example.org", b"-rbob@example.org", b"-sUnicode names",
                          f"-hlocalhost:{r.port}".encode(), b"--starttls",
                          f"--cacert={ca}".encode(), b"-nann", source.encode(), cwd=folder)
            assert run.status == 0, (source, run.err[-1500:])
    assert [login[3] for login in r.logins] == [True, True]
