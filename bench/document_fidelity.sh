#!/usr/bin/env bash
# Fidelity of DOCX, ODT and RTF to PDF: every file of bench/data/documents converted by
# `quorvenda-dev run convert.document.pdf` and by `soffice --convert-to pdf` (the reference).
# Per file: word recall of our PDF's text against LibreOffice's (pdftotext), tables as each
# reads them (our model's table blocks, LibreOffice's HTML tables) and ruled tables drawn in
# each PDF (bench/pdf_grids.py). Prints the per-file table, then the summary rows.
# Usage: bench/document_fidelity.sh, with build/ built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
driver="$root/build/quorvenda-dev"
data="$root/bench/data/documents"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
mkdir -p "$work/in" "$work/ours" "$work/lo" "$work/html"
# Named with their kind, so that footnote.odt and footnote.rtf give two PDFs.
for f in "$data"/*.docx "$data"/*.odt "$data"/*.rtf; do
    name=$(basename "$f"); cp "$f" "$work/in/${name%.*}-${name##*.}.${name##*.}"
done
cp "$work"/in/* "$work/ours/"
"$driver" run convert.document.pdf "$work"/ours/* > "$work/run.json" 2> /dev/null || true
profile="-env:UserInstallation=file://$work/profile"
soffice --headless "$profile" --convert-to pdf --outdir "$work/lo" "$work"/in/* > /dev/null 2>&1
soffice --headless "$profile" --convert-to html --outdir "$work/html" "$work"/in/* > /dev/null 2>&1
for f in "$work"/in/*; do
    base=$(basename "${f%.*}")
    "$driver" document "$f" > "$work/html/$base.model.json" 2> /dev/null || echo '{}' > "$work/html/$base.model.json"
done
/usr/bin/python3 - "$work" "$data" "$root/bench/pdf_grids.py" <<'PY'
import collections, glob, json, os, re, statistics, subprocess, sys, importlib.util, unicodedata
work, data, grids_path = sys.argv[1:4]
spec = importlib.util.spec_from_file_location('pdf_grids', grids_path)
grids = importlib.util.module_from_spec(spec); spec.loader.exec_module(grids)

def words(pdf):
    if not os.path.exists(pdf):
        return None
    text = subprocess.run(['pdftotext', '-enc', 'UTF-8', pdf, '-'], capture_output=True).stdout.decode('utf-8', 'replace')
    # Ligatures (the fi of Qt's PDFs) count as their letters.
    text = unicodedata.normalize('NFKC', text)
    return collections.Counter(w.lower() for w in re.findall(r'\w+', text))

rows = []
for f in sorted(glob.glob(os.path.join(work, 'in', '*'))):
    name = os.path.basename(f)
    base, ext = os.path.splitext(name)
    if ext not in ('.docx', '.odt', '.rtf'):
        continue
    ours_pdf = os.path.join(work, 'ours', base + '.pdf')
    lo_pdf = os.path.join(work, 'lo', base + '.pdf')
    mine, ref = words(ours_pdf), words(lo_pdf)
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
if under:
    print()
    print('Under 0.9: ' + ', '.join(under))
PY
