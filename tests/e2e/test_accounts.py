"""Accounts and provider presets: each provider's settings through the dry
run, one account per TLS mode delivering through aiosmtpd and Postfix, the
file found where the system keeps it, and every mistake stopping the run
with its line before anything is sent."""
import getpass
import os
import shutil
from pathlib import Path

import pytest

from conftest import WINE
from peers import closed_port, relay
from test_auth import SECRET, USER, assert_no_secret
from tls_support import Pki

SENT_OK = "Connection Closed [0]\nProgram Exiting[0 (ERROR_NONE)]\n"
MESSAGE = ["-rbob@example.org", "-sFrom an account"]


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    return Pki(tmp_path_factory.mktemp("pki-accounts"))


def private(path, text):
    """Writes an accounts file its owner alone may read (0600; under Wine
    the same mode becomes an ACL of the owner alone)."""
    path.write_text(text)
    path.chmod(0o600)
    return path


def wine_profile(folder):
    """The Wine prefix's AppData folder ("Roaming", "Local") of this user:
    Wine sets APPDATA and LOCALAPPDATA itself, whatever the environment says."""
    return (Path(os.environ["WINEPREFIX"]) / "drive_c" / "users" / getpass.getuser()
            / "AppData" / folder)


def connection(run):
    """The dry run's connection lines, label -> "value (origin)"."""
    lines = run.err.split("Connection", 1)[1].split("\nMAIL FROM:", 1)[0].splitlines()[1:]
    return {line[:16].strip(): line[16:] for line in lines}


# --- Providers -----------------------------------------------------------------

@pytest.mark.parametrize("name,host,port,tls,user", [
    ("m365", "smtp.office365.com", "587", "STARTTLS", None),
    ("outlook", "smtp.office365.com", "587", "STARTTLS", None),
    ("gmail", "smtp.gmail.com", "465", "TLS from the start", None),
    ("ses:eu-west-1", "email-smtp.eu-west-1.amazonaws.com", "587", "STARTTLS", None),
    ("sendgrid", "smtp.sendgrid.net", "587", "STARTTLS", "apikey"),
    ("mailgun", "smtp.mailgun.org", "587", "STARTTLS", None),
    ("postmark", "smtp.postmarkapp.com", "587", "STARTTLS", None),
    ("fastmail", "smtp.fastmail.com", "465", "TLS from the start", None),
    ("zoho", "smtp.zoho.com", "465", "TLS from the start", None),
    ("zoho-eu", "smtp.zoho.eu", "465", "TLS from the start", None),
])
def test_each_provider_through_the_dry_run(velsend, name, host, port, tls, user):
    run = velsend(f"--provider={name}", "--dry-run", "-oann@example.org", *MESSAGE)
    assert run.status == 0, run.err
    origin = f" (provider {name})"
    shown = connection(run)
    assert run.err.startswith(f"Connection of provider {name}:\n")
    assert shown["relay"] == host + origin
    assert shown["port"] == port + origin
    assert shown["TLS"] == tls + origin
    assert shown["verification"] == ("certificate and name, against the system's store "
                                     "(built-in)")
    assert shown["user"] == (user + origin if user else "none, no authentication (built-in)")
    # The envelope stays last; the message itself on standard output.
    assert run.err.endswith("MAIL FROM:<ann@example.org>\nRCPT TO:<bob@example.org>\n"
                            "Program Exiting[0 (ERROR_NONE)]\n")
    assert "Subject: From an account" in run.out


def test_provider_table_and_unknown_names(velsend):
    table = velsend("--providers")
    assert table.status == 0
    names = [line.split()[0] for line in table.out.splitlines()[1:]]
    assert names == ["m365", "outlook", "gmail", "ses:REGION", "sendgrid", "mailgun",
                     "postmark", "fastmail", "zoho", "zoho-eu"]
    assert "smtp.gmail.com" in table.out and "465" in table.out
    for wrong in ("gmial", "ses", "ses:EU_WEST"):
        run = velsend(f"--provider={wrong}", "--dry-run", "-oann@example.org", *MESSAGE)
        assert run.status == 11, run.err
        assert run.err.startswith(f"Invalid value for --provider: {wrong}\nKnown providers: "
                                  "m365, outlook, gmail, ses:REGION, sendgrid, mailgun, "
                                  "postmark, fastmail, zoho, zoho-eu\n")
        assert run.out == ""


# --- Accounts delivering -----------------------------------------------------

def account_text(name, port, mode, pki, password_file, user=USER, sender=USER, default=""):
    return (f"# velsend accounts\n[defaults]\n{default}from = {sender}\ntimeout = 20\n"
            f"cacert = {pki.ca}\n\n[account {name}]\nhost = localhost\nport = {port}\n"
            + (f"{mode} = yes\n" if mode else "")
            + f"user = {user}\npassword-file = {password_file}\n")


@pytest.mark.parametrize("mode", [None, "starttls", "tls"])
def test_one_account_per_tls_mode_through_aiosmtpd(velsend, pki, tmp_path, mode):
    (tmp_path / "pw").write_text(SECRET + "\n")
    options = {None: {}, "starttls": {"tls_context": pki.server_context(),
                                      "require_starttls": True},
               "tls": {"ssl_context": pki.server_context()}}[mode]
    with relay(USER, SECRET, **options) as r:
        config = private(tmp_path / "accounts",
                         account_text("relay", r.port, mode, pki, tmp_path / "pw"))
        run = velsend(f"--config={config}", "--account=relay", *MESSAGE)
    assert run.status == 0, run.err
    assert run.err.endswith(SENT_OK)
    assert [ok for _, _, _, ok in r.logins] == [True]
    assert len(r.messages) == 1 and b"Subject: From an account" in r.messages[0].data
    assert r.messages[0].mail_from == USER
    assert ("certificate verified for localhost" in run.err) == (mode is not None)
    assert_no_secret(run.err, SECRET)


@pytest.fixture(scope="module")
def postfix_tls(pki):
    from postfix_relay import running_postfix
    yield from running_postfix(tls=pki.files["valid"], password=SECRET)


@pytest.mark.parametrize("mode", ["starttls", "tls"])
def test_one_account_per_tls_mode_through_postfix(velsend, pki, postfix_tls, tmp_path, mode):
    (tmp_path / "pw").write_text(SECRET + "\n")
    port = postfix_tls.submission_port if mode == "starttls" else postfix_tls.submissions_port
    subject = f"Postfix account {mode}"
    config = private(tmp_path / "accounts",
                     account_text("postfix", port, mode, pki, tmp_path / "pw", user="ann",
                                  sender="ann@example.test", default="default = postfix\n"))
    run = velsend(f"--config={config}", "--account", "-rbob@example.test", f"-s{subject}",
                  "-f,", stdin=b"Through an account\r\n.\r\n")
    assert run.status == 0, run.err[-2000:] + postfix_tls.log()[-2000:]
    message = postfix_tls.wait_for_message("bob", f"Subject: {subject}".encode())
    assert b"ESMTPSA" in message
    assert_no_secret(run.err, SECRET)


# --- Where the file is, and when it is read ----------------------------------

DRY = ["--dry-run", *MESSAGE]


def test_file_found_where_the_system_keeps_it(velsend, tmp_path):
    text = "[defaults]\ndefault = home\n[account home]\nprovider = fastmail\nfrom = ann@example.org\n"
    if WINE:
        # %APPDATA%\\velsend\\config
        private_dir = wine_profile("Roaming") / "velsend"
        env = {}
    else:
        private_dir = tmp_path / "xdg" / "velsend"
        env = {"XDG_CONFIG_HOME": str(tmp_path / "xdg"), "HOME": str(tmp_path / "nowhere")}
    private_dir.mkdir(parents=True)
    try:
        private(private_dir / "config", text)
        env["VELSEND_CONFIG"] = ""
        run = velsend("--account", *DRY, env=env)
    finally:
        shutil.rmtree(private_dir)
    assert run.status == 0, run.err
    assert connection(run)["relay"] == "smtp.fastmail.com (provider fastmail)"
    assert run.err.startswith("Connection of account home, provider fastmail:\n")

    # VELSEND_CONFIG names another file; --config wins over both.
    other = private(tmp_path / "other", text.replace("fastmail", "zoho"))
    run = velsend("--account", *DRY, env={**env, "VELSEND_CONFIG": str(other)})
    assert connection(run)["relay"] == "smtp.zoho.com (provider zoho)", run.err
    third = private(tmp_path / "third", text.replace("fastmail", "gmail"))
    run = velsend(f"--config={third}", *DRY, env={**env, "VELSEND_CONFIG": str(other)})
    assert connection(run)["relay"] == "smtp.gmail.com (provider gmail)", run.err

    if not WINE:
        env = {"XDG_CONFIG_HOME": "", "HOME": str(tmp_path / "home"), "VELSEND_CONFIG": ""}
        home = tmp_path / "home" / ".config" / "velsend"
        home.mkdir(parents=True)
        private(home / "config", text)
        run = velsend("--account=home", *DRY, env=env)
        assert connection(run)["relay"] == "smtp.fastmail.com (provider fastmail)", run.err


def test_file_is_read_only_for_account_or_config(velsend, tmp_path):
    """A run without the new options stays as it was, whatever the file says."""
    broken = tmp_path / "broken"
    broken.write_text("[account a]\nprot = 25\n")
    with relay() as r:
        run = velsend("-oann@example.org", *MESSAGE, f"-h127.0.0.1:{r.port}", "--timeout=20",
                      env={"VELSEND_CONFIG": str(broken)})
    assert run.status == 0, run.err
    assert "Connection of" not in run.err
    run = velsend("--account=a", *DRY, env={"VELSEND_CONFIG": str(broken)})
    assert run.status == 11
    assert run.err.startswith(f"{broken}:2: unknown key \"prot\"\n")


@pytest.mark.parametrize("text,line", [
    ("[defaults]\ntimeout = 20\n\n[account a]\nhost = 127.0.0.1\nstarttls = maybe\n",
     ':6: key "starttls" takes yes or no'),
    ("[defaults]\ndefault = b\n[account a]\nhost = 127.0.0.1\n",
     ':2: default account "b" is not defined'),
    ("[account a]\nhost = 127.0.0.1\n[server b]\n",
     ':3: unknown section "[server b]" (sections are [defaults] and [account NAME])'),
    ("[account a]\nhost = 127.0.0.1\nport = 0\n", ':3: invalid port "0" (1 to 65535)'),
    ("[account a]\nhost = 127.0.0.1\nhelo = bad_name\n",
     ":3: invalid value for helo: bad_name"),
])
def test_mistakes_stop_the_run_before_anything_is_sent(velsend, tmp_path, text, line):
    config = private(tmp_path / "accounts", text)
    with relay() as r:
        run = velsend(f"--config={config}", "--account=a", "-oann@example.org", *MESSAGE,
                      f"-h127.0.0.1:{r.port}", "-f+missing-attachment.pdf")
    assert run.status == 11, run.err
    # The file's mistake, not the missing attachment: nothing was read or sent.
    assert run.err == f"{config}{line}\nProgram Exiting[11 (ERROR_INVALID_ARGUMENT)]\n"
    assert r.messages == []


def test_unreadable_file_and_unknown_account(velsend, tmp_path):
    missing = tmp_path / "none"
    run = velsend(f"--config={missing}", *DRY)
    assert run.status == 11
    assert run.err.startswith(f"Cannot read {missing}: No such file or directory\n")
    config = private(tmp_path / "accounts", "[account work]\nhost = h\n[account home]\n")
    run = velsend(f"--config={config}", "--account=wrok", *DRY)
    assert run.status == 11
    assert run.err.startswith(f'{config}: unknown account "wrok" (accounts: work, home)\n')


def test_password_key_only_in_a_file_of_the_owner_alone(velsend, tmp_path):
    with relay(USER, SECRET) as r:
        config = tmp_path / "accounts"
        config.write_text(f"[account a]\nhost = 127.0.0.1\nport = {r.port}\nfrom = {USER}\n"
                          f"user = {USER}\npassword = {SECRET}\ntimeout = 20\n")
        config.chmod(0o644)
        refused = velsend(f"--config={config}", "--account=a", *MESSAGE)
        config.chmod(0o600)
        accepted = velsend(f"--config={config}", "--account=a", *MESSAGE)
    assert refused.status == 11, refused.err
    fix = (f'icacls "{config}" /inheritance:r /grant:r "%USERNAME%":F' if WINE
           else f"chmod 600 {config}")
    assert refused.err.startswith(
        f"{config}:6: a password key in a file other users can read or change\n"
        f"Make it private ({fix}), or use password-file or password-command\n")
    assert accepted.status == 0, accepted.err
    assert [ok for _, _, _, ok in r.logins] == [True]
    assert len(r.messages) == 1
    assert_no_secret(refused.err + accepted.err, SECRET)


def test_command_line_over_account_over_defaults_over_provider(velsend, tmp_path):
    config = private(tmp_path / "accounts",
                     "[defaults]\nprovider = sendgrid\nport = 2525\nfrom = ops@example.org\n"
                     "[account a]\ntls = yes\nuser = reports\n")
    run = velsend(f"--config={config}", "--account=a", "-hrelay.example", "--insecure", *DRY)
    assert run.status == 0, run.err
    shown = connection(run)
    assert shown["relay"] == "relay.example (command line)"
    assert shown["port"] == "2525 ([defaults])"
    assert shown["TLS"] == "TLS from the start (account a)"
    assert shown["verification"] == "off (command line)"
    assert shown["user"] == "reports (account a)"
    assert "MAIL FROM:<ops@example.org>" in run.err


def test_retry_and_exit_code_keys_of_an_account(velsend, tmp_path):
    """Retries are keys: a relay that cannot be reached is tried as often as
    the account says. The exit convention and the report belong to the
    caller, so they are options only."""
    port = closed_port()
    config = private(tmp_path / "config",
                     f"[account cron]\nhost = 127.0.0.1\nport = {port}\nretry = 2\n"
                     "retry-delay = 0\n")
    run = velsend(f"--config={config}", "--account=cron", "-oann@example.test",
                  "-rbob@example.test", "-sRetried", "-f,", "--exit-codes=sysexits",
                  stdin=b"text\n.\n")
    assert run.err.count("failed; trying again in") == 2, run.err
    assert run.status == 75  # temporary, in sendmail's convention
    private(config, "[account cron]\nexit-codes = sysexits\n")
    run = velsend(f"--config={config}", "--account=cron", "-oann@example.test",
                  "-rbob@example.test", "-sRetried", "-f,", stdin=b"text\n.\n")
    assert run.status == 11
    assert f':2: unknown key "exit-codes"\n' in run.err, run.err
