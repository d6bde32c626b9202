"""Peers for the end-to-end suite, all on 127.0.0.1 at ports picked at run time.

ScriptedPeer: a loopback SMTP peer that plays a list of steps on one
connection and records every byte the client sent.

    peer = ScriptedPeer([send("220 ready"), expect(b"HELO "), send("250 hi"),
                         expect(), close()])

Steps:
    send(text)          send text (str or bytes); CR LF is added to a str
                        that does not already end with a line break
    send_raw(data)      send bytes exactly as given
    expect(prefix=b"")  wait for one whole line from the client (up to LF);
                        a line that does not start with prefix is recorded
                        in peer.mismatches
    until(line)         read lines until one equals line (without its
                        CR LF), e.g. until(b".") for the end of the data
    delay(seconds)      wait before the next step
    call(function)      call function() in the peer's thread, e.g. to
                        change a file while the client waits for a reply
    close()             close the connection now
    silent()            say nothing more; keep reading until the client
                        closes (or the peer is stopped)
    tls(context)        run the server side of a TLS handshake with an
                        ssl.SSLContext; later steps go through TLS, and
                        peer.clear keeps the bytes received before it. The
                        peer never sends close_notify.
When the steps run out the peer keeps reading, without answering, until the
client closes. After stop() (or the with block), peer.received holds the raw
bytes, peer.lines() the lines, and peer.connected tells whether the client
connected at all.

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


def expect(prefix=b""):
    if isinstance(prefix, str):
        prefix = prefix.encode("latin-1")
    return ("expect", prefix)


def until(line):
    if isinstance(line, str):
        line = line.encode("latin-1")
    return ("until", line)


def delay(seconds):
    return ("delay", seconds)


def call(function):
    return ("call", function)


def close():
    return ("close", None)


def tls(context):
    return ("tls", context)


def silent():
    return ("silent", None)


class ScriptedPeer:
    """Plays steps on the first connection; usable as a context manager."""

    def __init__(self, steps, timeout=30.0):
        self.steps = list(steps)
        self.timeout = timeout
        self.received = b""
        self.clear = None  # the bytes received before a tls() step
        self.mismatches = []
        self.connected = threading.Event()
        self.finished = threading.Event()
        self.error = None
        self._stop = threading.Event()
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.bind((HOST, 0))
        self._listener.listen(4)
        self.port = self._listener.getsockname()[1]
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    # --- public -------------------------------------------------------
    def lines(self):
        """The received bytes split into lines, CR LF removed."""
        text = self.received.decode("latin-1")
        parts = text.split("\r\n")
        if parts and parts[-1] == "":
            parts.pop()
        return parts

    def stop(self, grace=5.0):
        """Ends the peer; a connected client gets grace seconds to close first,
        so that everything it sent is recorded."""
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
            deadline = time.monotonic() + self.timeout
            conn = None
            while conn is None and not self._stop.is_set() and time.monotonic() < deadline:
                try:
                    conn, _ = self._listener.accept()
                except socket.timeout:
                    continue
            if conn is None:
                return
            self.connected.set()
            with conn:
                conn.settimeout(0.1)
                self._play(conn, deadline)
        except OSError as error:  # the peer's own failure, for the test to show
            self.error = error
        finally:
            self.finished.set()

    def _recv(self, conn, deadline):
        """Some bytes, or b"" when the client closed, stopped or time ran out."""
        while not self._stop.is_set() and time.monotonic() < deadline:
            try:
                data = conn.recv(65536)
            except socket.timeout:
                continue
            except (ConnectionResetError, ssl.SSLError):
                return b""
            self.received += data
            return data
        return b""

    def _play(self, conn, deadline):
        pending = b""  # bytes of a line not yet complete
        for kind, arg in self.steps:
            if kind == "send":
                with contextlib.suppress(OSError):
                    conn.sendall(arg)
            elif kind in ("expect", "until"):
                while True:
                    while b"\n" not in pending:
                        data = self._recv(conn, deadline)
                        if not data:
                            self.mismatches.append((arg, pending))
                            return
                        pending += data
                    line, pending = pending.split(b"\n", 1)
                    if kind == "expect":
                        if not line.startswith(arg):
                            self.mismatches.append((arg, line + b"\n"))
                        break
                    if line.rstrip(b"\r") == arg:
                        break
            elif kind == "tls":
                self.clear = self.received + pending
                conn.settimeout(10)
                conn = arg.wrap_socket(conn, server_side=True)
                conn.settimeout(0.1)
                self.received = b""
            elif kind == "delay":
                time.sleep(arg)
            elif kind == "call":
                arg()
            elif kind == "close":
                return
            elif kind == "silent":
                break
        while self._recv(conn, deadline):
            pass


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
