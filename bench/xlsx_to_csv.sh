#!/usr/bin/env bash
# An XLSX of 200,000 rows x 10 columns (shared strings, numbers, dates) to CSV:
# `quorvenda-dev run convert.spreadsheet.csv` against `xlsx2csv` on the same file, median of 3
# each, and the peak memory of our run. Usage: bench/xlsx_to_csv.sh [ROWS], from the repository
# with build/ built; needs xlsx2csv (Debian package xlsx2csv).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
rows=${1:-200000}
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work/book.xlsx" "$rows" <<'PY'
import sys, zipfile
path, rows = sys.argv[1], int(sys.argv[2])
ns = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
words = ['alpha %d' % i for i in range(5000)]
with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
    # xlsx2csv finds the shared strings and styles through the content types.
    ct = 'application/vnd.openxmlformats-officedocument.spreadsheetml'
    z.writestr('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
               f'<Override PartName="/xl/workbook.xml" ContentType="{ct}.sheet.main+xml"/>'
               f'<Override PartName="/xl/worksheets/sheet1.xml" ContentType="{ct}.worksheet+xml"/>'
               f'<Override PartName="/xl/sharedStrings.xml" ContentType="{ct}.sharedStrings+xml"/>'
               f'<Override PartName="/xl/styles.xml" ContentType="{ct}.styles+xml"/></Types>')
    z.writestr('xl/workbook.xml', f'<workbook xmlns="{ns}" xmlns:r="{rel}"><sheets><sheet name="Data" sheetId="1" r:id="rId1"/></sheets></workbook>')
    z.writestr('xl/_rels/workbook.xml.rels', f'<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="{rel}/worksheet" Target="worksheets/sheet1.xml"/>'
               f'<Relationship Id="rId2" Type="{rel}/sharedStrings" Target="sharedStrings.xml"/>'
               f'<Relationship Id="rId3" Type="{rel}/styles" Target="styles.xml"/></Relationships>')
    z.writestr('xl/styles.xml', f'<styleSheet xmlns="{ns}"><cellXfs count="2"><xf numFmtId="0"/><xf numFmtId="14" applyNumberFormat="1"/></cellXfs></styleSheet>')
    z.writestr('xl/sharedStrings.xml', f'<sst xmlns="{ns}">' + ''.join(f'<si><t>{w}</t></si>' for w in words) + '</sst>')
    with z.open('xl/worksheets/sheet1.xml', 'w', force_zip64=True) as f:
        f.write(f'<worksheet xmlns="{ns}"><sheetData>'.encode())
        for r in range(1, rows + 1):
            cells = []
            for c, col in enumerate('ABCDEFGHIJ'):
                ref = f'{col}{r}'
                if c < 4:
                    cells.append(f'<c r="{ref}" t="s"><v>{(r * 7 + c) % len(words)}</v></c>')
                elif c < 8:
                    cells.append(f'<c r="{ref}"><v>{r * 0.25 + c}</v></c>')
                else:
                    cells.append(f'<c r="{ref}" s="1"><v>{40000 + r % 5000}</v></c>')
            f.write(f'<row r="{r}">{"".join(cells)}</row>'.encode())
        f.write(b'</sheetData></worksheet>')
PY
echo "input: $(( $(stat -c %s "$work/book.xlsx") / 1024 )) KB, $rows rows" >&2


ours=$(for i in 1 2 3; do
    rm -f "$work/book.csv"
    seconds env XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen "$dev" run convert.spreadsheet.csv "$work/book.xlsx"
done | median)
theirs=$(for i in 1 2 3; do
    seconds xlsx2csv "$work/book.xlsx" "$work/theirs.csv"
done | median)
rm -f "$work/book.csv"
peak=$( { env XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen /usr/bin/time -f '%M' \
    "$dev" run convert.spreadsheet.csv "$work/book.xlsx" >/dev/null; } 2>&1 | tail -1)
row "$rows x 10 XLSX to CSV" "$ours" "$theirs" 0.3 " s" "xlsx2csv"
bound "peak memory, $rows x 10 XLSX to CSV" "$((peak / 1024))" 600 " MB"
