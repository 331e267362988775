#!/usr/bin/python3
"""Runs every entry the wheels offer for each file of a folder, on the file and on damaged copies
of it, through `quorvenda-dev run`, and prints one JSON line per run. A line whose "flags" is not
empty is a wrong result: a crash, a hang, a result that its format's own tool refuses, something
left behind by a run that did not finish, or a changed input. Results of the whole file are held
to their source: Remove Meta leaves nothing exiftool reads as identifying, a text-bearing result
keeps most of the words an independent reader finds in its source (pdftotext, the document's own
XML), a PDF keeps its pages, every page of a multi-page TIFF is kept, a sound or movie result
lasts what its source does, a picture converted keeps its source's pixels (and a risky format's
result is made twice, the same), and an archive's Extract, Test and repacks keep every file and
never pass what 7-Zip's checksums refuse. A damaged copy (cut, a span flipped or zeroed, seeded
scattered bits, a zeroed header) that its reader (FFmpeg, libvips with fail, qpdf, 7-Zip, the
ZIP's CRCs and XML) finds damaged must fail; one it reads whole is held to the same rules as an
original, against the copy. The counts go to standard error at the end; the status is 1 when any
run broke a rule.

With --disk DIR (a small disk the caller mounted, a tmpfs say), each entry runs on the whole file
once with room and once in a folder of DIR filled to leave --leave bytes free: there it must
finish with a result its tool takes, or fail with "Not enough disk space" (or the sentence it
gave with room, for a failure that has nothing to do with writing), and leave nothing behind.

usage: scripts/sweep-files.py FOLDER [--variants orig,cut,flip,zero,bits,head] [--jobs N] [--only ID-PREFIX]
       [--skip P,Q] [--timeout S] [--damaged-entries N] [--seed N] [--disk DIR [--leave BYTES]] > sweep.jsonl
QV_DEV points at quorvenda-dev (default build/quorvenda-dev beside this script's repository).
"""
import argparse
import concurrent.futures
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEV = os.environ.get("QV_DEV", os.path.join(ROOT, "build", "quorvenda-dev"))


# Seeds the scattered damage, so a run can be repeated byte for byte (--seed changes it).
SEED = 1


def damaged(data, variant, name=""):
    """A damaged copy of data: cut in half, a span in the middle flipped or zeroed, a few bits
    flipped anywhere past the first bytes (seeded by SEED and the file's name), or the header
    zeroed behind its first four bytes, where most formats keep their magic."""
    if variant == "orig" or len(data) < 16:
        return data
    if variant == "cut":
        return data[: len(data) // 2]
    mid = len(data) // 2
    span = max(1, min(4096, len(data) // 8))
    if variant == "flip":
        return data[:mid] + bytes(b ^ 0x5A for b in data[mid : mid + span]) + data[mid + span :]
    if variant == "zero":
        return data[:mid] + bytes(span) + data[mid + span :]
    if variant == "bits":
        import random
        rng = random.Random(f"{SEED}:{name}:{len(data)}")
        copy = bytearray(data)
        for _ in range(max(4, len(data) // 2048)):
            at = rng.randrange(min(16, len(data) - 1), len(data))
            copy[at] ^= 1 << rng.randrange(8)
        return bytes(copy)
    if variant == "head":
        end = min(len(data) // 2, 68)
        return data[:4] + bytes(end - 4) + data[end:]
    raise ValueError(variant)


def env_for(home):
    env = dict(os.environ)
    env.update(XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_CACHE_HOME=os.path.join(home, "cache"),
               XDG_RUNTIME_DIR=home, QT_QPA_PLATFORM="offscreen")
    return env


def entries(path, env):
    ids = []
    for kind in ("convert", "tools"):
        # Once more when it fails: a busy machine can keep its worker from answering in time.
        for _ in range(2):
            out = subprocess.run([DEV, "wheel", kind, path], capture_output=True, text=True, env=env, timeout=240)
            if out.returncode == 0:
                break
        if out.returncode != 0:
            continue
        wheel = json.loads(out.stdout)
        for seg in wheel.get("segments", []) + wheel.get("overflow", []):
            if seg.get("id") and seg["id"] != "more":
                ids.append(seg["id"])
    return ids


def oracle(path, password=None):
    """What the format's own tool says of a result, or None when it takes it; password opens a
    result the run locked."""
    ext = path.lower().rsplit(".", 1)[-1]
    if os.path.getsize(path) == 0:
        return "empty"
    tools = {
        "pdf": ["qpdf", "--check"] + ([f"--password={password}"] if password else []) + [path],
        "zip": ["unzip", "-tq", path], "docx": ["unzip", "-tq", path], "xlsx": ["unzip", "-tq", path],
        "pptx": ["unzip", "-tq", path], "odt": ["unzip", "-tq", path], "epub": ["unzip", "-tq", path],
        "tar": ["bsdtar", "-tf", path], "gz": ["gzip", "-t", path], "tgz": ["gzip", "-t", path],
        "bz2": ["bzip2", "-t", path], "xz": ["xz", "-t", path], "7z": ["7z", "t", path],
    }
    media = {"mp4", "mov", "mkv", "webm", "mp3", "m4a", "m4b", "m4r", "wav", "flac", "ogg", "opus", "aac", "gif",
             "aiff", "aif", "caf", "wma"}
    pictures = {"png", "jpg", "jpeg", "webp", "tif", "tiff", "heic", "avif", "bmp", "jp2", "jxl"}
    if ext in media:
        cmd = ["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path]
    elif ext in pictures:
        cmd = ["vipsheader", path]
    elif ext in tools:
        cmd = tools[ext]
    else:
        return None
    if shutil.which(cmd[0]) is None:
        return None
    try:
        out = subprocess.run(cmd, capture_output=True, text=True, errors="replace", timeout=120)
    except subprocess.TimeoutExpired:
        return "oracle hung"
    if out.returncode != 0 or (cmd[0] == "ffprobe" and out.stderr.strip()):
        return (out.stderr or out.stdout).strip()[:300] or f"exit {out.returncode}"
    return None


def run_text(cmd, timeout=120):
    if shutil.which(cmd[0]) is None:
        return None
    try:
        out = subprocess.run(cmd, capture_output=True, text=True, errors="replace", timeout=timeout)
    except subprocess.TimeoutExpired:
        return None
    return out.stdout if out.returncode == 0 else None


SOUND = {"mp3", "m4a", "m4b", "m4r", "wav", "flac", "ogg", "opus", "aac", "aiff", "aif", "caf", "wma", "mp4",
         "mov", "mkv", "webm", "dsf", "dff", "ape", "mpc", "wv"}
# exiftool's groups that say nothing of a person, a place, a device or a comment.
HARMLESS = ("ExifTool", "System", "File", "JFIF", "Composite", "ICC_Profile", "ICC-header", "ICC-view", "ICC-meas",
            "Adobe", "PNG-pHYs", "PNG-gAMA", "PNG-cHRM", "PNG-sRGB", "MPEG", "RIFF", "FLAC", "Vorbis", "Opus",
            "QuickTime", "Track1", "Track2", "Track3", "AIFF", "ASF", "Matroska", "ID3", "Main", "Theora", "PDF",
            "IFD0", "IFD1", "SubIFD", "ExifIFD", "ZIP", "PNG", "Jpeg2000", "Meta", "GIF", "Photoshop")
# Groups whose tags describe the colour profile kept on purpose, whatever their names.
PROFILE_GROUPS = ("ICC_Profile", "ICC-")
IDENTIFYING_TAGS = ("Artist", "Author", "Creator", "Copyright", "Comment", "Title", "Album", "Serial", "GPS",
                    "Make", "Model", "Owner", "Caption", "Keywords", "By-line", "City", "Country", "Software",
                    "Location", "Lens", "Description", "Encoder", "Publisher", "Composer", "Lyrics", "Picture")


# The decoders of cover pictures, whose words say nothing of a sound or a movie.
COVER_DECODERS = ("mjpeg", "png", "gif", "bmp", "webp", "tiff")


def duration(path):
    """How long FFmpeg reads the file to last; nothing when it reads it as another format than its
    name says (an MP3 behind a recorder's header), where its length is no measure."""
    out = run_text(["ffprobe", "-v", "error", "-show_entries", "format=format_name,duration", "-of",
                    "default=nw=1", path])
    fields = dict(row.split("=", 1) for row in (out or "").splitlines() if "=" in row)
    ext = path.lower().rsplit(".", 1)[-1]
    if ext == "mp3" and "mp3" not in fields.get("format_name", ""):
        return None
    try:
        return float(fields["duration"])
    except (KeyError, ValueError):
        return None


def packet_duration(path):
    """How long the first sound's packets last as FFmpeg's demuxer reads them, decoding nothing:
    the measure of a source whose header misstates its length (a VBRI header of 222 s over 8 KB)."""
    try:
        out = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-c", "copy", "-f",
                              "null", "-", "-progress", "pipe:1"], capture_output=True, text=True, timeout=120)
    except (subprocess.TimeoutExpired, FileNotFoundError):
        return None
    times = [row.split("=", 1)[1] for row in out.stdout.splitlines() if row.startswith("out_time_us=")]
    try:
        seconds = int(times[-1]) / 1e6
    except (IndexError, ValueError):
        return None
    return seconds if seconds > 0 else None


# Tags that end a paragraph, a cell or a line in the XML of documents and pages: a space there,
# none at the tags inside a paragraph, which split words into runs.
BREAKS = (r"</(?:w:p|w:tc|text:p|text:h|table:table-cell|a:p|p|div|li|td|th|tr|h[1-6]|title)>"
          r"|<(?:w:tab|w:br|w:cr|text:s|text:tab|text:line-break|br)\b[^>]*>")


def markup_text(xml):
    import html
    import re
    return html.unescape(re.sub(r"<[^>]+>", "", re.sub(BREAKS, " ", xml)))


def text_of(path):
    """The text of a document, a page or a sheet as an independent reader finds it; None for a
    format without text to read."""
    import re
    ext = path.lower().rsplit(".", 1)[-1]
    if ext in ("txt", "md", "html", "htm", "xhtml", "rtf", "csv", "tsv", "srt", "vtt"):
        with open(path, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        if ext in ("html", "htm", "xhtml"):
            text = markup_text(re.sub(r"(?s)<head.*?</head>|<script.*?</script>|<style.*?</style>", " ", text))
        if ext == "rtf":
            text = re.sub(r"\\u(-?\d+)\??", lambda m: chr(int(m.group(1)) % 65536), text)
            text = re.sub(r"\\[a-z]+-?\d* ?|[{}]", " ", text)
        return text
    if ext == "pdf":
        return run_text(["pdftotext", "-q", path, "-"])
    if ext in ("docx", "odt", "ods", "odp", "epub", "pptx", "xlsx"):
        import zipfile
        try:
            with zipfile.ZipFile(path) as z:
                parts = [n for n in z.namelist() if n.endswith(("word/document.xml", "content.xml", ".xhtml",
                                                                 ".html", "sharedStrings.xml"))
                         or n.startswith(("ppt/slides/slide", "xl/worksheets/sheet"))]
                return " ".join(markup_text(z.read(n).decode("utf-8", "replace")) for n in parts)
        except (zipfile.BadZipFile, OSError, KeyError, RuntimeError, ValueError):
            return ""
    return None


def words(text):
    """The distinct words of three letters or more in text, in lower case."""
    import re
    return set(re.findall(r"[^\W\d_]{3,}", (text or "").lower()))


def readable(text):
    """Whether text holds a letter to read: not only blanks, control characters (a font without
    a Unicode map gives its codes) or replacement characters."""
    return any(c.isprintable() and not c.isspace() and c != "\ufffd" for c in text or "")


def identifying(path):
    """exiftool's tags of the file that may name a person, a place, a device or a comment."""
    import re
    out = run_text(["exiftool", "-a", "-G1", "-s", path])
    if out is None:
        return []
    found = []
    for line in out.splitlines():
        if not line.startswith("["):
            continue
        group, _, rest = line[1:].partition("]")
        tag = rest.split(":", 1)[0].strip()
        # A codec's own description ("VBR Quality 100, 44 kHz, 2 channel") names no one, nor does
        # the handler name a muxer writes ("SoundHandler"), nor a colour profile's own fields.
        if (tag in ("Orientation", "CopyrightFlag", "HandlerDescription") or tag.endswith("CodecDescription")
                or group.startswith(PROFILE_GROUPS)):
            continue
        # IFD2, IFD3... are the later pages of a TIFF, as IFD0 and IFD1 are the first two.
        page = re.fullmatch(r"(?:Sub)?IFD\d*", group) is not None
        if (group not in HARMLESS and not page) or any(word in tag for word in IDENTIFYING_TAGS):
            found.append(f"{group}:{tag}")
    return found


def pages(path):
    ext = path.lower().rsplit(".", 1)[-1]
    if ext in ("tif", "tiff"):
        out = run_text(["vipsheader", "-f", "n-pages", path])
        return int(out) if out and out.strip().isdigit() else 1
    if ext == "pdf":
        out = run_text(["pdfinfo", path])
        for row in (out or "").splitlines():
            if row.startswith("Pages:"):
                return int(row.split()[1])
    return None


def fidelity(source, op, outputs, messages=()):
    """What a finished result of the whole file fails to keep of its promise."""
    flags = []
    ext = source.lower().rsplit(".", 1)[-1]
    files = [p for p in outputs if os.path.isfile(p)]
    if op.endswith(".removeMetadata"):
        for p in files:
            left = identifying(p)
            if left:
                flags.append(f"metadata left in {os.path.basename(p)}: " + ", ".join(left[:8]))
    if ext in TEXT_SOURCES and not op.endswith(TEXT_CHANGED):
        flags.extend(text_fidelity(source, op, files))
    if ext == "pdf" and not op.endswith(PAGES_CHANGED):
        wanted = pages(source)
        for p in files:
            got = pages(p) if p.lower().endswith(".pdf") else None
            if wanted and got is not None and got != wanted:
                flags.append(f"{os.path.basename(p)} holds {got} pages of {wanted}")
    if ext in ("tif", "tiff"):
        wanted = pages(source)
        if wanted and wanted > 1:
            for p in files:
                got = pages(p)
                if got is not None and got < wanted:
                    flags.append(f"pages lost in {os.path.basename(p)}: {got} of {wanted}")
    if ext in SOUND:
        wanted = packet_duration(source) or duration(source)
        trims = (".trim", ".split", ".ringtone", ".m4r", ".speed", ".snapshot", ".extractFrame", ".gif")
        for p in files:
            if p.lower().rsplit(".", 1)[-1] not in SOUND:
                continue
            # A FLAC without its total of samples has no length in its header; its packets' times
            # (the last one's start) tell it.
            got = max(filter(None, (duration(p), packet_duration(p))), default=None)
            if got is None or got <= 0:
                flags.append(f"no sound read back from {os.path.basename(p)}")
            elif wanted and not op.endswith(trims) and got < wanted - max(0.25, wanted * 0.1):
                flags.append(f"{os.path.basename(p)} lasts {got:.2f} s of {wanted:.2f} s")
    if ext in PICTURES:
        flags.extend(picture_fidelity(source, op, files))
    if ext in ARCHIVES:
        # Extract places a folder.
        flags.extend(archive_fidelity(source, op, [p for p in outputs if os.path.exists(p)], messages))
    return flags


# Sources whose words an independent reader finds, and operations that change which words a
# result holds (a part of the pages, a redaction, a password that locks the result's text away).
TEXT_SOURCES = {"pdf", "docx", "odt", "rtf", "txt", "md", "html", "htm", "epub", "pptx", "xlsx", "ods", "csv"}
TEXT_CHANGED = (".redact", ".split", ".extractPages", ".reorder", ".protect", ".ocr", ".readQR", ".splitSheets",
                ".summary", ".wordCount")
PAGES_CHANGED = (".split", ".extractPages", ".reorder", ".merge", ".ocr")


def text_fidelity(source, op, files):
    """A text-bearing result keeps most of the words an independent reader finds in its source."""
    flags = []
    # Slides of a PDF are pictures of its pages, by design.
    if op.startswith("convert.pdf.") and op.endswith((".pptx", ".key", ".odp")):
        return flags
    source_text = text_of(source)
    if not readable(source_text):
        return flags
    wanted = words(source_text)
    for p in files:
        got = text_of(p)
        if got is None:
            continue
        if not readable(got):
            flags.append(f"empty text in {os.path.basename(p)} where its source has some")
            continue
        if len(wanted) >= 12:
            kept = len(wanted & words(got)) / len(wanted)
            if kept < 0.6:
                flags.append(f"{os.path.basename(p)} keeps {kept:.0%} of its source's {len(wanted)} words")
    return flags


# A tag libtiff drops for a wrong count ("Incorrect count for ...; tag ignored") leaves the pixels
# whole, as the engine's own TIFF check holds.
BENIGN_PICTURE_WARNINGS = ("ignoring nclx profile", "Unknown field with tag", "tags are not sorted in ascending order",
                           "GLib-GObject-WARNING", "is invalid or out of range for property", "; tag ignored")
# Entries that decode nothing of the file (its bytes go into a zip as they are), or only the area
# they keep (a crop fails when that area is damaged): damage elsewhere is no reason to fail.
UNDECODED = ("tool.folder.zip", "tool.image.crop")


def source_damage(path):
    """What an independent reader says of a (damaged) file: ("damaged", why) when it finds damage,
    ("whole", None) when it reads the file without a word, None when no reader judges it."""
    ext = path.lower().rsplit(".", 1)[-1]

    def tool(cmd, timeout=180):
        if shutil.which(cmd[0]) is None:
            return None
        try:
            return subprocess.run(cmd, capture_output=True, text=True, errors="replace", timeout=timeout)
        except subprocess.TimeoutExpired:
            return subprocess.CompletedProcess(cmd, 124, "", f"{cmd[0]} hung")

    if os.path.getsize(path) == 0:
        return ("damaged", "empty")
    if ext in SOUND or ext in ("mp1", "mp2", "spx", "ac3", "dsf", "dff", "tta", "oga", "ogv", "m4v", "afc", "asf"):
        # Covers are no part of the sound or the movie: one that does not decode is left out
        # with a note, and a result's own covers are checked with it.
        out = tool(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a?", "-map", "0:V?", "-f", "null",
                    "-"])
        if out is None:
            return None
        # FFmpeg decodes covers as it opens the file, whatever is mapped; a movie's own pictures
        # may come from the same decoders.
        movie = (run_text(["ffprobe", "-v", "error", "-select_streams", "V", "-show_entries", "stream=index", "-of",
                           "csv=p=0", path]) or "").strip()
        said = "\n".join(row for row in out.stderr.strip().splitlines()
                         if movie or not any(row.startswith(f"[{codec} @") for codec in COVER_DECODERS))
        return ("damaged", said[:200] or f"exit {out.returncode}") if out.returncode or said else ("whole", None)
    if ext in PICTURES:
        with tempfile.TemporaryDirectory(prefix="sweep-dmg-") as tmp:
            # Raw pixels alone: a .v file also keeps the loader's metadata, and ImageMagick's
            # holds the time of the decode ("magick-date:create"), other at every second.
            out = tool(["vips", "rawsave", path + "[fail]", os.path.join(tmp, "p.raw")])
            if out is None:
                return None
            # Words of a reader that lost nothing: a colour description it does not use, a TIFF
            # tag it does not know or finds out of order.
            said = "\n".join(row for row in out.stderr.strip().splitlines()
                             if row.strip() and not any(word in row for word in BENIGN_PICTURE_WARNINGS))
            if out.returncode or said:
                return ("damaged", said[:200] or f"exit {out.returncode}")
            # A decoder that reads memory it did not fill gives other pixels at every decode.
            if ext in RISKY_PICTURES:
                again = tool(["vips", "rawsave", path + "[fail]", os.path.join(tmp, "q.raw")])
                with open(os.path.join(tmp, "p.raw"), "rb") as a, open(os.path.join(tmp, "q.raw"), "rb") as b:
                    if again.returncode or a.read() != b.read():
                        return ("damaged", "two decodes gave different pixels")
        return ("whole", None)
    if ext == "pdf":
        out = tool(["qpdf", "--check", path])
        if out is None:
            return None
        # qpdf repairs a broken cross-reference, a wrong count or length, a duplicated key
        # exactly; anything else it warns of (a token taken for null, data that does not decode)
        # is damage.
        import re
        said = (out.stdout + out.stderr).strip()
        exact = re.compile(r"dictionary has duplicated key|reported number of objects|expected endstream|"
                           r"recover(ed)? stream length|encryption SubFilters|more than once in the pages tree|"
                           r"invalid /ID in trailer|file is damaged$|xref not found|can't find startxref|"
                           r"reconstruct cross-reference table|invalid xref|xref syntax invalid|xref stream|"
                           r"Cross-reference stream data has the wrong size|hint table|first page section|linearization")
        warnings = [row for row in said.splitlines() if row.startswith("WARNING")]
        qpdf_damage = out.returncode == 2 or any(not exact.search(row) for row in warnings)
        # Poppler draws the first pages small; what it says is what it could not read.
        with tempfile.TemporaryDirectory(prefix="sweep-dmg-") as tmp:
            drawn = tool(["pdftoppm", "-r", "8", "-l", "3", path, os.path.join(tmp, "p")])
        poppler_damage = drawn is not None and (drawn.returncode != 0 or bool(drawn.stderr.strip()))
        # The readers disagree: no verdict.
        if qpdf_damage != poppler_damage:
            return None
        return ("damaged", said[-200:]) if qpdf_damage else ("whole", None)
    if ext in ARCHIVES or ext in ("jar", "cpio", "ar", "arj", "lzh", "z"):
        out = tool(["7z", "t", "-p-", path])
        if out is None:
            return None
        return ("damaged", (out.stdout + out.stderr).strip()[-200:]) if out.returncode else ("whole", None)
    if ext in ("docx", "xlsx", "pptx", "odt", "ods", "odp", "epub"):
        import xml.dom.minidom
        import zipfile
        try:
            with zipfile.ZipFile(path) as z:
                bad = z.testzip()
                if bad:
                    return ("damaged", f"bad CRC in {bad}")
                for name in z.namelist():
                    if name.endswith((".xml", ".rels")):
                        xml.dom.minidom.parseString(z.read(name))
        except Exception as e:  # any reader's complaint is damage
            return ("damaged", f"{type(e).__name__}: {e}"[:200])
        return ("whole", None)
    if ext in ("txt", "md", "csv", "tsv", "srt", "vtt", "json", "xml", "html", "htm"):
        return ("whole", None)
    return None


PICTURES = {"png", "jpg", "jpeg", "webp", "tif", "tiff", "heic", "heif", "avif", "bmp", "jp2", "j2k", "jxl", "gif",
            "tga", "ico", "psd", "pnm", "ppm", "pgm", "pbm", "exr", "hdr", "dng", "cr2", "nef", "arw", "orf", "rw2"}
# Formats whose decoders have read past what they filled: each of their results is made twice.
RISKY_PICTURES = {"jp2", "j2k", "jpf", "jpx", "tga", "psd", "ico", "exr", "hdr", "pnm", "ppm", "pgm", "pbm"}
ARCHIVES = {"zip", "7z", "rar", "tar", "tgz", "gz", "bz2", "xz", "tbz2", "txz", "cab", "iso", "lzh", "zst"}
# Operations whose pictures are not the source's pixels to compare.
RESHAPED = (".rotate", ".flip", ".crop", ".resize", ".filter", ".removeBackground", ".annotate", ".grayscale",
            ".watermark", ".pixelate", ".border", ".roundCorners", ".merge", ".ocr", ".readCodes", ".sticker",
            ".montage", ".collage", ".invert", ".sharpen", ".blur")


def one_bit_alpha(path, tmp):
    """The picture with its alpha cut to opaque or clear at half, as a GIF keeps it; the picture
    itself when it has no alpha or vips cannot cut it."""
    bands = (run_text(["vipsheader", "-f", "bands", path]) or "3").strip()
    if bands not in ("2", "4"):
        return path
    n = int(bands)
    colour, alpha, mask, joined = (os.path.join(tmp, name) for name in ("c.v", "a.v", "m.v", "j.v"))
    steps = [["vips", "extract_band", path, colour, "0", "--n", str(n - 1)],
             ["vips", "extract_band", path, alpha, str(n - 1)],
             ["vips", "relational_const", alpha, mask, "more", "127"],
             ["vips", "bandjoin", f"{colour} {mask}", joined]]
    for step in steps:
        if subprocess.run(step, capture_output=True, timeout=120).returncode != 0:
            return path
    return joined


def pixels(path, size=32, cut_alpha=False):
    """The picture drawn small in grey, as vips reads it; None when vips cannot read it. With
    cut_alpha, its alpha is first cut to one bit, as a GIF made of it keeps it."""
    with tempfile.TemporaryDirectory(prefix="sweep-px-") as tmp:
        if cut_alpha:
            path = one_bit_alpha(path, tmp)
        small = os.path.join(tmp, "p.v")
        try:
            out = subprocess.run(["vips", "thumbnail", path, small, str(size), "--height", str(size), "--size",
                                  "force"], capture_output=True, timeout=120)
        except (subprocess.TimeoutExpired, FileNotFoundError):
            return None
        if out.returncode != 0 or not os.path.exists(small):
            return None
        # Transparent pixels on white, as a format without alpha shows them.
        flat = os.path.join(tmp, "f.v")
        bands = run_text(["vipsheader", "-f", "bands", small]) or "3"
        if bands.strip() in ("2", "4"):
            if subprocess.run(["vips", "flatten", small, flat, "--background", "255"],
                              capture_output=True).returncode == 0:
                small = flat
        grey = os.path.join(tmp, "g.pgm")
        out = subprocess.run(["vips", "colourspace", small, grey, "b-w"], capture_output=True, timeout=120)
        if out.returncode != 0:
            return None
        # vips writes the first band of a grey picture with alpha as well; take the last size*size bytes.
        out = subprocess.run(["vips", "extract_band", grey, small + ".b.pgm", "0"], capture_output=True, timeout=120)
        with open(small + ".b.pgm" if out.returncode == 0 else grey, "rb") as f:
            data = f.read()
        return data[-size * size:] if len(data) >= size * size else None


def picture_fidelity(source, op, files):
    """A picture result keeps the source's pixels (a conversion or compression), and none comes
    of a source that vips cannot decode at all."""
    flags = []
    # An icon's first page, the one libvips reads, is its 16-pixel one: no measure of the whole.
    results = [p for p in files if p.lower().rsplit(".", 1)[-1] in PICTURES - {"ico"}]
    if not results or op.endswith(RESHAPED):
        return flags
    wanted = pixels(source)
    for p in results:
        got = pixels(p)
        if got is None:
            continue
        if wanted is not None and p.lower().endswith(".gif"):
            # A GIF keeps a pixel opaque or clear, never between.
            wanted_here = pixels(source, cut_alpha=True) or wanted
        else:
            wanted_here = wanted
        if wanted is None:
            # vips decodes with the same libraries: a flat picture made of what they refused is made up.
            if len(set(got)) <= 1:
                flags.append(f"{os.path.basename(p)} is one flat grey {got[0]} where vips cannot decode the source")
            continue
        if ".removeMetadata" in op or op.startswith("convert.image") or ".compress" in op:
            difference = sum(abs(a - b) for a, b in zip(wanted_here, got)) / len(got)
            if difference > 24:
                flags.append(f"{os.path.basename(p)} differs from its source by {difference:.0f} grey levels a pixel")
    return flags


def archive_entries(path):
    """The regular files an archive holds, by name, as 7-Zip lists them; None when it cannot. A name
    given twice is one file (a tar's later entry replaces the earlier), a name 7-Zip also lists
    as a folder is that folder (Solaris tar's ACL blocks), and a Mac's metadata is left out."""
    if shutil.which("7z") is None:
        return None
    try:
        out = subprocess.run(["7z", "l", "-slt", "-p-", path], capture_output=True, text=True, errors="replace",
                             timeout=120)
    except subprocess.TimeoutExpired:
        return None
    if out.returncode != 0:
        return None
    names, folders, entry = [], set(), {}
    for row in out.stdout.split("----------", 1)[-1].splitlines() + [""]:
        if row.strip():
            key, _, value = row.partition(" = ")
            entry[key] = value
            continue
        attributes = entry.get("Attributes", "")
        # Windows attributes come first ("HD" for a hidden folder), then Unix ones (" drwx...").
        if entry.get("Path") and (entry.get("Folder") == "+" or "D" in attributes.split(" ", 1)[0]
                                  or " d" in attributes):
            folders.add(entry["Path"])
        elif entry.get("Path") and entry["Path"] not in names:
            names.append(entry["Path"])
        entry = {}
    # A Mac's metadata beside the files (__MACOSX, .DS_Store, AppleDouble "._x") is no file to keep.
    def metadata(name):
        parts = name.split("/")
        return parts[0] == "__MACOSX" or any(p == ".DS_Store" or p.startswith("._") for p in parts)
    return [name for name in names if name not in folders and not metadata(name)]


def archive_fidelity(source, op, files, messages=()):
    """Extract and the repacks keep every file of the archive; an archive whose checksums 7-Zip
    refuses is never tested intact nor extracted."""
    flags = []
    if not (op.endswith((".extract", ".test")) or "archive" in op and op.rsplit(".", 1)[-1] in ("zip", "tar")):
        return flags
    tested = (subprocess.run(["7z", "t", "-p-", source], capture_output=True, text=True, errors="replace")
              if shutil.which("7z") else None)
    if tested is not None and tested.returncode != 0 and any(
            word in tested.stdout + tested.stderr for word in ("CRC Failed", "Data Error", "Checksum error")):
        flags.append("finished where 7-Zip finds a checksum error")
        return flags
    wanted = archive_entries(source)
    if not wanted:
        return flags
    if op.endswith(".extract"):
        # Links left out with a note count as kept: the note names them.
        import re
        got = sum(int(m.group(1)) for m in (re.match(r"(\d+) links? pointing outside the archive", text)
                                             for text in messages) if m)
        for p in files:
            if os.path.isdir(p) and not os.path.islink(p):
                # A link to a folder is listed with the folders.
                got += sum(len(n) + sum(os.path.islink(os.path.join(b, f)) for f in d) for b, d, n in os.walk(p))
            else:
                got += 1
        if got < len(wanted):
            flags.append(f"extracted {got} files of {len(wanted)}")
    elif not op.endswith(".test"):
        for p in files:
            kept = archive_entries(p)
            if kept is not None and len(kept) < len(wanted):
                flags.append(f"{os.path.basename(p)} holds {len(kept)} files of {len(wanted)}")
    return flags


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def run_one(source, variant, op, timeout, disk=None, roomy=None):
    """One run; with disk, on a link to source (already on that disk) in a folder of the disk,
    judged against roomy, the same run's line with room."""
    with tempfile.TemporaryDirectory(prefix="sweep-") as home:
        if disk:
            work = tempfile.mkdtemp(prefix="run-", dir=disk)
            target = os.path.join(work, os.path.basename(source))
            os.link(source, target)
        else:
            work = os.path.join(home, "files")
            os.makedirs(work)
            target = os.path.join(work, os.path.basename(source))
            with open(source, "rb") as f:
                data = damaged(f.read(), variant, os.path.basename(source))
            with open(target, "wb") as f:
                f.write(data)
        try:
            return judged(run_in(home, work, target, source, variant, op, timeout), disk, roomy, work, target)
        finally:
            if disk:
                shutil.rmtree(work, ignore_errors=True)


# What a run may say when the disk has no room: the general sentence, and extraction's own check
# of the free space before it starts.
DISK_FULL = ("Not enough disk space", "There isn't enough free space to extract this archive")


def judged(line, disk, roomy, work, target):
    """A full disk's rules over a run's line."""
    if not disk:
        return line
    line["disk"] = True
    if line["state"] == "failed":
        allowed = set(DISK_FULL)
        if roomy and roomy.get("state") == "failed":
            allowed.add(roomy.get("message"))
        if line["message"] not in allowed:
            line["flags"].append(f"failed with {line['message']!r} on a full disk: {line.get('details', '')[:160]}")
    elif line["state"] != "finished" and "hang" not in line["flags"]:
        line["flags"].append(f"ended {line['state']} on a full disk")
    # Folders count too: a work folder left empty is still left.
    outputs = {os.path.join(work, p) for p in line.get("outputs", [])}
    extra = []
    for base, folders, names in os.walk(work):
        for name in folders + names:
            p = os.path.join(base, name)
            if p != target and not any(p == o or p.startswith(o + os.sep) for o in outputs):
                extra.append(os.path.relpath(p, work))
    if extra and line["state"] == "finished":
        line["flags"].append("left beside the result: " + ", ".join(extra[:5]))
    return line


# What the editors would submit, for entries that do nothing without it.
EDITOR_OPTIONS = {
    "tool.pdf.protect": {"password": "sweep"},
    "tool.pdf.reorder": {"pageOrder": [0]},
    "tool.pdf.extractPages": {"pageOrder": [0]},
    "tool.pdf.redact": {"redactions": {"0": [[[10, 10], [50, 50]]]}},
    "tool.image.crop": {"cropRect": [[10, 10], [50, 50]]},
    "tool.audio.trim": {"trimStart": 0.5, "trimEnd": 1.5},
    "tool.video.trim": {"trimStart": 0.5, "trimEnd": 1.5},
}


def last_json(stdout):
    """The last line of a run's output that reads as JSON: its result."""
    for text in reversed(stdout.splitlines()):
        try:
            return json.loads(text)
        except ValueError:
            continue
    return {}


def run_group(cmd, env, timeout):
    """Runs cmd in a process group of its own; on a timeout the whole group is killed, by its id."""
    with subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env,
                          start_new_session=True) as process:
        try:
            stdout, stderr = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, 9)
            process.communicate()
            raise
        return subprocess.CompletedProcess(cmd, process.returncode, stdout, stderr)


def run_in(home, work, target, source, variant, op, timeout):
    before = digest(target)
    env = env_for(home)
    line = {"file": source, "variant": variant, "op": op, "flags": []}
    if variant != "orig":
        verdict = source_damage(target)
        line["verdict"], line["damage"] = verdict if verdict else (None, None)
    try:
        options = ["--options", json.dumps(EDITOR_OPTIONS[op])] if op in EDITOR_OPTIONS else []
        out = run_group([DEV, "run", op] + options + [target], env, timeout)
    except subprocess.TimeoutExpired:
        line["flags"].append("hang")
        line["state"] = None
        return line
    line["exit"] = out.returncode
    if out.returncode < 0 or out.returncode > 2:
        line["flags"].append(f"crash {out.returncode}")
    result = last_json(out.stdout)
    line["state"] = result.get("state")
    failure = result.get("failure") or {}
    line["message"] = failure.get("message")
    line["details"] = (failure.get("details") or "")[:300]
    line["messages"] = result.get("messages", [])
    if out.returncode == 2:
        line["usage"] = out.stderr.strip().splitlines()[-1:] if out.stderr.strip() else []
    if os.path.exists(target) and digest(target) != before:
        line["flags"].append("input changed")
    # Folders count too: a work folder left empty is still left.
    made = []
    for base, folders, names in os.walk(work):
        for name in folders + names:
            p = os.path.join(base, name)
            if p != target:
                made.append(p)
    outputs = set(result.get("outputs", []))
    if line["state"] == "finished":
        for p in outputs:
            if os.path.isfile(p):
                # An archive may hold an empty file.
                password = EDITOR_OPTIONS.get(op, {}).get("password")
                problem = None if op.endswith(".extract") and os.path.getsize(p) == 0 else oracle(p, password)
                # A plain text of a document without a word is rightly empty.
                if (problem == "empty" and p.lower().endswith((".txt", ".md", ".csv"))
                        and not readable(text_of(target))):
                    problem = None
                if problem:
                    line["flags"].append(f"bad output {os.path.basename(p)}: {problem}")
            elif not os.path.isdir(p):
                line["flags"].append(f"missing output {p}")
        if variant == "orig":
            line["flags"].extend(fidelity(source, op, outputs, line["messages"]))
        elif line["verdict"] == "damaged" and not op.startswith(UNDECODED):
            line["flags"].append(f"damaged copy finished where its reader says: {line['damage']}")
        elif line["verdict"] == "whole":
            # Damage an independent reader does not see: the result answers to the copy as read.
            line["flags"].extend(fidelity(target, op, outputs, line["messages"]))
        else:
            line["look"] = "damaged copy finished, no reader to judge it"
    elif (variant == "orig" and source.lower().endswith(".pdf") and "no text layer" in (line["message"] or "")
          and readable(run_text(["pdftotext", source, "-"]))):
        line["flags"].append("no text layer said where pdftotext finds text")
    if made and line["state"] in ("failed", "cancelled"):
        line["flags"].append("left behind: " + ", ".join(os.path.relpath(p, work) for p in made[:5]))
    if (line["state"] == "finished" and variant == "orig"
            and source.lower().rsplit(".", 1)[-1] in RISKY_PICTURES):
        first = {os.path.basename(p): pixels(p) for p in outputs if os.path.isfile(p)}
        try:
            again = run_group([DEV, "run", op] + options + [target], env, timeout)
        except subprocess.TimeoutExpired:
            again = subprocess.CompletedProcess([], 0, "", "")
        repeated = last_json(again.stdout)
        for p in repeated.get("outputs", []):
            name = os.path.basename(p)
            if os.path.isfile(p) and name not in first and pixels(p) not in first.values():
                line["flags"].append(f"a second run gave other pixels: {name}")
    line["outputs"] = [os.path.relpath(p, work) for p in outputs]
    return line


def fill(disk, leave):
    """Writes a file of zeros that leaves about leave bytes free on the disk."""
    stat = os.statvfs(disk)
    free = stat.f_bavail * stat.f_frsize
    block = b"\0" * (1 << 20)
    left = max(0, free - leave)
    with open(os.path.join(disk, "filler"), "wb") as f:
        while left > 0:
            left -= f.write(block[: min(len(block), left)])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--variants", default="orig,cut,flip,zero")
    parser.add_argument("--jobs", type=int, default=3)
    parser.add_argument("--only", default="")
    parser.add_argument("--skip", default="", help="entries to leave out: comma-separated ID prefixes")
    parser.add_argument("--timeout", type=int, default=180)
    parser.add_argument("--disk", default="")
    parser.add_argument("--leave", type=int, default=16 * 1024)
    parser.add_argument("--damaged-entries", type=int, default=0,
                        help="damaged copies run only each file's first N entries (0: all)")
    parser.add_argument("--seed", type=int, default=SEED, help="seeds the scattered bits of the 'bits' copies")
    args = parser.parse_args()
    globals()["SEED"] = args.seed
    files = sorted(os.path.join(args.folder, n) for n in os.listdir(args.folder)
                   if os.path.isfile(os.path.join(args.folder, n)))
    with tempfile.TemporaryDirectory(prefix="sweep-wheel-") as home:
        env = env_for(home)
        plan = []
        for source in files:
            try:
                ops = entries(source, env)
            except (subprocess.TimeoutExpired, ValueError) as e:
                print(json.dumps({"file": source, "flags": [f"wheel: {e}"]}), flush=True)
                continue
            skipped = tuple(p for p in args.skip.split(",") if p)
            chosen = [op for op in ops if op.startswith(args.only) and not (skipped and op.startswith(skipped))]
            for variant in args.variants.split(","):
                limit = args.damaged_entries if variant != "orig" and args.damaged_entries > 0 else len(chosen)
                # Spread over the wheels rather than the first wheel's entries alone.
                step = max(1, len(chosen) // limit) if limit else 1
                for op in chosen[::step][:limit]:
                    plan.append((source, variant, op))
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        def guarded(item):
            try:
                return run_one(*item, args.timeout)
            except OSError as e:  # quorvenda-dev rebuilt under the sweep, say
                return {"file": item[0], "variant": item[1], "op": item[2], "flags": [f"sweep: {e}"]}

        if not args.disk:
            lines = []
            for line in pool.map(guarded, plan):
                lines.append(line)
                print(json.dumps(line), flush=True)
            return summary(files, lines)
        plan = [item for item in plan if item[1] == "orig"]
        roomy = list(pool.map(guarded, plan))
        inputs = os.path.join(args.disk, "inputs")
        os.makedirs(inputs, exist_ok=True)
        placed = {}
        for source, _, _ in plan:
            if source not in placed:
                placed[source] = os.path.join(inputs, os.path.basename(source))
                shutil.copyfile(source, placed[source])
        fill(args.disk, args.leave)

        def on_disk(pair):
            (source, variant, op), with_room = pair
            try:
                return run_one(placed[source], variant, op, args.timeout, args.disk, with_room)
            except OSError as e:
                return {"file": source, "variant": variant, "op": op, "flags": [f"sweep: {e}"]}

        lines = list(pool.map(on_disk, zip(plan, roomy)))
    # A run that broke a rule runs once more alone: a busy machine (other runs beside it) can keep
    # a worker from reporting progress in time, but a fault shows twice.
    for index, line in enumerate(lines):
        if line["flags"]:
            again = on_disk((plan[index], roomy[index]))
            again["first"] = line["flags"]
            lines[index] = again
        print(json.dumps(lines[index]), flush=True)
    return summary(files, lines)


def readable_source(path):
    """Whether the file's own reader takes it whole (and a sound's packets last some time): the
    measure of a sound file."""
    verdict = source_damage(path)
    if not verdict or verdict[0] != "whole":
        return False
    ext = path.lower().rsplit(".", 1)[-1]
    if ext in SOUND or ext in ("mp1", "mp2", "spx", "ac3", "dsf", "dff", "tta", "oga", "ogv", "m4v", "afc", "asf"):
        # A sound stream without one packet is no sound, whatever its header says.
        streams = run_text(["ffprobe", "-v", "error", "-select_streams", "a", "-show_entries", "stream=index", "-of",
                            "csv=p=0", path])
        return bool(packet_duration(path)) if (streams or "").strip() else bool(duration(path))
    return ext in PICTURES or ext in ARCHIVES or ext in ("pdf", "docx", "xlsx", "pptx", "odt", "ods", "odp", "epub")


def summary(files, lines):
    """Prints the counts to standard error; the status is 1 when any run broke a rule."""
    originals = [line for line in lines if line.get("variant") == "orig"]
    sound = {f: readable_source(f) for f in {line["file"] for line in originals}}
    counts = {
        "files": len(files),
        "runs": len(lines),
        "finished": sum(line.get("state") == "finished" for line in lines),
        "refused with a sentence": sum(line.get("state") == "failed" and bool(line.get("message")) for line in lines),
        "wrong results": sum(bool(line["flags"]) for line in lines),
        "sound files refused": sum(line.get("state") == "failed" and sound.get(line["file"], False)
                                   for line in originals),
        # Damaged copies: those their reader takes whole and we refused, and those finished
        # that no reader judges (a look, not a fault).
        "whole damaged copies refused": sum(line.get("verdict") == "whole" and line.get("state") == "failed"
                                            for line in lines),
        "damaged copies unjudged": sum("look" in line for line in lines),
    }
    print(json.dumps({"summary": counts}), file=sys.stderr, flush=True)
    return 1 if counts["wrong results"] else 0


if __name__ == "__main__":
    sys.exit(main())
