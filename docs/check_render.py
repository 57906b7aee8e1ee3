"""Opens built pages of the site in headless Chromium and checks that each
screenshot is a rendered page that shows its figure.

    /usr/bin/python3 docs/check_render.py [SITE_DIR [SHOT_DIR]]

SITE_DIR defaults to docs/_build/html, SHOT_DIR to docs/_build/screenshots.
For each page (the index and one gallery example) it writes PAGE.png, the
page at 1280x1600 as a reader first sees it, and PAGE-noimg.png, the same
page with its images hidden (a copy of the HTML with ``img {visibility:
hidden}``).  Where the two differ is where the page's figure is drawn, so
the check finds the figure whatever the theme's layout:

* the page is not blank: at least 2 % of its pixels are not white and the
  text is rendered (at least 8 distinct grey levels);
* the figure is on screen: the region that changes when images are hidden
  is at least 300 x 200 px;
* the figure is drawn, not an empty box or a broken-image icon: inside that
  region at least 5 % of the pixels are not white and at least 12 distinct
  colours (4 bits per channel) each cover 30 pixels or more.

It also checks that every gallery page offers its example as a Jupyter
notebook: a link to an .ipynb file that was built.

Prints each screenshot's path and what was measured; exits 1 if a check
fails.  Needs Debian's chromium, numpy and matplotlib (its PNG reader).
"""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

import numpy as np
from matplotlib import image

PAGES = ("index.html", "gallery/plot_waterfall.html")
WINDOW = (1280, 1600)
CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--hide-scrollbars",
]


def chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    sys.exit("check_render: error: no chromium on PATH (Debian package 'chromium')")


def screenshot(browser, html, png):
    profile = tempfile.mkdtemp(prefix="chromium-")
    try:
        cmd = [browser, *CHROMIUM_FLAGS, f"--user-data-dir={profile}", f"--screenshot={png}",
               f"--window-size={WINDOW[0]},{WINDOW[1]}", "file://" + os.path.abspath(html)]
        run = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
        if run.returncode != 0 or not os.path.exists(png):
            sys.exit(f"check_render: error: chromium failed on {html}:\n{run.stdout[-2000:]}")
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    return (image.imread(png)[..., :3] * 255).round().astype(np.uint8)


def without_images(html):
    """A copy of the page beside it (its relative links still resolve) with images hidden."""
    text = open(html, encoding="utf-8").read()
    text = re.sub(r"</head>", "<style>img { visibility: hidden !important; }</style></head>", text, count=1)
    copy = os.path.join(os.path.dirname(html), "_noimg_" + os.path.basename(html))
    with open(copy, "w", encoding="utf-8") as fh:
        fh.write(text)
    return copy


def distinct_colours(pixels, min_count):
    q = (pixels.reshape(-1, 3) >> 4).astype(np.int32)
    codes = q[:, 0] * 256 + q[:, 1] * 16 + q[:, 2]
    counts = np.bincount(codes, minlength=4096)
    return int((counts >= min_count).sum())


def check(page, shot, plain):
    faults = []
    h, w, _ = shot.shape
    if (w, h) != WINDOW:
        faults.append(f"screenshot is {w}x{h}, not {WINDOW[0]}x{WINDOW[1]}")
    nonwhite = (shot < 245).any(axis=2)
    frac = nonwhite.mean()
    grey = shot[(shot.max(axis=2) - shot.min(axis=2) < 8) & nonwhite]
    levels = len(np.unique(grey[:, 0] // 8)) if grey.size else 0
    if frac < 0.02:
        faults.append(f"page nearly blank: {frac:.1%} non-white pixels")
    if levels < 8:
        faults.append(f"no rendered text: {levels} grey levels")

    changed = (np.abs(shot.astype(int) - plain.astype(int)) > 16).any(axis=2)
    rows, cols = np.nonzero(changed.any(axis=1))[0], np.nonzero(changed.any(axis=0))[0]
    if rows.size == 0:
        faults.append("no figure on screen (hiding the images changes nothing)")
        return faults, f"{frac:.1%} non-white, {levels} grey levels, no figure region"
    box = (cols[0], rows[0], cols[-1] + 1, rows[-1] + 1)
    bw, bh = box[2] - box[0], box[3] - box[1]
    region = shot[box[1]:box[3], box[0]:box[2]]
    region_frac = (region < 245).any(axis=2).mean()
    colours = distinct_colours(region, 30)
    if bw < 300 or bh < 200:
        faults.append(f"figure region only {bw}x{bh} px")
    if region_frac < 0.05:
        faults.append(f"figure region nearly blank: {region_frac:.1%} non-white")
    if colours < 12:
        faults.append(f"figure region has {colours} distinct colours (< 12): not a drawn figure")
    summary = (f"{frac:.1%} non-white, {levels} grey levels; figure at x {box[0]}-{box[2]}, "
               f"y {box[1]}-{box[3]} ({bw}x{bh} px): {region_frac:.1%} non-white, {colours} colours")
    return faults, summary


def notebook_links(site):
    """Faults: gallery pages whose .ipynb download link is missing or dangling."""
    pages = [p for p in sorted(glob.glob(os.path.join(site, "gallery", "*.html")))
             if os.path.basename(p) not in ("index.html", "sg_execution_times.html")]
    faults = []
    if not pages:
        faults.append(f"{site}/gallery: no example pages")
    for html in pages:
        links = re.findall(r'href="([^"]+\.ipynb)"', open(html, encoding="utf-8").read())
        if not links:
            faults.append(f"{html}: no notebook link")
        for link in links:
            if not os.path.exists(os.path.normpath(os.path.join(os.path.dirname(html), link))):
                faults.append(f"{html}: notebook {link} not built")
    return faults, len(pages)


def main(argv):
    site = argv[1] if len(argv) > 1 else "docs/_build/html"
    outdir = argv[2] if len(argv) > 2 else "docs/_build/screenshots"
    os.makedirs(outdir, exist_ok=True)
    browser = chromium()
    failed = False
    for page in PAGES:
        html = os.path.join(site, page)
        if not os.path.exists(html):
            print(f"check_render: error: {html} was not built")
            failed = True
            continue
        stem = os.path.join(outdir, os.path.splitext(page)[0].replace("/", "-"))
        shot = screenshot(browser, html, stem + ".png")
        copy = without_images(html)
        try:
            plain = screenshot(browser, copy, stem + "-noimg.png")
        finally:
            os.remove(copy)
        faults, summary = check(page, shot, plain)
        print(f"{page}: {os.path.abspath(stem + '.png')}\n  {summary}")
        for fault in faults:
            print(f"  FAIL: {fault}")
        failed |= bool(faults)
    faults, n = notebook_links(site)
    print(f"gallery: {n} example pages checked for their notebook link")
    for fault in faults:
        print(f"  FAIL: {fault}")
    failed |= bool(faults)
    if failed:
        print("check_render: some page does not render as it should")
        return 1
    print("check_render: every page renders with its figure; every example has its notebook")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
