"""Shared fixtures of the end-to-end suite: the built program, a runner and
the product definition."""
import os
import re
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


def pytest_configure(config):
    # --strict-markers would reject an unregistered name; a typo in a marker
    # would otherwise select nothing.
    config.addinivalue_line(
        "markers", "memcheck: the runs scripts/memcheck.sh repeats under valgrind's memcheck")


def product():
    """The product definition, read from the one place where it is written."""
    text = (ROOT / "CMakeLists.txt").read_text()
    values = dict(re.findall(r'set\((VELSEND_\w+) "([^"]*)"\)', text))
    values["VERSION"] = re.search(r"project\(velsend VERSION (\d+\.\d+\.\d+)", text).group(1)
    return values


def velsend_path():
    path = os.path.abspath(os.environ.get("VELSEND_BIN") or str(ROOT / "build" / "velsend"))
    if not Path(path).exists():
        pytest.exit(f"velsend binary not found at {path}; build first or set VELSEND_BIN")
    return path


class Run:
    """Result of one run of the program."""

    def __init__(self, proc):
        self.status = proc.returncode
        self.stdout = proc.stdout
        self.stderr = proc.stderr

    @property
    def err(self):
        return self.stderr.decode("latin-1")

    @property
    def out(self):
        return self.stdout.decode("latin-1")


@pytest.fixture(scope="session")
def velsend_bin(tmp_path_factory):
    path = velsend_path()
    return wine_wrapper(path, tmp_path_factory) if WINE else path


@pytest.fixture
def velsend(velsend_bin, tmp_path):
    """Runs the program: velsend(*args, stdin=b"", timeout=60, cwd=tmp_path, env=None)."""

    def run(*args, stdin=b"", timeout=60, cwd=None, env=None):
        full_env = dict(os.environ)
        if env:
            full_env.update(env)
        proc = subprocess.run(
            [velsend_bin, *args],
            input=stdin,
            capture_output=True,
            timeout=timeout,
            cwd=cwd or tmp_path,
            env=full_env,
        )
        return Run(proc)

    return run


# --- The Windows program under Wine (VELSEND_WINE=1) ------------------------
# VELSEND_BIN then names velsend.exe, which every test starts through a small
# wrapper: wine runs it, and the runtime's text-mode CR LF on standard error
# is undone (wine_run.py), so the expectations hold as they are. The -#
# display is a window there, tested by test_windows.py.
WINE = os.environ.get("VELSEND_WINE") == "1"


def wine_wrapper(exe, tmp_path_factory):
    wrapper = tmp_path_factory.mktemp("wine") / "velsend"
    wrapper.write_text("#!/bin/sh\n"
                       f"exec /usr/bin/python3 '{Path(__file__).with_name('wine_run.py')}' "
                       f"'{exe}' \"$@\"\n")
    wrapper.chmod(0o755)
    return str(wrapper)
