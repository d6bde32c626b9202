"""A scripted OAuth 2.0 identity provider over TLS on loopback: the device
authorization endpoint (RFC 8628), the token endpoint (authorization code
with PKCE, device code, refresh token, client credentials).

    with IdentityProvider(pki) as idp:
        idp.url("/token")          # https://localhost:PORT/token
        idp.device_errors = [...]  # poll answers before the tokens
        idp.mode = "500" | "garbage" | "hang" | None
"""
import base64
import hashlib
import json
import ssl
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ACCESS = "ya29." + "a0Ae4" * 900  # the token the relays of test_auth.py accept
REFRESH = "1//0refresh-Aa9"
CLIENT_ID = "velsend-test-client"
CLIENT_SECRET = "cs-Q7w!secret"
DEVICE_CODE = "dev-code-XYZ42"
USER_CODE = "WDJB-MJHT"
AUTH_CODE = "auth-code-Pq8"


class IdentityProvider:
    def __init__(self, pki, kind="valid"):
        self.requests = []           # (path, form) of every request
        self.device_errors = []      # answers to polls before the tokens
        self.device_expires_in = 600
        self.interval = 1
        self.access_tokens = [ACCESS]  # handed out in turn, the last one repeated
        self.valid_refresh = {REFRESH}
        self.rotate = False
        self.refresh_delay = 0.0
        self.mode = None
        self.challenge = None        # PKCE challenge of the code handed out
        self.redirect = None
        self.expires_in = 3600
        self.lock = threading.Lock()
        self._context = pki.server_context(kind)
        self._server = None
        self._stop = threading.Event()

    def url(self, path):
        return f"https://localhost:{self.port}{path}"

    def refreshes(self):
        return [f for p, f in self.requests if f.get("grant_type") == "refresh_token"]

    def issue_code(self, challenge, redirect):
        self.challenge, self.redirect = challenge, redirect
        return AUTH_CODE

    def _tokens(self, refresh=None):
        with self.lock:
            access = self.access_tokens.pop(0) if len(self.access_tokens) > 1 else self.access_tokens[0]
        body = {"access_token": access, "token_type": "Bearer", "expires_in": self.expires_in}
        if refresh:
            body["refresh_token"] = refresh
        return 200, body

    def answer(self, path, form):
        with self.lock:
            self.requests.append((path, form))
        if self.mode == "500":
            return 500, "<html>Internal Server Error</html>"
        if self.mode == "garbage":
            return 200, "<html>not json</html>"
        if self.mode == "hang":
            self._stop.wait(60)
            return 500, "{}"
        if form.get("client_id") != CLIENT_ID:
            return 401, {"error": "invalid_client"}
        if path == "/device":
            return 200, {"device_code": DEVICE_CODE, "user_code": USER_CODE,
                         "verification_uri": self.url("/link"),
                         "expires_in": self.device_expires_in, "interval": self.interval}
        if path != "/token":
            return 404, {"error": "not_found"}
        grant = form.get("grant_type")
        if grant == "urn:ietf:params:oauth:grant-type:device_code":
            if form.get("device_code") != DEVICE_CODE:
                return 400, {"error": "invalid_grant"}
            if self.device_errors:
                return 400, {"error": self.device_errors.pop(0)}
            if self.device_expires_in < 600:  # a code that runs out while pending
                return 400, {"error": "authorization_pending"}
            return self._tokens(REFRESH)
        if grant == "authorization_code":
            verifier = form.get("code_verifier", "")
            digest = base64.urlsafe_b64encode(hashlib.sha256(verifier.encode()).digest())
            if (form.get("code") != AUTH_CODE or form.get("redirect_uri") != self.redirect
                    or digest.decode().rstrip("=") != self.challenge):
                return 400, {"error": "invalid_grant"}
            return self._tokens(REFRESH)
        if grant == "refresh_token":
            time.sleep(self.refresh_delay)
            with self.lock:
                token = form.get("refresh_token")
                if token not in self.valid_refresh:
                    return 400, {"error": "invalid_grant"}
                new = None
                if self.rotate:
                    self.valid_refresh.discard(token)
                    new = f"{REFRESH}-r{len(self.refreshes())}"
                    self.valid_refresh.add(new)
            return self._tokens(new)
        if grant == "client_credentials":
            if form.get("client_secret") != CLIENT_SECRET:
                return 401, {"error": "invalid_client"}
            return self._tokens()
        return 400, {"error": "unsupported_grant_type"}

    def __enter__(self):
        idp = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_POST(self):
                length = int(self.headers.get("Content-Length", 0))
                form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode()))
                status, body = idp.answer(self.path, form)
                data = (json.dumps(body) if isinstance(body, dict) else body).encode()
                try:
                    self.send_response(status)
                    self.send_header("Content-Type", "application/json"
                                     if isinstance(body, dict) else "text/html")
                    self.send_header("Content-Length", str(len(data)))
                    self.end_headers()
                    self.wfile.write(data)
                except OSError:
                    pass

        class Server(ThreadingHTTPServer):
            daemon_threads = True

            def get_request(self):
                sock, address = super().get_request()
                return idp._context.wrap_socket(sock, server_side=True), address

            def handle_error(self, request, client_address):
                pass

        self._server = Server(("127.0.0.1", 0), Handler)
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(5)
