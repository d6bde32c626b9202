"""The Windows TLS client (SChannel) under Wine, driven by tls_probe.exe
against TLS peers on loopback with certificates made for the run.

Wine's SChannel accepts any certificate on its own and its chain policy
passes a chain with an unknown issuer, so every refusal here is one the
client makes itself; each case also runs against the system's store, with
the test CA added to the Wine prefix's trusted roots (and removed after).
"""
import datetime
import ipaddress
import os
import ssl
import subprocess
import warnings
from pathlib import Path

import pytest
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

from conftest import WINE, velsend_path
from peers import ScriptedPeer, close, echo, stall, tls, tls_close

pytestmark = pytest.mark.skipif(not WINE, reason="runs the Windows TLS client under Wine")

VERSION_REASON = "the relay does not offer TLS 1.2 or later"


# --- Certificates ------------------------------------------------------------
NOW = datetime.datetime.now(datetime.timezone.utc)


class Issuer:
    def __init__(self, name, parent=None):
        valid = (NOW - datetime.timedelta(days=1), NOW + datetime.timedelta(days=30))
        self.key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
        self.cert = make_cert(name, self.key, parent, valid, ca=True)

    def pem(self):
        return self.cert.public_bytes(serialization.Encoding.PEM)


def make_cert(name, key, issuer, valid, ca=False, dns=(), ips=()):
    """A certificate for key, signed by issuer (an Issuer; None: self-signed)."""
    subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, name)])
    issuer_name, signer = (subject, key) if issuer is None else (issuer.cert.subject, issuer.key)
    builder = (x509.CertificateBuilder()
               .subject_name(subject)
               .issuer_name(issuer_name)
               .public_key(key.public_key())
               .serial_number(x509.random_serial_number())
               .not_valid_before(valid[0])
               .not_valid_after(valid[1])
               .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
    if ca:
        builder = builder.add_extension(
            x509.KeyUsage(False, False, False, False, False, True, True, False, False), True)
    else:
        builder = builder.add_extension(
            x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]), critical=False)
    names = [x509.DNSName(n) for n in dns] + [x509.IPAddress(ipaddress.ip_address(a)) for a in ips]
    if names:
        builder = builder.add_extension(x509.SubjectAlternativeName(names), critical=False)
    return builder.sign(signer, hashes.SHA256())


class Pki:
    """A test CA (trusted per case), an intermediate under it, a rogue CA
    (never trusted) and the server certificates, as PEM files."""

    def __init__(self, folder):
        self.folder = folder
        # A name of its own: a CA of the same name left in the system store
        # would break another module's chains with a signature failure.
        self.ca = Issuer("velsend SChannel test CA")
        self.rogue = Issuer("velsend rogue CA")
        self.intermediate = Issuer("velsend test intermediate", parent=self.ca)
        self.ca_file = self.write("ca.pem", self.ca.pem())
        valid = (NOW - datetime.timedelta(days=1), NOW + datetime.timedelta(days=30))
        expired = (NOW - datetime.timedelta(days=30), NOW - datetime.timedelta(days=2))
        local = dict(dns=["localhost"], ips=["127.0.0.1", "::1"])
        self.servers = {
            "good": self.server(self.ca, valid, **local),
            "via intermediate": self.server(self.intermediate, valid, **local),
            "dns only": self.server(self.ca, valid, dns=["localhost"]),
            "wrong name": self.server(self.ca, valid, dns=["mail.example.net"]),
            "wildcard": self.server(self.ca, valid, dns=["*.mail.test"]),
            "expired": self.server(self.ca, expired, **local),
            "self-signed": self.server(None, valid, **local),
            "rogue CA": self.server(self.rogue, valid, **local),
            "rogue CA sent": self.server(self.rogue, valid, send_issuer=True, **local),
        }

    def write(self, name, data):
        path = self.folder / name
        path.write_bytes(data)
        return str(path)

    def server(self, issuer, valid, send_issuer=False, **names):
        key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
        cert = make_cert(names.get("dns", ["x"])[0], key, issuer, valid, **names)
        chain = cert.public_bytes(serialization.Encoding.PEM)
        if issuer is not None and (send_issuer or issuer.cert.issuer != issuer.cert.subject):
            chain += issuer.pem()
        index = len(list(self.folder.glob("server*.pem")))
        key_pem = key.private_bytes(serialization.Encoding.PEM,
                                    serialization.PrivateFormat.PKCS8,
                                    serialization.NoEncryption())
        return (self.write(f"server{index}.pem", chain), self.write(f"server{index}.key", key_pem))


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    return Pki(tmp_path_factory.mktemp("pki"))


# --- The probe under Wine -----------------------------------------------------
@pytest.fixture(scope="module")
def probe():
    path = Path(velsend_path()).with_name("tls_probe.exe")
    if not path.exists():
        pytest.skip(f"{path} not built")
    return str(path)


def wine(*args, timeout=120):
    env = dict(os.environ, WINEDEBUG="-all")
    proc = subprocess.run(["wine", *args], capture_output=True, timeout=timeout, env=env)
    return proc.returncode, proc.stdout.decode("latin-1").replace("\r\n", "\n").splitlines()


@pytest.fixture(scope="module")
def system_root(probe, pki):
    """The test CA among the Wine prefix's trusted roots for this module."""
    status, lines = wine(probe, "addroot", pki.ca_file)
    assert (status, lines) == (0, ["added 1"])
    yield
    assert wine(probe, "delroot", pki.ca_file) == (0, ["removed 1"])


def connect(probe, name, port, *options):
    status, lines = wine(probe, "connect", name, str(port), *options)
    outcome = lines[0] if lines else ""
    elapsed = next((int(l.split()[1]) for l in lines if l.startswith("elapsed ")), None)
    return status, outcome, lines, elapsed


# --- TLS peers ----------------------------------------------------------------
def pattern(size):
    return bytes(((i * 131 + (i >> 11)) & 0xFF) for i in range(size))


def server_context(chain, max_version=None):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(*chain)
    if max_version:
        context.set_ciphers("DEFAULT:@SECLEVEL=0")
        with warnings.catch_warnings():  # old versions are the point here
            warnings.simplefilter("ignore", DeprecationWarning)
            context.minimum_version = ssl.TLSVersion.TLSv1
            context.maximum_version = max_version
    return context


@pytest.fixture
def peer():
    """Starts ScriptedPeers, each stopped after the test; a chain alone
    gives a peer that runs the TLS handshake and nothing more."""
    peers = []

    def start(steps=None, chain=None, max_version=None):
        if steps is None:
            steps = [tls(server_context(chain, max_version)), close()]
        peers.append(ScriptedPeer(steps, timeout=120))
        return peers[-1]

    yield start
    for p in peers:
        p.stop()


# --- Cases ---------------------------------------------------------------------
# (case, server certificate, name verified, expected first line). Each runs
# with --cacert naming the test CA and with the test CA in the system store.
VERIFY_CASES = [
    ("good", "good", "localhost", "ok TLS 1.2|"),
    ("LOCALHOST in capitals", "good", "LOCALHOST", "ok TLS 1.2|"),
    ("intermediate sent by the relay", "via intermediate", "localhost", "ok TLS 1.2|"),
    ("IPv4 literal against an IP entry", "good", "127.0.0.1", "ok TLS 1.2|"),
    ("IPv6 literal against an IP entry", "good", "::1", "ok TLS 1.2|"),
    ("wildcard", "wildcard", "smtp.mail.test", "ok TLS 1.2|"),
    ("wildcard one label only", "wildcard", "a.smtp.mail.test",
     "fail certificate is for *.mail.test, not a.smtp.mail.test"),
    ("address literal against DNS names only", "dns only", "127.0.0.1",
     "fail certificate is for localhost, not 127.0.0.1"),
    ("wrong name", "wrong name", "localhost",
     "fail certificate is for mail.example.net, not localhost"),
    ("expired", "expired", "localhost", "fail certificate verify failed: certificate has expired"),
    ("self-signed", "self-signed", "localhost",
     "fail certificate verify failed: self-signed certificate"),
    ("unknown CA", "rogue CA", "localhost",
     "fail certificate verify failed: unable to get local issuer certificate"),
    ("unknown CA sent by the relay", "rogue CA sent", "localhost",
     "fail certificate verify failed: self-signed certificate in certificate chain"),
]


@pytest.mark.parametrize("trust", ["cacert", "system store"])
@pytest.mark.parametrize("case,server,name,expected", VERIFY_CASES,
                         ids=[c[0] for c in VERIFY_CASES])
def test_certificate_verification(probe, pki, system_root, peer, trust, case, server, name,
                                  expected):
    relay = peer(chain=pki.servers[server])
    options = [f"--cacert={pki.ca_file}"] if trust == "cacert" else []
    status, outcome, lines, _ = connect(probe, name, relay.port, *options)
    assert outcome.startswith(expected), lines
    assert status == (0 if expected.startswith("ok") else 1)


def test_cacert_replaces_the_system_store(probe, pki, system_root, peer):
    # The rogue CA's file trusts the rogue CA alone, not the test CA that the
    # system store holds.
    relay = peer(chain=pki.servers["good"])
    rogue = pki.write("rogue.pem", pki.rogue.pem())
    _, outcome, lines, _ = connect(probe, "localhost", relay.port, f"--cacert={rogue}")
    assert outcome == ("fail certificate verify failed: "
                       "unable to get local issuer certificate"), lines

    relay = peer(chain=pki.servers["rogue CA"])
    status, outcome, lines, _ = connect(probe, "localhost", relay.port, f"--cacert={rogue}")
    assert (status, outcome.startswith("ok TLS 1.2|")) == (0, True), lines


@pytest.mark.parametrize("server", ["self-signed", "wrong name", "expired", "rogue CA"])
def test_insecure_accepts_any_certificate(probe, pki, peer, server):
    relay = peer(chain=pki.servers[server])
    status, outcome, lines, _ = connect(probe, "localhost", relay.port, "--insecure")
    assert (status, outcome.startswith("ok TLS 1.2|")) == (0, True), lines


def test_unreadable_ca_file(probe, pki, peer, tmp_path):
    relay = peer(chain=pki.servers["good"])
    missing = tmp_path / "missing.pem"
    _, outcome, lines, _ = connect(probe, "localhost", relay.port, f"--cacert={missing}")
    assert outcome == f"fail cannot read the CA file {missing}", lines
    empty = tmp_path / "empty.pem"
    empty.write_text("no certificate here\n")
    _, outcome, lines, _ = connect(probe, "localhost", relay.port, f"--cacert={empty}")
    assert outcome == f"fail no certificate in the CA file {empty}", lines


def test_relay_offering_only_tls_1_1_is_refused(probe, pki, peer):
    relay = peer(chain=pki.servers["good"], max_version=ssl.TLSVersion.TLSv1_1)
    status, outcome, lines, _ = connect(probe, "localhost", relay.port, f"--cacert={pki.ca_file}",
                                        "--insecure")
    assert (status, outcome) == (1, "fail " + VERSION_REASON), lines


def test_silence_during_the_handshake_is_bounded(probe, pki, peer):
    relay = peer([stall()])
    status, outcome, lines, elapsed = connect(probe, "localhost", relay.port, "--timeout=1500")
    assert (status, outcome) == (1, "fail the relay did not complete the TLS handshake in time"), lines
    assert 1400 <= elapsed < 5000


def test_connection_cut_during_the_handshake(probe, pki, peer):
    relay = peer([close()])
    status, outcome, lines, _ = connect(probe, "localhost", relay.port)
    expected = "fail the relay closed the connection during the TLS handshake"
    assert (status, outcome) == (1, expected), lines


def test_five_mebibytes_round_trip_and_close_notify_both_ways(probe, pki, peer):
    size = 5 * 1024 * 1024
    relay = peer([tls(server_context(pki.servers["good"])), echo(size), tls_close(), close()])
    status, _, lines, _ = connect(probe, "localhost", relay.port, f"--cacert={pki.ca_file}",
                                  f"--echo={size}")
    relay.finished.wait(60)
    assert status == 0, lines
    assert lines[0] == "ok TLS 1.2|TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384", lines
    assert lines[2:] == ["echo ok", "eof"], lines
    assert relay.received == pattern(size)
    # Set only once the client's close_notify came.
    assert relay.tls_closed, relay.error
