#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Seeds come from the example site (its templates, its configuration and the
cache file a build of it writes) and from the string literals of the tests:
template snippets (texts with a "!" style region), INI texts, and cache texts
(the cache tests write NUL as "|"). Run it from the repository root after the
examples or tests changed:

    python3 fuzz/seed_corpus.py [--binary build/zeviziz]

Template seeds start with one byte that picks the template kind of the
default configuration ("P" css, "Q" js, "R" html, "S" php_code, "T" php).
"""
import argparse
import ast
import hashlib
import pathlib
import re
import shutil
import subprocess
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "fuzz" / "corpus"
KIND_BYTE = {".css": b"P", ".js": b"Q", ".html": b"R", ".php": b"T"}
LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
MAX_SEEDS = 300


def literals(path):
    """The ordinary string literals of one C++ file, adjacent ones joined."""
    text = path.read_text(encoding="utf-8", errors="replace")
    text = re.sub(r'R"(\w*)\((.*?)\)\1"', lambda m: '"' + m.group(2).encode(
        "unicode_escape").decode("ascii").replace('"', '\\"') + '"', text, flags=re.S)
    out = []
    for match in re.finditer(r'(?:"(?:[^"\\\n]|\\.)*"\s*)+', text):
        pieces = LITERAL.findall(match.group(0))
        try:
            value = "".join(ast.literal_eval('"' + p + '"') for p in pieces)
        except (ValueError, SyntaxError):
            continue
        out.append(value.encode("utf-8", errors="surrogatepass"))
    return out


def add(seeds, target, data):
    if data and len(seeds.setdefault(target, {})) < MAX_SEEDS:
        seeds[target][hashlib.sha1(data).hexdigest()[:16]] = data


def example_cache(binary):
    """The cache file a build of the example site writes, or None."""
    if binary is None:
        return None
    with tempfile.TemporaryDirectory() as tmp:
        site = pathlib.Path(tmp) / "site"
        shutil.copytree(ROOT / "examples" / "site", site,
                        ignore=shutil.ignore_patterns("out"))
        subprocess.run([str(binary)], cwd=site, check=True, capture_output=True)
        return (site / "out" / ".zeviziz").read_bytes()


def collect(binary):
    seeds = {}
    site = ROOT / "examples" / "site"
    for path in sorted((site / "src").rglob("*")):
        if path.suffix in KIND_BYTE:
            data = path.read_bytes()
            add(seeds, "template_fuzz", KIND_BYTE[path.suffix] + data)
            add(seeds, "lexer_fuzz", data)
            if path.suffix == ".php":
                add(seeds, "template_fuzz", b"S" + data)
    add(seeds, "config_fuzz", (site / "zeviziz.ini").read_bytes())
    cache = example_cache(binary)
    if cache:
        add(seeds, "cache_fuzz", cache)
    tests = sorted((ROOT / "tests").rglob("*.cc"))
    for path in tests:
        folder = path.parent.name
        for data in literals(path):
            if b"!" in data and (b"{" in data or b"(" in data):
                add(seeds, "lexer_fuzz", data)
                add(seeds, "template_fuzz", b"R" + data)
            if folder in ("ini", "config", "e2e") and b"=" in data and len(data) > 3:
                add(seeds, "config_fuzz", data)
            if folder == "state" and b"|" in data and b"\n" in data:
                add(seeds, "cache_fuzz", data.replace(b"|", b"\0"))
    return seeds


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", type=pathlib.Path, help="zeviziz binary, for the cache seed")
    args = parser.parse_args()
    binary = args.binary.resolve() if args.binary else None
    for target, files in sorted(collect(binary).items()):
        directory = CORPUS / target
        shutil.rmtree(directory, ignore_errors=True)
        directory.mkdir(parents=True)
        for name, data in files.items():
            (directory / name).write_bytes(data)
        print(f"{target}: {len(files)} seeds")


if __name__ == "__main__":
    main()
