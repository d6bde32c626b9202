"""Peers for the end-to-end suite, all on 127.0.0.1 at ports picked at run time.

ScriptedPeer: a loopback SMTP (or bare TLS) peer that plays a list of steps
on one connection and records every byte the client sent.

    peer = ScriptedPeer([send("220 ready"), expect(b"HELO "), send("250 hi"),
                         expect(), close()])

Steps (each a (kind, argument) pair, so a test may rewrite a list of them):
    send(text)          send text (str or bytes); CR LF is added to a str
                        that does not already end with a line break
    send_raw(data)      send bytes exactly as given
    expect(prefix=b"")  wait for one whole line from the client (up to LF);
                        a line that does not start with prefix is recorded
                        in peer.mismatches
    until_line(line)    read lines until one equals line (without its
                        CR LF), e.g. until_line(b".") for the end of the data
    until_bytes(marker) read until the bytes marker have arrived, wherever
                        they fall, e.g. until_bytes(b"\r\n.\r\n")
    until(line)         the older name of until_line
    delay(seconds)      wait before the next step
    call(function)      call function() in the peer's thread, e.g. to change
                        a file while the client waits for a reply
    trickle(data, s)    send data one byte at a time, s seconds apart
    flood(data, total)  send data over and over, total bytes at most, until
                        the client closes
    stall()             stop reading; keep the connection open until the
                        peer is stopped
    accept_all()        play a relay that accepts everything: 220, 354 to
                        DATA and 250 at the end of the data, 221 to QUIT,
                        235 to AUTH, 250 to anything else
    close()             close the connection now
    silent()            say nothing more; keep reading until the client
                        closes (or the peer is stopped)
    tls(context)        run the server side of a TLS handshake with an
                        ssl.SSLContext; later steps go through TLS,
                        peer.clear keeps the bytes received before it and
                        peer.tls_version the version agreed. The peer sends
                        close_notify only in tls_close().
    echo(count)         read count bytes and send them back
    tls_close()         send close_notify and wait for the client's;
                        peer.tls_closed tells that it came
A reply that does not fit the client's receive window is sent as the client
reads it; once a send fails (the client has gone) the script ends.
When the steps run out the peer keeps reading, without answering, until the
client closes. After stop() (or the with block), peer.received holds the raw
bytes, peer.lines() the lines, peer.connected tells whether the client
connected at all and peer.error holds the peer's own failure (a TLS handshake
the client broke off, for instance), if any.

relay(): a context manager running aiosmtpd with AUTH PLAIN and LOGIN
allowed without TLS; every accepted message is stored (envelope and raw
bytes) in relay.messages.

closed_port(): a port on which nothing listens.
"""
import contextlib
import socket
import ssl
import threading
import time

HOST = "127.0.0.1"


def send(text):
    if isinstance(text, str):
        if not text.endswith("\n"):
            text += "\r\n"
        text = text.encode("latin-1")
    return ("send", text)


def send_raw(data):
    return ("send", bytes(data))


def _bytes(text):
    return text.encode("latin-1") if isinstance(text, str) else bytes(text)


def expect(prefix=b""):
    return ("expect", _bytes(prefix))


def until_line(line):
    return ("until_line", _bytes(line))


def until_bytes(marker):
    return ("until_bytes", _bytes(marker))


until = until_line


def delay(seconds):
    return ("delay", seconds)


def call(function):
    return ("call", function)


def trickle(data, seconds):
    return ("trickle", (_bytes(data), seconds))


def flood(data, total):
    return ("flood", (_bytes(data), total))


def stall():
    return ("stall", None)


def accept_all():
    return ("accept_all", None)


def close():
    return ("close", None)


def silent():
    return ("silent", None)


def tls(context):
    return ("tls", context)


def echo(count):
    return ("echo", count)


def tls_close():
    return ("tls_close", None)


class _ClientGone(Exception):
    """The client closed, or the peer was stopped or ran out of time."""


class ScriptedPeer:
    """Plays steps on the first connection; usable as a context manager."""

    # Long enough for a run that waits for its own time-outs on a loaded
    # machine; stop() ends the peer sooner.
    def __init__(self, steps, timeout=60.0):
        self.steps = list(steps)
        self.timeout = timeout
        # Collected in a bytearray: a client that sends 100,000 short
        # commands would make appending to bytes quadratic.
        self._received = bytearray()
        self.clear = None  # the bytes received before a tls() step
        self.tls_version = None
        self.tls_closed = False
        self.mismatches = []
        self.connected = threading.Event()
        self.finished = threading.Event()
        self.error = None
        self._stop = threading.Event()
        self._release = threading.Event()  # ends a stall() at once on stop()
        self._conn = None  # the socket in use: after tls() the TLS one
        self._pending = bytearray()  # received, not yet taken by a step
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.bind((HOST, 0))
        self._listener.listen(4)
        self.port = self._listener.getsockname()[1]
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    # --- public -------------------------------------------------------
    @property
    def received(self):
        return bytes(self._received)

    def lines(self):
        """The received bytes split into lines, CR LF removed."""
        text = self._received.decode("latin-1")
        parts = text.split("\r\n")
        if parts and parts[-1] == "":
            parts.pop()
        return parts

    def stop(self, grace=5.0):
        """Ends the peer; a connected client gets grace seconds to close first,
        so that everything it sent is recorded."""
        self._release.set()
        if self.connected.is_set():
            self.finished.wait(grace)
        self._stop.set()
        with contextlib.suppress(OSError):
            self._listener.close()
        self._thread.join(self.timeout + 5)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    # --- the peer's thread --------------------------------------------
    def _run(self):
        try:
            self._listener.settimeout(0.1)
            self._deadline = time.monotonic() + self.timeout
            conn = None
            while conn is None and not self._stop.is_set() and \
                    time.monotonic() < self._deadline:
                try:
                    conn, _ = self._listener.accept()
                except TimeoutError:
                    continue
            if conn is None:
                return
            self.connected.set()
            conn.settimeout(0.1)
            self._conn = conn
            self._play()
        except OSError as error:  # the peer's own failure, for the test to show
            self.error = error
        finally:
            # A TLS socket closes here without close_notify.
            if self._conn is not None:
                with contextlib.suppress(OSError):
                    self._conn.close()
            self.finished.set()

    def _recv(self):
        """Some bytes, or b"" when the client closed, stopped or time ran out."""
        while not self._stop.is_set() and time.monotonic() < self._deadline:
            try:
                data = self._conn.recv(65536)
            except TimeoutError:
                continue
            except (ConnectionResetError, ssl.SSLError):
                return b""
            self._received.extend(data)
            return data
        return b""

    def _take(self, marker):
        """The pending bytes before marker, removed with it; raises _ClientGone
        when the client stops sending first."""
        start = 0
        while (at := self._pending.find(marker, start)) < 0:
            start = max(0, len(self._pending) - len(marker) + 1)
            data = self._recv()
            if not data:
                raise _ClientGone
            self._pending.extend(data)
        taken = bytes(self._pending[:at])
        del self._pending[:at + len(marker)]
        return taken

    def _send(self, data):
        """Sends data, riding out a full send buffer; raises _ClientGone once
        the client has gone or the peer is stopped."""
        view = memoryview(data)
        while view and not self._stop.is_set():
            try:
                view = view[self._conn.send(view):]
            except TimeoutError:
                continue
            except OSError:
                raise _ClientGone from None
        if view:
            raise _ClientGone

    def _play(self):
        for kind, arg in self.steps:
            try:
                if getattr(self, "_step_" + kind)(arg) is False:
                    break
            except _ClientGone:
                if kind in ("expect", "until_line", "until_bytes", "echo"):
                    self.mismatches.append((arg, bytes(self._pending)))
                return
        while self._recv():
            pass

    # --- the steps: each returns False to stop playing and keep reading
    def _step_send(self, data):
        self._send(data)

    def _step_expect(self, prefix):
        line = self._take(b"\n")
        if not line.startswith(prefix):
            self.mismatches.append((prefix, line + b"\n"))

    def _step_until_line(self, line):
        while self._take(b"\n").rstrip(b"\r") != line:
            pass

    def _step_until_bytes(self, marker):
        self._take(marker)

    def _step_delay(self, seconds):
        time.sleep(seconds)

    def _step_call(self, function):
        function()

    def _step_trickle(self, arg):
        data, pause = arg
        for i in range(len(data)):
            self._send(data[i:i + 1])
            time.sleep(pause)

    def _step_flood(self, arg):
        data, total = arg
        sent = 0
        while sent < total and not self._stop.is_set():
            self._send(data)
            sent += len(data)

    def _step_stall(self, _):
        self._release.wait(max(0.0, self._deadline - time.monotonic()))
        raise _ClientGone

    def _step_accept_all(self, _):
        replies = {b"DATA": b"354 go on\r\n", b"QUIT": b"221 bye\r\n", b"AUTH": b"235 ok\r\n"}
        self._send(b"220 relay.test ready\r\n")
        while True:
            verb = self._take(b"\n")[:4].upper()
            self._send(replies.get(verb, b"250 ok\r\n"))
            if verb == b"QUIT":
                raise _ClientGone
            if verb == b"DATA":
                self._take(b"\r\n.\r\n")
                self._send(b"250 queued\r\n")

    def _step_close(self, _):
        raise _ClientGone

    def _step_silent(self, _):
        return False

    def _step_tls(self, context):
        self.clear = self.received
        self._conn.settimeout(30)
        self._conn = context.wrap_socket(self._conn, server_side=True)
        self._conn.settimeout(0.1)
        self.tls_version = self._conn.version()
        self._received = bytearray()
        # Bytes sent in clear after the request are not part of the TLS stream.
        self._pending = bytearray()

    def _step_echo(self, count):
        while len(self._pending) < count:
            data = self._recv()
            if not data:
                raise _ClientGone
            self._pending.extend(data)
        data = bytes(self._pending[:count])
        del self._pending[:count]
        self._send(data)

    def _step_tls_close(self, _):
        self._conn.settimeout(30)
        self._conn = self._conn.unwrap()
        self.tls_closed = True


def closed_port():
    """A loopback port that nothing listens on (bound once, then released)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind((HOST, 0))
        return probe.getsockname()[1]


class StoredMessage:
    def __init__(self, envelope, session):
        self.mail_from = envelope.mail_from
        self.rcpt_tos = list(envelope.rcpt_tos)
        self.data = envelope.original_content or envelope.content  # raw bytes
        self.helo = session.host_name
        self.authenticated = session.authenticated


class _Handler:
    def __init__(self, messages):
        self.messages = messages

    async def handle_DATA(self, server, session, envelope):
        self.messages.append(StoredMessage(envelope, session))
        return "250 OK stored"


def free_port_on(hosts):
    """A port free on every address of hosts (retried a few times)."""
    for _ in range(20):
        probes = []
        try:
            for host in hosts:
                s = socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET)
                probes.append(s)
                s.bind((host, probes[0].getsockname()[1] if len(probes) > 1 else 0))
            return probes[0].getsockname()[1]
        except OSError:
            continue
        finally:
            for s in probes:
                s.close()
    raise OSError(f"no port free on all of {hosts}")


@contextlib.contextmanager
def relay(user=None, password=None, hosts=(HOST,), **smtp_options):
    """aiosmtpd on 127.0.0.1 (or every address of hosts, on one port);
    yields an object with port, messages, logins.

    With user and password, AUTH PLAIN and LOGIN accept exactly those
    credentials (no TLS needed); other credentials get 535. smtp_options are
    passed on to aiosmtpd's SMTP (for example data_size_limit=None).
    """
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult

    class Relay(Controller):
        def _trigger_server(self):
            # Bound to port 0: learn the real port before the first contact.
            self.port = self.server.sockets[0].getsockname()[1]
            hostname = self.hostname
            self.hostname = hosts[0]  # the first contact needs one address
            try:
                super()._trigger_server()
            finally:
                self.hostname = hostname

    messages = []
    logins = []

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (user is not None and auth_data.login == user.encode()
              and auth_data.password == password.encode())
        logins.append((mechanism, auth_data.login, auth_data.password, ok))
        # handled=False makes aiosmtpd send the 535 reply itself.
        return AuthResult(success=True) if ok else AuthResult(success=False, handled=False)

    options = {"auth_require_tls": False, "data_size_limit": None}
    if user is not None:
        options["authenticator"] = authenticator
    options.update(smtp_options)
    # Several addresses share one port only when it is chosen beforehand.
    port = 0 if len(hosts) == 1 else free_port_on(hosts)
    controller = Relay(_Handler(messages), hostname=hosts[0] if len(hosts) == 1 else list(hosts),
                       port=port, **options)
    controller.start()
    controller.messages = messages
    controller.logins = logins
    try:
        yield controller
    finally:
        controller.stop()
