"""The drawing canvas and its 24-bit BMP writer."""
import struct

GLYPHS = {
    0: ["###", "#.#", "#.#", "#.#", "###"],
    1: [".#.", ".#.", ".#.", ".#.", ".#."],
    2: ["###", "..#", "###", "#..", "###"],
    3: ["###", "..#", "###", "..#", "###"],
    4: ["#.#", "#.#", "###", "..#", "..#"],
    5: ["###", "#..", "###", "..#", "###"],
    6: ["#..", "#..", "###", "#.#", "###"],
    7: ["###", "..#", "..#", "..#", "..#"],
    8: ["###", "#.#", "###", "#.#", "###"],
    9: ["###", "#.#", "###", "..#", "..#"],
}


class Canvas:
    def __init__(self, w, h):
        self.width, self.height = w, h
        self.gray = [0] * (w * h)
        self.rgb = bytearray(3 * w * h)

    def _at(self, x, y):
        return 3 * ((self.height - 1 - y) * self.width + x)

    def render_gray(self):
        for y in range(self.height):
            for x in range(self.width):
                v = self.gray[y * self.width + x]
                i = self._at(x, y)
                self.rgb[i] = self.rgb[i + 1] = self.rgb[i + 2] = v

    def set_pixel(self, x, y, r, g, b):
        assert 0 <= x < self.width and 0 <= y < self.height
        i = self._at(x, y)
        self.rgb[i], self.rgb[i + 1], self.rgb[i + 2] = b, g, r

    def draw_line(self, x0, y0, x1, y1, r, g, b, a0, a1):
        last = (-1, -1)
        for k in range(1001):
            t = k / 1000
            x = int(x1 * t + x0 * (1 - t))
            y = int(y1 * t + y0 * (1 - t))
            if (x, y) == last:
                continue
            a = (1 - t) * a0 + t * a1
            assert 0 <= x < self.width and 0 <= y < self.height
            i = self._at(x, y)
            self.rgb[i] = int(self.rgb[i] * (1 - a) + b * a)
            self.rgb[i + 1] = int(self.rgb[i + 1] * (1 - a) + g * a)
            self.rgb[i + 2] = int(self.rgb[i + 2] * (1 - a) + r * a)
            last = (x, y)

    def draw_number(self, x, y, value):
        if value <= 0:
            return
        left = x
        while value > 0:
            glyph = GLYPHS[value % 10]
            for r in range(5):
                for c in range(3):
                    if glyph[r][c] != "#":
                        continue
                    px, py = left + c, y + r
                    if 0 <= px < self.width and 0 <= py < self.height:
                        self.set_pixel(px, py, 0, 0, 0)
            value //= 10
            left -= 4

    def write_bmp(self, path):
        if self.width <= 0 or self.height <= 0:
            return False
        row = 3 * self.width
        stride = (row + 3) // 4 * 4
        size = stride * self.height
        header = b"BM" + struct.pack("<IIIIiiHHIIiiII", 54 + size, 0, 54, 40, self.width, self.height, 1, 24, 0,
                                     size, 0, 0, 0, 0)
        body = bytearray()
        for r in range(self.height):
            body += self.rgb[r * row:(r + 1) * row] + bytes(stride - row)
        with open(path, "wb") as f:
            f.write(header + bytes(body))
        return True
