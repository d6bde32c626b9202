"""IPv6 relays and every address of a name tried in turn: aiosmtpd and a
private Postfix listening on ::1 only, on 127.0.0.1 only and on both, reached
through each host form; and the cause of a failed connection, shown in quiet
mode too."""
import errno
import socket
import time

import pytest

from peers import closed_port
from peers import relay as aiosmtpd_relay
from postfix_relay import PostfixRelay, PostfixUnavailable, postfix_command

LISTEN = {"v6": ("::1",), "v4": ("127.0.0.1",), "both": ("127.0.0.1", "::1")}
FAILED = "Program Exiting[6 (ERROR_CONNECTING_TO_HOST)]\n"


def localhost_addresses():
    """The addresses of "localhost" in the system's order, as the program
    asks for them (both families, no AI_ADDRCONFIG)."""
    found = []
    for info in socket.getaddrinfo("localhost", None, socket.AF_UNSPEC, socket.SOCK_STREAM):
        if info[4][0] not in found:
            found.append(info[4][0])
    return found


@pytest.fixture(scope="module", params=["v6", "v4", "both"])
def aiosmtpd(request):
    with aiosmtpd_relay(hosts=LISTEN[request.param]) as server:
        server.listening = LISTEN[request.param]
        yield server


@pytest.fixture(scope="module", params=["v6", "v4", "both"])
def postfix(request):
    if not postfix_command():
        pytest.skip("Postfix is not installed; scripts/install-deps.sh test installs it")
    try:
        relay = PostfixRelay(interfaces=LISTEN[request.param])
        relay.start()
    except PostfixUnavailable as e:
        pytest.skip(str(e))
    relay.listening = LISTEN[request.param]
    try:
        yield relay
    finally:
        relay.stop()


# (options, -h value with {port}, the addresses the program may try)
FORMS = [
    ([], "[::1]:{port}", lambda: ["::1"]),
    ([], "127.0.0.1:{port}", lambda: ["127.0.0.1"]),
    ([], "localhost:{port}", localhost_addresses),
    (["--ipv4"], "localhost:{port}", lambda: [a for a in localhost_addresses() if ":" not in a]),
    (["--ipv6"], "localhost:{port}", lambda: [a for a in localhost_addresses() if ":" in a]),
    (["--ipv4"], "[::1]:{port}", lambda: []),
]
FORM_IDS = ["bracketed", "ipv4", "localhost", "localhost-ipv4", "localhost-ipv6", "ipv4-only-v6"]


def send_through(velsend, server, options, form, tried, subject):
    """Runs the program; checks the trace against the addresses tried and
    returns the run and the address it delivered through (None if none)."""
    value = form.format(port=server.port)
    run = velsend("-oann@example.test", "-rbob@example.test", f"-s{subject}", f"-h{value}",
                  *options, stdin=b"Hello\r\n.\r\n", timeout=60)
    host = value.rsplit(":", 1)[0].strip("[]")
    candidates = tried()
    working = next((a for a in candidates if a in server.listening), None)
    if working is None:
        assert run.status == 6, run.err
        cause = (f"Connection refused by {candidates[-1]} on port {server.port}\n" if candidates
                 else f"No address found for {host}\n")
        assert run.err.endswith(cause + f"Couldn't connect to {host}\n" +
                                ("Connection Closed [0]\n" if candidates else "") + FAILED), run.err
        return run, None
    assert run.status == 0, run.err
    # Each address before the working one was refused, in the system's order.
    for failed in candidates[:candidates.index(working)]:
        assert f" ({failed}) on port {server.port}: Connection refused\n" in run.err, run.err
    assert f" ({working}) on port {server.port}\n" in run.err
    assert "Couldn't" not in run.err
    return run, working


@pytest.mark.parametrize("options,form,tried", FORMS, ids=FORM_IDS)
def test_aiosmtpd_by_each_host_form(velsend, aiosmtpd, options, form, tried):
    subject = f"IPv6 {form} {' '.join(options)} {aiosmtpd.port}"
    run, working = send_through(velsend, aiosmtpd, options, form, tried, subject)
    arrived = [m for m in aiosmtpd.messages if f"Subject: {subject}".encode() in m.data]
    assert len(arrived) == (1 if working else 0)


@pytest.mark.parametrize("options,form,tried", FORMS, ids=FORM_IDS)
def test_postfix_by_each_host_form(velsend, postfix, options, form, tried):
    subject = f"IPv6 {form} {' '.join(options)} {postfix.port}"
    run, working = send_through(velsend, postfix, options, form, tried, subject)
    if working:
        data = postfix.wait_for_message("bob", f"Subject: {subject}".encode())
        # Postfix records the client's address in its Received field.
        assert f"[{working}]".encode() in data or f"[IPv6:{working}]".encode() in data


def black_hole():
    """A listener on 127.0.0.1 whose queue is full: no handshake completes."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    filler = socket.create_connection(listener.getsockname())
    return listener, filler


def unreachable_cause():
    """The cause line for 2001:db8::1 (documentation prefix, routed nowhere),
    when this machine fails such a connect at once."""
    probe = socket.socket(socket.AF_INET6)
    probe.settimeout(3)
    try:
        probe.connect(("2001:db8::1", 25))
    except OSError as e:
        if e.errno == errno.ENETUNREACH:
            return "Network unreachable for 2001:db8::1\n"
        if e.errno == errno.EHOSTUNREACH:
            return "Host unreachable for 2001:db8::1\n"
        return None
    finally:
        probe.close()
    return None


def test_quiet_run_says_why_the_connection_failed(velsend):
    port = closed_port()
    listener, filler = black_hole()
    hole = listener.getsockname()[1]
    cases = [
        ([f"-h127.0.0.1:{port}"], f"Connection refused by 127.0.0.1 on port {port}\n",
         "127.0.0.1"),
        ([f"-h[::1]:{port}"], f"Connection refused by ::1 on port {port}\n", "::1"),
        (["-hno-such-host.invalid"], "No address found for no-such-host.invalid\n",
         "no-such-host.invalid"),
        ([f"-h127.0.0.1:{hole}", "--timeout=1"],
         f"Timed out connecting to 127.0.0.1 on port {hole}\n", "127.0.0.1"),
        ([f"-h127.0.0.1:{port + 65536}"], f"Invalid port {port + 65536}\n", "127.0.0.1"),
    ]
    unreachable = unreachable_cause()
    if unreachable:
        cases.append((["-h[2001:db8::1]:25"], unreachable, "2001:db8::1"))
    try:
        for args, cause, host in cases:
            start = time.monotonic()
            run = velsend("-q", "-oann@example.test", "-rbob@example.test", "-sHi", *args,
                          timeout=30)
            assert run.status == 6, (args, run.err)
            assert run.err == cause + f"Couldn't connect to {host}\n" + FAILED, args
            assert time.monotonic() - start < 10, args
    finally:
        filler.close()
        listener.close()


@pytest.mark.parametrize("value", ["[::1", "[::1]2525", "[]:25", "[relay.test]:25",
                                   "[192.0.2.1]:25", "[::1]]:25"])
def test_bad_bracket_form_is_refused(velsend, value):
    run = velsend("-oann@example.test", "-rbob@example.test", "-sHi", f"-h{value}")
    assert run.status == 6
    assert run.err == f"Invalid host {value}\n" + FAILED
