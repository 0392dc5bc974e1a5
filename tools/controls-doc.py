#!/usr/bin/env python3
"""The control tree's table in the README and the man page, written from
what `kolvex --list-controls` prints, so that neither can disagree with the
parameter tables. Usage: controls-doc.py KOLVEX [--check]; --check only
says whether both are current (status 1 when not)."""
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
DOCS = {
    ROOT / "README.md": ("<!-- controls: tools/controls-doc.py writes this from kolvex --list-controls -->",
                         "<!-- /controls -->", "```text", "```"),
    ROOT / "player" / "kolvex.1": ('.\\" controls: tools/controls-doc.py writes this from kolvex --list-controls',
                                   '.\\" /controls', ".nf", ".fi"),
}


def block(listing, opening, closing):
    lines = listing.rstrip("\n").split("\n")
    if opening == ".nf":  # roff: a line may not start with a dot, backslashes doubled
        lines = [("\\&" if l.startswith((".", "'")) else "") + l.replace("\\", "\\e") for l in lines]
    return "\n".join([opening] + lines + [closing])


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    listing = subprocess.run([sys.argv[1], "--list-controls"], check=True, capture_output=True,
                             text=True).stdout
    stale = []
    for path, (start, end, opening, closing) in DOCS.items():
        text = path.read_text()
        a, b = text.find(start), text.find(end)
        if a < 0 or b < a:
            sys.exit(f"{path}: no {start} ... {end} section")
        new = text[:a + len(start)] + "\n" + block(listing, opening, closing) + "\n" + text[b:]
        if new != text:
            stale.append(str(path.relative_to(ROOT)))
            if "--check" not in sys.argv:
                path.write_text(new)
    if stale and "--check" in sys.argv:
        sys.exit("not current (run tools/controls-doc.py build/player/kolvex): " + ", ".join(stale))


main()
