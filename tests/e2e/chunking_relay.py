"""A small SMTP relay on 127.0.0.1 that speaks BDAT (RFC 3030), for the
end-to-end tests and the round-trip benchmark (aiosmtpd has no CHUNKING).

    with ChunkingRelay(pipelining=True, chunking=True, refuse={"x@y"}) as relay:
        ... relay.port ...
    relay.messages      # [Message(sender, recipients, data, via)] delivered
    relay.sessions      # [Session(received bytes, rounds)] one per connection

It delivers what a real relay would: on "." after DATA or on BDAT ... LAST,
to the recipients it accepted, even when it refused others. DATA is
dot-unstuffed; chunks are joined as they came. delay (seconds) holds back
every batch of replies, as a link with that round-trip time would: the
replies to everything that arrived together go out together, and each batch
counts as one round trip (the greeting included). AUTH PLAIN, LOGIN and
CRAM-MD5 accept any credential unless refuse_auth."""
import base64
import select
import socket
import threading
import time
from dataclasses import dataclass, field


@dataclass
class Message:
    sender: str
    recipients: list
    data: bytes
    via: str  # "DATA" or "BDAT"
    chunks: list = field(default_factory=list)  # the sizes of the BDAT chunks


@dataclass
class Session:
    received: bytearray = field(default_factory=bytearray)
    rounds: int = 0


class _Connection:
    def __init__(self, relay, sock):
        self.relay = relay
        self.sock = sock
        self.session = Session()
        self.buffer = bytearray()
        self.replies = []
        self.reset()
        self.mode = "command"  # "data", "bdat", "auth-login-user", ...
        self.need = 0          # bytes of the chunk still to come
        self.last = False
        self.chunk_failed = False
        self.quit = False
        self.authenticated = False

    def reset(self):
        self.sender = None
        self.recipients = []
        self.data = bytearray()
        self.chunks = []
        self.chunk_failed = False

    def reply(self, text):
        self.replies.append(text.encode() + b"\r\n")

    def run(self):
        relay = self.relay
        self.reply(f"220 {relay.name} ESMTP")
        self.flush()
        while not self.quit:
            try:
                data = self.sock.recv(65536)
            except OSError:
                break
            if not data:
                break
            # What arrives within a few milliseconds is one batch: a client
            # that writes a group in several sends still gets one answer.
            while len(data) < 1 << 20 and select.select([self.sock], [], [], 0.005)[0]:
                more = self.sock.recv(65536)
                if not more:
                    break
                data += more
            self.session.received += data
            self.buffer += data
            self.process()
            self.flush()
        self.sock.close()

    def flush(self):
        if not self.replies:
            return
        if self.relay.delay:
            time.sleep(self.relay.delay)
        self.session.rounds += 1
        try:
            self.sock.sendall(b"".join(self.replies))
        except OSError:
            self.quit = True
        self.replies = []

    def process(self):
        # Read by an offset and cut once: a large batch stays linear.
        buffer, pos = self.buffer, 0
        while not self.quit:
            if self.mode == "bdat":
                take = min(self.need, len(buffer) - pos)
                self.data += buffer[pos:pos + take]
                pos += take
                self.need -= take
                if self.need:
                    break
                self.end_chunk()
                continue
            end = buffer.find(b"\r\n", pos)
            if end < 0:
                break
            line = bytes(buffer[pos:end])
            pos = end + 2
            if self.mode == "data":
                if line == b".":
                    self.mode = "command"
                    self.deliver("DATA")
                else:
                    self.data += (line[1:] if line.startswith(b".") else line) + b"\r\n"
            elif self.mode == "auth-login-user":
                self.mode = "auth-login-password"
                self.reply("334 UGFzc3dvcmQ6")
            elif self.mode in ("auth-login-password", "auth-response"):
                self.mode = "command"
                self.reply("235 2.7.0 Authentication successful")
            else:
                self.command(line.decode("latin-1"))
        del buffer[:pos]

    def end_chunk(self):
        self.mode = "command"
        self.chunks.append(len(self.data) - sum(self.chunks))
        if self.chunk_failed:
            self.reply("503 5.5.1 Error: the transaction has failed")
        elif not self.recipients:
            self.chunk_failed = True
            self.reply("554 5.5.1 Error: no valid recipients")
        elif self.relay.refuse_chunk is not None and len(self.chunks) == self.relay.refuse_chunk:
            self.chunk_failed = True
            self.reply("552 5.3.4 Chunk refused")
        elif not self.last:
            self.reply(f"250 2.0.0 {self.chunks[-1]} octets received")
        if self.last:
            if not self.chunk_failed:
                self.deliver("BDAT")
            self.reset()

    def deliver(self, via):
        if not self.recipients:
            self.reply("554 5.5.1 Error: no valid recipients")
        else:
            self.relay.messages.append(Message(self.sender, list(self.recipients),
                                               bytes(self.data), via, list(self.chunks)))
            self.reply("250 2.0.0 Ok: queued")
        self.reset()

    def command(self, line):
        relay = self.relay
        verb = line.split(" ", 1)[0].upper()
        if verb == "EHLO":
            keywords = ["AUTH PLAIN LOGIN CRAM-MD5", "SIZE 52428800", "8BITMIME"]
            if relay.pipelining:
                keywords.append("PIPELINING")
            if relay.chunking:
                keywords.append("CHUNKING")
            lines = [relay.name] + keywords
            for i, text in enumerate(lines):
                self.reply(f"250{'-' if i + 1 < len(lines) else ' '}{text}")
        elif verb == "HELO":
            self.reply(f"250 {relay.name}")
        elif verb == "AUTH":
            words = line.split()
            mechanism = words[1].upper() if len(words) > 1 else ""
            if mechanism == "LOGIN":
                self.mode = "auth-login-user"
                self.reply("334 VXNlcm5hbWU6")
            elif mechanism == "CRAM-MD5":
                self.mode = "auth-response"
                self.reply("334 " + base64.b64encode(b"<1.2@relay>").decode())
            elif len(words) > 2:
                if relay.refuse_auth:
                    self.reply("535 5.7.8 Error: authentication failed")
                else:
                    self.authenticated = True
                    self.reply("235 2.7.0 Authentication successful")
            else:
                self.mode = "auth-response"
                self.reply("334 ")
        elif verb == "MAIL" and relay.refuse_auth and not self.authenticated:
            self.reply("530 5.7.0 Authentication required")
        elif verb == "MAIL":
            self.reset()
            self.sender = line[10:].strip().strip("<>").split(">")[0]
            self.reply("250 2.1.0 Ok")
        elif verb == "RCPT":
            address = line[8:].strip().strip("<>").split(">")[0]
            if self.sender is None:
                self.reply("503 5.5.1 Error: need MAIL command")
            elif address in relay.refuse:
                self.reply("550 5.1.1 Recipient address rejected")
            elif relay.limit and len(self.recipients) >= relay.limit:
                self.reply("452 4.5.3 Error: too many recipients")
            else:
                self.recipients.append(address)
                self.reply("250 2.1.5 Ok")
        elif verb == "DATA":
            if not self.recipients:
                self.reply("554 5.5.1 Error: no valid recipients")
            else:
                self.mode = "data"
                self.reply("354 End data with <CR><LF>.<CR><LF>")
        elif verb == "BDAT" and relay.chunking:
            words = line.split()
            self.need = int(words[1])
            self.last = len(words) > 2 and words[2].upper() == "LAST"
            self.mode = "bdat"
        elif verb == "RSET":
            self.reset()
            self.reply("250 2.0.0 Ok")
        elif verb == "NOOP":
            self.reply("250 2.0.0 Ok")
        elif verb == "QUIT":
            self.reply("221 2.0.0 Bye")
            self.flush()
            self.quit = True
        else:
            self.reply("502 5.5.2 Error: command not recognized")


class ChunkingRelay:
    def __init__(self, pipelining=True, chunking=True, refuse=(), limit=0, delay=0.0,
                 refuse_chunk=None, refuse_auth=False, name="relay.test"):
        """refuse: recipient addresses answered with 550; limit: recipients
        per transaction before 452; refuse_chunk: the 1-based chunk answered
        with 552; refuse_auth: AUTH PLAIN refused, and MAIL until it
        succeeds."""
        self.pipelining = pipelining
        self.chunking = chunking
        self.refuse = set(refuse)
        self.limit = limit
        self.delay = delay
        self.refuse_chunk = refuse_chunk
        self.refuse_auth = refuse_auth
        self.name = name
        self.messages = []
        self.sessions = []
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(16)
        self.port = self._listener.getsockname()[1]
        self._threads = []
        self._stopping = False
        self._accepter = threading.Thread(target=self._accept, daemon=True)
        self._accepter.start()

    def _accept(self):
        while not self._stopping:
            try:
                sock, _ = self._listener.accept()
            except OSError:
                return
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            connection = _Connection(self, sock)
            self.sessions.append(connection.session)
            thread = threading.Thread(target=connection.run, daemon=True)
            self._threads.append(thread)
            thread.start()

    def stop(self):
        self._stopping = True
        try:
            self._listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self._listener.close()
        self._accepter.join(5)
        for thread in self._threads:
            thread.join(5)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
