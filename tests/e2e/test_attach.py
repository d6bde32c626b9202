"""Body sources are all read, and a bad one reported, before the relay is
contacted: the runs below end at a port where nothing listens."""
import socket
import subprocess
import time

import pytest

PROMPT = "Type Message, end with .<CR>\n"
LOOKUP = "Looking up host 127.0.0.1\n"


@pytest.fixture
def dead_relay():
    """-h value of a loopback port that was free a moment ago."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    return f"-h127.0.0.1:{port}"


@pytest.fixture
def files(tmp_path):
    (tmp_path / "a.txt").write_bytes(b"hello\n")
    (tmp_path / "adir").mkdir()
    return tmp_path


def base_args(relay):
    return ["-oa@example.org", "-rb@example.org", "-ssubject", relay]


@pytest.mark.parametrize("entries,name", [
    ("a.txt,+missing.bin", "missing.bin"),
    ("+adir", "adir"),
    ("a.txt,#adir,a.txt", "adir"),
])
def test_unreadable_entry_ends_the_run_before_any_connection(velsend, files, dead_relay,
                                                             entries, name):
    run = velsend(*base_args(dead_relay), "-f" + entries)
    assert run.status == 5
    assert run.err.endswith(f">>Error attaching file {name}\n"
                            "Program Exiting[5 (ERROR_ATACHING_FILE)]\n")
    assert "Looking up host" not in run.err
    assert PROMPT not in run.err


class OpenInput:
    """The program with its standard input held open until close_input."""

    def __init__(self, binary, args, cwd):
        self.err_path = cwd / "stderr.txt"
        self._err = open(self.err_path, "wb")
        self.proc = subprocess.Popen([binary, *args], cwd=cwd, stdin=subprocess.PIPE,
                                     stdout=subprocess.DEVNULL, stderr=self._err)

    @property
    def err(self):
        return self.err_path.read_bytes().decode("latin-1")

    def wait_for(self, text, timeout=10):
        deadline = time.monotonic() + timeout
        while text not in self.err and time.monotonic() < deadline:
            time.sleep(0.02)
        return text in self.err

    def close_input(self, data=b""):
        self.proc.stdin.write(data)
        self.proc.stdin.close()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=10)
        if not self.proc.stdin.closed:
            self.proc.stdin.close()
        self._err.close()


@pytest.fixture
def open_input(velsend_bin, files):
    started = []

    def start(*args):
        run = OpenInput(velsend_bin, args, files)
        started.append(run)
        return run

    yield start
    for run in started:
        run.stop()


@pytest.mark.parametrize("entries", [",a.txt", "+"])
def test_message_text_is_read_before_the_relay_is_contacted(open_input, dead_relay, entries):
    run = open_input(*base_args(dead_relay), "-f" + entries)
    assert run.wait_for(PROMPT)
    time.sleep(0.3)
    assert run.proc.poll() is None  # still reading the text
    assert "Looking up host" not in run.err

    run.close_input(b"Some text\r\n.\r\n")
    assert run.proc.wait(timeout=30) == 6
    err = run.err
    assert err.startswith(PROMPT)
    assert LOOKUP in err and err.index(PROMPT) < err.index(LOOKUP)
    assert "Couldn't connect to 127.0.0.1\n" in err
    assert err.endswith("Program Exiting[6 (ERROR_CONNECTING_TO_HOST)]\n")


def test_files_alone_read_no_input(open_input, dead_relay):
    run = open_input(*base_args(dead_relay), "-fa.txt")
    # Ends with its input still open: it never waited for it.
    assert run.proc.wait(timeout=30) == 6
    assert PROMPT not in run.err
    assert run.err.startswith(LOOKUP)
