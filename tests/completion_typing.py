#!/usr/bin/env python3
"""Types keys into an interactive bash on a pseudo-terminal, as a person
types them at the prompt, and prints the command line they made, then the
completions bash listed on the screen, if any, one a line.

    completion_typing.py RCFILE KEYS

RCFILE is sourced by the shell (it loads the completion); KEYS holds TAB
characters where the person presses TAB. The line is read from readline
itself (a key bound with bind -x prints READLINE_LINE), not from the
screen."""

import fcntl
import os
import pty
import re
import select
import struct
import sys
import tempfile
import termios

PROMPT = b"@@PROMPT@@ "
SHOW_LINE = b"\x18\x0c"  # C-x C-l
# Only a hang ends the wait; how long anything takes is not checked.
HANG = 120


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: completion_typing.py RCFILE KEYS")
    rcfile, keys = sys.argv[1], sys.argv[2].encode()
    with tempfile.TemporaryDirectory() as work:
        inputrc = os.path.join(work, "inputrc")
        with open(inputrc, "w") as f:
            # One completion a line, all of them, no pager, no bell.
            f.write("set completion-display-width 0\n"
                    "set completion-query-items 100000\n"
                    "set page-completions off\n"
                    "set bell-style none\n")
        rc = os.path.join(work, "bashrc")
        with open(rc, "w") as f:
            f.write(". '%s'\n" % rcfile.replace("'", "'\\''"))
            f.write("PS1='%s'\n" % PROMPT.decode())
            f.write("_typing_show() { printf '\\n@@LINE@@%s@@END@@\\n' \"$READLINE_LINE\"; }\n")
            f.write("bind -x '\"\\C-x\\C-l\": _typing_show'\n")
        pid, fd = pty.fork()
        if pid == 0:
            os.environ.update(TERM="dumb", INPUTRC=inputrc)
            os.execvp("bash", ["bash", "--noprofile", "--rcfile", rc, "-i"])
        # Wide enough that readline never scrolls the line.
        fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 4000, 0, 0))
        screen = b""

        def until(pattern):
            nonlocal screen
            while True:
                found = re.search(pattern, screen, re.S)
                if found:
                    return found
                ready, _, _ = select.select([fd], [], [], HANG)
                try:
                    got = os.read(fd, 65536) if ready else b""
                except OSError:
                    got = b""
                if not got:
                    sys.exit("bash stopped answering; the screen so far: %r" % screen)
                screen += got

        until(re.escape(PROMPT))
        screen = b""
        os.write(fd, keys + SHOW_LINE)
        found = until(rb"\n@@LINE@@(.*?)@@END@@")
        line = found.group(1)
        # A list stands between the line as typed and the prompt drawn
        # again under it.
        before = screen[:found.start()]
        listed = []
        again = before.rfind(PROMPT)
        if again > 0:
            rows = before[:again].split(b"\r\n")
            listed = [row.rstrip(b" ") for row in rows[1:] if row.strip()]
        os.write(fd, b"\x15exit\n")
        os.waitpid(pid, 0)
        os.close(fd)
    out = sys.stdout.buffer
    out.write(line + b"\n")
    for item in listed:
        out.write(item + b"\n")


if __name__ == "__main__":
    main()
