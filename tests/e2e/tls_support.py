"""Certificates made at test time, and server-side TLS contexts for the peers.

    pki = Pki(directory)      # a test CA and the certificates below
    pki.ca                        # path of the CA certificate (PEM), for --cacert
    pki.server_context("valid")   # ssl.SSLContext for a server

Certificate kinds (all but "self-signed" and "untrusted" issued by the CA):
    valid        DNS:localhost and IP:127.0.0.1, valid now
    expired      the same names, expired yesterday
    wrong-name   DNS:mail.example.net only
    wildcard     DNS:*.localhost (a wildcard may not stand for "localhost")
    self-signed  the same names as valid, signed by its own key
    untrusted    the same names as valid, issued by a CA nobody trusts
"""
import datetime
import ipaddress
import ssl
import warnings
from pathlib import Path

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

VALID_NAMES = ("localhost", "127.0.0.1")


def _name(common):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, common)])


def _key():
    return ec.generate_private_key(ec.SECP256R1())


def _alt_names(names):
    entries = []
    for name in names:
        try:
            entries.append(x509.IPAddress(ipaddress.ip_address(name)))
        except ValueError:
            entries.append(x509.DNSName(name))
    return x509.SubjectAlternativeName(entries)


def _certificate(subject, key, issuer, issuer_key, names=None, ca=False, days=(-1, 30)):
    now = datetime.datetime.now(datetime.timezone.utc)
    builder = (x509.CertificateBuilder()
               .subject_name(_name(subject))
               .issuer_name(issuer)
               .public_key(key.public_key())
               .serial_number(x509.random_serial_number())
               .not_valid_before(now + datetime.timedelta(days=days[0]))
               .not_valid_after(now + datetime.timedelta(days=days[1]))
               .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
    if ca:
        builder = builder.add_extension(x509.KeyUsage(
            digital_signature=True, content_commitment=False, key_encipherment=False,
            data_encipherment=False, key_agreement=False, key_cert_sign=True, crl_sign=True,
            encipher_only=False, decipher_only=False), critical=True)
    else:
        builder = builder.add_extension(
            x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]), critical=False)
    if names:
        builder = builder.add_extension(_alt_names(names), critical=False)
    return builder.sign(issuer_key, hashes.SHA256())


def _pem(certificate):
    return certificate.public_bytes(serialization.Encoding.PEM)


def _key_pem(key):
    return key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                             serialization.NoEncryption())


class Pki:
    KINDS = ("valid", "expired", "wrong-name", "wildcard", "self-signed", "untrusted",
             "no-alt-names", "escapes")

    def __init__(self, directory):
        self.dir = Path(directory)
        self.dir.mkdir(parents=True, exist_ok=True)
        ca_key = _key()
        ca_cert = _certificate("velsend test CA", ca_key, _name("velsend test CA"), ca_key,
                               ca=True, days=(-2, 60))
        other_key = _key()
        other_cert = _certificate("Nobody's CA", other_key, _name("Nobody's CA"), other_key,
                                  ca=True, days=(-2, 60))
        self.ca = self.dir / "ca.pem"
        self.ca.write_bytes(_pem(ca_cert))
        self.other_ca = self.dir / "other-ca.pem"
        self.other_ca.write_bytes(_pem(other_cert))

        plans = {
            "valid": (ca_cert, ca_key, VALID_NAMES, (-1, 30)),
            "expired": (ca_cert, ca_key, VALID_NAMES, (-30, -1)),
            "wrong-name": (ca_cert, ca_key, ("mail.example.net",), (-1, 30)),
            "wildcard": (ca_cert, ca_key, ("*.localhost",), (-1, 30)),
            "untrusted": (other_cert, other_key, VALID_NAMES, (-1, 30)),
        }
        self.files = {}
        for kind, (issuer, issuer_key, names, days) in plans.items():
            key = _key()
            cert = _certificate(names[0], key, issuer.subject, issuer_key, names, days=days)
            self._store(kind, cert, key)
        # The right name only as the common name, which is never matched.
        key = _key()
        self._store("no-alt-names", _certificate("localhost", key, ca_cert.subject, ca_key), key)
        # A name that would set the terminal's title and colours if printed raw.
        key = _key()
        self._store("escapes", _certificate("escapes", key, ca_cert.subject, ca_key,
                                            ("\x1b]0;owned\x07\x1b[31m.example",)), key)
        key = _key()
        self._store("self-signed", _certificate("localhost", key, _name("localhost"), key,
                                                VALID_NAMES), key)

    def _store(self, kind, cert, key):
        cert_file = self.dir / f"{kind}.pem"
        key_file = self.dir / f"{kind}.key"
        cert_file.write_bytes(_pem(cert))
        key_file.write_bytes(_key_pem(key))
        self.files[kind] = (cert_file, key_file)

    def server_context(self, kind="valid", maximum=None):
        """A server context for kind; maximum caps the TLS version offered."""
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*map(str, self.files[kind]))
        if maximum is not None:
            # Versions below TLS 1.2 are only reachable at security level 0.
            context.set_ciphers("DEFAULT:@SECLEVEL=0")
            with warnings.catch_warnings():  # old versions are what this server is for
                warnings.simplefilter("ignore", DeprecationWarning)
                context.minimum_version = ssl.TLSVersion.TLSv1
                context.maximum_version = maximum
        return context
