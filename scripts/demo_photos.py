"""Draws the demo folder of reader photos: simple portraits, deterministic for a given Pillow version.

Usage: demo_photos.py DIR. The card numbers are those of the demo database (tests/fixtures). The folder is
meant for the exact rule by card number; a few files show the other rules and the cases a run meets.
"""
import os
import sys
import zlib

from PIL import Image, ImageDraw

# (file name, size, kind). Kinds: "rgb" in the format of the extension (JPEG unless .png or .bmp), "gray" JPEG, "rgba" PNG with transparency, "bmp" 24-bit BMP,
# "damaged" (a JPEG cut short: the run logs it and goes on).
PHOTOS = [
    ("A00001.jpg", (300, 400), "rgb"),
    ("A00002.jpg", (640, 480), "rgb"),        # landscape, central square kept; A00002 has a photo already
    ("a00003.jpg", (240, 320), "rgb"),        # lower-case name: matched without regard to case
    ("A00004.JPG", (1200, 1600), "rgb"),      # camera size, upper-case extension
    ("A00006.png", (220, 240), "rgba"),       # transparent background: painted on white
    ("A00008.jpg", (300, 400), "rgb"),        # expired reader: never selected
    ("A00010.jpg", (300, 400), "gray"),       # grayscale JPEG
    ("A00011.bmp", (110, 120), "bmp"),        # already card size
    ("A00012.jpg", (300, 400), "damaged"),    # logged as failed, the run goes on
    ("A00013.jpg", (300, 400), "rgb"),
    # A00014 and most others have no photo file: skipped silently.
    ("A00017.jpeg", (90, 100), "rgb"),        # smaller than a card: not enlarged
    ("A00018.jpg", (300, 400), "rgb"),
    ("A00018.png", (300, 400), "rgba"),       # two files of one reader: which is meant cannot be told, none is taken
    ("A00030.jpg", (300, 400), "rgb"),        # card number stored with trailing blanks
    ("b00033.jpg", (300, 400), "rgb"),        # lower-case card number
    # For the other rules: segment 1 by card number (segment 2 by name), prefix 6 by card number,
    # and the exact rule by name.
    ("A00023_韩梅_计算机学院.jpg", (300, 400), "rgb"),
    ("A00024唐嫣.jpg", (300, 400), "rgb"),
    ("趙靜.jpg", (300, 400), "rgb"),
    ("tom smith.png", (300, 400), "rgb"),
]


def colour(seed, index):
    value = zlib.crc32(f"{seed}/{index}".encode())
    return (value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF)


def portrait(name, size, mode):
    width, height = size
    background = (0, 0, 0, 0) if mode == "RGBA" else colour(name, 0)
    image = Image.new("RGBA" if mode == "RGBA" else "RGB", size, background)
    draw = ImageDraw.Draw(image)
    skin = (236, 200, 170)
    shirt = colour(name, 1)
    cx = width // 2
    head = min(width, height) // 4
    draw.ellipse([cx - head, height // 5, cx + head, height // 5 + 2 * head + head // 3], fill=skin)
    draw.pieslice([cx - 2 * head, height * 2 // 3, cx + 2 * head, height * 2 // 3 + 4 * head], 180, 360, fill=shirt)
    draw.text((4, 4), os.path.splitext(name)[0].encode("ascii", "replace").decode(), fill=(255, 255, 255))
    return image.convert("L") if mode == "L" else image


def write(folder, name, size, kind):
    path = os.path.join(folder, name)
    if kind == "rgb":
        extension = os.path.splitext(name)[1].lower()
        fmt = {".png": "PNG", ".bmp": "BMP"}.get(extension, "JPEG")
        portrait(name, size, "RGB").save(path, fmt, **({"quality": 85} if fmt == "JPEG" else {}))
    elif kind == "gray":
        portrait(name, size, "L").save(path, "JPEG", quality=85)
    elif kind == "rgba":
        portrait(name, size, "RGBA").save(path, "PNG")
    elif kind == "bmp":
        portrait(name, size, "RGB").save(path, "BMP")
    elif kind == "damaged":
        portrait(name, size, "RGB").save(path, "JPEG", quality=85)
        with open(path, "r+b") as f:
            f.truncate(200)  # header only: no picture data


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: demo_photos.py DIR")
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, size, kind in PHOTOS:
        write(folder, name, size, kind)
    print(f"make-demo-photos: {len(PHOTOS)} files in {folder}")


if __name__ == "__main__":
    main()
