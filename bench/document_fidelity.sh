#!/usr/bin/env bash
# Fidelity of DOCX, ODT and RTF to PDF: every file of bench/data/documents converted by
# `quorvenda-dev run convert.document.pdf` and by `soffice --convert-to pdf` (the reference).
# Per file: word recall of our PDF's text against LibreOffice's (pdftotext; what LibreOffice draws in a
# symbol font is left out, as it labels those glyphs with the font's own codes), tables as each
# reads them (our model's table blocks, LibreOffice's HTML tables) and ruled tables drawn in
# each PDF (bench/pdf_grids.py). Then the look: headings (our model's against LibreOffice's
# HTML headings, and a file whose headings are set by hand in size and weight), coloured text
# in each PDF, and underline and raised or lowered runs in each one's DOCX of the ODT and RTF
# files (python-docx). Then the text roads out of PDFs whose text is turned, sideways, in a form
# field or in an annotation, against pdftotext. Prints the per-file tables, then the summary rows.
# Usage: bench/document_fidelity.sh, with build/ built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
driver="$root/build/quorvenda-dev"
data="$root/bench/data/documents"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
mkdir -p "$work/in" "$work/ours" "$work/lo" "$work/html" "$work/docx-ours" "$work/docx-lo"
# Named with their kind, so that footnote.odt and footnote.rtf give two PDFs.
for f in "$data"/*.docx "$data"/*.odt "$data"/*.rtf; do
    name=$(basename "$f"); cp "$f" "$work/in/${name%.*}-${name##*.}.${name##*.}"
done
# Headings set by hand, as most people set them: sizes 20, 16 and 13.5 points, a bold 12.5-point
# line and a Courier line among 12-point body text, in red and centred for the first.
/usr/bin/python3 - "$work/in/hand_headings-docx.docx" <<'MAKE'
import sys, docx
from docx.shared import Pt, RGBColor
from docx.enum.text import WD_ALIGN_PARAGRAPH
d = docx.Document()
def para(text, size, bold=False, font=None):
    p = d.add_paragraph(); r = p.add_run(text); r.font.size = Pt(size); r.bold = bold
    if font: r.font.name = font
    return p
p = para('Annual report', 20); p.alignment = WD_ALIGN_PARAGRAPH.CENTER; p.runs[0].font.color.rgb = RGBColor(0xC0, 0, 0)
para('The body of the report, set at twelve points like most of it. ' * 3, 12)
para('First part', 16)
para('More body text that goes on for a while in the ordinary size. ' * 3, 12)
para('A smaller head', 13.5)
para('Body again, ordinary and plain, with words enough to make it the body. ' * 3, 12)
para('Bold small head', 12.5, bold=True)
para('print("hello")', 12, font='Courier New')
p = d.add_paragraph('Water is H'); r = p.add_run('2'); r.font.subscript = True
p.add_run('O and '); r = p.add_run('this'); r.underline = True; p.add_run(' is underlined.')
d.save(sys.argv[1])
MAKE
cp "$work"/in/* "$work/ours/"
"$driver" run convert.document.pdf "$work"/ours/* > "$work/run.json" 2> /dev/null || true
profile="-env:UserInstallation=file://$work/profile"
soffice --headless "$profile" --convert-to pdf --outdir "$work/lo" "$work"/in/* > /dev/null 2>&1
soffice --headless "$profile" --convert-to html --outdir "$work/html" "$work"/in/* > /dev/null 2>&1
for f in "$work"/in/*; do
    base=$(basename "${f%.*}")
    "$driver" document "$f" > "$work/html/$base.model.json" 2> /dev/null || echo '{}' > "$work/html/$base.model.json"
done
# DOCX from the ODT and RTF files, ours and LibreOffice's.
cp "$work"/in/*.odt "$work"/in/*.rtf "$work/docx-ours/"
"$driver" run convert.document.docx "$work"/docx-ours/* > /dev/null 2>&1 || true
soffice --headless "$profile" --convert-to docx --outdir "$work/docx-lo" "$work"/in/*.odt "$work"/in/*.rtf > /dev/null 2>&1
/usr/bin/python3 - "$work" "$data" "$root/bench/pdf_grids.py" <<'PY'
import collections, glob, json, os, re, statistics, subprocess, sys, importlib.util, unicodedata
work, data, grids_path = sys.argv[1:4]
spec = importlib.util.spec_from_file_location('pdf_grids', grids_path)
grids = importlib.util.module_from_spec(spec); spec.loader.exec_module(grids)

from html import unescape as xml_unescape
SYMBOL_FONTS = re.compile(r'symbol|wingding|webding|dingbat', re.I)

def symbol_glyphs(pdf):
    """The characters a PDF draws in a symbol font. LibreOffice labels such a glyph with the
    font's own code (Symbol's logical-or reads as "Ú"), not with the character it shows."""
    out = subprocess.run(['mutool', 'draw', '-F', 'stext', '-o', '-', pdf], capture_output=True).stdout.decode('utf-8', 'replace')
    found, symbolic = [], False
    for m in re.finditer(r'<font name="([^"]*)"|<char [^>]*c="([^"]*)"', out):
        if m.group(1) is not None:
            symbolic = bool(SYMBOL_FONTS.search(m.group(1)))
        elif symbolic:
            found.append(xml_unescape(m.group(2)))
    return found

def words(pdf, drop_symbols=False):
    if not os.path.exists(pdf):
        return None
    text = subprocess.run(['pdftotext', '-enc', 'UTF-8', pdf, '-'], capture_output=True).stdout.decode('utf-8', 'replace')
    if drop_symbols:
        for c in symbol_glyphs(pdf):
            if re.match(r'\w', c):
                text = text.replace(c, ' ', 1)
    # Ligatures (the fi of Qt's PDFs) count as their letters.
    text = unicodedata.normalize('NFKC', text)
    return collections.Counter(w.lower() for w in re.findall(r'\w+', text))

rows = []
for f in sorted(glob.glob(os.path.join(work, 'in', '*'))):
    name = os.path.basename(f)
    base, ext = os.path.splitext(name)
    # The hand-made file is for the look alone.
    if ext not in ('.docx', '.odt', '.rtf') or base == 'hand_headings-docx':
        continue
    ours_pdf = os.path.join(work, 'ours', base + '.pdf')
    lo_pdf = os.path.join(work, 'lo', base + '.pdf')
    mine, ref = words(ours_pdf), words(lo_pdf, drop_symbols=True)
    if ref is None:
        continue
    total = sum(ref.values())
    recall = 1.0 if total == 0 else (sum(min(c, mine[w]) for w, c in ref.items()) / total if mine is not None else 0.0)
    try:
        model = json.load(open(os.path.join(work, 'html', base + '.model.json')))
        our_tables = sum(1 for b in model.get('blocks', []) if b.get('kind') == 'table')
    except Exception:
        our_tables = 0
    html = os.path.join(work, 'html', base + '.html')
    lo_tables = len(re.findall(r'<table\b', open(html, encoding='utf-8', errors='replace').read(), re.I)) if os.path.exists(html) else 0
    our_ruled = grids.count(ours_pdf) if mine is not None else 0
    lo_ruled = grids.count(lo_pdf)
    rows.append((name, total, recall, our_tables, lo_tables, our_ruled, lo_ruled, mine is not None))

print('| file | words (LibreOffice) | word recall | tables ours | tables LibreOffice | ruled ours | ruled LibreOffice |')
print('|---|---|---|---|---|---|---|')
for name, total, recall, ot, lt, orl, lrl, ok in rows:
    print(f'| {name} | {total} | {recall:.3f}{"" if ok else " (failed)"} | {ot} | {lt} | {orl} | {lrl} |')
recalls = [r[2] for r in rows]
median = statistics.median(recalls)
under = [r[0] for r in rows if r[2] < 0.9]
ruled_ours = sum(r[5] for r in rows); ruled_lo = sum(r[6] for r in rows)
tables_ours = sum(r[3] for r in rows); tables_lo = sum(r[4] for r in rows)
print()
print('| what | ours | peer | ratio | limit | held |')
print('|---|---|---|---|---|---|')
print(f'| document fidelity: median word recall over {len(rows)} files | {median:.3f} | 1.000 | {median:.3f} | 0.98 | {"held" if median >= 0.98 else "missed"} |')
print(f'| document fidelity: files under 0.9 recall | {len(under)} | 0 | - | 0 | {"held" if not under else "missed"} |')
print(f'| document fidelity: tables read | {tables_ours} | {tables_lo} | {tables_ours / max(tables_lo, 1):.2f} | 1.00 | {"held" if tables_ours >= tables_lo else "missed"} |')
print(f'| document fidelity: ruled tables drawn | {ruled_ours} | {ruled_lo} | {ruled_ours / max(ruled_lo, 1):.2f} | 1.00 | {"held" if ruled_ours >= ruled_lo else "missed"} |')

# The look.
def model_headings(base):
    try:
        model = json.load(open(os.path.join(work, 'html', base + '.model.json')))
    except Exception:
        return 0, 0
    blocks = model.get('blocks', [])
    return sum(1 for b in blocks if b.get('kind') == 'heading'), sum(1 for b in blocks if b.get('kind') == 'code')

def lo_headings(base):
    html = os.path.join(work, 'html', base + '.html')
    if not os.path.exists(html):
        return 0
    return len(re.findall(r'<h[1-6]\b', open(html, encoding='utf-8', errors='replace').read(), re.I))

def coloured_pixels(pdf):
    if not os.path.exists(pdf):
        return 0
    out = subprocess.run(['pdftoppm', '-r', '30', pdf], capture_output=True).stdout
    count = 0
    at = 0
    # A stream of binary PPM pages.
    while at < len(out) and out[at:at + 2] == b'P6':
        fields = []
        at += 2
        while len(fields) < 3:
            while out[at:at + 1].isspace(): at += 1
            start = at
            while not out[at:at + 1].isspace(): at += 1
            fields.append(int(out[start:at]))
        at += 1
        w, h, _ = fields
        data = out[at:at + w * h * 3]; at += w * h * 3
        for i in range(0, len(data), 3):
            r, g, b = data[i], data[i + 1], data[i + 2]
            if max(r, g, b) - min(r, g, b) > 80:
                count += 1
    return count

def docx_styles(path):
    if not os.path.exists(path):
        return None
    code = ("import sys, docx\nu = s = 0\nfor p in docx.Document(sys.argv[1]).paragraphs:\n"
            "    for r in p.runs:\n        u += bool(r.underline)\n        s += bool(r.font.superscript or r.font.subscript)\n"
            "print(u, s)\n")
    run = subprocess.run(['/usr/bin/python3', '-c', code, path], capture_output=True, text=True)
    try:
        u, s = run.stdout.split()
        return int(u), int(s)
    except ValueError:
        return None

heads_ours = heads_lo = 0
colour_lo = colour_kept = 0
marks_lo = marks_kept = 0
look_rows = []
for f in sorted(glob.glob(os.path.join(work, 'in', '*'))):
    base, ext = os.path.splitext(os.path.basename(f))
    h_ours, code_ours = model_headings(base)
    h_lo = lo_headings(base)
    if base != 'hand_headings-docx':
        heads_ours += min(h_ours, h_lo); heads_lo += h_lo
    c_ours = coloured_pixels(os.path.join(work, 'ours', base + '.pdf'))
    c_lo = coloured_pixels(os.path.join(work, 'lo', base + '.pdf'))
    if c_lo > 0:
        colour_lo += 1; colour_kept += c_ours > 0
    d_ours = d_lo = None
    if ext in ('.odt', '.rtf'):
        d_ours = docx_styles(os.path.join(work, 'docx-ours', base + '.docx'))
        d_lo = docx_styles(os.path.join(work, 'docx-lo', base + '.docx'))
        if d_lo:
            for kind in (0, 1):
                if d_lo[kind] > 0:
                    marks_lo += 1; marks_kept += bool(d_ours and d_ours[kind] > 0)
    look_rows.append((base + ext, h_ours, h_lo, c_ours, c_lo, d_ours, d_lo))

hand_heads, hand_code = model_headings('hand_headings-docx')
print()
print('| file | headings ours | headings LibreOffice | coloured pixels ours | coloured pixels LibreOffice | DOCX underline, scripts ours | LibreOffice |')
print('|---|---|---|---|---|---|---|')
for name, ho, hl, co, cl, do, dl in look_rows:
    print(f'| {name} | {ho} | {hl} | {co} | {cl} | {do if do else "-"} | {dl if dl else "-"} |')
print()
print('| what | ours | peer | ratio | limit | held |')
print('|---|---|---|---|---|---|')
print(f'| document look: headings LibreOffice finds, found | {heads_ours} | {heads_lo} | {heads_ours / max(heads_lo, 1):.2f} | 1.00 | {"held" if heads_ours >= heads_lo else "missed"} |')
print(f'| document look: headings set by hand in size and weight (of 4, and 1 code line) | {hand_heads}, {hand_code} | {lo_headings("hand_headings-docx")} | - | 4, 1 | {"held" if (hand_heads, hand_code) == (4, 1) else "missed"} |')
print(f'| document look: files whose PDF shows colour, colour kept | {colour_kept} | {colour_lo} | {colour_kept / max(colour_lo, 1):.2f} | 1.00 | {"held" if colour_kept >= colour_lo else "missed"} |')
print(f'| document look: underline and scripts in LibreOffice DOCX of ODT and RTF, kept in ours | {marks_kept} | {marks_lo} | {marks_kept / max(marks_lo, 1):.2f} | 1.00 | {"held" if marks_kept >= marks_lo else "missed"} |')
if under:
    print()
    print('Under 0.9: ' + ', '.join(under))
PY

# The text roads out of PDFs: PDFs with text set sideways, on a turned page, in a form field and
# in an annotation, converted to Markdown, DOCX and text; each result's words against what
# pdftotext reads (the peer). None may come out empty.
mkdir -p "$work/pdfs"
/usr/bin/python3 - "$work/pdfs" <<'MAKE'
import sys
def build(objs):
    out = b'%PDF-1.7\n'; offsets = []
    for i, o in enumerate(objs):
        offsets.append(len(out)); out += b'%d 0 obj\n' % (i + 1) + o + b'\nendobj\n'
    at = len(out)
    out += b'xref\n0 %d\n0000000000 65535 f \n' % (len(objs) + 1) + b''.join(b'%010d 00000 n \n' % o for o in offsets)
    return out + b'trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n' % (len(objs) + 1, at)
font = b'<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>'
def page(content, extra=b'', annots=None, catalog=b''):
    objs = [b'<< /Type /Catalog /Pages 2 0 R ' + catalog + b'>>', b'<< /Type /Pages /Kids [3 0 R] /Count 1 >>',
            b'<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] ' + extra + b' /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >>'
            + (b' /Annots [6 0 R]' if annots else b'') + b' >>',
            b'<< /Length %d >>\nstream\n' % len(content) + content + b'\nendstream', font]
    if annots:
        look = b'BT /F1 12 Tf 2 5 Td (' + annots[1] + b') Tj ET'
        objs += [annots[0] + b' /Rect [72 600 400 620] /AP << /N 7 0 R >> >>',
                 b'<< /Type /XObject /Subtype /Form /BBox [0 0 328 20] /Resources << /Font << /F1 5 0 R >> >> /Length %d >>\nstream\n' % len(look) + look + b'\nendstream']
    return build(objs)
d = sys.argv[1] + '/'
body = b'BT /F1 14 Tf 72 700 Td (The harbour lights glow over the quiet water tonight) Tj ET'
open(d + 'turned.pdf', 'wb').write(page(body, b'/Rotate 90'))
open(d + 'sideways.pdf', 'wb').write(page(b'BT /F1 14 Tf 0 1 -1 0 300 100 Tm (Marmalade invoices arrive every Tuesday morning) Tj ET'))
open(d + 'field.pdf', 'wb').write(page(b'', annots=(b'<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (Jane Field Holder) /P 3 0 R', b'Jane Field Holder'), catalog=b'/AcroForm << /Fields [6 0 R] >> '))
open(d + 'note.pdf', 'wb').write(page(b'', annots=(b'<< /Type /Annot /Subtype /FreeText /Contents (A pencilled note in the margin)', b'A pencilled note in the margin')))
MAKE
/usr/bin/python3 - "$work/pdfs" "$driver" <<'PY'
import collections, glob, os, re, subprocess, sys, zipfile
folder, driver = sys.argv[1:3]
def words(text):
    return collections.Counter(w.lower() for w in re.findall(r'\w+', text))
def text_of(path):
    if path.endswith('.docx'):
        with zipfile.ZipFile(path) as z:
            return re.sub(r'<[^>]+>', ' ', z.read('word/document.xml').decode('utf-8', 'replace'))
    return open(path, encoding='utf-8', errors='replace').read()
rows = []
for pdf in sorted(glob.glob(os.path.join(folder, '*.pdf'))):
    ref = words(subprocess.run(['pdftotext', pdf, '-'], capture_output=True, text=True).stdout)
    total = sum(ref.values())
    for target in ('md', 'docx', 'txt'):
        out = os.path.splitext(pdf)[0] + '.' + target
        if os.path.exists(out):
            os.remove(out)
        subprocess.run([driver, 'run', 'convert.pdf.' + target, pdf], capture_output=True)
        mine = words(text_of(out)) if os.path.exists(out) else collections.Counter()
        recall = sum(min(c, mine[w]) for w, c in ref.items()) / total if total else 1.0
        rows.append((os.path.basename(pdf), target, total, recall, sum(mine.values()) == 0))
print()
print('| PDF | target | words (pdftotext) | word recall |')
print('|---|---|---|---|')
for name, target, total, recall, empty in rows:
    print(f'| {name} | {target} | {total} | {recall:.3f}{" (empty)" if empty else ""} |')
empties = sum(1 for r in rows if r[4])
low = min(r[3] for r in rows)
print()
print('| what | ours | peer | ratio | limit | held |')
print('|---|---|---|---|---|---|')
print(f'| PDF text roads: lowest word recall over {len(rows)} results | {low:.3f} | 1.000 | {low:.3f} | 0.98 | {"held" if low >= 0.98 else "missed"} |')
print(f'| PDF text roads: text-bearing PDFs converted empty | {empties} | 0 | - | 0 | {"held" if empties == 0 else "missed"} |')
PY
