"""Runs the built tool, directly or through a runner such as Wine, and
reads what it printed."""
import subprocess
import tempfile


def run_captured(command, cwd, windows=False, env=None, preexec=None, timeout=120):
    """Runs a command with its output in a file, not a pipe: a Wine server
    or service started by the run may outlive it and would keep a pipe open.
    Returns (stdout, status). A Windows build's line ends are checked to be
    CR LF throughout, as the C runtime prints them in text mode, and are
    then read as LF."""
    # Wine now and then fails to start a program, which then says nothing and
    # fails. The tool says something before it touches any file, so a silent
    # failure under Wine is run again, twice at most.
    for attempt in range(3):
        with tempfile.TemporaryFile() as out:
            done = subprocess.run(command, cwd=cwd, env=env, preexec_fn=preexec,
                                  timeout=timeout, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.DEVNULL)
            out.seek(0)
            text = out.read().decode("latin-1")
        if not (windows and text == "" and done.returncode != 0):
            break
    if windows:
        if "\n" in text.replace("\r\n", ""):
            raise AssertionError("a line end without CR from a Windows build: %r" % text)
        text = text.replace("\r\n", "\n")
    return text, done.returncode
