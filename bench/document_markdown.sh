#!/usr/bin/env bash
# A generated 10 MB Markdown file written as HTML by `quorvenda-dev document FILE --to html`
# (straight from the parser a section at a time, the bytes the document model would give),
# against `cmark-gfm -e table -e strikethrough` on the same file, the two run in turn: median
# time and peak memory of 3 runs each (limits: 1.3x the time, 1.2x the memory). Prints one
# table row per measure and the load.
# Without the cmark-gfm program, the same parse and render is compiled against libcmark-gfm.
# Usage: bench/document_markdown.sh [SIZE_MB] (default 10), from the repository with build/ built.
set -euo pipefail
size_mb=${1:-10}
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmark=$(command -v cmark-gfm || true)
cmark_args=(-e table -e strikethrough)
if [ -z "$cmark" ]; then
    cmark_args=()
    cat > "$work/cmark.c" <<'C'
#include <cmark-gfm.h>
#include <cmark-gfm-core-extensions.h>
#include <stdio.h>
#include <stdlib.h>
int main(int argc, char** argv)
{
    cmark_gfm_core_extensions_ensure_registered();
    cmark_parser* parser = cmark_parser_new(CMARK_OPT_DEFAULT);
    cmark_parser_attach_syntax_extension(parser, cmark_find_syntax_extension("table"));
    cmark_parser_attach_syntax_extension(parser, cmark_find_syntax_extension("strikethrough"));
    FILE* in = fopen(argv[1], "rb");
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0)
        cmark_parser_feed(parser, buffer, n);
    cmark_node* doc = cmark_parser_finish(parser);
    char* html = cmark_render_html(doc, CMARK_OPT_DEFAULT, cmark_parser_get_syntax_extensions(parser));
    fputs(html, stdout);
    return 0;
}
C
    cc -O2 -o "$work/cmark-gfm" "$work/cmark.c" $(pkg-config --cflags --libs libcmark-gfm)
    cmark="$work/cmark-gfm"
fi

# Sections of every block kind until the size is reached.
python3 - "$work/big.md" "$size_mb" <<'PY'
import sys
path, size = sys.argv[1], int(sys.argv[2]) * 1024 * 1024
section = """## Section {n}

Some **bold** and *italic* text with `code`, ~~struck~~ words and a [link](https://example.com/{n}).
A second line of the same paragraph, long enough to look like prose in a real document.

- item one
- item two
   1. nested {n}
   2. nested again

> A quoted line.

```
code line {n}
    indented
```

| a | b | c |
| --- | --- | --- |
| {n} | x | y |

***

"""
with open(path, "w") as out:
    written, n = 0, 0
    out.write("# Big\n\n")
    while written < size:
        text = section.format(n=n)
        out.write(text)
        written += len(text)
        n += 1
PY
echo "input: $(( $(stat -c %s "$work/big.md") / 1048576 )) MB"

median() { sort -n | sed -n 2p; }
# Prints "seconds kilobytes" for one run.
measure() { /usr/bin/time -f "%e %M" "$@" 2>&1 >/dev/null | tail -1; }
ratio() { awk "BEGIN{printf \"%.2f\", $1 / $2}"; }
verdict() { awk "BEGIN{exit !($1 <= $2)}" && echo held || echo missed; }

ours=(); bare=()
for i in 1 2 3; do
    ours+=("$(measure env XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen "$dev" document "$work/big.md" --to html)")
    bare+=("$(measure "$cmark" "${cmark_args[@]}" "$work/big.md")")
done
ours_s=$(printf '%s\n' "${ours[@]}" | cut -d' ' -f1 | median); ours_kb=$(printf '%s\n' "${ours[@]}" | cut -d' ' -f2 | median)
bare_s=$(printf '%s\n' "${bare[@]}" | cut -d' ' -f1 | median); bare_kb=$(printf '%s\n' "${bare[@]}" | cut -d' ' -f2 | median)
rt=$(ratio "$ours_s" "$bare_s"); rm=$(ratio "$ours_kb" "$bare_kb")
echo "| Markdown to HTML, ${size_mb} MB, time | ${ours_s} s | cmark-gfm ${bare_s} s | $rt | 1.3 | $(verdict "$rt" 1.3) |"
echo "| Markdown to HTML, ${size_mb} MB, peak memory | $((ours_kb / 1024)) MB | cmark-gfm $((bare_kb / 1024)) MB | $rm | 1.2 | $(verdict "$rm" 1.2) |"
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
