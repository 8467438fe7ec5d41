#!/usr/bin/env python3
"""Generates the program's artwork into res/art, reproducibly.

    python3 tools/art/make_art.py      (then commit res/art/*)

Small pieces (frame corners and edges, background strips, the progress
skin) are written pixel by pixel with the standard library; pieces with
lettering (buttons, logo, titles) and the side illustration are drawn with
ImageMagick and the Nanum fonts (Debian's imagemagick and fonts-nanum, which
the bootstrap installs). The whole look is defined by the palette below.
"""
import os
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "..", "res", "art")
CONVERT = "/usr/bin/convert"
FONT = "/usr/share/fonts/truetype/nanum/NanumGothic.ttf"
FONT_BOLD = "/usr/share/fonts/truetype/nanum/NanumGothicBold.ttf"
FONT_LOGO = "/usr/share/fonts/truetype/nanum/NanumSquareB.ttf"

# The palette.
GREEN = (25, 143, 2)            # the portal's green (the title colour)
GREEN_DARK = (19, 107, 1)
GREEN_LIGHT = (52, 171, 26)
GREEN_PALE = (226, 241, 221)
HEADER_TOP = (31, 160, 6)
HEADER_BOTTOM = (22, 130, 2)
BODY = (246, 248, 245)          # the light body colour every piece sits on
PAGE_TOP = (255, 255, 255)
PAGE_BOTTOM = (244, 247, 243)
FRAME_OUTER = (96, 124, 90)
FRAME_INNER = (221, 229, 218)
WHITE = (255, 255, 255)
TEXT_DARK = (51, 51, 51)
GREY = (150, 150, 150)
GREY_LIGHT = (222, 224, 221)
TRACK = (228, 232, 226)
CYAN = (0, 255, 255)            # the transparent colour of the progress skin
HEADER_HEIGHT = 34


def hexc(c):
    return "#%02X%02X%02X" % c


def mix(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def write_bmp(name, rows):
    """rows: list of rows (top first) of (r, g, b); a 24-bit BMP."""
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(header + info + bytes(data))


def magick(name, args):
    """Runs ImageMagick with args and writes a 24-bit BMP."""
    subprocess.run([CONVERT] + args + ["-alpha", "off", "-type", "TrueColor", "BMP3:" + os.path.join(OUT, name)],
                   check=True)


def magick_png(args):
    fd, path = tempfile.mkstemp(suffix=".png")
    os.close(fd)
    subprocess.run([CONVERT] + args + ["PNG32:" + path], check=True)
    return path


# --- Background strips, stretched horizontally by the dialogs ---------------

def header_then(body_rows, body_top, body_bottom, height):
    rows = []
    for y in range(height):
        if y < HEADER_HEIGHT:
            rows.append([mix(HEADER_TOP, HEADER_BOTTOM, y / (HEADER_HEIGHT - 1))])
        else:
            rows.append([mix(body_top, body_bottom, (y - HEADER_HEIGHT) / max(1, height - HEADER_HEIGHT - 1))])
    return rows


def backgrounds():
    write_bmp("bg_main_143.bmp", header_then(None, BODY, BODY, 331))
    write_bmp("bg_msg_156.bmp", header_then(None, BODY, BODY, 160))
    write_bmp("bg_page_162.bmp", [[mix(PAGE_TOP, PAGE_BOTTOM, y / 189)] for y in range(190)])


# --- The frame: corners and edges ---------------------------------------------

def frame():
    top = GREEN_DARK
    write_bmp("corner_tl_144.bmp", [[top, top], [top, HEADER_TOP]])
    write_bmp("corner_tr_145.bmp", [[top, top], [HEADER_TOP, top]])
    write_bmp("corner_bl_146.bmp", [[FRAME_OUTER, FRAME_INNER], [FRAME_OUTER, FRAME_OUTER]])
    write_bmp("corner_br_147.bmp", [[FRAME_INNER, FRAME_OUTER], [FRAME_OUTER, FRAME_OUTER]])
    write_bmp("edge_left_148.bmp", [[FRAME_OUTER, FRAME_INNER]])
    write_bmp("edge_right_149.bmp", [[FRAME_INNER, FRAME_OUTER]])
    write_bmp("edge_top_150.bmp", [[top], [HEADER_TOP]])
    write_bmp("edge_bottom_151.bmp", [[FRAME_INNER], [FRAME_OUTER]])


# --- Lettering on the header ----------------------------------------------------

def header_text(name, text, width, height, font, size, x=0):
    """White lettering on the header colour at the rows it is drawn on (y 10..)."""
    top = mix(HEADER_TOP, HEADER_BOTTOM, 10 / (HEADER_HEIGHT - 1))
    bottom = mix(HEADER_TOP, HEADER_BOTTOM, (10 + height - 1) / (HEADER_HEIGHT - 1))
    magick(name, ["-size", "%dx%d" % (width, height), "gradient:%s-%s" % (hexc(top), hexc(bottom)),
                  "-font", font, "-pointsize", str(size), "-fill", "white", "-gravity", "west",
                  "-annotate", "+%d+0" % x, text])


def header_pieces():
    header_text("logo_152.bmp", "ZELTO 옴브릭스", 127, 14, FONT_LOGO, 12)
    header_text("title_install_154.bmp", "설치", 18, 14, FONT_BOLD, 9)
    header_text("title_update_155.bmp", "업데이트", 38, 14, FONT_BOLD, 9)


# --- Buttons: four states side by side (normal, over, down, disabled) ---------

PRIMARY = {
    "normal": (GREEN, GREEN_DARK, WHITE),
    "over": (GREEN_LIGHT, GREEN, WHITE),
    "down": (GREEN_DARK, GREEN_DARK, WHITE),
    "disabled": (GREY_LIGHT, (200, 202, 199), GREY),
}
SECONDARY = {
    "normal": (WHITE, (178, 186, 175), TEXT_DARK),
    "over": (GREEN_PALE, GREEN, GREEN_DARK),
    "down": ((214, 232, 208), GREEN_DARK, GREEN_DARK),
    "disabled": ((240, 241, 239), (210, 212, 209), (175, 175, 175)),
}


def button(name, label, state_width, style):
    height = 33
    states = []
    for i, state in enumerate(("normal", "over", "down", "disabled")):
        fill, border, ink = style[state]
        shift = 1 if state == "down" else 0
        states.append(magick_png([
            "-size", "%dx%d" % (state_width, height), "xc:%s" % hexc(BODY),
            "-fill", hexc(fill), "-stroke", hexc(border), "-strokewidth", "1",
            "-draw", "roundrectangle 1,%d %d,%d 4,4" % (2 + shift, state_width - 2, height - 3 + shift),
            "-stroke", "none", "-font", FONT_BOLD, "-pointsize", "12", "-fill", hexc(ink),
            "-gravity", "center", "-annotate", "+0+%d" % shift, label]))
    magick(name, states + ["+append"])
    for p in states:
        os.remove(p)


def buttons():
    button("btn_install_139.bmp", "설치", 75, PRIMARY)
    button("btn_update_140.bmp", "업데이트", 75, PRIMARY)
    button("btn_remove_138.bmp", "제거", 75, PRIMARY)
    button("btn_next_161.bmp", "다음", 75, PRIMARY)
    button("btn_finish_164.bmp", "완료", 75, PRIMARY)
    button("btn_ok_170.bmp", "확인", 63, PRIMARY)
    button("btn_cancel_153.bmp", "취소", 58, SECONDARY)
    button("btn_back_160.bmp", "이전", 71, SECONDARY)


def close_button():
    """An X in 9 x 8, four states, on the header colour."""
    bg = mix(HEADER_TOP, HEADER_BOTTOM, 13 / (HEADER_HEIGHT - 1))
    inks = [WHITE, (255, 236, 140), (200, 230, 190), (120, 170, 110)]
    rows = [[bg] * 36 for _ in range(8)]
    for s, ink in enumerate(inks):
        for y in range(8):
            for x in (y, 7 - y):
                for dx in (0, 1):
                    xx = x + dx
                    if xx < 9:
                        rows[y][s * 9 + xx] = ink
    write_bmp("btn_close_141.bmp", rows)


# --- The side illustration -------------------------------------------------------

def illustration():
    magick("side_142.bmp", [
        "-size", "107x149", "xc:%s" % hexc(BODY),
        # a package with the portal's green band
        "-fill", hexc(WHITE), "-stroke", hexc((190, 200, 186)), "-strokewidth", "1",
        "-draw", "roundrectangle 22,44 84,104 6,6",
        "-fill", hexc(GREEN), "-stroke", "none", "-draw", "rectangle 23,66 83,78",
        "-fill", hexc(GREEN_PALE), "-draw", "rectangle 48,45 58,103",
        "-fill", hexc(GREEN_DARK), "-draw", "rectangle 48,66 58,78",
        # the download arrow above it
        "-fill", hexc(GREEN_LIGHT), "-draw", "rectangle 49,14 57,30",
        "-draw", "polygon 41,29 65,29 53,40",
        # a tick badge
        "-fill", hexc(GREEN), "-draw", "circle 80,100 80,88",
        "-stroke", "white", "-strokewidth", "3", "-fill", "none",
        "-draw", "polyline 74,100 79,105 87,95",
        "-stroke", "none", "-fill", hexc(GREY), "-font", FONT, "-pointsize", "10", "-gravity", "south",
        "-annotate", "+0+14", "ZELTO"])


# --- The progress skin: nine 10 x 17 slices, cyan transparent --------------------

def progress_skin():
    w, h = 10, 17

    def slice_rows(kind):
        rows = []
        for y in range(h):
            row = []
            for x in range(w):
                inside_v = 2 <= y <= h - 3
                edge_v = y in (1, h - 2)
                track = TRACK if inside_v else ((200, 206, 197) if edge_v else CYAN)
                bar = mix(GREEN_LIGHT, GREEN_DARK, (y - 2) / (h - 5)) if inside_v else (
                    GREEN_DARK if edge_v else CYAN)
                if kind == 0:      # left end of the frame
                    row.append(CYAN if x < 8 and (y < 1 or y > h - 2) else ((200, 206, 197) if x >= 8 and not inside_v
                               else (CYAN if x < 8 else track)))
                elif kind == 8:    # right end of the frame
                    row.append(CYAN if x > 1 and (y < 1 or y > h - 2) else ((200, 206, 197) if x <= 1 and not inside_v
                               else (CYAN if x > 1 else track)))
                elif kind in (1, 6, 7):
                    row.append(track)
                elif kind == 2:    # bar start: rounded left cap
                    round_off = (x == 0 and y in (2, h - 3))
                    row.append(track if round_off else bar)
                elif kind == 5:    # bar end: rounded right cap
                    round_off = (x == w - 1 and y in (2, h - 3))
                    row.append(track if round_off else bar)
                elif kind == 3:    # centre mark: the fill itself (a light stripe in
                    row.append(bar)  # the middle of the bar reads as a seam in the paint)
                else:              # bar fill
                    row.append(bar)
            rows.append(row)
        return rows

    slices = [slice_rows(k) for k in range(9)]
    rows = [sum((s[y] for s in slices), []) for y in range(h)]
    write_bmp("progress_168.bmp", rows)


# --- The icon -----------------------------------------------------------------

def icon_pixels(size):
    rows = []
    radius = size // 5
    stroke = max(2, size // 8)
    margin = size // 4
    for y in range(size):
        row = []
        for x in range(size):
            cx, cy = min(x, size - 1 - x), min(y, size - 1 - y)
            inside = True
            if cx < radius and cy < radius:
                dx, dy = radius - cx - 0.5, radius - cy - 0.5
                inside = dx * dx + dy * dy <= radius * radius
            if not inside:
                row.append((0, 0, 0, 0))
                continue
            lo, hi = margin, size - 1 - margin
            is_z = False
            if lo <= x <= hi and lo <= y <= hi:
                if y < lo + stroke or y > hi - stroke:
                    is_z = True
                else:
                    t = (y - lo) / max(1, hi - lo)
                    is_z = abs(x - (hi - t * (hi - lo))) < stroke * 0.75
            base = mix(HEADER_TOP, GREEN_DARK, y / size)
            row.append((*(WHITE if is_z else base), 255))
        rows.append(row)
    return rows


def ico_image(size):
    pixels = icon_pixels(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    and_mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_mask += bits
    return header + bytes(xor) + bytes(and_mask)


def icon():
    sizes = [16, 32, 48]
    images = [ico_image(s) for s in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(os.path.join(OUT, "zelto.ico"), "wb") as f:
        f.write(out)


def main():
    os.makedirs(OUT, exist_ok=True)
    backgrounds()
    frame()
    header_pieces()
    buttons()
    close_button()
    illustration()
    progress_skin()
    icon()


if __name__ == "__main__":
    main()
