"""The package's version: the library's, as include/onset.h states it.

In a source checkout it is read from the header; an installed package has
no header beside it, so the build writes the number into this file instead
(see setup.py). A package copied out of the checkout by hand knows no
version: it says 0+unknown rather than guess.
"""

import re
from pathlib import Path


def header_version(header):
    """'major.minor.patch' from the ONSET_VERSION_ lines of onset.h."""
    text = Path(header).read_text()
    parts = []
    for part in ("MAJOR", "MINOR", "PATCH"):
        match = re.search(rf"^#define ONSET_VERSION_{part} +(\d+)$", text, re.MULTILINE)
        if match is None:
            raise RuntimeError(f"{header} defines no ONSET_VERSION_{part}")
        parts.append(match.group(1))
    return ".".join(parts)


_HEADER = Path(__file__).resolve().parents[2] / "include" / "onset.h"
__version__ = header_version(_HEADER) if _HEADER.is_file() else "0+unknown"
