#!/usr/bin/env python3
"""A small SMTP relay for the demonstration: it listens on a free loopback
port, stores every message it receives, exactly as received, in a folder, and
prints one line about each.

Usage: demo_relay.py --store DIR --port-file FILE [--port N]
The chosen port is written to FILE once the relay accepts connections; it
stops on SIGTERM or SIGINT.
"""
import argparse
import asyncio
import os
import signal
from pathlib import Path

from aiosmtpd.smtp import SMTP


class StoringHandler:
    def __init__(self, directory):
        self.directory = directory
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        path = self.directory / f"message-{self.count}.eml"
        path.write_bytes(envelope.original_content)
        (self.directory / f"message-{self.count}.envelope").write_text(
            f"MAIL FROM:<{envelope.mail_from}>\n"
            + "".join(f"RCPT TO:<{rcpt}>\n" for rcpt in envelope.rcpt_tos))
        recipients = ", ".join(f"<{rcpt}>" for rcpt in envelope.rcpt_tos)
        print(f"relay: message {self.count} from <{envelope.mail_from}> to {recipients}, "
              f"{len(envelope.original_content)} bytes, stored as {path}", flush=True)
        return "250 OK: message stored"


async def serve(args):
    directory = Path(args.store)
    directory.mkdir(parents=True, exist_ok=True)
    handler = StoringHandler(directory)
    loop = asyncio.get_running_loop()
    # Port 0 lets the system pick a free port; it is read back from the socket.
    server = await loop.create_server(lambda: SMTP(handler, hostname="demo-relay.localdomain"),
                                      "127.0.0.1", args.port)
    port = server.sockets[0].getsockname()[1]
    # Written whole under a temporary name, so a reader never sees half of it.
    temporary = f"{args.port_file}.tmp"
    Path(temporary).write_text(f"{port}\n")
    os.replace(temporary, args.port_file)
    print(f"relay: listening on 127.0.0.1:{port}, storing messages in {directory}", flush=True)

    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    await stop.wait()
    server.close()
    await server.wait_closed()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--store", required=True, help="folder for the received messages")
    parser.add_argument("--port-file", required=True, help="file that receives the port")
    parser.add_argument("--port", type=int, default=0, help="port to listen on (0: any free one)")
    asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    main()
