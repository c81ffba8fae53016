"""Checks that a window has its fields and buttons where a wireframe drawing
has them.

    windowlayout.py SCREEN.xwd WxH+X+Y WIREFRAME.png [SHOT.png]

SCREEN.xwd is the X server's screen (Xvfb -fbdir), the geometry the window's
place on it. The wireframe shows the client area below the menu bar, its
width the window's, scaled. Each box of one light colour in the wireframe
(the fields and buttons) must be found in the window, scaled, within a few of
its pixels: as a face of one light colour, or as a sunken frame. A control
missing, moved or resized fails; the window's colours and text do not
matter. SHOT.png, when given, receives the window as seen. Only the standard
library: the test machine need not have an imaging tool."""
import struct
import sys
import zlib

TOLERANCE = 4  # window pixels: borders are drawn differently by each style
SMALLEST = 12  # a box narrower or lower than this is text or a frame
LIGHT = 0xE0  # every channel at least this: a face, not a frame, a label or the banner
DARK = 0xC0  # every channel below this: a frame's line


def read_png(path):
    data = open(path, "rb").read()
    width, height, depth, kind = struct.unpack(">IIBB", data[16:26])
    channels = {0: 1, 2: 3, 4: 2, 6: 4}[kind]
    chunks, at = [], 8
    while at < len(data):
        length, name = struct.unpack(">I4s", data[at:at + 8])
        if name == b"IDAT":
            chunks.append(data[at + 8:at + 8 + length])
        at += length + 12
    raw = zlib.decompress(b"".join(chunks))
    size = depth // 8 * channels
    stride = width * size
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind_of_filter = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - size] if i >= size else 0
            up = previous[i]
            corner = previous[i - size] if i >= size else 0
            if kind_of_filter == 1:
                line[i] = (line[i] + left) & 255
            elif kind_of_filter == 2:
                line[i] = (line[i] + up) & 255
            elif kind_of_filter == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind_of_filter == 4:
                guess = left + up - corner
                near = min((abs(guess - left), 0), (abs(guess - up), 1), (abs(guess - corner), 2))[1]
                line[i] = (line[i] + (left, up, corner)[near]) & 255
        # The high byte of each colour sample; grey becomes three equal ones.
        rows.append([tuple(line[x * size + c * depth // 8] for c in ((0, 0, 0) if channels < 3 else (0, 1, 2)))
                     for x in range(width)])
        previous = line
    return rows


def read_xwd(path, left, top, width, height):
    data = open(path, "rb").read()
    header = struct.unpack(">25I", data[:100])
    header_size, byte_order, bits, line_bytes, colours = (header[i] for i in (0, 7, 11, 12, 19))
    if bits != 32 or byte_order != 0:  # Xvfb's 24-bit screen: blue, green, red, unused
        sys.exit("unexpected screen format: %d bits a pixel, byte order %d" % (bits, byte_order))
    pixels = header_size + 12 * colours
    return [[tuple(data[pixels + y * line_bytes + x * 4 + c] for c in (2, 1, 0))
             for x in range(left, left + width)] for y in range(top, top + height)]


def light_boxes(rows):
    """The bounding boxes of the areas of one light colour that do not reach
    the edge: the faces of fields and buttons, whatever the window's own
    background. Text and marks inside them do not matter."""
    height, width = len(rows), len(rows[0])
    seen = [[False] * width for _ in range(height)]
    boxes = []
    for y in range(height):
        for x in range(width):
            colour = rows[y][x]
            if seen[y][x] or min(colour) < LIGHT:
                continue
            stack, box = [(x, y)], [x, y, x, y]
            seen[y][x] = True
            while stack:
                px, py = stack.pop()
                box = [min(box[0], px), min(box[1], py), max(box[2], px), max(box[3], py)]
                for nx, ny in ((px + 1, py), (px - 1, py), (px, py + 1), (px, py - 1)):
                    if 0 <= nx < width and 0 <= ny < height and not seen[ny][nx] and rows[ny][nx] == colour:
                        seen[ny][nx] = True
                        stack.append((nx, ny))
            inside = box[0] > 0 and box[1] > 0 and box[2] < width - 1 and box[3] < height - 1
            if inside and box[2] - box[0] + 1 >= SMALLEST and box[3] - box[1] + 1 >= SMALLEST:
                boxes.append(box)
    return boxes


def framed_boxes(rows):
    """Boxes drawn as a sunken frame: a dark line along the top and one down
    the left from the same corner. A style may draw the frame's lower and
    right sides in the window's own colour, which then hides them."""
    height, width = len(rows), len(rows[0])
    dark = [[max(p) < DARK for p in row] for row in rows]
    boxes = []
    for y in range(height - 1):
        for x in range(width - 1):
            if not dark[y][x] or (x > 0 and dark[y][x - 1]) or (y > 0 and dark[y - 1][x]):
                continue
            right, bottom = x, y
            while right + 1 < width and dark[y][right + 1]:
                right += 1
            while bottom + 1 < height and dark[bottom + 1][x]:
                bottom += 1
            if right - x + 1 >= SMALLEST and bottom - y + 1 >= SMALLEST:
                boxes.append([x, y, right, bottom])
    return boxes


def distinct(boxes):
    """One of each box found twice, as a frame and the face inside it."""
    kept = []
    for box in boxes:
        if not any(all(abs(a - b) <= TOLERANCE for a, b in zip(box, other)) for other in kept):
            kept.append(box)
    return kept


def write_png(path, rows):
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)
    def chunk(name, body):
        return struct.pack(">I", len(body)) + name + body + struct.pack(">I", zlib.crc32(name + body))
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 2, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def main():
    screen, geometry, wireframe = sys.argv[1:4]
    size, left, top = geometry.split("+")
    width, height = (int(n) for n in size.split("x"))
    window = read_xwd(screen, int(left), int(top), width, height)
    if len(sys.argv) > 4:
        write_png(sys.argv[4], window)
    drawing = read_png(wireframe)
    client = window[height - round(width * len(drawing) / len(drawing[0])):]
    scale_x, scale_y = len(drawing[0]) / width, len(drawing) / len(client)
    wanted = [[round(box[0] / scale_x), round(box[1] / scale_y), round(box[2] / scale_x), round(box[3] / scale_y)]
              for box in distinct(light_boxes(drawing))]
    found = light_boxes(client) + framed_boxes(client)
    failures = ["no field or button at %s (left, top, right, bottom)" % box for box in wanted
                if not any(all(abs(a - b) <= TOLERANCE for a, b in zip(box, f)) for f in found)]
    print("\n".join(failures) or "%d fields and buttons where the drawing has them" % len(wanted))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
