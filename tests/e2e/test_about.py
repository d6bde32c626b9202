"""The version information display of -#: text form, no input read, actions."""
import os
import select
import subprocess
import termios
import time

import pytest

from conftest import WINE, product

PROMPT = b"[E]mail support, [O]pen product info, [Q]uit: "
STATUS = "Program Exiting[0 (ERROR_NONE)]\n"
# The text display and its prompt; the Windows program shows a window instead.
TEXT_DISPLAY = pytest.mark.skipif(WINE, reason="the Windows program shows -# in a window")


@pytest.fixture
def binary(velsend_bin):
    # Tests run in their own directory: a relative VELSEND_BIN must still work.
    return os.path.abspath(velsend_bin)


def expected_display():
    p = product()
    rows = [("ProductName", p["VELSEND_PRODUCT_NAME"]),
            ("LegalCopyright", p["VELSEND_COPYRIGHT"]),
            ("CompanyName", p["VELSEND_COMPANY_NAME"]),
            ("ProductVersion", p["VERSION"]),
            ("FileDescription", p["VELSEND_DESCRIPTION"]),
            ("FileVersion", p["VERSION"] + ".0")]
    name_w = max(len("Name"), *(len(k) for k, _ in rows))
    value_w = max(len("Value"), *(len(v) for _, v in rows))
    lines = [f"About {p['VELSEND_PRODUCT_NAME']}", "",
             p["VELSEND_PRODUCT_NAME"], p["VERSION"], p["VELSEND_COPYRIGHT"], "",
             f"Support       {p['VELSEND_SUPPORT_ADDRESS']}",
             f"Product Info  {p['VELSEND_DOC_URL']}", "",
             "Name".ljust(name_w) + "  Value",
             "-" * name_w + "  " + "-" * value_w]
    lines += [k.ljust(name_w) + "  " + v for k, v in rows]
    return "\n".join(lines) + "\n"


@TEXT_DISPLAY
@pytest.mark.parametrize("args", [["-#"], ["-#x", "-q"],
                                  ["-#", "-oa", "-rb", "-sc", "-h127.0.0.1:1", "-f,"]])
def test_display_without_terminal_reads_no_input(binary, tmp_path, args):
    # Standard input is a pipe holding data and never closed: reading it as a
    # message would hang, and the data must still be there afterwards.
    read_end, write_end = os.pipe()
    os.write(write_end, b"E\nO\nmessage text\n.\n")
    try:
        proc = subprocess.run([binary, *args], stdin=read_end, capture_output=True,
                              timeout=20, cwd=tmp_path)
        os.close(write_end)
        write_end = None
        left = os.read(read_end, 1000)
    finally:
        os.close(read_end)
        if write_end is not None:
            os.close(write_end)
    assert proc.stdout.decode() == expected_display()
    assert proc.stderr.decode() == STATUS
    assert proc.returncode == 0
    assert left == b"E\nO\nmessage text\n.\n"


@TEXT_DISPLAY
def test_terminal_input_without_terminal_output_offers_no_choice(binary, tmp_path):
    master, slave = os.openpty()
    try:
        os.write(master, b"E")
        proc = subprocess.run([binary, "-#"], stdin=slave, capture_output=True,
                              timeout=20, cwd=tmp_path)
    finally:
        os.close(slave)
        os.close(master)
    assert proc.stdout.decode() == expected_display()
    assert proc.stderr.decode() == STATUS
    assert proc.returncode == 0


@pytest.mark.parametrize("args", [["-#", "-?"], ["-?", "-#"]])
def test_usage_wins_over_display(velsend, args):
    run = velsend(*args)
    assert run.stdout == b""
    assert run.err.startswith("Usage:\n")
    assert run.err.endswith(STATUS)
    assert run.status == 0


class Terminal:
    """The program on a pseudo-terminal, standard error kept apart."""

    def __init__(self, binary, cwd, env):
        self.master, slave = os.openpty()
        # The settings before the program can touch them.
        self.initial = termios.tcgetattr(self.master)
        self.proc = subprocess.Popen([binary, "-#"], stdin=slave, stdout=slave,
                                     stderr=subprocess.PIPE, cwd=cwd, env=env)
        os.close(slave)
        self.output = b""

    def wait_for(self, count, timeout=20):
        """Waits until the prompt has been shown `count` times."""
        deadline = time.monotonic() + timeout
        while self.output.count(PROMPT) < count:
            left = deadline - time.monotonic()
            assert left > 0, f"prompt {count} not shown: {self.output!r}"
            ready, _, _ = select.select([self.master], [], [], left)
            if ready:
                try:
                    chunk = os.read(self.master, 4096)
                except OSError:
                    chunk = b""
                assert chunk, f"terminal closed: {self.output!r}"
                self.output += chunk

    def press(self, key):
        os.write(self.master, key)

    def finish(self):
        try:
            _, err = self.proc.communicate(timeout=20)
            return self.proc.returncode, err.decode()
        finally:
            if self.proc.poll() is None:
                self.proc.kill()
                self.proc.wait()
            os.close(self.master)


@pytest.fixture
def opener(tmp_path):
    """A stand-in xdg-open first on PATH that records its arguments."""
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    record = tmp_path / "opened"
    script = bin_dir / "xdg-open"
    script.write_text('#!/bin/sh\nprintf \'%s|\' "$#" "$@" >> "$OPENER_RECORD"\n'
                      'printf \'\\n\' >> "$OPENER_RECORD"\nexit "${OPENER_STATUS:-0}"\n')
    script.chmod(0o755)
    env = dict(os.environ, PATH=f"{bin_dir}:{os.environ['PATH']}", OPENER_RECORD=str(record))
    return env, record


def addresses():
    p = product()
    mail = (f"MAILTO:{p['VELSEND_SUPPORT_ADDRESS']}?Subject=RE: {p['VELSEND_PRODUCT_NAME']} "
            f"{p['VERSION']}.[BinVer ")
    major, minor, patch = (int(x) for x in p["VERSION"].split("."))
    mail += f"{major:04x}{minor:04x}{patch:04x}0000]"
    return mail, p["VELSEND_DOC_URL"].lower()


@TEXT_DISPLAY
@pytest.mark.parametrize("opener_status", ["0", "3"])
def test_terminal_actions_open_the_addresses(binary, tmp_path, opener, opener_status):
    env, record = opener
    env["OPENER_STATUS"] = opener_status
    term = Terminal(binary, tmp_path, env)
    term.wait_for(1)
    term.press(b"E")
    term.wait_for(2)
    term.press(b"o")
    term.wait_for(3)
    term.press(b"q")
    status, err = term.finish()
    mail, info = addresses()
    # One argument each time, the address exactly.
    assert record.read_text() == f"1|{mail}|\n1|{info}|\n"
    assert term.output.replace(b"\r\n", b"\n").startswith(expected_display().encode())
    assert err == STATUS
    assert status == 0


@TEXT_DISPLAY
@pytest.mark.parametrize("key", [b"q", b"Q", b"\r", b"\x1b"])
def test_terminal_close_keys(binary, tmp_path, opener, key):
    env, record = opener
    term = Terminal(binary, tmp_path, env)
    term.wait_for(1)
    term.press(key)
    status, err = term.finish()
    assert not record.exists()
    assert err == STATUS
    assert status == 0


@TEXT_DISPLAY
def test_missing_opener_offers_the_choice_again(binary, tmp_path):
    empty = tmp_path / "empty"
    empty.mkdir()
    term = Terminal(binary, tmp_path, dict(os.environ, PATH=str(empty)))
    term.wait_for(1)
    term.press(b"E")
    term.wait_for(2)
    term.press(b"q")
    status, err = term.finish()
    assert err == STATUS
    assert status == 0


@TEXT_DISPLAY
def test_terminal_settings_are_restored(binary, tmp_path, opener):
    env, _ = opener
    term = Terminal(binary, tmp_path, env)
    before = term.initial
    term.wait_for(1)
    term.press(b"O")
    term.wait_for(2)
    term.press(b"q")
    assert term.proc.wait(timeout=20) == 0
    after = termios.tcgetattr(term.master)
    term.finish()
    assert after == before
