#!/usr/bin/env python3
"""Draws the splash picture (400 x 300 JPEG) and the window icon (32 x 32 PNG) of the connection module.

Run once with Pillow (python3-pil); the outputs are committed beside this script as Qt resources.
The artwork is our own: a pale sky gradient, a shelf of book spines and a reader's photo card.
"""
from pathlib import Path

from PIL import Image, ImageDraw

HERE = Path(__file__).resolve().parent


def lerp(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def draw_card(draw, x, y, w, h, outline, face, person):
    """A reader's photo card: a rounded card with a head-and-shoulders outline and two text lines."""
    draw.rounded_rectangle((x, y, x + w, y + h), radius=max(2, w // 12), fill=face, outline=outline,
                           width=max(1, w // 40))
    px, py, pw, ph = x + w * 0.08, y + h * 0.14, w * 0.38, h * 0.72
    draw.rectangle((px, py, px + pw, py + ph), fill=(226, 236, 246))
    cx = px + pw / 2
    r = pw * 0.2
    draw.ellipse((cx - r, py + ph * 0.18, cx + r, py + ph * 0.18 + 2 * r), fill=person)
    draw.pieslice((cx - pw * 0.42, py + ph * 0.62, cx + pw * 0.42, py + ph * 1.3), 180, 360, fill=person)
    for i in range(3):
        ly = y + h * (0.26 + 0.2 * i)
        draw.line((x + w * 0.54, ly, x + w * (0.9 - 0.12 * i), ly), fill=outline, width=max(1, h // 30))


def splash():
    width, height = 400, 300
    image = Image.new("RGB", (width, height))
    top, bottom = (250, 252, 255), (196, 218, 240)
    for row in range(height):
        ImageDraw.Draw(image).line((0, row, width, row), fill=lerp(top, bottom, row / (height - 1)))
    draw = ImageDraw.Draw(image)

    # A shelf of book spines along the bottom.
    shelf_y = 262
    draw.rectangle((0, shelf_y, width, height), fill=(120, 92, 70))
    draw.rectangle((0, shelf_y, width, shelf_y + 4), fill=(150, 118, 92))
    colours = [(70, 110, 160), (170, 70, 60), (90, 140, 100), (200, 160, 70), (110, 90, 150), (60, 140, 150)]
    x = 14
    for i in range(22):
        w = 9 + (i * 7) % 8
        h = 48 + (i * 13) % 30
        c = colours[i % len(colours)]
        draw.rectangle((x, shelf_y - h, x + w, shelf_y - 1), fill=c, outline=lerp(c, (0, 0, 0), 0.35))
        draw.line((x + 2, shelf_y - h + 8, x + w - 2, shelf_y - h + 8), fill=lerp(c, (255, 255, 255), 0.5))
        x += w + 3
        if x > 250:
            break

    # The photo card, leaning on the right end of the shelf.
    draw_card(draw, 262, 120, 122, 80, outline=(40, 70, 120), face=(255, 255, 255), person=(80, 110, 150))
    # A soft band under the status text.
    draw.rounded_rectangle((8, 48, 250, 76), radius=6, fill=(236, 243, 252))
    image.save(HERE / "splash.jpg", quality=90)


def icon():
    image = Image.new("RGBA", (32, 32), (0, 0, 0, 0))
    draw_card(ImageDraw.Draw(image), 1, 5, 30, 22, outline=(40, 70, 120), face=(255, 255, 255),
              person=(80, 110, 150))
    image.save(HERE / "icon.png")


if __name__ == "__main__":
    splash()
    icon()
