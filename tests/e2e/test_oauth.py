"""OAuth 2.0 inside velsend: --oauth-login with the device and browser flows
and client credentials against a scripted identity provider over TLS, then
delivery with the stored token, its refresh (with and without rotation, once
per run, shared by runs at once), and each error as one line."""
import json
import os
import re
import stat
import subprocess
import time
import urllib.parse
import urllib.request

import pytest

from conftest import WINE
from oauth_idp import (ACCESS, AUTH_CODE, CLIENT_ID, CLIENT_SECRET, REFRESH, USER_CODE,
                       IdentityProvider)
from test_auth import REQUIRED, SENT_OK, USER, assert_no_secret, auth_relay, tls_args
from tls_support import Pki

SECRETS = (ACCESS[:40], ACCESS[-40:], REFRESH, CLIENT_SECRET, AUTH_CODE)


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    return Pki(tmp_path_factory.mktemp("pki-oauth"))


@pytest.fixture
def idp(pki):
    with IdentityProvider(pki) as provider:
        yield provider


def oauth_args(pki, idp, tmp_path, flow="device", cacert=True):
    args = [f"--oauth={flow}", f"--oauth-client-id={CLIENT_ID}",
            f"--oauth-token-url={idp.url('/token')}", f"--oauth-device-url={idp.url('/device')}",
            f"--oauth-authorize-url={idp.url('/authorize')}", "--oauth-scope=smtp offline",
            f"--oauth-token-file={tmp_path / 'state' / 'work.token'}"]
    if cacert:
        args.append(f"--oauth-cacert={pki.ca if cacert is True else cacert}")
    return args


def token_file(tmp_path):
    return tmp_path / "state" / "work.token"


def sign_in(velsend, pki, idp, tmp_path, access, expires_in=3600):
    """Signs in by the device flow so that the file holds access (lasting
    expires_in seconds) and REFRESH; the provider's record starts afresh."""
    idp.access_tokens, idp.expires_in = [access, ACCESS], expires_in
    login = velsend("--oauth-login", *oauth_args(pki, idp, tmp_path))
    assert login.status == 0, login.err
    idp.expires_in = 3600
    idp.requests.clear()


def stored(tmp_path, **expected):
    """Checks the token file's members; under Wine it is sealed with DPAPI,
    so there no token may show in clear instead."""
    data = token_file(tmp_path).read_bytes()
    if WINE:
        assert ACCESS[:40].encode() not in data and REFRESH.encode() not in data
        assert not data.lstrip().startswith(b"{")
        return
    tokens = json.loads(data)
    for key, value in expected.items():
        assert tokens.get(key) == value, key
    return tokens


def no_secret(run):
    assert_no_secret(run.err + run.out, *SECRETS)


# --- Sign-in ---------------------------------------------------------------

# slow_down makes the next poll wait five seconds more (RFC 8628): one sign-in
# goes through it, the other need not wait it out again.
@pytest.mark.parametrize("mechanism,errors", [
    ("XOAUTH2", ["authorization_pending", "slow_down"]),
    ("OAUTHBEARER", ["authorization_pending"]),
], ids=["XOAUTH2", "OAUTHBEARER"])
def test_device_sign_in_then_delivery(velsend, pki, idp, tmp_path, mechanism, errors):
    idp.device_errors = list(errors)
    login = velsend("--oauth-login", *oauth_args(pki, idp, tmp_path))
    assert login.status == 0, login.err
    assert (f"To sign in, open {idp.url('/link')} and enter the code {USER_CODE}\n"
            in login.out)
    polls = [f for p, f in idp.requests if f.get("grant_type", "").endswith("device_code")]
    assert len(polls) == len(errors) + 1
    with auth_relay(pki) as (r, h):
        run = velsend(*REQUIRED, *tls_args(pki, r.port), f"-n{USER}", f"-m{mechanism}",
                      *oauth_args(pki, idp, tmp_path))
    assert run.status == 0, run.err
    assert run.err.endswith(SENT_OK)
    assert [(m, ok) for m, _, ok in h.logins] == [(mechanism, True)]
    assert len(idp.requests) == len(polls) + 1  # the stored token was used as it is
    no_secret(login)
    no_secret(run)
    if not WINE:
        assert stat.S_IMODE(token_file(tmp_path).stat().st_mode) == 0o600
    stored(tmp_path, access_token=ACCESS, refresh_token=REFRESH)


@pytest.mark.parametrize("errors,expires_in,line", [
    (["authorization_pending", "access_denied"], 600, "The sign-in was refused\n"),
    (["expired_token"], 600, "The sign-in code expired before the sign-in was completed\n"),
    ([], 3, "The sign-in code expired before the sign-in was completed\n"),
])
def test_device_sign_in_ends(velsend, pki, idp, tmp_path, errors, expires_in, line):
    idp.device_errors = errors
    idp.device_expires_in = expires_in
    started = time.monotonic()
    run = velsend("--oauth-login", "-q", *oauth_args(pki, idp, tmp_path))
    assert run.status == 9, run.err
    assert line in run.err
    assert time.monotonic() - started < 15
    assert not token_file(tmp_path).exists()


def test_browser_sign_in_refuses_a_wrong_state(velsend_bin, pki, idp, tmp_path):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    proc = subprocess.Popen([velsend_bin, "--oauth-login", *oauth_args(pki, idp, tmp_path,
                                                                          "browser")],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                            cwd=tmp_path)
    try:
        line = proc.stdout.readline().decode()
        address = re.match(r"To sign in, open (\S+)\n", line).group(1)
        query = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(address).query))
        assert address.startswith(idp.url("/authorize") + "?")
        assert query["client_id"] == CLIENT_ID and query["code_challenge_method"] == "S256"
        assert query["response_type"] == "code" and query["scope"] == "smtp offline"
        redirect = query["redirect_uri"]
        assert re.fullmatch(r"http://127\.0\.0\.1:\d+/", redirect)
        if not WINE:
            cmdline = open(f"/proc/{proc.pid}/cmdline", "rb").read().decode("latin-1")
            assert_no_secret(cmdline, *SECRETS)
        code = idp.issue_code(query["code_challenge"], redirect)

        def browse(state):
            url = f"{redirect}?code={code}&state={urllib.parse.quote(state)}"
            try:
                with urllib.request.urlopen(url, timeout=20) as answer:
                    return answer.status, answer.read().decode()
            except urllib.error.HTTPError as error:
                return error.code, error.read().decode()

        status, page = browse(query["state"] + "x")
        assert status == 400
        status, page = browse(query["state"])
        assert status == 200 and "Signed in" in page
        out, err = proc.communicate(timeout=30)
    finally:
        proc.kill()
        proc.wait()
    assert proc.returncode == 0, err
    exchanges = [f for p, f in idp.requests if f.get("grant_type") == "authorization_code"]
    assert len(exchanges) == 1
    assert_no_secret((line + out.decode() + err.decode()), *SECRETS)
    stored(tmp_path, access_token=ACCESS)


def test_client_credentials(velsend, pki, idp, tmp_path):
    secret = tmp_path / "secret"
    secret.write_text(CLIENT_SECRET + "\n")
    args = [*oauth_args(pki, idp, tmp_path, "client-credentials"),
            f"--oauth-client-secret-file={secret}"]
    login = velsend("--oauth-login", *args)
    assert login.status == 0, login.err
    token_file(tmp_path).unlink()
    with auth_relay(pki) as (r, h):
        run = velsend(*REQUIRED, *tls_args(pki, r.port), f"-n{USER}", *args)
    assert run.status == 0, run.err
    assert [(m, ok) for m, _, ok in h.logins] == [("XOAUTH2", True)]
    no_secret(login)
    no_secret(run)
    stored(tmp_path, access_token=ACCESS, refresh_token=None)


def test_account_signs_in_and_sends_with_tokens_under_its_name(velsend, pki, idp, tmp_path):
    """An accounts file holds every OAuth 2.0 setting: the token file takes
    its default place under the account's name, XOAUTH2 is the mechanism."""
    if WINE:
        # %LOCALAPPDATA%, which Wine sets itself.
        from test_accounts import wine_profile
        state, env = wine_profile("Local"), {}
    else:
        state, env = tmp_path / "state-home", {"XDG_STATE_HOME": str(tmp_path / "state-home")}
    with auth_relay(pki) as (r, h):
        config = tmp_path / "accounts"
        config.write_text(
            f"[defaults]\ndefault = work\ncacert = {pki.ca}\ntimeout = 20\n"
            f"[account work]\nhost = localhost\nport = {r.port}\nstarttls = yes\n"
            f"from = {USER}\nuser = {USER}\noauth = device\noauth-client-id = {CLIENT_ID}\n"
            f"oauth-token-url = {idp.url('/token')}\noauth-device-url = {idp.url('/device')}\n"
            f"oauth-scope = smtp offline\noauth-cacert = {pki.ca}\n")
        send = ["-rbob@example.org", "-sAccount", f"--config={config}"]
        unsigned = velsend(*send, "--account", "-q", env=env)
        login = velsend(f"--config={config}", "--account=work", "--oauth-login", env=env)
        dry = velsend(*send, "--account=work", "--dry-run", env=env)
        run = velsend(*send, "--account=work", env=env)
    assert unsigned.status == 9, unsigned.err
    assert unsigned.err.startswith(
        "No sign-in for account work: run velsend --account=work --oauth-login\n")
    assert login.status == 0, login.err
    assert f"and enter the code {USER_CODE}\n" in login.out
    assert "Signed in: account work can send" in login.out
    assert (state / "velsend" / "work.token").exists()
    if WINE:
        (state / "velsend" / "work.token").unlink()
    assert "  mechanism     XOAUTH2 (account work)\n" in dry.err
    assert "  password      OAuth 2.0 access token (device sign-in) (account work)\n" in dry.err
    assert run.status == 0, run.err
    assert [(m, ok) for m, _, ok in h.logins] == [("XOAUTH2", True)]
    assert len(h.messages) == 1
    for each in (unsigned, login, dry, run):
        no_secret(each)


# --- Sending: the stored token, refreshed when needed ------------------------

@pytest.mark.parametrize("rotate", [False, True])
def test_refresh_of_a_token_ending_within_a_minute(velsend, pki, idp, tmp_path, rotate):
    idp.rotate = rotate
    sign_in(velsend, pki, idp, tmp_path, "old-access-Zx1", expires_in=30)
    with auth_relay(pki) as (r, h):
        run = velsend(*REQUIRED, *tls_args(pki, r.port), f"-n{USER}",
                      *oauth_args(pki, idp, tmp_path))
    assert run.status == 0, run.err
    assert [(m, ok) for m, _, ok in h.logins] == [("XOAUTH2", True)]
    assert len(idp.refreshes()) == 1
    no_secret(run)
    tokens = stored(tmp_path, access_token=ACCESS,
                    refresh_token=f"{REFRESH}-r1" if rotate else REFRESH)
    assert WINE or tokens["expires_at"] > time.time() + 3000


def test_relay_refusing_the_token_once(velsend, pki, idp, tmp_path):
    sign_in(velsend, pki, idp, tmp_path, "revoked-access-Ww3")
    with auth_relay(pki) as (r, h):
        run = velsend(*REQUIRED, *tls_args(pki, r.port), f"-n{USER}",
                      *oauth_args(pki, idp, tmp_path))
    assert run.status == 0, run.err
    assert [(m, ok) for m, _, ok in h.logins] == [("XOAUTH2", False), ("XOAUTH2", True)]
    assert len(idp.refreshes()) == 1
    assert len(h.messages) == 1
    assert_no_secret(run.err, "revoked-access-Ww3", *SECRETS)


def test_relay_refusing_the_new_token_too_stops(velsend, pki, idp, tmp_path):
    sign_in(velsend, pki, idp, tmp_path, "revoked-access-Ww3")
    idp.access_tokens = ["also-refused-Kk2"]
    with auth_relay(pki) as (r, h):
        run = velsend(*REQUIRED, *tls_args(pki, r.port), f"-n{USER}", "-q",
                      *oauth_args(pki, idp, tmp_path))
    assert run.status == 9, run.err
    assert len(idp.refreshes()) == 1
    assert len(h.logins) == 2 and not h.messages


def test_two_runs_share_one_rotating_refresh(velsend, velsend_bin, pki, idp, tmp_path):
    sign_in(velsend, pki, idp, tmp_path, "old-access-Zx1", expires_in=30)
    idp.rotate = True
    idp.refresh_delay = 1.0
    with auth_relay(pki) as (r, h):
        args = [velsend_bin, *REQUIRED, *tls_args(pki, r.port), f"-n{USER}",
                *oauth_args(pki, idp, tmp_path)]
        runs = [subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 cwd=tmp_path) for _ in range(2)]
        results = [run.communicate(timeout=60) for run in runs]
    assert [run.returncode for run in runs] == [0, 0], results
    assert len(idp.refreshes()) == 1
    assert len(h.messages) == 2
    leftovers = sorted(p.name for p in token_file(tmp_path).parent.iterdir())
    assert leftovers == ["work.token", "work.token.lock"]
    stored(tmp_path, refresh_token=f"{REFRESH}-r1")


# --- Errors: one line, status 9 (12 for a certificate), also with -q ---------

@pytest.mark.parametrize("case", ["no-sign-in", "invalid_grant", "500", "garbage", "hang",
                                  "certificate", "other-ca"])
def test_token_errors(velsend, pki, idp, tmp_path, case):
    url = idp.url("/token")
    expected = {
        "no-sign-in": (9, "No sign-in for account default: run velsend --account=default "
                          "--oauth-login\n"),
        "invalid_grant": (9, "The sign-in for account default has expired or was revoked: "
                             "run velsend --account=default --oauth-login\n"),
        "500": (9, f"Couldn't get an access token from {url}: HTTP status 500 without a JSON "
                   "answer\n"),
        "garbage": (9, f"Couldn't get an access token from {url}: HTTP status 200 without a "
                       "JSON answer\n"),
        "hang": (9, f"Couldn't get an access token from {url}: no answer in time\n"),
        "certificate": (12, f"Couldn't get an access token from {url}: "),
        # The endpoint's certificate against another --oauth-cacert: the
        # Windows program checks it itself, in the words a relay's gets.
        "other-ca": (12, f"Couldn't get an access token from {url}: " +
                     ("certificate verify failed: " if WINE else "")),
    }[case]
    if case != "no-sign-in":
        sign_in(velsend, pki, idp, tmp_path, "old-access-Zx1", expires_in=30)
    if case == "invalid_grant":
        idp.valid_refresh.clear()  # revoked
    if case in ("500", "garbage", "hang"):
        idp.mode = case
    started = time.monotonic()
    run = velsend(*REQUIRED, "-hlocalhost:1", "-q", f"-n{USER}", "--timeout=2",
                  *oauth_args(pki, idp, tmp_path, cacert={"certificate": False,
                                                          "other-ca": pki.other_ca}.get(case, True)))
    assert run.status == expected[0], run.err
    assert run.err.startswith(expected[1]), run.err
    assert run.err.count("\n") == 2  # the line and the exit line
    assert time.monotonic() - started < 10
    assert_no_secret(run.err, *SECRETS)
    if case != "no-sign-in":
        stored(tmp_path, access_token="old-access-Zx1")


@pytest.mark.skipif(WINE, reason="killing the Windows program through Wine's loader is not "
                                 "a kill of the program at a known point")
def test_run_killed_during_a_refresh_leaves_the_file_and_no_lock(velsend, velsend_bin, pki, idp,
                                                                 tmp_path):
    sign_in(velsend, pki, idp, tmp_path, "old-access-Zx1", expires_in=30)
    before = token_file(tmp_path).read_bytes()
    idp.refresh_delay = 30
    proc = subprocess.Popen([velsend_bin, *REQUIRED, "-hlocalhost:1", f"-n{USER}",
                             *oauth_args(pki, idp, tmp_path)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=tmp_path)
    deadline = time.monotonic() + 20
    while not idp.refreshes() and time.monotonic() < deadline:
        time.sleep(0.05)
    proc.kill()
    proc.wait()
    assert token_file(tmp_path).read_bytes() == before
    # The lock died with the run: the next one refreshes at once.
    idp.refresh_delay = 0
    with auth_relay(pki) as (r, h):
        run = velsend(*REQUIRED, *tls_args(pki, r.port), f"-n{USER}",
                      *oauth_args(pki, idp, tmp_path), timeout=20)
    assert run.status == 0, run.err
    assert len(idp.refreshes()) == 2
    assert sorted(p.name for p in token_file(tmp_path).parent.iterdir()) == [
        "work.token", "work.token.lock"]
