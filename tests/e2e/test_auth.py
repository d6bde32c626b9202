"""Authentication as today's relays want it: the mechanism the relay offers
over TLS, CRAM-MD5, OAuth 2.0 tokens (XOAUTH2, OAUTHBEARER), passwords
from a file, a command or the environment, and the relay's SIZE."""
import base64
import collections
import contextlib
import hashlib
import hmac
import json
import os
import subprocess
import sys
import threading
import time

import pytest

from conftest import WINE
from peers import HOST, ScriptedPeer, call, closed_port, delay, expect, relay, send
from tls_support import Pki

USER = "ann@example.org"
SECRET = "s3cret-Pw"
TOKEN = "ya29." + "a0Ae4" * 900  # some 4.5 KB, as large tokens are
REQUIRED = ["-oann@example.org", "-rbob@example.org", "-sAuth"]
SENT_OK = "Connection Closed [0]\nProgram Exiting[0 (ERROR_NONE)]\n"
ERROR_JSON = {"status": "401", "schemes": "bearer", "scope": "https://mail.example.org/"}


@pytest.fixture(scope="session")
def pki(tmp_path_factory):
    return Pki(tmp_path_factory.mktemp("pki"))


def b64(data):
    return base64.b64encode(data.encode() if isinstance(data, str) else data).decode()


def assert_no_secret(text, *secrets):
    """No secret in text, nor the middle of its base64 form at any alignment."""
    for secret in secrets:
        assert secret not in text
        for shift in range(3):
            encoded = b64(b"\0" * shift + secret.encode())
            assert encoded[4 if shift else 0:][:8] not in text


class AuthHandler:
    """Stores messages; CRAM-MD5, XOAUTH2 and OAUTHBEARER as relays play them.
    logins: (mechanism, client string, accepted); answers: what the client
    said to the 334 error of a refused token."""

    def __init__(self):
        self.messages, self.logins, self.answers = [], [], []
        self.port = 0

    async def handle_DATA(self, server, session, envelope):
        self.messages.append(envelope.original_content or envelope.content)
        return "250 OK stored"

    async def auth_CRAM__MD5(self, server, args):
        from aiosmtpd.smtp import MISSING, AuthResult
        challenge = f"<{os.getpid()}.{time.time_ns()}@localhost>".encode()
        answer = await server.challenge_auth(challenge)
        if answer is MISSING:
            return AuthResult(success=False, handled=True)
        digest = hmac.new(SECRET.encode(), challenge, hashlib.md5).hexdigest()
        ok = answer == f"{USER} {digest}".encode()
        self.logins.append(("CRAM-MD5", answer, ok))
        return AuthResult(success=ok)

    async def _bearer(self, server, args, mechanism, expected):
        from aiosmtpd.smtp import AuthResult
        sent = base64.b64decode(args[1]) if len(args) > 1 else b""
        ok = sent == expected
        self.logins.append((mechanism, sent, ok))
        if ok:
            return AuthResult(success=True)
        self.answers.append(await server.challenge_auth(json.dumps(ERROR_JSON)))
        return AuthResult(success=False, handled=False)  # aiosmtpd's 535

    async def auth_XOAUTH2(self, server, args):
        expected = f"user={USER}\x01auth=Bearer {TOKEN}\x01\x01".encode()
        return await self._bearer(server, args, "XOAUTH2", expected)

    async def auth_OAUTHBEARER(self, server, args):
        expected = (f"n,a={USER},\x01host=localhost\x01port={self.port}\x01"
                    f"auth=Bearer {TOKEN}\x01\x01").encode()
        return await self._bearer(server, args, "OAUTHBEARER", expected)


ALL = ("PLAIN", "LOGIN", "CRAM-MD5", "XOAUTH2", "OAUTHBEARER")


@contextlib.contextmanager
def auth_relay(pki, offered=ALL, mode="starttls", **options):
    """aiosmtpd over TLS offering the mechanisms named; PLAIN and LOGIN accept
    USER and SECRET."""
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import SMTP, AuthResult

    handler = AuthHandler()

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = auth_data.login == USER.encode() and auth_data.password == SECRET.encode()
        handler.logins.append((mechanism, auth_data.login, ok))
        return AuthResult(success=ok, handled=False)

    class LongLines(SMTP):
        # Room for AUTH lines that carry tokens of several kilobytes.
        command_size_limit = 16384
        command_size_limits = collections.defaultdict(lambda: 16384)
        line_length_limit = 16384

    class Relay(Controller):
        def _trigger_server(self):
            self.port = handler.port = self.server.sockets[0].getsockname()[1]
            super()._trigger_server()

        def factory(self):
            return LongLines(self.handler, **self.SMTP_kwargs)

    tls = ({"tls_context": pki.server_context(), "require_starttls": True}
           if mode == "starttls" else
           # aiosmtpd does not count implicit TLS as TLS for AUTH.
           {"ssl_context": pki.server_context(), "auth_require_tls": False})
    settings = {"authenticator": authenticator, "data_size_limit": None,
                "auth_exclude_mechanism": [m for m in ALL if m not in offered], **tls}
    settings.update(options)
    controller = Relay(handler, hostname=HOST, port=0, **settings)
    controller.start()
    try:
        yield controller, handler
    finally:
        controller.stop()


def tls_args(pki, port, mode="starttls"):
    return [f"-hlocalhost:{port}", f"--{mode}", f"--cacert={pki.ca}"]


# --- The mechanism the relay offers -------------------------------------------

@pytest.mark.parametrize("offered,chosen,mode", [
    (ALL, "PLAIN", "starttls"),
    (("LOGIN",), "LOGIN", "starttls"),
    (("LOGIN", "CRAM-MD5", "XOAUTH2"), "LOGIN", "tls"),
    (("CRAM-MD5",), "CRAM-MD5", "starttls"),
    (("CRAM-MD5", "XOAUTH2"), "CRAM-MD5", "tls"),
])
def test_chooses_what_the_relay_offers(velsend, pki, offered, chosen, mode):
    with auth_relay(pki, offered, mode) as (r, h):
        run = velsend(*REQUIRED, *tls_args(pki, r.port, mode), f"-n{USER}", f"-p{SECRET}")
    assert run.status == 0, run.err
    assert run.err.endswith(SENT_OK)
    assert [(m, ok) for m, _, ok in h.logins] == [(chosen, True)]
    assert len(h.messages) == 1
    assert_no_secret(run.err, SECRET)


@pytest.mark.parametrize("mechanism", ["XOAUTH2", "oauthbearer"])
def test_bearer_token(velsend, pki, mechanism):
    with auth_relay(pki) as (r, h):
        run = velsend(*REQUIRED, *tls_args(pki, r.port), f"-n{USER}", f"-m{mechanism}",
                      "--password-command=echo " + TOKEN)
        bad = velsend(*REQUIRED, *tls_args(pki, r.port), f"-n{USER}", f"-m{mechanism}",
                      "-pexpired-token")
    assert run.status == 0, run.err
    assert bad.status == 9, bad.err
    assert [(m, ok) for m, _, ok in h.logins] == [(mechanism.upper(), True),
                                                 (mechanism.upper(), False)]
    assert len(h.messages) == 1
    # The refusal: the relay's JSON shown decoded, an empty answer, its 535.
    assert h.answers == [b""]
    assert f"<-- (decoded) {json.dumps(ERROR_JSON)}\n--> \r\n<-- 535 " in bad.err
    assert bad.err.endswith("Couldn't authenticate with localhost\nConnection Closed [0]\n"
                            "Program Exiting[9 (ERROR_AUTHENTICATING)]\n")
    assert_no_secret(run.err, TOKEN[:40], TOKEN[-40:])
    assert_no_secret(bad.err, "expired-token")


@pytest.mark.parametrize("offered,method,line", [
    (("PLAIN", "LOGIN"), "cram-md5",
     "The relay does not offer AUTH CRAM-MD5 (it offers: LOGIN PLAIN)\n"),
    (("XOAUTH2",), "PLAIN", "The relay does not offer AUTH PLAIN (it offers: XOAUTH2)\n"),
    (("XOAUTH2",), None,
     "The relay does not offer AUTH PLAIN, LOGIN or CRAM-MD5 (it offers: XOAUTH2)\n"),
    ((), "LOGIN", "The relay does not offer authentication\n"),
    ((), None, "The relay does not offer authentication\n"),
])
def test_refused_before_auth_when_not_offered(velsend, pki, offered, method, line):
    with auth_relay(pki, offered) as (r, h):
        run = velsend(*REQUIRED, *tls_args(pki, r.port), f"-n{USER}", f"-p{SECRET}",
                      *([f"-m{method}"] if method else []))
        quiet = velsend(*REQUIRED, *tls_args(pki, r.port), f"-n{USER}", f"-p{SECRET}",
                        *([f"-m{method}"] if method else []), "-q")
    assert run.status == 9 and quiet.status == 9, run.err
    assert run.err.endswith(line + "Connection Closed [0]\n"
                            "Program Exiting[9 (ERROR_AUTHENTICATING)]\n")
    assert quiet.err == line + "Program Exiting[9 (ERROR_AUTHENTICATING)]\n"
    assert "--> AUTH" not in run.err and h.logins == [] and h.messages == []


def test_unknown_mechanism_still_status_8(velsend):
    run = velsend(*REQUIRED, f"-h127.0.0.1:{closed_port()}", "-nann", "-psecret",
                  "-mDIGEST-MD5")
    assert run.status == 8


# --- Secrets kept off the command line ------------------------------------------

def plain_relay():
    return relay(USER, SECRET)


def private_file(path, content):
    path.write_bytes(content)
    path.chmod(0o600)


@pytest.mark.parametrize("content", [SECRET.encode(), SECRET.encode() + b"\n",
                                     SECRET.encode() + b"\r\nsecond line\r\n",
                                     SECRET.encode() + b"\r"],
                         ids=["no-line-end", "lf", "crlf", "cr"])
def test_password_file(velsend, tmp_path, content):
    private_file(tmp_path / "pw", content)
    with plain_relay() as r:
        run = velsend(*REQUIRED, f"-h127.0.0.1:{r.port}", f"-n{USER}",
                      f"--password-file={tmp_path / 'pw'}")
    assert run.status == 0, run.err
    assert r.logins == [("PLAIN", USER.encode(), SECRET.encode(), True)]
    assert_no_secret(run.err, SECRET)


@pytest.mark.skipif(WINE, reason="Windows keeps who may read a file in an ACL, not in mode bits")
@pytest.mark.parametrize("mode,warned", [(0o600, False), (0o400, False), (0o640, True),
                                         (0o644, True)])
@pytest.mark.parametrize("quiet", [[], ["-q"]], ids=["trace", "quiet"])
def test_password_file_that_others_can_read_is_warned_of(velsend, tmp_path, mode, warned, quiet):
    path = tmp_path / "pw"
    path.write_bytes(SECRET.encode() + b"\r")  # a lone CR ends the line too
    path.chmod(mode)
    with plain_relay() as r:
        run = velsend(*REQUIRED, f"-h127.0.0.1:{r.port}", f"-n{USER}", *quiet,
                      f"--password-file={path}")
    assert run.status == 0, run.err
    assert r.logins == [("PLAIN", USER.encode(), SECRET.encode(), True)]
    warning = f"Warning: {path} can be read by other users (chmod 600 {path})\n"
    assert run.err.startswith(warning) == warned, run.err


def test_nul_in_a_password_file_is_refused(velsend, tmp_path):
    path = tmp_path / "pw"
    path.write_bytes(b"sec\0ret\n")
    path.chmod(0o600)
    run = velsend(*REQUIRED, f"-h127.0.0.1:{closed_port()}", f"-n{USER}", "-q",
                  f"--password-file={path}")
    assert run.status == 9
    assert run.err == ("Couldn't get the password: the password holds a NUL byte\n"
                       "Program Exiting[9 (ERROR_AUTHENTICATING)]\n")


@pytest.mark.parametrize("command", ["echo " + SECRET, f"echo {SECRET}&& echo other"])
def test_password_command(velsend, command):
    with plain_relay() as r:
        run = velsend(*REQUIRED, f"-h127.0.0.1:{r.port}", f"-n{USER}", "-mLOGIN",
                      f"--password-command={command}")
    assert run.status == 0, run.err
    assert r.logins == [("LOGIN", USER.encode(), SECRET.encode(), True)]
    assert_no_secret(run.err, SECRET)


@pytest.mark.skipif(WINE, reason="the cases need a POSIX shell's sleep, yes and background jobs")
@pytest.mark.parametrize("command,reason", [
    ("sleep 30", "the password command did not end within 1 s"),
    ("yes", "the password command wrote more than 65536 bytes"),
    ("sleep 30 & echo $! > child; wait", "the password command did not end within 1 s"),
])
def test_password_command_is_bounded(velsend, tmp_path, command, reason):
    start = time.monotonic()
    run = velsend(*REQUIRED, f"-h127.0.0.1:{closed_port()}", f"-n{USER}", "--timeout=1",
                  f"--password-command={command}", cwd=tmp_path, timeout=20)
    assert time.monotonic() - start < 8
    assert run.status == 9
    assert run.err == f"Couldn't get the password: {reason}\nProgram Exiting[9 (ERROR_AUTHENTICATING)]\n"
    if (tmp_path / "child").exists():  # what the command started ended with it
        pid = int((tmp_path / "child").read_text())
        for _ in range(50):
            if not os.path.exists(f"/proc/{pid}") or "Z" in open(f"/proc/{pid}/stat").read().split()[2]:
                break
            time.sleep(0.1)
        assert not os.path.exists(f"/proc/{pid}") or open(f"/proc/{pid}/stat").read().split()[2] == "Z"


@pytest.mark.skipif(WINE, reason="Windows has no FIFOs")
def test_password_file_that_is_a_fifo_is_refused(velsend, tmp_path):
    os.mkfifo(tmp_path / "pw", 0o600)  # no writer: opening it would wait for ever
    run = velsend(*REQUIRED, f"-h127.0.0.1:{closed_port()}", f"-n{USER}",
                  f"--password-file={tmp_path / 'pw'}", timeout=20)
    assert run.status == 9
    assert run.err == (f"Couldn't get the password: {tmp_path / 'pw'} is not a regular file\n"
                       "Program Exiting[9 (ERROR_AUTHENTICATING)]\n")


@pytest.mark.skipif(WINE, reason="the case needs a POSIX shell's background jobs")
def test_password_command_that_leaves_a_child_holding_its_output(velsend):
    # The command has ended; its background child keeps the pipe open for 30 s.
    start = time.monotonic()
    with plain_relay() as r:
        run = velsend(*REQUIRED, f"-h127.0.0.1:{r.port}", f"-n{USER}",
                      f"--password-command=echo {SECRET}; (sleep 30 2>/dev/null &)",
                      timeout=20)
    assert run.status == 0, run.err
    assert time.monotonic() - start < 8
    assert r.logins == [("PLAIN", USER.encode(), SECRET.encode(), True)]


def test_password_from_the_environment(velsend):
    env = {"VELSEND_PASSWORD": SECRET}
    with plain_relay() as r:
        run = velsend(*REQUIRED, f"-h127.0.0.1:{r.port}", f"-n{USER}", env=env)
        given = velsend(*REQUIRED, f"-h127.0.0.1:{r.port}", f"-n{USER}", "-pother", env=env)
        anonymous = velsend(*REQUIRED, f"-h127.0.0.1:{r.port}", env=env)
    assert run.status == 0, run.err
    assert given.status == 9  # -p comes first
    assert anonymous.status == 0 and "AUTH" not in anonymous.err  # no user: HELO as before
    assert [login[2] for login in r.logins] == [SECRET.encode(), b"other"]
    assert_no_secret(run.err, SECRET)


@pytest.mark.parametrize("source,reason", [
    ("file:empty", "{dir}/empty holds no password on its first line"),
    ("file:blank-first-line", "{dir}/blank-first-line holds no password on its first line"),
    ("file:missing", "can't open {dir}/missing: No such file or directory"),
    ("command:exit 3", "the password command exited with status 3"),
    ("command:exit 0", "the password command wrote no password"),
    ("command:echo " + SECRET + "&& exit 1", "the password command exited with status 1"),
])
def test_password_not_obtained_stops_before_connecting(velsend, tmp_path, source, reason):
    private_file(tmp_path / "empty", b"")
    private_file(tmp_path / "blank-first-line", b"\n" + SECRET.encode() + b"\n")
    kind, value = source.split(":", 1)
    option = (f"--password-file={tmp_path / value}" if kind == "file"
              else f"--password-command={value}")
    # Nothing listens on the port: a connection attempt would end with 6.
    run = velsend(*REQUIRED, f"-h127.0.0.1:{closed_port()}", f"-n{USER}", option, "-f,",
                  stdin=b"text\r\n.\r\n")
    assert run.status == 9, run.err
    expected = "Couldn't get the password: " + reason.format(dir=tmp_path) + "\n"
    assert run.err == expected + "Program Exiting[9 (ERROR_AUTHENTICATING)]\n"
    assert "Type Message" not in run.err  # before the text is read
    assert_no_secret(run.err, SECRET)


@pytest.mark.parametrize("words", [
    ["-pX", "--password-file=f"], ["-p", "--password-command=c"],
    ["--password-file=f", "--password-command=c"]])
def test_two_password_sources(velsend, words):
    run = velsend(*REQUIRED, f"-h127.0.0.1:{closed_port()}", "-nann", *words)
    assert run.status == 11
    assert run.err.startswith(
        "Options -p, --password-file and --password-command exclude each other\nUsage:")


@pytest.mark.skipif(WINE or not sys.platform.startswith("linux"),
                    reason="reads the command line from /proc")
@pytest.mark.parametrize("option", ["--password-file", "--password-command", "environment"])
def test_command_line_holds_no_secret(velsend_bin, tmp_path, option):
    (tmp_path / "pw").write_text(SECRET + "\n")
    words = {"--password-file": [f"--password-file={tmp_path / 'pw'}"],
             "--password-command": [f"--password-command=cat {tmp_path / 'pw'}"],
             "environment": []}[option]
    env = dict(os.environ, VELSEND_PASSWORD=SECRET) if option == "environment" else None
    # The relay holds the session after AUTH until the command line is read.
    read = threading.Event()
    steps = [send("220 hi"), expect("EHLO"), send("250-relay\r\n250 AUTH PLAIN"),
             expect("AUTH PLAIN"), call(lambda: read.wait(20)), send("535 no")]
    with ScriptedPeer(steps) as peer:
        proc = subprocess.Popen([velsend_bin, *REQUIRED, f"-h127.0.0.1:{peer.port}",
                                 f"-n{USER}", *words], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        try:
            deadline = time.monotonic() + 20
            while b"AUTH PLAIN" not in peer.received and time.monotonic() < deadline:
                time.sleep(0.02)
            assert b"AUTH PLAIN " + b64(f"\0{USER}\0{SECRET}").encode() in peer.received
            cmdline = open(f"/proc/{proc.pid}/cmdline", "rb").read()
            read.set()
            _, err = proc.communicate(timeout=30)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
    assert cmdline.startswith(velsend_bin.encode() + b"\0-oann@example.org")
    assert SECRET.encode() not in cmdline
    assert proc.returncode == 9
    assert_no_secret(err.decode("latin-1"), SECRET)


# --- SIZE -------------------------------------------------------------------

def test_message_larger_than_the_relays_size(velsend, pki, tmp_path):
    (tmp_path / "big.txt").write_text("line of text\n" * 400)
    with auth_relay(pki, data_size_limit=1000) as (r, h):
        run = velsend(*REQUIRED, *tls_args(pki, r.port), "-f+big.txt", cwd=tmp_path)
        fits = velsend(*REQUIRED, *tls_args(pki, r.port), "-f,", stdin=b"short\r\n.\r\n")
    assert run.status == 7, run.err
    assert "<-- 250-SIZE 1000\n" in run.err
    assert "--> MAIL" not in run.err
    size = int(run.err.split("The message (")[1].split(" ")[0])
    assert size > 400 * 14
    assert run.err.endswith(f"The message ({size} bytes) is larger than the relay accepts "
                            "(1000 bytes)\nConnection Closed [0]\n"
                            "Program Exiting[7 (ERROR_SENDING_MAIL)]\n")
    assert fits.status == 0, fits.err
    assert len(h.messages) == 1 and b"short" in h.messages[0]


def test_relay_size_is_counted_as_the_relay_counts(velsend, pki):
    # RFC 1870: without the final "." line (and without stuffed dots, which
    # aiosmtpd would count, so this text has none): a relay announcing the
    # exact size of the message takes it.
    text = b"line of text\r\n" * 20 + b".\r\n"
    with auth_relay(pki, data_size_limit=100000) as (r, h):
        first = velsend(*REQUIRED, *tls_args(pki, r.port), "-f,", stdin=text)
    assert first.status == 0, first.err
    size = len(h.messages[0])
    with auth_relay(pki, data_size_limit=size) as (r, h):
        exact = velsend(*REQUIRED, *tls_args(pki, r.port), "-f,", stdin=text)
    with auth_relay(pki, data_size_limit=size - 1) as (r, h):
        over = velsend(*REQUIRED, *tls_args(pki, r.port), "-f,", stdin=text)
    assert exact.status == 0, exact.err
    assert over.status == 7, over.err
    assert (f"The message ({size} bytes) is larger than the relay accepts ({size - 1} bytes)\n"
            in over.err)


# --- Postfix submission with Cyrus sasldb ---------------------------------------

@pytest.fixture(scope="module")
def postfix_sasl(pki):
    from postfix_relay import running_postfix
    yield from running_postfix(tls=pki.files["valid"], password=SECRET,
                               mechanisms="PLAIN LOGIN CRAM-MD5")


@pytest.mark.parametrize("service,method,chosen", [
    ("submission", None, "PLAIN"),
    ("submission", "LOGIN", "LOGIN"),
    ("submission", "CRAM-MD5", "CRAM-MD5"),
    ("no-plaintext", None, "CRAM-MD5"),
])
def test_postfix_submission(velsend, pki, postfix_sasl, tmp_path, service, method, chosen):
    port = (postfix_sasl.submission_port if service == "submission"
            else postfix_sasl.no_plaintext_port)
    subject = f"Postfix SASL {service} {method}"
    (tmp_path / "pw").write_text(SECRET + "\n")
    run = velsend("-oann@example.test", "-rbob@example.test", f"-s{subject}",
                  *tls_args(pki, port), "-nann", f"--password-file={tmp_path / 'pw'}",
                  *([f"-m{method}"] if method else []), "-f,", stdin=b"Over TLS\r\n.\r\n")
    assert run.status == 0, run.err[-2000:] + postfix_sasl.log()[-2000:]
    assert f"--> AUTH {chosen}" in run.err
    message = postfix_sasl.wait_for_message("bob", f"Subject: {subject}".encode())
    assert b"ESMTPSA" in message
    assert_no_secret(run.err, SECRET)
