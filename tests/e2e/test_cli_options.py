"""The everyday long options: --version, --dry-run, --helo, --progress, and
the cause written before a body source that cannot be read."""
import contextlib
import email
import email.policy
import os
import pty
import re
import resource
import shutil
import socket
import subprocess
import threading
import time

import pytest

import mimecheck
from conftest import WINE
from peers import HOST, ScriptedPeer, closed_port, expect, send, until
from peers import relay as aiosmtpd_relay

REQUIRED = ["-oAnn <ann@example.test>", "-rbob@example.test", "-sOptions"]
EXIT_OK = "Program Exiting[0 (ERROR_NONE)]\n"


# --- --version and bad values -----------------------------------------------

def test_version_names_program_tls_library_and_mechanisms(velsend):
    run = velsend("--version")
    assert run.status == 0
    lines = run.out.splitlines()
    assert re.fullmatch(r"velsend \d+\.\d+\.\d+", lines[0])
    assert re.fullmatch(r"TLS library: \S.*", lines[1])
    assert "Authentication mechanisms: PLAIN LOGIN CRAM-MD5 XOAUTH2 OAUTHBEARER" in lines
    assert run.err == EXIT_OK  # nothing but the status line, and nothing read or sent


@pytest.mark.parametrize("option,line", [
    ("--helo=a..b", "Invalid value for --helo: a..b\n"),
    ("--helo=my host", "Invalid value for --helo: my host\n"),
    ("--helo", "Option --helo needs a value\n"),
    ("--dry-run=yes", "Option --dry-run takes no value\n"),
    ("--progress=1", "Option --progress takes no value\n"),
    ("--version=2", "Option --version takes no value\n"),
    ("--dryrun", "Unknown option --dryrun\n"),
])
def test_bad_values_stop_the_run_before_anything_is_read(velsend, option, line):
    with ScriptedPeer([send("220 ready")]) as peer:
        run = velsend(*REQUIRED, f"-h{HOST}:{peer.port}", "-f,", option, stdin=b"text\n.\n")
    assert run.status == 11
    assert run.err.startswith(line)
    assert "Type Message" not in run.err
    assert not peer.connected.is_set()


# --- --dry-run ---------------------------------------------------------------

def without_stamp(data):
    return re.sub(rb"\r\n(Date|Message-ID): [^\r\n]*", rb"\r\n\1: -", data)


@pytest.mark.parametrize("mode", [[], ["-u"]], ids=["mime", "uuencode"])
def test_dry_run_shows_what_the_relay_receives(velsend, tmp_path, mode):
    files = mimecheck.write_files(tmp_path)
    args = ["-oAnn <ann@example.test>", "-rBob <bob@example.test>,carl@example.test",
            "-cdora@example.test", "-CEve <eve@example.test>", "-sSame bytes",
            "-Rreply@example.test", *mode, f"-f{files}"]
    dry = velsend(*args, "--dry-run", stdin=mimecheck.TYPED, cwd=tmp_path)
    assert dry.status == 0, dry.err
    with aiosmtpd_relay() as relay:
        sent = velsend(*args, f"-h{HOST}:{relay.port}", "-q", stdin=mimecheck.TYPED,
                       cwd=tmp_path)
        assert sent.status == 0, sent.err
        (stored,) = relay.messages

    # The same bytes, dot lines unstuffed, CR LF throughout; only the stamp
    # of each run differs.
    assert without_stamp(dry.stdout) == without_stamp(stored.data)
    mimecheck.check_line_ends(dry.stdout)
    assert b"\r\n..two dots\r\n" in dry.stdout
    shown = email.message_from_bytes(dry.stdout, policy=email.policy.default)
    received = email.message_from_bytes(stored.data, policy=email.policy.default)
    for msg in (shown, received):
        del msg["Date"], msg["Message-ID"]
    assert shown.as_bytes() == received.as_bytes()
    assert shown["Subject"] == "Same bytes" and "eve" not in shown["To"] + shown["Cc"]

    # The envelope as it would be sent, after the prompt and before the status.
    warnings = [f"Warning: {entry},'{entry[0]}' ignored on non MIME message\n"
                for entry in files.split(",") if entry[:1] in ("+", "#") and mode]
    assert dry.err == ("Type Message, end with .<CR>\n" + "".join(warnings) +
                       "MAIL FROM:<ann@example.test>\n"
                       "RCPT TO:<bob@example.test>\n"
                       "RCPT TO:<carl@example.test>\n"
                       "RCPT TO:<dora@example.test>\n"
                       "RCPT TO:<eve@example.test>\n" + EXIT_OK)
    assert stored.mail_from == "ann@example.test"
    assert stored.rcpt_tos == re.findall(r"RCPT TO:<(.*)>", dry.err)


def test_dry_run_makes_every_check_and_contacts_no_relay(velsend, tmp_path):
    with ScriptedPeer([send("220 ready")]) as peer:
        # -h is not needed, and one given is not contacted.
        for host in ([], [f"-h{HOST}:{peer.port}"]):
            run = velsend(*REQUIRED, *host, "--dry-run", "-f,", stdin=b"hello\n.\n")
            assert run.status == 0, run.err
            assert run.stdout.endswith(b"\r\n\r\nhello\r\n\r\n")
        # Every check still holds: a file that cannot be read, a bad address.
        run = velsend(*REQUIRED, "--dry-run", "-fmissing.txt")
        assert (run.status, run.stdout) == (5, b"")
        run = velsend("-oann@example.test", "-rbob@exa mple.test", "-sS", "--dry-run")
        assert (run.status, run.stdout) == (2, b"")
        run = velsend("-oann@example.test", "-rbob@example.test", "--dry-run")
        assert (run.status, run.stdout) == (3, b"")
    assert not peer.connected.is_set()


@pytest.mark.skipif(WINE, reason="/proc is the Linux kernel's")
def test_dry_run_of_a_file_changed_between_the_passes_fails(velsend):
    # A file whose size reads as 0 but yields bytes has changed between the
    # plan and the write: the message shown would be cut short.
    run = velsend(*REQUIRED, "--dry-run", "-f/proc/self/status", stdin=b"text\n.\n")
    assert run.status == 7
    assert run.err.endswith("/proc/self/status changed while the message was being sent\n"
                            "Program Exiting[7 (ERROR_SENDING_MAIL)]\n")
    assert not run.stdout.endswith(b"--\r\n")


def test_dry_run_without_a_writable_standard_output_fails(velsend_bin, tmp_path):
    """Standard output full, or closed: nothing was shown, and the run says
    so. The Windows program runs under wine itself here, since the wrapper
    would hand it an output of its own."""
    program = ["wine", os.environ["VELSEND_BIN"]] if WINE else [velsend_bin]
    env = {**os.environ, "LANG": "C.UTF-8", "WINEDEBUG": "-all"}
    args = [*program, *REQUIRED, "--dry-run", "-f,"]
    with open("/dev/full", "wb") as full:
        proc = subprocess.run(args, input=b"text\n.\n", stdout=full, env=env,
                              stderr=subprocess.PIPE, timeout=120, cwd=tmp_path)
    closed = subprocess.run(["/bin/sh", "-c", '"$@" >&-', "sh", *args], input=b"text\n.\n",
                            env=env, stderr=subprocess.PIPE, timeout=120, cwd=tmp_path)
    for proc in (proc, closed):
        assert proc.returncode == 7, proc.stderr
        assert proc.stderr.replace(b"\r\n", b"\n").decode().endswith(
            "Cannot write the message to standard output\n"
            "Program Exiting[7 (ERROR_SENDING_MAIL)]\n")


# --- --helo ------------------------------------------------------------------

@pytest.mark.parametrize("starttls", [False, True], ids=["helo", "ehlo"])
def test_helo_name_is_announced(velsend, starttls):
    if starttls:
        # The EHLO that STARTTLS needs carries the name too; the relay
        # refuses STARTTLS, which ends the run there.
        steps = [send("220 ready"), expect(b"EHLO mail.example.test\r"),
                 send("250-hi\r\n250 STARTTLS"), expect(b"STARTTLS"), send("454 no")]
    else:
        steps = [send("220 ready"), expect(b"HELO mail.example.test\r"), send("250 hi"),
                 expect(b"MAIL"), send("250 ok"), expect(b"RCPT"), send("250 ok"),
                 expect(b"DATA"), send("354 go"), until(b"."), send("250 ok"),
                 expect(b"QUIT"), send("221 bye")]
    with ScriptedPeer(steps) as peer:
        run = velsend(*REQUIRED, f"-h{HOST}:{peer.port}", "--helo=mail.example.test",
                      *(["--starttls"] if starttls else []))
    assert not peer.mismatches, peer.mismatches
    assert run.status == (12 if starttls else 0), run.err


@pytest.fixture(scope="module")
def postfix_fqdn():
    """A Postfix of this module's own that insists on a fully qualified HELO."""
    from postfix_relay import running_postfix
    yield from running_postfix(main_cf="smtpd_helo_required = yes\n"
                                       "smtpd_helo_restrictions = reject_non_fqdn_helo_hostname\n")


def test_helo_satisfies_a_relay_that_wants_a_full_name(velsend, postfix_fqdn):
    args = ["-oann@example.test", "-rbob@example.test", f"-h{HOST}:{postfix_fqdn.port}", "-f,"]
    refused = velsend(*args, "-sShort name", "--helo=vm", stdin=b"short\n.\n")
    assert refused.status == 7
    assert "--> HELO vm\r\n" in refused.err
    assert re.search(r"<-- 504 .*need fully-qualified hostname", refused.err)

    run = velsend(*args, "-sFull name", "--helo=client.example.test", stdin=b"full\n.\n")
    assert run.status == 0, run.err + postfix_fqdn.log()[-2000:]
    message = postfix_fqdn.wait_for_message("bob", b"Subject: Full name")
    assert re.search(rb"Received: from client\.example\.test \(", message)


# --- --progress --------------------------------------------------------------

class SlowRelay:
    """A loopback SMTP relay that takes the message data slowly, in small
    reads with a small receive window, so that sending takes a while."""

    def __init__(self, chunk=32768, pause=0.01):
        self.chunk, self.pause = chunk, pause
        self.data = b""
        self._listener = socket.socket()
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 32768)
        self._listener.bind((HOST, 0))
        self._listener.listen(1)
        self._listener.settimeout(30)
        self.port = self._listener.getsockname()[1]
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        with contextlib.closing(self._listener):
            conn, _ = self._listener.accept()
        with conn:
            conn.settimeout(30)
            buffer = b""

            def line():
                nonlocal buffer
                while b"\n" not in buffer:
                    buffer += conn.recv(self.chunk)
                first, buffer = buffer.split(b"\n", 1)
                return first

            conn.sendall(b"220 slow\r\n")
            for reply in (b"250 hi", b"250 ok", b"250 ok", b"354 go"):
                line()
                conn.sendall(reply + b"\r\n")
            while not buffer.endswith(b"\r\n.\r\n"):
                time.sleep(self.pause)
                buffer += conn.recv(self.chunk)
            self.data = buffer
            conn.sendall(b"250 stored\r\n")
            line()
            conn.sendall(b"221 bye\r\n")

    def join(self):
        self._thread.join(30)


def big_attachment(tmp_path, size=9_000_000):
    path = tmp_path / "big.bin"
    path.write_bytes(os.urandom(size))
    return f"-f+{path.name}"


PROGRESS = re.compile(r"Sent (\d+) of (\d+) bytes \((\d+)%\), [\d.]+ [kMG]?B/s")


@pytest.mark.parametrize("quiet", [True, False], ids=["quiet", "trace"])
def test_progress_into_a_file_writes_a_line_at_every_tenth(velsend, tmp_path, quiet):
    relay = SlowRelay()
    run = velsend(*REQUIRED, f"-h{HOST}:{relay.port}", big_attachment(tmp_path), "--progress",
                  *(["-q"] if quiet else []), cwd=tmp_path)
    relay.join()
    assert run.status == 0, run.err[-2000:]
    states = [(int(s), int(t), int(p)) for s, t, p in PROGRESS.findall(run.err)]
    assert [p // 10 for _, _, p in states] == list(range(1, 11))
    total = len(relay.data)  # what followed the 354 reply, the final "." included
    assert states[-1][:2] == (total, total)
    assert all(t == total for _, t, _ in states)
    assert "\r" not in run.err.replace("\r\n", "")
    if quiet:
        assert run.err == "".join(f"{m.group(0)}\n" for m in PROGRESS.finditer(run.err)) + EXIT_OK


def test_progress_on_a_terminal_updates_in_place(velsend_bin, tmp_path):
    if WINE:
        pytest.skip("a pseudo-terminal is no Windows console")
    relay = SlowRelay()
    primary, secondary = pty.openpty()
    start = time.monotonic()
    proc = subprocess.Popen(
        [velsend_bin, *REQUIRED, f"-h{HOST}:{relay.port}", big_attachment(tmp_path),
         "--progress", "-q"],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=secondary, cwd=tmp_path)
    os.close(secondary)
    shown = b""
    while True:
        try:
            data = os.read(primary, 4096)
        except OSError:  # the program has ended and closed the terminal
            break
        if not data:
            break
        shown += data
    os.close(primary)
    assert proc.wait(30) == 0
    elapsed = time.monotonic() - start
    relay.join()
    text = shown.decode().replace("\r\n", "\n")  # the terminal's own line ends

    # One line rewritten in place: updates after "\r", never more than ten a
    # second, and the final state ends the line.
    progress, status = text.rsplit("\n", 2)[0], text.rsplit("\n", 2)[1]
    assert status == EXIT_OK.strip()
    updates = progress.split("\r")[1:]
    assert progress.split("\r")[0] == ""
    assert len(updates) >= 4, text
    assert len(updates) <= elapsed * 10 + 2
    assert all(PROGRESS.match(u.rstrip(" ")) for u in updates)
    assert [int(PROGRESS.match(u).group(3)) for u in updates] == sorted(
        int(PROGRESS.match(u).group(3)) for u in updates)
    final = PROGRESS.match(updates[-1])
    assert final.group(1) == final.group(2) and final.group(3) == "100"


# --- The cause before ">>Error attaching file" --------------------------------

def unreadable(kind, tmp_path):
    """(the -f entry, the cause, what to start the program with)."""
    if kind == "missing":
        return "missing.txt", "No such file or directory", []
    if kind == "directory":
        (tmp_path / "folder").mkdir()
        return "folder", "Is a directory", []
    if kind == "permission":
        (tmp_path / "secret.txt").write_bytes(b"secret\n")
        (tmp_path / "secret.txt").chmod(0)
        if os.geteuid() != 0:
            return "secret.txt", "Permission denied", []
        # Root reads any file: without the capabilities that let it, root is
        # refused like anyone else.
        setpriv = shutil.which("setpriv")
        if not setpriv:
            pytest.skip("setpriv (util-linux) is needed to drop root's file capabilities")
        return "secret.txt", "Permission denied", [
            setpriv, "--inh-caps=-all", "--bounding-set=-dac_override,-dac_read_search"]
    if kind == "memory":
        # Twice the address space the test leaves the program (512 MiB).
        size = 2 ** 30
        with open(tmp_path / "huge.bin", "wb") as f:
            f.truncate(size)  # sparse: takes no disk
        return "huge.bin", f"not enough memory for a file of {size} bytes", ["memory"]
    raise AssertionError(kind)


@pytest.mark.parametrize("mode", [[], ["-q"], ["-u"]], ids=["mime", "quiet", "uuencode"])
@pytest.mark.parametrize("kind", ["missing", "directory", "permission", "memory"])
def test_cause_comes_before_the_attaching_error(velsend_bin, tmp_path, kind, mode):
    if WINE and kind in ("permission", "memory"):
        pytest.skip("needs setpriv or an address-space limit")
    name, cause, prefix = unreadable(kind, tmp_path)
    limit = None
    if prefix == ["memory"]:
        prefix = []

        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (1 << 29, 1 << 29))
    if limit and "ASAN_OPTIONS" in os.environ:
        pytest.skip("the sanitizers need more address space than the limit leaves")
    proc = subprocess.run(
        [*prefix, velsend_bin, *REQUIRED, f"-h{HOST}:{closed_port()}", *mode, f"-f{name}"],
        capture_output=True, cwd=tmp_path, timeout=60, preexec_fn=limit)
    if kind == "memory":
        # Files are read and encoded again as they are sent, so a file twice
        # the address space is taken: the run goes on to the (closed) relay.
        assert proc.returncode == 6, proc.stderr
        assert b"Cannot read" not in proc.stderr
        return
    assert proc.returncode == 5
    assert proc.stderr.decode() == (f"Cannot read {name}: {cause}\n"
                                     f">>Error attaching file {name}\n"
                                     "Program Exiting[5 (ERROR_ATACHING_FILE)]\n")


def test_cause_for_the_message_text(velsend_bin, tmp_path):
    if WINE:
        pytest.skip("a directory cannot be standard input on Windows")
    # A directory as standard input opens but cannot be read.
    directory = os.open(tmp_path, os.O_RDONLY)
    try:
        proc = subprocess.run([velsend_bin, *REQUIRED, f"-h{HOST}:{closed_port()}", "-q", "-f,"],
                              stdin=directory, capture_output=True, timeout=60)
    finally:
        os.close(directory)
    assert proc.returncode == 5
    assert proc.stderr.decode() == ("Type Message, end with .<CR>\n"
                                    "Cannot read standard input: Is a directory\n"
                                    ">>Error attaching file \n"
                                    "Program Exiting[5 (ERROR_ATACHING_FILE)]\n")
