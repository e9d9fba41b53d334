#!/usr/bin/env python3
"""Generates a synthetic zeviziz project for benchmarks.

The project holds N files under src/: HTML pages (most of them), PHP pages,
JavaScript and CSS files, and plain assets (SVG, PNG, text) that are only
copied. Each template carries K style regions whose declarations are drawn
from a fixed vocabulary with a skewed (Zipf-like) distribution, so a few
declarations are very common and most are rare, as on a real site. Some
regions use breakpoints (`!at(medium)`), pseudo-classes and nested rules.

Usage: gen_project.py DIR N [--regions K] [--seed S]
DIR is created (it must not exist yet); it receives zeviziz.ini and src/.
"""

import argparse
import os
import random
import sys
import zlib
import struct

PROPERTIES = {
    "margin": ["0", "0 auto", ".5rem", "1rem", "2rem", "1rem 0", "0 0 1rem"],
    "padding": ["0", ".25rem", ".5rem", "1rem", "1.5rem", "2rem", ".5rem 1rem"],
    "display": ["block", "flex", "grid", "none", "inline-block", "inline-flex"],
    "color": ["#222", "#333", "#555", "#777", "#fff", "#8a4b08", "#0a58ca", "red"],
    "background": ["#fff", "#f8f8f8", "#eee", "#222", "#fff8ef", "none"],
    "font-size": [".75rem", ".875rem", "1rem", "1.25rem", "1.5rem", "2rem", "3rem"],
    "font-weight": ["400", "500", "600", "700"],
    "gap": [".25rem", ".5rem", "1rem", "2rem"],
    "border-radius": ["2px", "4px", "8px", "50%"],
    "width": ["100%", "50%", "auto", "16rem", "320px"],
    "max-width": ["40rem", "60rem", "100%"],
    "line-height": ["1.2", "1.5", "1.7"],
    "text-align": ["left", "center", "right"],
    "justify-content": ["space-between", "center", "flex-start", "flex-end"],
    "align-items": ["center", "stretch", "baseline"],
    "flex-direction": ["row", "column"],
    "grid-template-columns": ["1fr", "1fr 1fr", "1fr 1fr 1fr", "repeat(4,1fr)"],
    "box-shadow": ["none", "0 1px 3px rgba(0,0,0,.15)", "0 4px 12px rgba(0,0,0,.2)"],
    "text-decoration": ["none", "underline"],
    "border": ["0", "1px solid #ddd", "2px solid #8a4b08"],
    "opacity": [".5", ".8", "1"],
    "position": ["relative", "absolute", "sticky"],
    "z-index": ["1", "10", "100"],
}
BREAKPOINTS = ["small", "medium", "large", "x-large", "medium-only", "small-only"]
PSEUDOS = [":hover", ":focus", ":first-child", ":last-child", "::before"]
CHILDREN = ["a", "p", "li", "img", "h2", "span"]
WORDS = ("bread flour water salt oven crust crumb starter rye wheat morning "
         "loaf dough knead proof bake sugar butter honey seed").split()


def vocabulary():
    """All declarations "prop:value" in a fixed order (most common first)."""
    return [f"{p}:{v}" for p, values in PROPERTIES.items() for v in values]


class Drawer:
    """Draws declarations with a skewed distribution over the vocabulary."""

    def __init__(self, rng):
        self.rng = rng
        self.decls = vocabulary()
        self.weights = [1.0 / (i + 1) ** 0.9 for i in range(len(self.decls))]

    def decls_block(self, count):
        picked = []
        seen = set()
        for d in self.rng.choices(self.decls, self.weights, k=count * 2):
            prop = d.split(":", 1)[0]
            if prop not in seen:
                seen.add(prop)
                picked.append(d)
            if len(picked) == count:
                break
        return ";".join(picked)

    def region(self):
        """One style region in one of the shapes authors write."""
        r = self.rng.random()
        block = self.decls_block(self.rng.randint(1, 4))
        if r < 0.55:
            return "!{" + block + "}"
        if r < 0.75:
            return f"!at({self.rng.choice(BREAKPOINTS)}){{{block}}}"
        if r < 0.88:
            return f"!{self.rng.choice(PSEUDOS)}{{{block}}}"
        return f"!{{{self.rng.choice(CHILDREN)}{{{block}}}}}"


def sentence(rng):
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(6, 14))).capitalize() + "."


def class_attr(drawer, rng, regions):
    names = [rng.choice(["card", "box", "item", "nav", "hero"])]
    return " ".join(names + [drawer.region() for _ in range(regions)])


def html_page(drawer, rng, k):
    lines = ["<!DOCTYPE html>", '<html lang="en">', "<head>", '  <meta charset="utf-8">',
             f"  <title>{rng.choice(WORDS).title()} - VELT_TIME</title>",
             '  <link rel="stylesheet" href="/velt.css">', "</head>"]
    lines.append(f'<body class="{class_attr(drawer, rng, 1)}">')
    left = k - 1
    while left > 0:
        n = min(left, rng.randint(1, 3))
        left -= n
        lines.append(f'  <div class="{class_attr(drawer, rng, n)}">')
        lines.append("    <!-- " + sentence(rng) + " -->")
        lines.append(f"    <p>{sentence(rng)}</p>")
        lines.append("  </div>")
    lines += ["</body>", "</html>", ""]
    return "\n".join(lines)


def php_page(drawer, rng, k):
    head = ["<?php", "// " + sentence(rng), f"$cls = '{class_attr(drawer, rng, 1)}';", "?>"]
    body = html_page(drawer, rng, max(k - 1, 1)).replace(
        "<body class=", '<div class="<?= $cls ?>"></div>\n<body class=', 1)
    return "\n".join(head) + "\n" + body


def js_file(drawer, rng, k):
    lines = ["// " + sentence(rng)]
    for i in range(k):
        lines.append(f"const c{i} = '{class_attr(drawer, rng, 1)}';")
    lines.append("export default [" + ", ".join(f"c{i}" for i in range(k)) + "];")
    return "\n".join(lines) + "\n"


def css_file(_drawer, rng, k):
    lines = ["/* " + sentence(rng) + " */"]
    for i in range(k):
        lines.append(f".x{i} {{\n  margin: {i}px;   \n}}")
    return "\n".join(lines) + "\n"


def png_bytes(rng):
    w = h = 8
    raw = b"".join(b"\x00" + bytes(rng.randrange(256) for _ in range(w * 3)) for _ in range(h))

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


KINDS = [  # (weight, extension, maker)
    (55, ".html", html_page), (10, ".php", php_page), (10, ".js", js_file),
    (5, ".css", css_file), (8, ".svg", None), (7, ".png", None), (5, ".txt", None),
]


def plain_asset(ext, rng):
    if ext == ".png":
        return png_bytes(rng)
    if ext == ".svg":
        return (f'<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 8 8"><circle cx="4" '
                f'cy="4" r="{rng.randint(1, 4)}"/></svg>\n').encode()
    return ("\n".join(sentence(rng) for _ in range(5)) + "\n").encode()


def write_config(root):
    here = os.path.dirname(os.path.abspath(__file__))
    example = os.path.join(here, "..", "examples", "site", "zeviziz.ini")
    with open(example, encoding="utf-8") as f:
        text = f.read()
    with open(os.path.join(root, "zeviziz.ini"), "w", encoding="utf-8") as f:
        f.write(text)


def generate(root, n, k, seed):
    rng = random.Random(seed)
    drawer = Drawer(rng)
    os.makedirs(os.path.join(root, "src"))
    write_config(root)
    weights = [w for w, _, _ in KINDS]
    templates = []
    for i in range(n):
        _, ext, maker = rng.choices(KINDS, weights)[0]
        folder = os.path.join(root, "src", f"section{i % 20:02d}", f"part{(i // 20) % 10}")
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, f"file{i:05d}{ext}")
        data = plain_asset(ext, rng) if maker is None else maker(drawer, rng, k).encode()
        with open(path, "wb") as f:
            f.write(data)
        if ext == ".html":
            templates.append(path)
    return templates


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dir")
    parser.add_argument("n", type=int)
    parser.add_argument("--regions", type=int, default=12)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    if os.path.exists(args.dir):
        sys.exit(f"{args.dir} already exists")
    generate(args.dir, args.n, args.regions, args.seed)


if __name__ == "__main__":
    main()
