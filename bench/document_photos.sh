#!/usr/bin/env bash
# A long Word file with photos to PDF: a DOCX of about a hundred A4 pages (2.5 cm side margins,
# 2 cm top and bottom) with fifty 3.8-megapixel JPEG photos, four distinct ones, each 5.5 inches
# wide, made by the script (python-docx, vips). Converted by `quorvenda-dev run
# convert.document.pdf` and by `soffice --convert-to pdf` (the peer). Compares the page count,
# the page size, the first page's text box (where the margins put it), the file size, the word
# recall of our text against LibreOffice's (pdftotext), and the photos: how many reach our PDF
# as their own JPEG bytes, and whether each page shows the photo the source put there.
# Usage: bench/document_photos.sh, with build/ built.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
driver="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
mkdir -p "$work/ours" "$work/lo" "$work/photos"
/usr/bin/python3 - "$work/photos.docx" "$work/photos" <<'MAKE'
import os, random, subprocess, sys
import docx
from docx.shared import Cm, Inches
out, folder = sys.argv[1:3]
def vips(*args):
    subprocess.run(['vips', *args], check=True, capture_output=True)
# Blurred noise in three bands, each photo its own grain, stretched back to full contrast.
photos = []
for i in range(4):
    bands = []
    for b in range(3):
        noise, blurred = f'{folder}/n{i}{b}.v', f'{folder}/b{i}{b}.v'
        vips('gaussnoise', noise, '2400', '1600', '--sigma', str(60 + 10 * b), '--mean', '128')
        vips('gaussblur', noise, blurred, str(3 + 2 * i + b))
        bands.append(blurred)
    gain = 4 + 2 * i
    vips('bandjoin', ' '.join(bands), f'{folder}/j{i}.v')
    vips('linear', '--', f'{folder}/j{i}.v', f'{folder}/s{i}.v', str(gain), str(128 - gain * 128))
    vips('cast', f'{folder}/s{i}.v', f'{folder}/c{i}.v', 'uchar')
    photo = f'{folder}/photo{i}.jpg'
    vips('jpegsave', f'{folder}/c{i}.v', photo, '--Q', '85')
    photos.append(photo)
for name in os.listdir(folder):
    if name.endswith('.v'):
        os.remove(os.path.join(folder, name))
random.seed(7)
vocabulary = ('harbour lantern meadow orchard granite willow thunder velvet copper ribbon saddle '
              'compass marble pepper falcon glacier timber canyon whisper beacon cobalt ember '
              'quarry lagoon juniper nectar prairie summit tundra violet walnut zephyr anchor '
              'bramble cider dune fjord grove hollow island jasmine kettle ledger mosaic').split()
def sentence():
    return ' '.join(random.choice(vocabulary) for _ in range(random.randint(8, 16))).capitalize() + '.'
d = docx.Document()
section = d.sections[0]
section.page_width, section.page_height = Cm(21), Cm(29.7)
section.top_margin = section.bottom_margin = Cm(2)
section.left_margin = section.right_margin = Cm(2.5)
for chapter in range(50):
    d.add_heading(f'Chapter {chapter + 1}', level=1)
    for _ in range(5):
        d.add_paragraph(' '.join(sentence() for _ in range(6)))
    d.add_picture(photos[chapter % len(photos)], width=Inches(5.5))
    d.add_paragraph(f'Figure {chapter + 1}: ' + sentence())
    for _ in range(3):
        d.add_paragraph(' '.join(sentence() for _ in range(5)))
d.save(out)
MAKE
cp "$work/photos.docx" "$work/ours/"
"$driver" run convert.document.pdf "$work/ours/photos.docx" > /dev/null 2>&1 || true
soffice --headless "-env:UserInstallation=file://$work/profile" --convert-to pdf --outdir "$work/lo" "$work/photos.docx" > /dev/null 2>&1
/usr/bin/python3 - "$work" <<'PY'
import collections, glob, hashlib, os, re, subprocess, sys, tempfile, unicodedata
work = sys.argv[1]
ours, lo = f'{work}/ours/photos.pdf', f'{work}/lo/photos.pdf'
def info(pdf):
    out = subprocess.run(['pdfinfo', pdf], capture_output=True, text=True).stdout
    pages = int(re.search(r'Pages:\s+(\d+)', out).group(1))
    w, h = map(float, re.search(r'Page size:\s+([\d.]+) x ([\d.]+)', out).groups())
    return pages, (w, h)
def words(pdf):
    text = subprocess.run(['pdftotext', '-enc', 'UTF-8', pdf, '-'], capture_output=True).stdout.decode('utf-8', 'replace')
    return collections.Counter(w.lower() for w in re.findall(r'\w+', unicodedata.normalize('NFKC', text)))
# The text's box on the second page, which opens with an ordinary paragraph on both sides (the
# first opens with a heading whose space above it LibreOffice keeps at the top of a page).
def text_box(pdf):
    out = subprocess.run(['pdftotext', '-bbox', '-f', '2', '-l', '2', pdf, '-'], capture_output=True, text=True).stdout
    boxes = [tuple(map(float, m)) for m in re.findall(r'<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)"', out)]
    return min(b[0] for b in boxes), min(b[1] for b in boxes)
# Which photo each page shows, by the bytes pdfimages takes out of the PDF.
originals = {hashlib.sha256(open(p, 'rb').read()).hexdigest(): i for i, p in enumerate(sorted(glob.glob(f'{work}/photos/photo*.jpg')))}
def photos_kept(pdf):
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run(['pdfimages', '-j', pdf, f'{folder}/img'], check=True)
        images = {}
        for p in sorted(glob.glob(f'{folder}/img-*')):
            data = open(p, 'rb').read()
            images[p] = (hashlib.sha256(data).hexdigest(), len(data))
    found = [originals.get(digest) for digest, _ in images.values()]
    kept = sum(1 for f in found if f is not None)
    # The source shows the photos in turn: 0, 1, 2, 3, 0, ...
    in_place = sum(1 for n, f in enumerate(found) if f == n % len(originals))
    # The bytes of the distinct pictures, which a PDF holds once each.
    picture_bytes = sum(dict(images.values()).values())
    return len(found), kept, in_place, picture_bytes
pages_ours, size_ours = info(ours)
pages_lo, size_lo = info(lo)
mine, ref = words(ours), words(lo)
recall = sum(min(c, mine[w]) for w, c in ref.items()) / sum(ref.values())
box_ours, box_lo = text_box(ours), text_box(lo)
shown, kept, in_place, pictures_ours = photos_kept(ours)
pictures_lo = photos_kept(lo)[3]
bytes_ours, bytes_lo = os.path.getsize(ours), os.path.getsize(lo)
photo_bytes = sum(os.path.getsize(p) for p in glob.glob(f'{work}/photos/photo*.jpg'))
print(f'Pages: ours {pages_ours} ({size_ours[0]:.0f} x {size_ours[1]:.0f} pt), LibreOffice {pages_lo} ({size_lo[0]:.0f} x {size_lo[1]:.0f} pt)')
print(f'Second page text from: ours {box_ours[0]:.1f}, {box_ours[1]:.1f} pt; LibreOffice {box_lo[0]:.1f}, {box_lo[1]:.1f} pt (margins 70.9, 56.7)')
print(f'Bytes: ours {bytes_ours} (pictures {pictures_ours}), LibreOffice {bytes_lo} (pictures {pictures_lo}, coded anew at 300 dpi), the four photos {photo_bytes}')
print(f'Photos: {shown} drawn, {kept} as their own JPEG bytes, {in_place} the photo the source puts there')
print()
print('| what | ours | peer | ratio | limit | held |')
print('|---|---|---|---|---|---|')
ratio = pages_ours / pages_lo
print(f'| long DOCX with photos to PDF: pages | {pages_ours} | LibreOffice {pages_lo} | {ratio:.2f} | 0.95 to 1.05 | {"held" if 0.95 <= ratio <= 1.05 else "missed"} |')
same_page = all(abs(a - b) < 1 for a, b in zip(size_ours, size_lo))
print(f'| long DOCX with photos to PDF: page size | {size_ours[0]:.0f} x {size_ours[1]:.0f} pt | LibreOffice {size_lo[0]:.0f} x {size_lo[1]:.0f} pt | - | same | {"held" if same_page else "missed"} |')
margin_gap = max(abs(box_ours[0] - box_lo[0]), abs(box_ours[1] - box_lo[1]))
print(f'| long DOCX with photos to PDF: text from the page corner | {box_ours[0]:.0f}, {box_ours[1]:.0f} pt | LibreOffice {box_lo[0]:.0f}, {box_lo[1]:.0f} pt | - | within 6 pt | {"held" if margin_gap <= 6 else "missed"} |')
print(f'| long DOCX with photos to PDF: word recall against LibreOffice | {recall:.3f} | 1.000 | {recall:.3f} | 0.98 | {"held" if recall >= 0.98 else "missed"} |')
print(f'| long DOCX with photos to PDF: pictures, bytes against the photos | {pictures_ours / 1e6:.2f} MB | photos {photo_bytes / 1e6:.2f} MB | {pictures_ours / photo_bytes:.2f} | 1.00 | {"held" if pictures_ours <= photo_bytes else "missed"} |')
rest_ours, rest_lo = bytes_ours - pictures_ours, bytes_lo - pictures_lo
print(f'| long DOCX with photos to PDF: bytes besides the pictures | {rest_ours / 1e6:.2f} MB | LibreOffice {rest_lo / 1e6:.2f} MB | {rest_ours / rest_lo:.2f} | 1.5 | {"held" if rest_ours <= rest_lo * 1.5 else "missed"} |')
print(f'| long DOCX with photos to PDF: photos as their own bytes, in their places | {kept}, {in_place} | {shown} | - | all | {"held" if kept == in_place == shown == 50 else "missed"} |')
PY
