# Sourced by the benchmark scripts: timing, medians, and the table row each figure becomes.
# A row is `| what | ours | peer | ratio | limit | held |`; bench/run-all.sh gathers the rows.

# The middle value of the numbers on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }

# Seconds a command takes, its output dropped.
seconds() { local s; s=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $s" | bc; }

# Two decimals for a fraction; whole numbers as they are.
shown() { awk -v v="$1" 'BEGIN { if (v ~ /\./) printf "%.2f", v; else print v }'; }

# row WHAT OURS PEER LIMIT [UNIT] [PEER-NAME]: ours against the peer tool; the limit bounds
# ours / peer.
row() {
    local what=$1 ours=$2 peer=$3 limit=$4 unit=${5:-} name=${6:-}
    local ratio held
    ratio=$(awk -v a="$ours" -v b="$peer" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')
    held=$(awk -v r="$ratio" -v l="$limit" 'BEGIN { print (r != "-" && r + 0 <= l + 0) ? "held" : "missed" }')
    echo "| $what | $(shown "$ours")$unit | ${name:+$name }$(shown "$peer")$unit | $ratio | $limit | $held |"
}

# bound WHAT VALUE LIMIT [UNIT] [NOTE]: a figure with no peer, against a limit on the figure.
bound() {
    local what=$1 value=$2 limit=$3 unit=${4:-} note=${5:--}
    local held
    held=$(awk -v v="$value" -v l="$limit" 'BEGIN { print (v + 0 <= l + 0) ? "held" : "missed" }')
    echo "| $what | $(shown "$value")$unit | $note | - | ≤ $limit$unit | $held |"
}

# Peak resident kilobytes of a command: the largest of it and the children it waited for.
peak_kb() {
    local f; f=$(mktemp)
    /usr/bin/time -o "$f" -f '%M' "$@" >/dev/null 2>&1 || true
    tail -1 "$f"; rm -f "$f"
}

# atleast WHAT VALUE LIMIT [UNIT] [NOTE]: a figure that must reach the limit (a share, a recall).
atleast() {
    local what=$1 value=$2 limit=$3 unit=${4:-} note=${5:--}
    local held
    held=$(awk -v v="$value" -v l="$limit" 'BEGIN { print (v + 0 >= l + 0) ? "held" : "missed" }')
    echo "| $what | $(shown "$value")$unit | $note | - | ≥ $limit$unit | $held |"
}

# extraction_zip FOLDER ZIP: 2,000 small files in 200 folders and four of 1 MB, made in FOLDER
# and zipped into ZIP; the extraction benchmarks' archive.
extraction_zip() {
    /usr/bin/python3 - "$1" <<'PY'
import os, random, sys
random.seed(1)
root = sys.argv[1]
for d in range(20):
    for s in range(10):
        folder = os.path.join(root, f"album{d}", f"day{s}")
        os.makedirs(folder)
        for f in range(10):
            with open(os.path.join(folder, f"note{f}.txt"), "wb") as out:
                out.write(random.randbytes(random.randint(200, 4000)))
for i in range(4):
    with open(os.path.join(root, f"big{i}.bin"), "wb") as out:
        out.write(random.randbytes(1 << 20))
PY
    local zip; zip=$(realpath -m "$2")
    (cd "$1" && zip -qr "$zip" .)
}

# Without a DISPLAY, a private Xvfb for the run, waited for; its pid in $xvfb for the caller's
# EXIT trap, which ends it.
private_display() {
    [ -z "${DISPLAY:-}" ] || return 0
    local display=:$(( 100 + RANDOM % 400 ))
    Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    export DISPLAY=$display
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
}
