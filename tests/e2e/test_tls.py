"""STARTTLS and implicit TLS: delivery through aiosmtpd over TLS with the
certificate verified, and every way a relay or an attacker in the middle
could make the client fail open, played by a scripted peer."""
import email
import email.policy
import os
import re
import shutil
import socket
import ssl
import subprocess
import threading
import time

import pytest

import mimecheck
from peers import (ScriptedPeer, closed_port, close, delay, expect, relay, send, send_raw, silent, tls,
                   until_line)
from conftest import WINE
from tls_support import Pki

REQUIRED = ["-oann@example.org", "-rbob@example.org", "-sOver TLS"]
SENT_OK = "Connection Closed [0]\nProgram Exiting[0 (ERROR_NONE)]\n"
HANDSHAKE_DONE = re.compile(r"^TLS 1\.[23] \(\w+\), certificate verified for (\S+)\n", re.M)
NOT_VERIFIED = re.compile(r"^TLS 1\.[23] \(\w+\), certificate not verified \(--insecure\)\n",
                          re.M)


@pytest.fixture(scope="session")
def pki(tmp_path_factory):
    return Pki(tmp_path_factory.mktemp("pki"))


def secured_failure(host, reason):
    return f"Couldn't secure the connection to {host}: {reason}\n"


def assert_nothing_in_clear(data):
    """No credential, envelope or message byte in data."""
    for word in (b"AUTH", b"MAIL", b"RCPT", b"DATA", b"HELO", b"Subject", b"secret"):
        assert word not in data, data


# --- Delivery over TLS ------------------------------------------------------

@pytest.mark.parametrize("mode", ["starttls", "tls"])
def test_delivers_with_auth_over_tls(velsend, pki, mode):
    if mode == "starttls":
        server = relay("ann", "secret", tls_context=pki.server_context(),
                       require_starttls=True, auth_require_tls=True)
    else:
        server = relay("ann", "secret", ssl_context=pki.server_context())
    with server as r:
        run = velsend(*REQUIRED, f"-hlocalhost:{r.port}", f"--{mode}", f"--cacert={pki.ca}",
                      "-nann", "-psecret")
    assert run.status == 0, run.err
    assert run.err.endswith(SENT_OK)
    assert HANDSHAKE_DONE.search(run.err).group(1) == "localhost"
    assert r.logins == [("PLAIN", b"ann", b"secret", True)]
    assert len(r.messages) == 1 and b"Subject: Over TLS" in r.messages[0].data
    assert "secret" not in run.err and "AGFubgBzZWNyZXQ" not in run.err
    # The keywords are those of the EHLO over TLS; the first EHLO's are gone.
    if mode == "starttls":
        before, after = run.err.split("certificate verified", 1)
        assert "--> STARTTLS\r\n<-- 220" in before and "AUTH" not in before
        assert "--> EHLO " in after and "<-- 250-AUTH" in after


def test_without_credentials_ehlo_is_used_over_tls(velsend, pki):
    with relay(tls_context=pki.server_context(), require_starttls=True) as r:
        run = velsend(*REQUIRED, f"-h127.0.0.1:{r.port}", "--starttls", f"--cacert={pki.ca}")
    assert run.status == 0, run.err
    # Verified against the certificate's IP address entry.
    assert HANDSHAKE_DONE.search(run.err).group(1) == "127.0.0.1"
    assert run.err.count("--> EHLO ") == 2 and "HELO" not in run.err.replace("EHLO", "")
    assert len(r.messages) == 1


def test_large_attachment_arrives_byte_for_byte(velsend, pki, tmp_path):
    data = os.urandom(6 * 1024 * 1024 + 321)
    (tmp_path / "big.bin").write_bytes(data)
    with relay(tls_context=pki.server_context(), require_starttls=True) as r:
        run = velsend(*REQUIRED, f"-hlocalhost:{r.port}", "--starttls", f"--cacert={pki.ca}",
                      "-q", "-f+big.bin", cwd=tmp_path, timeout=120)
    assert run.status == 0, run.err
    msg = email.message_from_bytes(r.messages[0].data, policy=email.policy.default)
    attachments = [p for p in msg.walk() if p.get_filename() == "big.bin"]
    assert len(attachments) == 1
    assert attachments[0].get_content() == data


# --- Verification -----------------------------------------------------------

@pytest.mark.parametrize("kind,host,cacert,reason", [
    ("untrusted", "localhost", "ca",
     "certificate verify failed: unable to get local issuer certificate"),
    ("untrusted", "localhost", None,
     "certificate verify failed: unable to get local issuer certificate"),
    ("self-signed", "localhost", "ca", "certificate verify failed: self-signed certificate"),
    ("expired", "localhost", "ca", "certificate verify failed: certificate has expired"),
    ("wrong-name", "localhost", "ca", "certificate is for mail.example.net, not localhost"),
    ("wildcard", "localhost", "ca", "certificate is for *.localhost, not localhost"),
    ("no-alt-names", "localhost", "ca", "certificate is not for localhost"),
    ("escapes", "localhost", "ca",
     "certificate is for \\x1B]0;owned\\x07\\x1B[31m.example, not localhost"),
    ("valid", "localhost", None,  # the system's store does not know the test CA
     "certificate verify failed: unable to get local issuer certificate"),
    ("valid", "localhost", "other", "certificate verify failed: unable to get local issuer certificate"),
])
def test_verification_failures_and_insecure(velsend, pki, kind, host, cacert, reason):
    ca = {"ca": [f"--cacert={pki.ca}"], "other": [f"--cacert={pki.other_ca}"], None: []}[cacert]
    with relay(tls_context=pki.server_context(kind), require_starttls=True) as r:
        run = velsend(*REQUIRED, f"-h{host}:{r.port}", "--starttls", *ca, "-nann", "-psecret")
        assert run.status == 12, run.err
        assert run.err.endswith(secured_failure(host, reason) + "Connection Closed [0]\n"
                                "Program Exiting[12 (ERROR_TLS)]\n")
        assert r.messages == [] and r.logins == []

        # --insecure goes through with the same server, and says so.
        insecure = velsend(*REQUIRED, f"-h{host}:{r.port}", "--starttls", *ca, "--insecure")
    assert insecure.status == 0, insecure.err
    assert NOT_VERIFIED.search(insecure.err)
    assert len(r.messages) == 1


@pytest.mark.parametrize("kind", ["valid", "self-signed"])
def test_only_tls_1_1_offered(velsend, pki, kind):
    context = pki.server_context(kind, maximum=ssl.TLSVersion.TLSv1_1)
    steps = [send("220 hi"), expect("EHLO"), send("250-relay\r\n250 STARTTLS"),
             expect("STARTTLS"), send("220 go"), tls(context), expect("EHLO")]
    with ScriptedPeer(steps) as peer:
        run = velsend(*REQUIRED, f"-hlocalhost:{peer.port}", "--starttls",
                      f"--cacert={pki.ca}", "--insecure", "-nann", "-psecret")
    assert run.status == 12, run.err
    assert secured_failure("localhost", "the relay does not offer TLS 1.2 or later") in run.err
    assert_nothing_in_clear(peer.clear)


# --- A relay or a man in the middle that would have us fail open ------------

EHLO_STARTTLS = [send("220 hi"), expect("EHLO "), send("250-relay\r\n250 STARTTLS"),
                 expect("STARTTLS")]


@pytest.mark.parametrize("steps,reason", [
    ([send("220 hi"), expect("EHLO "), send("250-relay\r\n250-AUTH PLAIN\r\n250 SIZE 9")],
     "the relay does not offer STARTTLS"),
    ([send("220 hi"), expect("EHLO "), send("500 5.5.1 unknown command")],
     "the relay refused EHLO, so it does not offer STARTTLS"),
    (EHLO_STARTTLS + [send("454 4.7.0 TLS not available due to local problem")],
     "the relay refused STARTTLS: 454 4.7.0 TLS not available due to local problem"),
    (EHLO_STARTTLS + [send("502 5.5.1 not implemented")],
     "the relay refused STARTTLS: 502 5.5.1 not implemented"),
    (EHLO_STARTTLS + [send_raw(b"220 go\r\n250-AUTH PLAIN\r\n250 STARTTLS\r\n")],
     "the relay sent data after accepting STARTTLS"),
    (EHLO_STARTTLS + [send("220 go"), delay(0.3), send("250 injected")],
     "the relay did not answer with TLS"),
    (EHLO_STARTTLS + [send("220 go"), close()],
     "the relay closed the connection during the TLS handshake"),
], ids=["not offered", "EHLO refused", "454", "502", "injected with the 220",
        "injected in a later packet", "closed in the handshake"])
def test_no_fall_back_to_clear_text(velsend, steps, reason):
    with ScriptedPeer(steps) as peer:
        run = velsend(*REQUIRED, f"-h127.0.0.1:{peer.port}", "--starttls", "-nann",
                      "-psecret", "-q")
    assert run.status == 12, run.err
    # Written in quiet mode too, and nothing else.
    assert run.err == secured_failure("127.0.0.1", reason) + "Program Exiting[12 (ERROR_TLS)]\n"
    assert_nothing_in_clear(peer.received)
    # Nothing followed the refused or abused STARTTLS but a TLS handshake.
    after = peer.received.split(b"STARTTLS\r\n", 1)
    assert len(after) == 1 or after[1] == b"" or after[1][:2] == b"\x16\x03"


@pytest.mark.parametrize("mode,steps", [
    ("--starttls", EHLO_STARTTLS + [send("220 go"), silent()]),
    ("--tls", [silent()]),
])
def test_silence_in_the_handshake_is_bounded(velsend, mode, steps):
    with ScriptedPeer(steps) as peer:
        start = time.monotonic()
        run = velsend(*REQUIRED, f"-h127.0.0.1:{peer.port}", mode, "--timeout=1", timeout=30)
        elapsed = time.monotonic() - start
    assert run.status == 12, run.err
    assert secured_failure("127.0.0.1", "the relay did not complete the TLS handshake in time") \
        in run.err
    assert elapsed < 8


def secured_delivery(context):
    """The dialogue from the handshake on: one message accepted, then the
    relay closes without close_notify."""
    return [tls(context), expect("EHLO "), send("250 relay"), expect("MAIL FROM:"),
            send("250 ok"), expect("RCPT TO:"), send("250 ok"), expect("DATA"),
            send("354 go"), until_line("."), send("250 queued"), expect("QUIT"),
            send("221 bye"), close()]


def recording_sni(pki):
    """A server context and the list of server names the clients send it."""
    context = pki.server_context()
    names = []
    context.sni_callback = lambda sock, name, ctx: names.append(name)
    return context, names


@pytest.mark.skipif(WINE, reason="Wine's SChannel has no TLS 1.3, the only version with KeyUpdate")
def test_records_without_data_do_not_outlast_the_timeout(velsend, pki):
    """A relay that completes the handshake and then sends only TLS 1.3
    KeyUpdate records, never a greeting: the run ends at its deadline."""
    port = closed_port()
    cert, key = pki.files["valid"]
    server = subprocess.Popen(
        ["openssl", "s_server", "-accept", f"127.0.0.1:{port}", "-cert", str(cert),
         "-key", str(key), "-tls1_3", "-naccept", "1", "-ign_eof"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    done = threading.Event()

    def flood():
        # s_server sends a KeyUpdate for each line "k" it reads, once the
        # handshake is done.
        for line in server.stdout:
            if line.startswith(b"CIPHER is"):
                break
        while not done.is_set():
            try:
                server.stdin.write(b"k\n")
                server.stdin.flush()
            except OSError:
                return
            time.sleep(0.002)

    try:
        for line in server.stdout:
            if line.startswith(b"ACCEPT"):
                break
        flooder = threading.Thread(target=flood, daemon=True)
        flooder.start()
        start = time.monotonic()
        run = velsend(*REQUIRED, f"-hlocalhost:{port}", "--tls", f"--cacert={pki.ca}",
                      "--timeout=2", timeout=60)
        elapsed = time.monotonic() - start
    finally:
        done.set()
        server.kill()
        server.wait()
    assert run.status == 9, run.err  # no greeting: the login step failed
    assert "certificate verified for localhost\nTimed out waiting for localhost\n" in run.err
    assert elapsed < 10, elapsed


@pytest.mark.skipif(WINE, reason="the private hosts table is seen by Linux programs only")
def test_trailing_dot_is_the_same_name_for_sni_and_verification(velsend_bin, pki, tmp_path):
    """-hlocalhost. is looked up with its dot but is localhost in SNI (RFC
    6066) and in the certificate's names."""
    hosts = tmp_path / "hosts"
    hosts.write_text("127.0.0.1 localhost.\n")
    private = ["unshare", "-m", "sh", "-c", f'mount --bind {hosts} /etc/hosts && exec "$@"', "sh"]
    if shutil.which("unshare") is None or subprocess.run([*private, "true"]).returncode != 0:
        pytest.skip("no private mount namespace here (needs root)")
    context, names = recording_sni(pki)
    steps = EHLO_STARTTLS + [send("220 go"), *secured_delivery(context)]
    with ScriptedPeer(steps) as peer:
        run = subprocess.run([*private, velsend_bin, *REQUIRED, f"-hlocalhost.:{peer.port}",
                              "--starttls", f"--cacert={pki.ca}"],
                             input=b"", capture_output=True, timeout=60, cwd=tmp_path)
    err = run.stderr.decode()
    assert run.returncode == 0, err
    assert HANDSHAKE_DONE.search(err).group(1) == "localhost"
    assert names == ["localhost"]


@pytest.mark.parametrize("host,sni", [("localhost", "localhost"), ("127.0.0.1", None)])
def test_close_without_close_notify_after_quit(velsend, pki, host, sni):
    context, names = recording_sni(pki)
    steps = EHLO_STARTTLS + [send("220 go"), *secured_delivery(context)]
    with ScriptedPeer(steps) as peer:
        run = velsend(*REQUIRED, f"-h{host}:{peer.port}", "--starttls", f"--cacert={pki.ca}")
    assert run.status == 0, run.err
    assert not peer.mismatches
    assert b"Subject: Over TLS" in peer.received and b"Subject" not in peer.clear
    # The name goes out as SNI; an address literal sends none.
    assert names == [sni]


def test_line_end_split_before_tls_belongs_to_the_clear_line(velsend, pki):
    """"220 go\r" and its "\n" in separate packets: the LF is the end of the
    clear-text line, not the first byte of TLS."""
    steps = EHLO_STARTTLS + [send_raw(b"220 go\r"), delay(0.3), send_raw(b"\n"),
                             *secured_delivery(pki.server_context())]
    with ScriptedPeer(steps) as peer:
        run = velsend(*REQUIRED, f"-hlocalhost:{peer.port}", "--starttls", f"--cacert={pki.ca}")
    assert run.status == 0, run.err
    assert not peer.mismatches
    assert b"Subject: Over TLS" in peer.received and b"Subject" not in peer.clear


@pytest.mark.parametrize("args", [["-h127.0.0.1:465"], ["-h127.0.0.1", "--tls"]],
                         ids=["port 465", "--tls without a port"])
def test_port_465_means_implicit_tls(velsend, args):
    listener = socket.socket()
    try:
        listener.bind(("127.0.0.1", 465))
    except OSError as error:
        listener.close()
        pytest.skip(f"port 465 cannot be bound here: {error}")
    listener.listen(1)
    listener.settimeout(10)
    try:
        run = velsend(*REQUIRED, *args, "--timeout=1", timeout=30)
        conn, _ = listener.accept()
        with conn:
            conn.settimeout(2)
            first = conn.recv(5)
    finally:
        listener.close()
    assert run.status == 12, run.err
    assert first[:2] == b"\x16\x03"  # a ClientHello, not a wait for a greeting


# --- The options -------------------------------------------------------------

@pytest.mark.parametrize("word,line", [
    ("--startls", "Unknown option --startls\n"),
    ("--timeout", "Option --timeout needs a value\n"),
])
def test_bad_long_option_sends_nothing(velsend, word, line):
    with ScriptedPeer([send("220 hi"), expect("HELO"), send("250 ok")]) as peer:
        run = velsend(*REQUIRED, f"-h127.0.0.1:{peer.port}", word, "-f", stdin=b"text\r\n.\r\n")
    assert run.status == 11
    assert run.err.startswith(line + "Usage:\n")
    assert run.err.endswith("Program Exiting[11 (ERROR_INVALID_ARGUMENT)]\n")
    assert not peer.connected.is_set()


def test_timeout_option_bounds_a_silent_relay(velsend):
    with ScriptedPeer([silent()]) as peer:
        start = time.monotonic()
        run = velsend(*REQUIRED, f"-h127.0.0.1:{peer.port}", "--timeout=1", timeout=30)
        elapsed = time.monotonic() - start
    assert run.status == 9
    assert 0.9 < elapsed < 8


def test_help_lists_the_long_options(velsend):
    usage = velsend("-?")
    run = velsend("--help")
    assert run.status == 0
    # Standard output is a text stream on Windows: CR LF line ends there.
    out = run.out.replace("\r\n", "\n")
    assert out.startswith(usage.err.replace("Program Exiting[0 (ERROR_NONE)]\n", ""))
    for name in ("--starttls", "--tls", "--timeout=SECONDS", "--cacert=FILE", "--insecure",
                 "--help"):
        assert f"\n  {name} " in out
    assert "--starttls" not in usage.err


@pytest.mark.parametrize("words", [["--help", "--bogus"], ["--bogus", "--help"],
                                   ["--version", "--startls"], ["--help", "--timeout"],
                                   ["-?", "--bogus"], ["--providers", "--bogus"]])
def test_help_and_version_beside_a_bad_option_fail(velsend, words):
    run = velsend(*words)
    assert run.status == 11, run.err
    assert run.out == ""


# --- Postfix: submission with STARTTLS required, and implicit TLS ------------

@pytest.fixture(scope="module")
def postfix_tls(pki):
    from postfix_relay import running_postfix
    yield from running_postfix(tls=pki.files["valid"], password="secret")


@pytest.mark.parametrize("mode,method", [("starttls", "PLAIN"), ("starttls", "LOGIN"),
                                         ("tls", "PLAIN")])
def test_postfix_delivers_over_tls_with_auth(velsend, pki, postfix_tls, mode, method):
    port = postfix_tls.submission_port if mode == "starttls" else postfix_tls.submissions_port
    subject = f"Postfix {mode} {method}"
    run = velsend("-oann@example.test", "-rbob@example.test", f"-s{subject}",
                  f"-hlocalhost:{port}", f"--{mode}", f"--cacert={pki.ca}", "-nann",
                  "-psecret", f"-m{method}", "-f,", stdin=b"Over TLS\r\n.\r\n")
    assert run.status == 0, run.err[-2000:] + postfix_tls.log()[-2000:]
    assert HANDSHAKE_DONE.search(run.err).group(1) == "localhost"
    message = postfix_tls.wait_for_message("bob", f"Subject: {subject}".encode())
    assert b"Over TLS" in message
    assert b"ESMTPSA" in message  # Postfix's mark of an authenticated TLS session


def test_postfix_submission_refuses_clear_text(velsend, postfix_tls):
    # The port that requires STARTTLS does not let a clear-text run through.
    run = velsend("-oann@example.test", "-rbob@example.test", "-sClear",
                  f"-h127.0.0.1:{postfix_tls.submission_port}", "-nann", "-psecret")
    assert run.status == 9
    assert "530" in run.err or "503" in run.err
