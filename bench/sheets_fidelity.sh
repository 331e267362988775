#!/usr/bin/env bash
# Fidelity over real sheet and subtitle files (bench/sheets-corpus, licences in its LICENSES.md):
# the share of files our conversions finish, the text of each workbook against LibreOffice's
# reading of it, the cells of each XLSX against openpyxl's, and the cues of each subtitle file
# against FFmpeg's. Prints one Markdown table row per measure. Usage: bench/sheets_fidelity.sh,
# from the repository with build/ built; needs soffice, ffmpeg and python3-openpyxl.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$root/bench/sheets-corpus" "$work/in"
export XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen

ours() { # operation, files...
    local op=$1; shift
    [ $# -gt 0 ] || return 0
    timeout 900 "$dev" run "$op" "$@" >"$work/last.json" 2>/dev/null || true
}
ours convert.spreadsheet.csv "$work"/in/xlsx/* "$work"/in/ods/*
ours convert.spreadsheet.tsv "$work"/in/csv/*
ours convert.subtitle.vtt "$work"/in/srt/*
ours convert.subtitle.srt "$work"/in/vtt/* "$work"/in/ass/*
ours convert.spreadsheet.csv "$work"/in/locked/*
cp "$work/last.json" "$work/locked.json"

mkdir -p "$work/lo"
for kind in xlsx ods csv; do
    timeout 900 soffice -env:UserInstallation="file://$work/lo-profile" --headless \
        --convert-to csv:"Text - txt - csv (StarCalc)":44,34,76,1 --outdir "$work/lo/$kind" "$work"/in/$kind/*.$kind >/dev/null 2>&1 || true
done

/usr/bin/python3 -W ignore - "$work" <<'PY'
import csv, glob, io, json, os, re, subprocess, sys
work = sys.argv[1]
rows = []
def row(what, ours, peer, limit, held, ratio=None):
    if ratio is None:
        ratio = f'{ours / peer:.2f}' if isinstance(ours, (int, float)) and isinstance(peer, (int, float)) and peer else '-'
    fmt = lambda v: f'{v:.3f}' if isinstance(v, float) else str(v)
    print(f'| {what} | {fmt(ours)} | {fmt(peer)} | {ratio} | {limit} | {"held" if held else "missed"} |')

def read_delimited(path, delimiter):
    with open(path, newline='', encoding='utf-8', errors='replace') as f:
        return [r for r in csv.reader(f, delimiter=delimiter)]

def cells(grid):
    return [c.strip() for r in grid for c in r if c.strip()]

def recall(ours, peer):
    from collections import Counter
    o, p = Counter(ours), Counter(peer)
    total = sum(p.values())
    return (sum(min(n, o[k]) for k, n in p.items()), total)

# Finished share and text against LibreOffice.
verbose = os.environ.get('VERBOSE')
def note(*args):
    if verbose: print(*args, file=sys.stderr)
inputs = lambda kind: sorted(glob.glob(f'{work}/in/{kind}/*.{kind}'))
sheets = inputs('xlsx') + inputs('ods') + inputs('csv')
subs = inputs('srt') + inputs('vtt') + inputs('ass')
finished = 0
hit = total = 0
for path in sheets:
    base, ext = os.path.splitext(path)
    kind = ext[1:]
    out = base + ('.tsv' if kind == 'csv' else '.csv')
    done = os.path.exists(out)
    finished += done
    if not done: note('not finished:', os.path.basename(path))
    lo = os.path.join(work, 'lo', kind, os.path.basename(base) + '.csv')
    if os.path.exists(lo):
        peer = cells(read_delimited(lo, ','))
        mine = cells(read_delimited(out, '\t' if kind == 'csv' else ',')) if done else []
        h, t = recall(mine, peer)
        hit += h; total += t
        if h < t: note('recall', os.path.basename(path), h, t)
sub_finished = 0
for path in subs:
    base, ext = os.path.splitext(path)
    done = os.path.exists(base + ('.vtt' if ext == '.srt' else '.srt'))
    sub_finished += done
    if not done: note('not finished:', os.path.basename(path))
n = len(sheets) + len(subs)
row(f'sheets and subtitles: files finished ({len(sheets)} sheets, {len(subs)} subtitles)', (finished + sub_finished) / n, 1.0, '>= 0.95', (finished + sub_finished) / n >= 0.95)
row('sheets: cell text recall against LibreOffice', hit / max(total, 1), 1.0, '>= 0.90', hit / max(total, 1) >= 0.90)

# Cells against openpyxl: every non-empty cell of the first sheet, by place and text.
import openpyxl, datetime
def shown(v):
    if v is None: return ''
    if isinstance(v, bool): return 'TRUE' if v else 'FALSE'
    if isinstance(v, float):
        return str(int(v)) if v.is_integer() and abs(v) < 1e15 else ('%.15g' % v)
    if isinstance(v, datetime.datetime):
        return v.strftime('%Y-%m-%d') if v.time() == datetime.time() else v.strftime('%Y-%m-%d %H:%M:%S')
    if isinstance(v, (datetime.date, datetime.time)): return v.isoformat()
    if isinstance(v, datetime.timedelta):
        s = int(round(v.total_seconds())); return '%d:%02d:%02d' % (s // 3600, s // 60 % 60, s % 60)
    return str(v)
same = want = 0
for path in inputs('xlsx'):
    try:
        wb = openpyxl.load_workbook(path, data_only=True, read_only=True)
        grid = [[shown(c) for c in r] for r in wb.worksheets[0].iter_rows(values_only=True)] if wb.worksheets else []
    except Exception:
        continue
    out = os.path.splitext(path)[0] + '.csv'
    mine = read_delimited(out, ',') if os.path.exists(out) else []
    for r, line in enumerate(grid):
        for c, v in enumerate(line):
            if v.strip() == '': continue
            want += 1
            got = mine[r][c] if r < len(mine) and c < len(mine[r]) else ''
            same += got.strip() == v.strip()
            if got.strip() != v.strip(): note('cell', os.path.basename(path), r, c, repr(got), repr(v))
row('xlsx: cells equal to openpyxl\'s (first sheet, by place)', same / max(want, 1), 1.0, '>= 0.90', same / max(want, 1) >= 0.90)

# Cues against FFmpeg.
def srt_cues(text):
    cues = []
    for block in re.split(r'\n\s*\n', text.replace('\r\n', '\n')):
        lines = block.strip('\n').split('\n')
        for i, l in enumerate(lines):
            if '-->' in l:
                cues.append(' '.join(lines[i + 1:])); break
    return cues
def words(cues):
    return [w for c in cues for w in re.sub(r'<[^>]*>|\{[^}]*\}', ' ', c).split()]
our_cues = peer_cues = shared_cues = 0
whit = wtotal = 0
for path in subs:
    base, ext = os.path.splitext(path)
    p = subprocess.run(['ffmpeg', '-v', 'quiet', '-i', path, '-f', 'srt', '-'], capture_output=True)
    if p.returncode != 0: continue
    peer = srt_cues(p.stdout.decode('utf-8', 'replace'))
    out = base + ('.vtt' if ext == '.srt' else '.srt')
    mine = srt_cues(open(out, encoding='utf-8').read()) if os.path.exists(out) else []
    our_cues += len(mine); peer_cues += len(peer); shared_cues += min(len(mine), len(peer))
    h, t = recall(words(mine), words(peer))
    whit += h; wtotal += t
    if len(mine) != len(peer) or h < t: note('cues', os.path.basename(path), len(mine), len(peer), h, t)
# FFmpeg stops at the first timing it cannot read; the cues after it count for us only.
row(f'subtitles: FFmpeg\'s cues we read too (ours {our_cues}, FFmpeg {peer_cues} cues)', shared_cues / max(peer_cues, 1), 1.0, '>= 0.95', shared_cues / max(peer_cues, 1) >= 0.95)
row('subtitles: word recall against FFmpeg', whit / max(wtotal, 1), 1.0, '>= 0.95', whit / max(wtotal, 1) >= 0.95)

locked = json.load(open(f'{work}/locked.json'))
message = (locked.get('failure') or {}).get('message', '')
row('locked XLSX: refusal names the lock', message or '-', 'This document is password-protected', '= peer', message == 'This document is password-protected', ratio='-')
PY
