#!/usr/bin/python3
"""Writes a PDF laid out as an office suite exports one: every page a flate-compressed page of
text under a small logo all pages share, and a photo of its own on every fifth page.

Usage: office_pdf.py OUT.pdf PAGES LOGO.jpg PHOTO.jpg... (JPEG files, as DCTDecode streams)
"""
import struct
import sys
import zlib


def jpeg_size(data):
    i = 2
    while i < len(data):
        marker = data[i + 1]
        length = struct.unpack(">H", data[i + 2:i + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            height, width = struct.unpack(">HH", data[i + 5:i + 9])
            return width, height
        i += 2 + length
    raise ValueError("no frame header")


def main():
    out, pages, logo, photos = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
    objects = []  # bodies, numbered from 1

    def add(body):
        objects.append(body)
        return len(objects)

    def image(path):
        data = open(path, "rb").read()
        width, height = jpeg_size(data)
        head = (f"<< /Type /XObject /Subtype /Image /Width {width} /Height {height} "
                f"/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode /Length {len(data)} >>")
        return add(head.encode() + b"\nstream\n" + data + b"\nendstream")

    font = add(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")
    logo_id = image(logo)
    photo_ids = [image(p) for p in photos]
    pages_id = len(objects) + 1
    objects.append(None)  # the page tree, filled in below
    kids = []
    for n in range(pages):
        lines = ["BT /F1 10 Tf 14 TL 72 720 Td"]
        for k in range(40):
            lines.append(f"(Page {n + 1}, line {k + 1}: quarterly figures, minutes and notes of the meeting) '")
        lines.append("ET q 60 0 0 30 500 760 cm /Logo Do Q")
        resources = f"/Font << /F1 {font} 0 R >> /XObject << /Logo {logo_id} 0 R"
        if photos and n % 5 == 0:
            photo = photo_ids[(n // 5) % len(photo_ids)]
            lines.append("q 320 0 0 240 146 120 cm /Photo Do Q")
            resources += f" /Photo {photo} 0 R"
        data = zlib.compress("\n".join(lines).encode(), 6)
        contents = add(f"<< /Length {len(data)} /Filter /FlateDecode >>".encode() + b"\nstream\n" + data
                       + b"\nendstream")
        kids.append(add(f"<< /Type /Page /Parent {pages_id} 0 R /MediaBox [0 0 612 792] "
                        f"/Resources << {resources} >> >> /Contents {contents} 0 R >>".encode()))
    objects[pages_id - 1] = (f"<< /Type /Pages /Count {len(kids)} /Kids ["
                             + " ".join(f"{k} 0 R" for k in kids) + "] >>").encode()
    catalog = add(f"<< /Type /Catalog /Pages {pages_id} 0 R >>".encode())

    body = bytearray(b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, obj in enumerate(objects, 1):
        offsets.append(len(body))
        body += f"{number} 0 obj\n".encode() + obj + b"\nendobj\n"
    xref = len(body)
    body += f"xref\n0 {len(objects) + 1}\n0000000000 65535 f \n".encode()
    for offset in offsets:
        body += f"{offset:010d} 00000 n \n".encode()
    body += (f"trailer\n<< /Size {len(objects) + 1} /Root {catalog} 0 R >>\nstartxref\n{xref}\n%%EOF\n").encode()
    with open(out, "wb") as f:
        f.write(body)


if __name__ == "__main__":
    main()
