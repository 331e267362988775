#!/usr/bin/python3
"""Writes the seed corpus of every fuzz target into corpus/<target>/: small real files, made
here with the tools the tests use (openpyxl, ffmpeg, Python's zip and plist writers)."""
import io
import json
import os
import plistlib
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")


def put(target, name, data):
    folder = os.path.join(OUT, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def selector(index, data):
    return bytes([index]) + (data.encode("utf-8") if isinstance(data, str) else data)


# Subtitles: the first byte picks the extension (srt, vtt, webvtt, ass, ssa, txt).
SRT = "1\r\n00:00:01,000 --> 00:00:02,500\r\n<i>Hello</i>\r\nworld\r\n\r\n2\r\n00:00:03,000 --> 00:00:04,000\r\nSecond\r\n"
VTT = ("WEBVTT - title\n\nNOTE a note\n\nSTYLE\n::cue { color: red }\n\nintro\n00:01.000 --> 00:02.000 align:start\n"
       "<v Roger>Hi <b>there</b>\n\n01:00:00.000 --> 01:00:01.500\nLate &amp; last\n")
ASS = ("[Script Info]\nScriptType: v4.00+\n\n[V4+ Styles]\nFormat: Name, Fontname\nStyle: Default,Arial\n\n[Events]\n"
       "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
       "Dialogue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,{\\i1}Hello{\\i0}\\Nworld, too\n"
       "Comment: 0,0:00:03.00,0:00:04.00,Default,,0,0,0,,skipped\n")
SSA = ("[Script Info]\nScriptType: v4.00\n\n[Events]\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
       "Dialogue: Marked=0,0:00:01.00,0:00:02.00,*Default,,0000,0000,0000,,Old style\n")
put("subtitles", "srt", selector(0, SRT))
put("subtitles", "srt-bom-cp1252", selector(0, b"\xef\xbb\xbf1\n00:00:00,500 --> 00:00:01,000\nbom\n\n") )
put("subtitles", "srt-latin1", selector(0, "1\n0:0:1,5 --> 0:0:2\ncaf\xe9\n".encode("latin-1")))
put("subtitles", "vtt", selector(1, VTT))
put("subtitles", "webvtt", selector(2, VTT))
put("subtitles", "ass", selector(3, ASS))
put("subtitles", "ssa", selector(4, SSA))
put("subtitles", "utf16", selector(0, "\ufeff" .encode("utf-16-le") + SRT.encode("utf-16-le")))

# CSV and TSV: the first byte picks csv, tsv, tab or txt.
put("delimited", "csv", selector(0, 'name,value\r\n"quoted, with comma",1\r\n"multi\nline","say ""hi"""\r\n,\r\n'))
put("delimited", "semicolon", selector(0, "a;b;c\n1;2,5;3\n"))
put("delimited", "tsv", selector(1, "a\tb\n1\t\"2\"\n"))
put("delimited", "tab-cp1252", selector(2, "x\ty\n\x80\t\xe9\n".encode("latin-1")))
put("delimited", "txt", selector(3, '"open quote,\n'))

# Page ranges as typed.
for i, text in enumerate(["1-3, 4-6, 7", "3-", "5-3", " 2 ,x, -1, 0-0", "9223372036854775808-1", "1\u2009-\u20092"]):
    put("pageranges", "r%d" % i, text)

# FFmpeg's description of inputs it made itself.
with tempfile.TemporaryDirectory() as tmp:
    def probe(name, *args):
        path = os.path.join(tmp, name)
        subprocess.run(["ffmpeg", "-v", "error", "-y", *args, path], check=True)
        out = subprocess.run(["ffmpeg", "-hide_banner", "-i", path], capture_output=True).stderr
        put("probe", name, out.replace(tmp.encode(), b"/tmp"))
    probe("video.mp4", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=0.5", "-f", "lavfi", "-i",
          "sine=duration=0.5", "-shortest", "-c:v", "mpeg4", "-c:a", "aac", "-metadata", "title=Test",
          "-metadata:s:v", "rotate=90")
    probe("audio.ogg", "-f", "lavfi", "-i", "sine=duration=0.3", "-c:a", "libvorbis")
    probe("subs.mkv", "-f", "lavfi", "-i", "testsrc=size=32x32:rate=5:duration=0.4", "-c:v", "mpeg4")
    probe("still.png", "-f", "lavfi", "-i", "testsrc=size=16x16", "-frames:v", "1")
put("probe", "not-media", "/tmp/x: Invalid data found when processing input\n")

# Markdown.
put("markdown", "doc.md", "# Title\n\nSome *em* and **strong** `code` ~~gone~~ [link](http://a) ![img](pic.png)\n\n"
    "> quote\n> > nested\n\n- a\n  - b\n1. one\n\n| a | b |\n|---|:-:|\n| 1 | 2 |\n\n```c\nint x;\n```\n\n---\n<div>html</div>\n")
put("markdown", "setext.md", "Heading\n=======\n\n    indented code\n\n* [ ] task\n\nline  \nbreak\\\nend\n")

# XHTML: the first byte's lowest bit asks for the strict parser.
XHTML = ('<?xml version="1.0" encoding="UTF-8"?><html xmlns="http://www.w3.org/1999/xhtml"><head><title>T</title></head><body>'
         '<h1>Head</h1><h2>Sub</h2><p>Text <em>em</em> <strong>b</strong> <a href="#x">link</a><br/>line</p>'
         '<img src="pic.png" alt="a"/><blockquote><p>q</p></blockquote><ul><li>one<ol><li>two</li></ol></li></ul>'
         '<pre>code\n  kept</pre><table><tr><th>h</th><td>d</td></tr></table><hr/><figure><figcaption>c</figcaption></figure></body></html>')
put("xhtml", "strict.xhtml", selector(1, XHTML))
put("xhtml", "tolerant.html", selector(0, "<html><body><p>Unclosed <b>bold<p>Next &nbsp; &amp;<img src=data:image/png;base64,AAAA><script>x</script>"))
put("xhtml", "entities.xhtml", selector(1, '<!DOCTYPE html [<!ENTITY e "boom">]><html><body><p>&e;</p></body></html>'))

# RTF (first byte 2 or 3), a DOCX document part (0) or an ODT content part (1), for their style readers.
put("rtf", "styles.rtf", selector(2, "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman Times;}{\\f1\\fmodern Courier New;}}"
                                     "{\\colortbl;\\red200\\green0\\blue0;}{\\stylesheet{\\s0 Normal;}{\\s1\\b\\fs32 heading 1;}}"
                                     "{\\info{\\title T}}\\paperw16840\\paperh11907\\lndscpsxn\\pard\\s1 Head\\par"
                                     "\\pard\\qc{\\cf1\\fs36 Red}{\\sub\n2}\\pard\\pagebb x{\\f1 code}\\u1046?\\par}"))
put("rtf", "word.xml", selector(0, '<w:document xmlns:w="w"><w:body><w:p><w:pPr><w:pStyle w:val="H"/><w:jc w:val="center"/></w:pPr>'
                                   '<w:r><w:rPr><w:sz w:val="40"/><w:b/><w:color w:val="C00000"/><w:rFonts w:ascii="Courier New"/></w:rPr>'
                                   '<w:t>x</w:t></w:r><w:fldSimple w:instr=" PAGE "/></w:p><w:sectPr><w:pgSz w:w="16838" w:h="11906" '
                                   'w:orient="landscape"/><w:pgMar w:left="1134"/></w:sectPr></w:body></w:document>'))
put("rtf", "odt.xml", selector(1, '<office:document-content xmlns:office="o" xmlns:style="s" xmlns:text="t" xmlns:fo="f">'
                                  '<office:automatic-styles><style:style style:name="P1" style:family="paragraph"><style:paragraph-properties '
                                  'fo:text-align="center"/><style:text-properties fo:font-size="150%" fo:color="#ff0000"/></style:style>'
                                  '</office:automatic-styles><office:body><office:text><text:p text:style-name="P1">a<text:span '
                                  'text:style-name="T1">b</text:span><text:s text:c="3"/><text:note>n</text:note></text:p></office:text>'
                                  '</office:body></office:document-content>'))

# Spreadsheets made by openpyxl.
import openpyxl  # noqa: E402
import datetime  # noqa: E402
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "Numbers"
ws.append(["name", "value", "date", "flag"])
ws.append(["a", 0.1, datetime.datetime(2024, 2, 29, 12, 30), True])
ws.append(["b", 1e20, datetime.date(1900, 3, 1), False])
ws["F10"] = "=SUM(B2:B3)"
wb.create_sheet("Empty")
buffer = io.BytesIO()
wb.save(buffer)
xlsx = buffer.getvalue()
put("xlsx", "openpyxl.xlsx", xlsx)
parts = {"xl/worksheets/sheet1.xml": 0, "xl/sharedStrings.xml": 1, "xl/workbook.xml": 2, "xl/styles.xml": 3,
         "xl/_rels/workbook.xml.rels": 4, "_rels/.rels": 5}
with zipfile.ZipFile(io.BytesIO(xlsx)) as z:
    for name in z.namelist():
        if name in parts:
            put("xlsx_part", name.replace("/", "_"), selector(parts[name], z.read(name)))
put("xlsx_part", "inline", selector(0, '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>'
    '<row r="1048576"><c r="XFD1048576" t="inlineStr"><is><r><t>x</t></r></is></c><c r="A1" t="d"><v>2024-01-01</v></c></row></sheetData></worksheet>'))
put("xlsx_part", "sst", selector(1, '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><si><t>a</t><rPh><t>ruby</t></rPh></si></sst>'))

# E-books, zipped as an e-book writer does.
CONTAINER = ('<?xml version="1.0"?><container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container">'
             '<rootfiles><rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/></rootfiles></container>')
OPF = ('<?xml version="1.0" encoding="UTF-8"?><package xmlns="http://www.idpf.org/2007/opf" version="3.0" unique-identifier="id">'
       '<metadata xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:identifier id="id">urn:uuid:1</dc:identifier>'
       '<dc:title>Book</dc:title><dc:creator>Writer</dc:creator><dc:language>en</dc:language></metadata>'
       '<manifest><item id="nav" href="nav.xhtml" media-type="application/xhtml+xml" properties="nav"/>'
       '<item id="c1" href="one.xhtml" media-type="application/xhtml+xml"/><item id="up" href="../../etc/passwd" media-type="text/html"/></manifest>'
       '<spine><itemref idref="c1"/><itemref idref="up"/><itemref idref="missing"/></spine></package>')
NAV = ('<?xml version="1.0" encoding="UTF-8"?><html xmlns="http://www.w3.org/1999/xhtml" xmlns:epub="http://www.idpf.org/2007/ops">'
       '<body><nav epub:type="toc"><ol><li><a href="one.xhtml">One</a></li></ol></nav></body></html>')
epub = io.BytesIO()
with zipfile.ZipFile(epub, "w") as z:
    z.writestr("mimetype", "application/epub+zip", compress_type=zipfile.ZIP_STORED)
    z.writestr("META-INF/container.xml", CONTAINER, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr("OEBPS/content.opf", OPF, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr("OEBPS/nav.xhtml", NAV, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr("OEBPS/one.xhtml", XHTML, compress_type=zipfile.ZIP_DEFLATED)
put("epub", "book.epub", epub.getvalue())
put("zip", "book.epub", epub.getvalue())
put("zip", "openpyxl.xlsx", xlsx)
stored = io.BytesIO()
with zipfile.ZipFile(stored, "w") as z:
    z.writestr("./a.txt", "stored", compress_type=zipfile.ZIP_STORED)
    z.writestr("/abs/b.txt", "b" * 200, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr("dir/", "")
put("zip", "names.zip", stored.getvalue())
for i, part in enumerate([XHTML, OPF, CONTAINER, NAV, "<html><body><p>plain</p></body></html>"]):
    put("epub_part", "seed%d" % i, selector(i, part))

# Web archives and clippings, XML and binary: the first byte's lowest bit picks the clipping.
archive = {"WebMainResource": {"WebResourceData": b"<html><head><title>Saved</title></head><body><p>Hi <img src='http://x/p.png'></p></body></html>",
                               "WebResourceMIMEType": "text/html", "WebResourceTextEncodingName": "UTF-8",
                               "WebResourceURL": "http://x/"},
           "WebSubresources": [{"WebResourceURL": "http://x/p.png", "WebResourceMIMEType": "image/png",
                                "WebResourceData": bytes.fromhex("89504e470d0a1a0a")}]}
put("plist", "webarchive-binary", selector(0, plistlib.dumps(archive, fmt=plistlib.FMT_BINARY)))
put("plist", "webarchive-xml", selector(0, plistlib.dumps(archive)))
archive["WebMainResource"]["WebResourceTextEncodingName"] = "windows-1252"
archive["WebMainResource"]["WebResourceData"] = b"<p>caf\xe9</p>"
put("plist", "webarchive-cp1252", selector(0, plistlib.dumps(archive, fmt=plistlib.FMT_BINARY)))
clipping = {"UTI-Data": {"public.utf8-plain-text": "Clipped\r\ntext", "public.utf16-plain-text": "x".encode("utf-16")},
            "UTI-Types": ["public.utf8-plain-text"]}
put("plist", "clipping-binary", selector(1, plistlib.dumps(clipping, fmt=plistlib.FMT_BINARY)))
clipping = {"UTI-Data": {"public.rtf": b"{\\rtf1 hi}", "public.utf16-plain-text": "\ufeffwide".encode("utf-16-le")}}
put("plist", "clipping-xml", selector(1, plistlib.dumps(clipping)))

# Settings: the first byte's lowest bit picks the import over the settings file.
settings = {"quorvenda.wheelSize": 320, "quorvenda.sounds": True, "quorvenda.accentColor": "#FF8800",
            "quorvenda.output.location": "beside", "quorvenda.output.preserveMetadata": False,
            "quorvenda.trigger.convert": {"key": 1, "modifiers": ["shift"]}, "quorvenda.wheel.order": ["a", "b"],
            "quorvenda.options.image.quality": 0.85, "quorvenda.state.bookmark": {"$data": "AAECAw=="},
            "other.key": None}
put("settings", "file.json", selector(0, json.dumps(settings, indent=2)))
put("settings", "import.json", selector(1, json.dumps(settings, sort_keys=True)))
put("settings", "damaged.json", selector(0, '{"a": [1, 2'))
put("settings", "not-object.json", selector(1, "[1,2,3]"))

# RAR block chains, written by hand (no RAR writer ships with Debian): stored entries, an end
# block, in both versions.
import struct
import zlib


def rar4(entries):
    out = b"Rar!\x1a\x07\x00"
    main = struct.pack("<BHH", 0x73, 0, 13) + bytes(6)
    out += struct.pack("<H", zlib.crc32(main) & 0xFFFF) + main
    for name, data in entries:
        fields = struct.pack("<IIBIIBBHI", len(data), len(data), 3, zlib.crc32(data), 0, 29, 0x30, len(name), 0o100644)
        head = struct.pack("<BHH", 0x74, 0x8000, 7 + len(fields) + len(name)) + fields + name
        out += struct.pack("<H", zlib.crc32(head) & 0xFFFF) + head + data
    end = struct.pack("<BHH", 0x7B, 0x4000, 7)
    return out + struct.pack("<H", zlib.crc32(end) & 0xFFFF) + end


def number(value):
    out = b""
    while True:
        byte = value & 0x7F
        value >>= 7
        out += bytes([byte | (0x80 if value else 0)])
        if not value:
            return out


def block5(fields, data=b""):
    size = number(len(fields))
    return struct.pack("<I", zlib.crc32(size + fields)) + size + fields + data


def rar5(entries):
    out = b"Rar!\x1a\x07\x01\x00" + block5(number(1) + number(0) + number(0))
    for name, data in entries:
        fields = (number(2) + number(0x02) + number(len(data)) + number(0x04) + number(len(data))
                  + number(0o100644) + struct.pack("<I", zlib.crc32(data)) + number(0) + number(1)
                  + number(len(name)) + name)
        out += block5(fields, data)
    return out + block5(number(5) + number(0) + number(0))


two = [(b"one.txt", b"first entry"), (b"dir/two.bin", bytes(range(64)))]
put("rar_blocks", "stored4.rar", rar4(two))
put("rar_blocks", "stored5.rar", rar5(two))
put("rar_blocks", "sfx5.rar", b"MZ" + bytes(100) + rar5(two[:1]))
