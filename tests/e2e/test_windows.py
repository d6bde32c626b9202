"""The Windows program under Wine: the -# window and its actions, content
types from the registry, the charset from the ANSI code page, and the
console's text and binary modes. Runs with VELSEND_WINE=1 (see conftest.py);
the window tests need an X display (Xvfb) and wine_probe.exe beside
velsend.exe."""
import email
import os
import re
import subprocess
import time
from pathlib import Path

import pytest

from conftest import WINE, product, velsend_path
from peers import relay as aiosmtpd_relay

pytestmark = pytest.mark.skipif(not WINE, reason="runs velsend.exe under Wine")

STATUS_OK = "Program Exiting[0 (ERROR_NONE)]\n"
needs_display = pytest.mark.skipif(not os.environ.get("DISPLAY"), reason="needs an X display")


def windows_path(path):
    """Wine's name for a Unix path (drive Z: is the root)."""
    return "Z:" + str(path).replace("/", "\\")


def wine(*args, timeout=60):
    env = dict(os.environ, WINEDEBUG="-all")
    return subprocess.run(["wine", *args], capture_output=True, timeout=timeout, env=env)


@pytest.fixture
def probe():
    path = Path(velsend_path()).with_name("wine_probe.exe")
    if not path.exists():
        pytest.skip(f"{path} not built")
    return str(path)


def show_window(velsend_bin, probe, action="none"):
    """Runs -#, reads the window through the probe, which then presses the
    action's button and OK. Returns (probe lines, program run)."""
    program = subprocess.Popen([velsend_bin, "-#"], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        seen = wine(probe, "about", action, "30000", timeout=60)
        out, err = program.communicate(b"must not be read\n", timeout=30)
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()
    return seen.stdout.decode("latin-1").splitlines(), program.returncode, out, err


@needs_display
def test_window_shows_the_version_resource(velsend_bin, probe):
    lines, status, out, err = show_window(velsend_bin, probe)
    p = product()
    name, version = p["VELSEND_PRODUCT_NAME"], p["VERSION"]
    assert f"title: About {name}" in lines, lines
    labels = {int(m.group(1)): m.group(2)
              for m in map(re.compile(r"label (\d+): (.*)").fullmatch, lines) if m}
    assert labels == {
        1: "OK", 1018: version, 1019: p["VELSEND_COPYRIGHT"], 1020: name,
        1022: p["VELSEND_SUPPORT_ADDRESS"], 1023: "Email", 1025: p["VELSEND_DOC_URL"],
        1026: "Open"}
    assert [line for line in lines if line.startswith("column: ")] == [
        "column: Name", "column: Value"]
    assert [line for line in lines if line.startswith("row: ")] == [
        f"row: ProductName|{name}",
        f"row: LegalCopyright|{p['VELSEND_COPYRIGHT']}",
        f"row: CompanyName|{p['VELSEND_COMPANY_NAME']}",
        f"row: ProductVersion|{version}",
        f"row: FileDescription|{p['VELSEND_DESCRIPTION']}",
        f"row: FileVersion|{version}.0"]
    assert status == 0
    assert out == b""
    assert err.decode() == STATUS_OK


@needs_display
def test_window_controls_are_those_of_the_template(velsend_bin, probe):
    lines, status, _, _ = show_window(velsend_bin, probe)
    styles = {int(m.group(1)): (m.group(2), int(m.group(3), 16) & 0xFFFF)
              for m in map(re.compile(r"style (\d+): (\S+) ([0-9a-f]+)").fullmatch, lines) if m}
    assert styles == {
        1: ("Button", 0x0001),      # default push button
        1018: ("Static", 0x0202),   # right-aligned, vertically centred
        1019: ("Static", 0x0202),
        1020: ("Static", 0x0002),   # right-aligned
        1021: ("SysListView32", 0x0001),  # report view
        1022: ("Static", 0x1200),   # sunken, vertically centred
        1023: ("Button", 0x0000),
        1024: ("Static", 0x100E),   # sunken bitmap
        1025: ("Static", 0x1280),   # sunken, vertically centred, no "&" prefix
        1026: ("Button", 0x0000),
    }
    assert status == 0


@pytest.fixture
def recorded_opens(tmp_path):
    """Makes the shell start wine_probe's recorder for mailto: and http(s):
    addresses; yields the file where the addresses arrive."""
    probe_exe = windows_path(Path(velsend_path()).with_name("wine_probe.exe"))
    record = tmp_path / "opened.txt"
    command = f'"{probe_exe}" record "{windows_path(record)}" "%1"'
    for scheme in ("mailto", "http", "https"):
        result = wine("reg", "add", f"HKCR\\{scheme}\\shell\\open\\command", "/ve", "/d",
                      command, "/f")
        assert result.returncode == 0, result.stderr
    return record


def wait_for_text(path, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if path.exists() and path.read_bytes().endswith(b"\n"):
            return path.read_text("latin-1")
        time.sleep(0.1)
    return ""


@needs_display
@pytest.mark.parametrize("action", ["email", "open"])
def test_buttons_hand_the_addresses_to_the_shell(velsend_bin, probe, recorded_opens, action):
    p = product()
    expected = {
        "email": (f"MAILTO:{p['VELSEND_SUPPORT_ADDRESS']}?Subject=RE: {p['VELSEND_PRODUCT_NAME']}"
                  f" {p['VERSION']}.[BinVer "
                  + "".join(f"{int(n):04x}" for n in (p["VERSION"] + ".0").split(".")) + "]"),
        "open": p["VELSEND_DOC_URL"].lower(),
    }[action]
    _, status, _, _ = show_window(velsend_bin, probe, action)
    assert status == 0
    assert wait_for_text(recorded_opens) == expected + "\n"


@pytest.fixture(scope="module")
def relay():
    with aiosmtpd_relay() as server:
        yield server


def deliver(velsend, relay, tmp_path, subject, *args, env=None, stdin=b""):
    run = velsend("-oann@example.test", "-rbob@example.test", f"-s{subject}",
                  f"-h127.0.0.1:{relay.port}", "-q", *args, env=env, stdin=stdin, cwd=tmp_path)
    assert run.status == 0, run.err
    found = [m for m in relay.messages if f"Subject: {subject}\r\n".encode() in m.data]
    assert len(found) == 1
    return email.message_from_bytes(found[0].data)


def test_content_types_come_from_the_registry(velsend, relay, tmp_path):
    for key, value in ((".velsenddoc", "application/x-velsend-doc"), (".velsendbare", None)):
        args = ["reg", "add", f"HKCR\\{key}", "/f"]
        if value:
            args += ["/v", "Content Type", "/d", value]
        assert wine(*args).returncode == 0
    (tmp_path / "dir.velsenddoc").mkdir()
    cases = {
        "report.velsenddoc": "application/x-velsend-doc",
        "REPORT.VELSENDDOC": "application/x-velsend-doc",  # keys ignore case
        "notes.txt": "text/plain",                          # loaded by the test script
        "key-without-value.velsendbare": "application/octet-stream",
        "unknown.velsendnone": "application/octet-stream",
        "README": "application/octet-stream",
        "dir.velsenddoc\\README": "application/octet-stream",  # the "." of a directory
    }
    for name in cases:
        (tmp_path / name.replace("\\", "/")).write_bytes(b"plain text\n")
    message = deliver(velsend, relay, tmp_path, "Registry types",
                      "-f" + ",".join("+" + name for name in cases))
    parts = message.get_payload()
    assert [part.get_content_type() for part in parts] == list(cases.values())


@pytest.mark.parametrize("locale,charset", [
    ("en_US.UTF-8", "iso-8859-1"),   # code page 1252
    ("ru_RU.UTF-8", "Windows-1251"),
    ("pl_PL.UTF-8", "Windows-1250"),
    ("he_IL.UTF-8", "Windows-1255"),  # the first of the two rows for 1255
    ("ja_JP.UTF-8", "shift_jis"),
])
def test_charset_follows_the_ansi_code_page(velsend, relay, tmp_path, locale, charset):
    message = deliver(velsend, relay, tmp_path, f"Charset {locale}", "-f,",
                      env={"LC_ALL": locale}, stdin=b"hello\r\n.\r\n")
    assert message.get_param("charset") == charset


def test_message_text_is_read_in_binary_mode(velsend, relay, tmp_path):
    # Text mode would turn CR LF into LF and end the input at the Ctrl-Z.
    text = b"one\r\nCtrl-Z \x1a inside\r\nlast\r\n.\r\n"
    message = deliver(velsend, relay, tmp_path, "Binary input", "-f,", stdin=text)
    body = message.get_payload(decode=True)
    assert b"Ctrl-Z \x1a inside" in body
    assert body.rstrip(b"\r\n").endswith(b"last")


def test_standard_error_is_in_text_mode(tmp_path):
    # What the wrapper of conftest.py undoes: every LF written to standard
    # error reaches the console as CR LF.
    raw = wine(velsend_path(), "-?")
    assert raw.returncode == 0
    assert raw.stderr.startswith(b"Usage:\r\n")
    assert raw.stderr.endswith(b"\r\n\r\nProgram Exiting[0 (ERROR_NONE)]\r\n")
    assert b"\n" not in raw.stderr.replace(b"\r\n", b"")
