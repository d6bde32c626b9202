"""A private Postfix instance on loopback that delivers to one Maildir per user.

Postfix is strict where it matters for a mail client: bare LF in the data is
rejected, envelopes must be RFC 821 clean, pipelining before the greeting is
refused, a message or multipart part must not be base64 or quoted-printable,
and (with local_header_rewrite_clients empty) it adds no Date or
Message-ID of its own, so a message missing them shows as missing.
"""
import os
import pwd
import shutil
import socket
import subprocess
import tempfile
import time
from pathlib import Path

from peers import free_port_on

DOMAIN = "example.test"

# Headers a delivery through this instance prepends; everything else in a
# delivered message came from the client.
DELIVERY_HEADERS = {"return-path", "delivered-to", "x-original-to", "received"}

MAIN_CF = """\
compatibility_level = 3.6
queue_directory = {base}/queue
data_directory = {base}/data
maillog_file = {base}/maillog
maillog_file_prefixes = {base}
mail_owner = postfix
setgid_group = postdrop
myhostname = mta.velsend.test
mydomain = velsend.test
myorigin = $myhostname
mydestination =
relayhost =
inet_interfaces = {interfaces}
inet_protocols = {protocols}
mynetworks = {mynetworks}
alias_maps =
alias_database =
local_recipient_maps =
biff = no
smtpd_banner = $myhostname ESMTP
virtual_mailbox_domains = {domain}
virtual_mailbox_base = {base}/mail
virtual_mailbox_maps = inline:{{ {mailboxes} }}
virtual_uid_maps = static:{uid}
virtual_gid_maps = static:{gid}
virtual_minimum_uid = 1
message_size_limit = 52428800
virtual_mailbox_limit = 0
smtpd_forbid_bare_newline = reject
smtpd_forbid_bare_newline_exclusions =
strict_rfc821_envelopes = yes
smtpd_forbid_unauth_pipelining = yes
local_header_rewrite_clients =
always_add_missing_headers = no
strict_mime_encoding_domain = yes
"""

# Only the services a loopback delivery needs, none of them chrooted: the
# private queue directory holds none of the files a chroot would need.
MASTER_CF = """\
{port} inet n - n - - smtpd
pickup unix n - n 60 1 pickup
cleanup unix n - n - 0 cleanup
qmgr unix n - n 300 1 qmgr
rewrite unix - - n - - trivial-rewrite
bounce unix - - n - 0 bounce
defer unix - - n - 0 bounce
trace unix - - n - 0 bounce
verify unix - - n - 1 verify
flush unix n - n 1000? 0 flush
proxymap unix - - n - - proxymap
proxywrite unix - - n - 1 proxymap
showq unix n - n - - showq
error unix - - n - - error
retry unix - - n - - error
discard unix - - n - - discard
local unix - n n - - local
virtual unix - n n - - virtual
anvil unix - - n - 1 anvil
scache unix - - n - 1 scache
postlog unix-dgram n - n - 1 postlogd
"""

# With TLS: a submission-style service that requires STARTTLS and offers
# AUTH (Cyrus sasldb) only over it, and one with implicit TLS. Postfix needs
# tlsmgr, else it answers STARTTLS with "454 4.7.0 TLS not available due to
# local problem".
TLS_MAIN_CF = """\
smtpd_tls_cert_file = {cert}
smtpd_tls_key_file = {key}
smtpd_sasl_type = cyrus
smtpd_sasl_path = smtpd
cyrus_sasl_config_path = {base}/config/sasl
smtpd_sasl_local_domain = $myhostname
"""

TLS_MASTER_CF = """\
{submission} inet n - n - - smtpd
  -o smtpd_tls_security_level=encrypt
  -o smtpd_tls_auth_only=yes
  -o smtpd_sasl_auth_enable=yes
  -o smtpd_recipient_restrictions=permit_sasl_authenticated,reject
{submissions} inet n - n - - smtpd
  -o smtpd_tls_wrappermode=yes
  -o smtpd_sasl_auth_enable=yes
  -o smtpd_recipient_restrictions=permit_sasl_authenticated,reject
tlsmgr unix - - n 1000? 1 tlsmgr
"""

# A submission service that offers no plain-text mechanism over TLS, so that
# only CRAM-MD5 is left when the mechanisms include it.
NO_PLAINTEXT_MASTER_CF = """\
{port} inet n - n - - smtpd
  -o smtpd_tls_security_level=encrypt
  -o smtpd_tls_auth_only=yes
  -o smtpd_sasl_auth_enable=yes
  -o smtpd_sasl_tls_security_options=noanonymous,noplaintext
  -o smtpd_recipient_restrictions=permit_sasl_authenticated,reject
"""

SASL_CONF = """\
pwcheck_method: auxprop
auxprop_plugin: sasldb
mech_list: {mechanisms}
sasldb_path: {base}/config/sasl/sasldb2
"""

# The users of the domain, each with a Maildir of its own name (the trailing
# "/" makes it a Maildir). Any other recipient is refused at RCPT TO.
USERS = ("ann", "bob", "carl", "dora", "eve")


class PostfixUnavailable(Exception):
    pass


def postfix_command():
    return shutil.which("postfix") or next(
        (p for p in ("/usr/sbin/postfix", "/sbin/postfix") if os.access(p, os.X_OK)), None)


def free_port(hosts=("127.0.0.1",)):
    return free_port_on(hosts)


class PostfixRelay:
    def __init__(self, tls=None, password=None, mechanisms="PLAIN LOGIN",
                 interfaces=("127.0.0.1",), main_cf=""):
        """tls: (certificate file, key file) adds the TLS services, where
        every user logs in with password using one of mechanisms (with
        CRAM-MD5 among them, no_plaintext_port offers only that).
        interfaces: the loopback addresses to listen on ("127.0.0.1", "::1"),
        all on one port. main_cf: further main.cf lines, for an instance of a
        test's own."""
        self.postfix = postfix_command()
        if not self.postfix:
            raise PostfixUnavailable("postfix is not installed (scripts/install-deps.sh test installs it)")
        if os.geteuid() != 0:
            raise PostfixUnavailable("a private postfix instance must be started as root")
        # mkdtemp gives 0700; the unprivileged delivery agent must search it.
        self.base = Path(tempfile.mkdtemp(prefix="velsend-postfix-"))
        self.base.chmod(0o755)
        self.config = self.base / "config"
        self.mail = self.base / "mail"
        for d in (self.config, self.base / "queue", self.base / "data", self.mail):
            d.mkdir(mode=0o755)
        owner = pwd.getpwnam("nobody")
        os.chown(self.mail, owner.pw_uid, owner.pw_gid)
        os.chown(self.base / "data", pwd.getpwnam("postfix").pw_uid, -1)
        self.interfaces = tuple(interfaces)
        self.port = free_port(self.interfaces)
        ipv4 = any(":" not in a for a in self.interfaces)
        ipv6 = any(":" in a for a in self.interfaces)
        (self.config / "main.cf").write_text(MAIN_CF.format(
            interfaces=", ".join(f"[{a}]" if ":" in a else a for a in self.interfaces),
            protocols="all" if ipv4 and ipv6 else "ipv6" if ipv6 else "ipv4",
            mynetworks="127.0.0.0/8" + (" [::1]/128" if ipv6 else ""),
            base=self.base, domain=DOMAIN, uid=owner.pw_uid, gid=owner.pw_gid,
            mailboxes=", ".join(f"{u}@{DOMAIN}={u}/" for u in USERS)) + main_cf)
        master = MASTER_CF.format(port=self.port)
        if tls:
            self.submission_port, self.submissions_port = free_port(), free_port()
            with (self.config / "main.cf").open("a") as main:
                main.write(TLS_MAIN_CF.format(base=self.base, cert=tls[0], key=tls[1]))
            master += TLS_MASTER_CF.format(submission=self.submission_port,
                                           submissions=self.submissions_port)
            if "CRAM-MD5" in mechanisms.split():
                self.no_plaintext_port = free_port()
                master += NO_PLAINTEXT_MASTER_CF.format(port=self.no_plaintext_port)
            self._sasl_users(password, mechanisms)
        (self.config / "master.cf").write_text(master)
        self.started = False

    def _sasl_users(self, password, mechanisms):
        saslpasswd2 = shutil.which("saslpasswd2") or "/usr/sbin/saslpasswd2"
        if not os.access(saslpasswd2, os.X_OK):
            raise PostfixUnavailable("saslpasswd2 is not installed (package sasl2-bin)")
        # Debian's Postfix reads smtpd.conf from the configuration directory's
        # sasl/ whatever cyrus_sasl_config_path says.
        sasl = self.config / "sasl"
        sasl.mkdir()
        (sasl / "smtpd.conf").write_text(SASL_CONF.format(base=self.base, mechanisms=mechanisms))
        for user in USERS:
            subprocess.run([saslpasswd2, "-p", "-c", "-f", str(sasl / "sasldb2"),
                            "-u", "mta.velsend.test", user],
                           input=password.encode(), check=True, timeout=30)
        os.chown(sasl / "sasldb2", pwd.getpwnam("postfix").pw_uid, -1)

    def _postfix(self, *args, check=True):
        proc = subprocess.run([self.postfix, "-c", str(self.config), *args],
                              capture_output=True, text=True, timeout=60)
        if check and proc.returncode != 0:
            raise PostfixUnavailable(f"postfix {' '.join(args)} failed: {proc.stderr.strip()}\n{self.log()}")
        return proc

    def start(self):
        self._postfix("check")
        self._postfix("start")
        self.started = True
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            try:
                with socket.create_connection((self.interfaces[0], self.port), timeout=5) as s:
                    if s.recv(512).startswith(b"220"):
                        return self
            except OSError:
                pass
            time.sleep(0.1)
        raise PostfixUnavailable(f"postfix did not greet on port {self.port}\n{self.log()}")

    def _own_pids(self):
        # Our instance's processes carry our configuration directory in their
        # environment; other Postfix instances on the machine do not.
        marker = f"MAIL_CONFIG={self.config}".encode()
        pids = []
        for entry in Path("/proc").iterdir():
            if entry.name.isdigit():
                try:
                    if marker in (entry / "environ").read_bytes().split(b"\0"):
                        pids.append(int(entry.name))
                except OSError:
                    pass
        return pids

    def stop(self):
        if self.started:
            self._postfix("stop", check=False)
            deadline = time.monotonic() + 15
            while self._own_pids() and time.monotonic() < deadline:
                time.sleep(0.1)
            for pid in self._own_pids():
                try:
                    os.kill(pid, 9)
                except OSError:
                    pass
            self.started = False
        shutil.rmtree(self.base, ignore_errors=True)

    def log(self):
        try:
            return (self.base / "maillog").read_text(errors="replace")
        except OSError:
            return ""

    def maildir(self, user):
        return self.mail / user

    def wait_for_message(self, user, marker, timeout=20):
        """The raw message in user's Maildir that holds the bytes marker."""
        new = self.maildir(user) / "new"
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for f in sorted(new.iterdir()) if new.is_dir() else []:
                data = f.read_bytes()
                if marker in data:
                    return data
            time.sleep(0.05)
        raise AssertionError(f"no message with {marker!r} for {user} within {timeout} s\n{self.log()}")


def running_postfix(**options):
    """A started PostfixRelay(**options) for a pytest fixture to yield, stopped
    when the fixture ends; the test is skipped where Postfix cannot run."""
    import pytest
    if not postfix_command():
        pytest.skip("Postfix is not installed; scripts/install-deps.sh test installs it")
    try:
        server = PostfixRelay(**options)
        server.start()
    except PostfixUnavailable as error:
        pytest.skip(str(error))
    try:
        yield server
    finally:
        server.stop()
