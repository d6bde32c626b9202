"""Connecting, the greeting, HELO/EHLO and AUTH against loopback peers."""
import base64
import socket
import time

import pytest

from peers import (ScriptedPeer, close, closed_port, delay, expect, relay, send, silent,
                   until_line)

REQUIRED = ["-oann@example.org", "-rbob@example.org", "-sHello"]


def local_name():
    """The name the client announces: this machine's canonical name."""
    infos = socket.getaddrinfo(socket.gethostname(), None, socket.AF_INET,
                               socket.SOCK_STREAM, 0, socket.AI_CANONNAME)
    return infos[0][3]


@pytest.mark.parametrize("host", ["127.0.0.1", "localhost"])
def test_closed_port_fails_to_connect(velsend, host):
    port = closed_port()
    run = velsend(*REQUIRED, f"-h{host}:{port}")
    assert run.status == 6
    assert run.err == (
        f"Looking up host {host}\n"
        f"Failed to connect to localhost (127.0.0.1) on port {port}: Connection refused\n"
        f"Connection refused by 127.0.0.1 on port {port}\n"
        f"Couldn't connect to {host}\n"
        "Connection Closed [0]\n"
        "Program Exiting[6 (ERROR_CONNECTING_TO_HOST)]\n")


def test_unanswered_connect_times_out(velsend):
    # A listener whose queue is full answers no further handshake.
    with socket.socket() as listener, socket.socket() as filler:
        listener.bind(("127.0.0.1", 0))
        listener.listen(0)
        port = listener.getsockname()[1]
        filler.connect(("127.0.0.1", port))
        start = time.monotonic()
        run = velsend(*REQUIRED, f"-h127.0.0.1:{port}", "--timeout=1", timeout=30)
        elapsed = time.monotonic() - start
    assert run.status == 6
    assert elapsed < 10
    assert f"Failed to connect to localhost (127.0.0.1) on port {port}: Timed out\n" in run.err
    assert run.err.endswith(f"Timed out connecting to 127.0.0.1 on port {port}\n"
                            "Couldn't connect to 127.0.0.1\n"
                            "Connection Closed [0]\n"
                            "Program Exiting[6 (ERROR_CONNECTING_TO_HOST)]\n")


@pytest.mark.parametrize("offset", [65536, None])
def test_port_out_of_range_is_not_cut_to_another(velsend, offset):
    with ScriptedPeer([send("220 ready")]) as peer:
        # 65536 more than a listening port would land on it if cut to 16 bits.
        port = peer.port + offset if offset else -5
        run = velsend(*REQUIRED, f"-h127.0.0.1:{port}")
    assert run.status == 6
    assert not peer.connected.is_set()
    assert run.err == (
        "Looking up host 127.0.0.1\n"
        f"Invalid port {port}\n"
        "Couldn't connect to 127.0.0.1\n"
        "Connection Closed [0]\n"
        "Program Exiting[6 (ERROR_CONNECTING_TO_HOST)]\n")


@pytest.mark.parametrize("suffix", ["x", ":smtps", " ", "abc"])
def test_port_that_is_not_a_number_is_refused_before_connecting(velsend, suffix):
    # ":smtps" once meant port 0, the default: the password would have gone
    # out in clear text to port 25; "25x" meant port 25.
    with ScriptedPeer([send("220 ready")]) as peer:
        text = f"{peer.port}{suffix}" if suffix != ":smtps" else "smtps"
        run = velsend(*REQUIRED, f"-h127.0.0.1:{text}", "-nann", "-psecret")
    assert run.status == 6
    assert not peer.connected.is_set()
    assert run.err == f"Invalid port {text}\nProgram Exiting[6 (ERROR_CONNECTING_TO_HOST)]\n"


@pytest.mark.parametrize("steps", [
    [silent()],
    [send("220 ready"), expect("HELO "), silent()],
    [send("220-ready"), silent()],  # a reply that never ends
], ids=["no greeting", "no HELO reply", "unfinished greeting"])
def test_silent_peer_times_out(velsend, steps):
    with ScriptedPeer(steps) as peer:
        start = time.monotonic()
        run = velsend(*REQUIRED, f"-h127.0.0.1:{peer.port}", "--timeout=1", timeout=30)
        elapsed = time.monotonic() - start
    assert run.status == 9
    assert elapsed < 10
    assert run.err.startswith(
        "Looking up host 127.0.0.1\n"
        f"Connected to localhost (127.0.0.1) on port {peer.port}\n")
    assert run.err.endswith(
        "Timed out waiting for localhost\n"
        "Couldn't authenticate with 127.0.0.1\n"
        "Connection Closed [0]\n"
        "Program Exiting[9 (ERROR_AUTHENTICATING)]\n")


@pytest.mark.parametrize("slow_step,status", [("final", 0), ("MAIL FROM", 7)])
def test_final_reply_may_take_twice_as_long(velsend, slow_step, status):
    # With --timeout=1 a reply may take 1 s, the one to the final "." 2 s:
    # 1.5 s is too slow for MAIL FROM but fine for ".".
    def reply(step, text):
        return [delay(1.5), send(text)] if step == slow_step else [send(text)]

    steps = [send("220 ready"), expect("HELO"), send("250 hi"),
             expect("MAIL FROM:"), *reply("MAIL FROM", "250 ok"),
             expect("RCPT TO:"), send("250 ok"), expect("DATA"), send("354 go"),
             until_line("."), *reply("final", "250 stored"), expect("QUIT"), send("221 bye")]
    with ScriptedPeer(steps) as peer:
        run = velsend(*REQUIRED, f"-h127.0.0.1:{peer.port}", "--timeout=1")
    assert run.status == status, run.err
    assert ("Timed out waiting for localhost\n" in run.err) == (status != 0)


def test_refused_greeting_sends_nothing(velsend):
    with ScriptedPeer([send("554 no service here")]) as peer:
        run = velsend(*REQUIRED, f"-h127.0.0.1:{peer.port}", "-nann", "-psecret")
    assert run.status == 9
    assert peer.received == b""
    assert run.err == (
        "Looking up host 127.0.0.1\n"
        f"Connected to localhost (127.0.0.1) on port {peer.port}\n"
        "<-- 554 no service here\n"
        "Couldn't authenticate with 127.0.0.1\n"
        "Connection Closed [0]\n"
        "Program Exiting[9 (ERROR_AUTHENTICATING)]\n")


def test_quiet_refused_greeting_writes_only_the_error(velsend):
    with ScriptedPeer([send("554 no")]) as peer:
        run = velsend(*REQUIRED, f"-h127.0.0.1:{peer.port}", "-q")
    assert run.status == 9
    assert run.err == ("Couldn't authenticate with 127.0.0.1\n"
                       "Program Exiting[9 (ERROR_AUTHENTICATING)]\n")


@pytest.mark.parametrize("ending", ["\r\n", "\n"], ids=["CRLF", "LF"])
def test_greeting_and_helo(velsend, ending):
    steps = [send("220-relay.test ready" + ending + "220 go on" + ending),
             expect("HELO"), send("250 hello" + ending), expect("MAIL FROM:"), close()]
    with ScriptedPeer(steps) as peer:
        run = velsend(*REQUIRED, f"-h127.0.0.1:{peer.port}")
    assert peer.mismatches == []
    assert peer.lines()[0] == f"HELO {local_name()}"
    assert run.status == 7  # the peer hangs up on MAIL FROM
    assert "<-- 220-relay.test ready\n<-- 220 go on\n" in run.err
    assert "<-- 250 hello\n" in run.err


@pytest.mark.memcheck
@pytest.mark.parametrize("method", ["PLAIN", "LOGIN", None])
def test_auth_with_relay(velsend, method):
    args = [*REQUIRED, "-nann", "-ps3cret!"]
    if method:
        args.append(f"-m{method}")
    with relay(user="ann", password="s3cret!") as server:
        run = velsend(*args, f"-h127.0.0.1:{server.port}")
    assert run.status == 0, run.err
    mechanism = method or "PLAIN"
    assert server.logins == [(mechanism, b"ann", b"s3cret!", True)]
    assert [m.authenticated for m in server.messages] == [True]
    assert f"--> EHLO {local_name()}\r\n" in run.err
    assert "\n<-- 235 2.7.0 Authentication successful\n" in run.err
    if mechanism == "PLAIN":
        assert "--> AUTH PLAIN *** SECRET! ***\r\n" in run.err
    else:
        assert "--> AUTH LOGIN\r\n" in run.err
        assert run.err.count("--> *** SECRET! ***\r\n") == 2
    assert_no_credentials(run.err)


def test_wrong_password(velsend):
    with relay(user="ann", password="right") as server:
        run = velsend(*REQUIRED, "-nann", "-pwrong1", "-mLOGIN", f"-h127.0.0.1:{server.port}")
    assert run.status == 9
    assert server.logins == [("LOGIN", b"ann", b"wrong1", False)]
    assert server.messages == []
    assert "\n<-- 535 " in run.err
    assert run.err.endswith("Couldn't authenticate with 127.0.0.1\n"
                            "Connection Closed [0]\n"
                            "Program Exiting[9 (ERROR_AUTHENTICATING)]\n")
    assert_no_credentials(run.err, password="wrong1")


def test_relay_without_auth_refuses(velsend):
    with relay() as server:
        run = velsend(*REQUIRED, "-nann", "-psecret", f"-h127.0.0.1:{server.port}")
    assert run.status == 9
    assert "--> AUTH PLAIN *** SECRET! ***\r\n" in run.err
    assert_no_credentials(run.err, password="secret")


def assert_no_credentials(trace, user="ann", password="s3cret!"):
    forms = [password, base64.b64encode(password.encode()).decode(),
             base64.b64encode(f"\0{user}\0{password}".encode()).decode(),
             base64.b64encode(user.encode()).decode()]
    for form in forms:
        assert form not in trace
