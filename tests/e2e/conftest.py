"""Shared fixtures of the end-to-end suite: the built program and a runner."""
import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


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
def velsend_bin():
    return velsend_path()


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
