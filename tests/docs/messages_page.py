"""Every text that setup.exe can show or write stands on docs/messages.md.

The texts are taken from installer/messages.h as the compiler sees them, after
the preprocessor has put the product's names into them; each of their lines
(paragraphs split at line feeds) must appear on the page as written."""

import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
HEADER = ROOT / "installer/messages.h"
PAGE = ROOT / "docs/messages.md"


def texts():
    names = re.findall(r"inline constexpr char (\w+)\[\]", HEADER.read_text())
    expanded = subprocess.run(["c++", "-E", "-P", "-std=c++17", f"-I{ROOT}", str(HEADER)],
                              capture_output=True, text=True, check=True).stdout
    found = {}
    for name in names:
        definition = re.search(rf"\b{name}\[\]\s*=\s*((?:\"(?:[^\"\\]|\\.)*\"\s*)+);", expanded)
        literals = re.findall(r"\"((?:[^\"\\]|\\.)*)\"", definition.group(1))
        found[name] = re.sub(r"\\(.)", lambda m: "\n" if m.group(1) == "n" else m.group(1),
                             "".join(literals))
    return found


def main():
    page = PAGE.read_text(encoding="utf-8")
    all_texts = texts()
    missing = [(name, line) for name, text in all_texts.items()
               for line in text.split("\n") if line and line not in page]
    for name, line in missing:
        print(f"{name}: not on {PAGE.relative_to(ROOT)}: {line}")
    print(f"{len(all_texts) - len({n for n, _ in missing})} passed, "
          f"{len({n for n, _ in missing})} failed")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
