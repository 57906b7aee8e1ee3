"""The main job's output quoted in the project README is what the commands
print: the commands of scripts/main are run here as they stand (with the
output directory replaced) and each summary line is compared with the
README's, character for character."""

import os
import re
import shlex
import subprocess
import sys

import pytest

from conftest import LIBRARY, PYTHON_DIR, REPO

pytestmark = pytest.mark.needs_library


def _main_commands():
    text = (REPO / "scripts" / "main").read_text().replace("\\\n", " ")
    return [shlex.split(line.strip())[3:] for line in text.splitlines()
            if line.strip().startswith('"$py" -m phenomd ')]


def _readme_lines():
    text = (REPO / "README.md").read_text()
    block = text[text.index("<!-- python:begin -->"):text.index("<!-- python:end -->")]
    return [line for line in block.splitlines() if re.match(r"phenomd \w+: ", line)]


def test_readme_quotes_what_the_main_job_prints(tmp_path):
    commands = _main_commands()
    quoted = _readme_lines()
    assert [c[0] for c in commands] == ["snr", "waterfall", "horizon"]
    assert len(quoted) == len(commands)
    env = dict(os.environ, PYTHONPATH=str(PYTHON_DIR), PHENOMD_LIBRARY=LIBRARY)
    for args, line in zip(commands, quoted):
        args = [a.replace("$out", str(tmp_path)).replace("$jobs", "2") for a in args]
        run = subprocess.run([sys.executable, "-m", "phenomd", *args], env=env, cwd=tmp_path,
                             capture_output=True, text=True, timeout=600)
        assert run.returncode == 0, run.stderr
        printed = [s for s in run.stderr.splitlines() if s.startswith(f"phenomd {args[0]}: ")]
        assert printed == [line.replace("out/", f"{tmp_path}/")]
