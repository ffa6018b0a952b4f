"""The progress line of python3 -m onset detect-archive: blocks done of all,
events so far and the time left, as onset-detect shows its own."""

import sys
import time


class Progress:
    """Redrawn in place on a terminal, at most a few times a second; where
    asked for elsewhere (a log file), a line per update, at most one a
    second. Off unless `on`; `on` None: only when `out` is a terminal."""

    def __init__(self, on=None, out=None, clock=time.monotonic):
        self.out = out or sys.stderr
        self.terminal = self.out.isatty()
        self.on = self.terminal if on is None else on
        self.clock = clock
        self.started = self.last = clock()
        self.shown = False

    def __call__(self, done, blocks, events):
        now = self.clock()
        pause = 0.25 if self.terminal else 1.0
        if not self.on or (self.shown and now - self.last < pause and done < blocks):
            return
        self.last = now
        line = f"onset detect-archive: {done}/{blocks} blocks  {events} events"
        if done:
            line += f"  {(now - self.started) * (blocks - done) / done:.0f} s left"
        self.out.write(f"\r\033[K{line}" if self.terminal else line + "\n")
        self.out.flush()
        self.shown = True

    def clear(self):
        """Removes the line on a terminal, so that what follows starts on a
        clean one."""
        if self.shown and self.terminal:
            self.out.write("\r\033[K")
            self.out.flush()
        self.shown = False
