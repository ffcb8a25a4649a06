"""The frames of a run as the program analysed them: read from the run's source (numbered files
or a TIFF stack, as its _run.json records), cut to its window and mapped to gray with its own
rule. Used by scripts/vanto-report; needs numpy, Pillow (PNG) and tifffile (TIFF)."""

import os
import re

import numpy as np

# The integer conversion of a frame pattern, with flags, width, precision and length modifiers.
CONVERSION = re.compile(r"%[-+ #0]*\d*(?:\.\d*)?(?:hh|h|ll|l|j|z|t|L)?[diouxX]")
TIFF_MAGIC = (b"II*\x00", b"MM\x00*", b"II+\x00", b"MM\x00+")
PNG_MAGIC = b"\x89PNG\r\n\x1a\n"


class FrameError(Exception):
    """A frame that cannot be read here, with the reason."""


def gray_mapping(options):
    """The mapping of a run's options: None (8-bit as stored) or (low, high) of -range."""
    bounds = options.get("-range")
    if isinstance(bounds, list) and len(bounds) == 2:
        return float(bounds[0]), float(bounds[1])
    return None


def map_to_gray(values, integer_samples, mapping):
    """Sample values (float32, the frame's own units) to gray bytes: without a range the values
    are 8-bit and kept; with -range LO HI, clamp(round((v - LO) 255 / (HI - LO)), 0, 255),
    halves up, exactly in integers for integer samples and whole-number bounds; NaN gives 0."""
    if mapping is None:
        return values.astype(np.uint8)
    low, high = mapping
    if integer_samples and low == np.floor(low) and high == np.floor(high) and max(abs(low), abs(high)) <= 2.0**52:
        lo, hi = int(low), int(high)
        span = hi - lo
        diff = values.astype(np.int64) - lo
        inside = np.clip(diff, 0, span)
        # floor((2 diff 255 + span) / (2 span)), the program's rounding of halves upwards.
        gray = (2 * inside * 255 + span) // (2 * span)
        gray = np.where(diff <= 0, 0, np.where(diff >= span, 255, gray))
        return np.clip(gray, 0, 255).astype(np.uint8)
    scale = 255.0 / (high - low)
    with np.errstate(invalid="ignore", over="ignore"):
        scaled = np.floor((values.astype(np.float64) - low) * scale + 0.5)
    scaled = np.where(np.isnan(scaled), 0, scaled)
    return np.clip(scaled, 0, 255).astype(np.uint8)


def sample_values(pixels, palette):
    """The analysed value of every pixel as float32, and whether the samples are integers: gray
    or palette indices as stored, RGB(A) as 0.299 R + 0.587 G + 0.114 B (rounded for integers)."""
    integer = np.issubdtype(pixels.dtype, np.integer) or pixels.dtype == bool
    if pixels.ndim == 3 and not palette:
        if pixels.shape[2] >= 3:
            r, g, b = (pixels[:, :, i].astype(np.float64) for i in range(3))
            luma = 0.299 * r + 0.587 * g + 0.114 * b
            if integer:
                # C's lround: halves away from zero (luma is never negative here).
                luma = np.floor(luma + 0.5)
            return luma.astype(np.float32), integer
        pixels = pixels[:, :, 0]  # gray + alpha
    return pixels.astype(np.float32), integer


def read_png(path, page):
    from PIL import Image

    with Image.open(path) as image:
        palette = image.mode == "P"
        if image.mode in ("I;16", "I;16B", "I"):
            pixels = np.array(image)
        elif image.mode in ("L", "P", "RGB", "RGBA", "LA", "1"):
            pixels = np.array(image)
        else:
            pixels = np.array(image.convert("RGB"))
    return pixels, palette


def read_tiff(path, page):
    import tifffile

    with tifffile.TiffFile(path) as tif:
        if page >= len(tif.pages):
            raise FrameError(f"{path} has no page {page + 1}")
        p = tif.pages[page]
        pixels = p.asarray()
        palette = p.photometric == tifffile.PHOTOMETRIC.PALETTE
        if pixels.ndim == 3 and p.planarconfig == tifffile.PLANARCONFIG.SEPARATE:
            pixels = np.moveaxis(pixels, 0, -1)
    return pixels, palette


def read_image(path, page=0):
    if not os.path.isfile(path):
        raise FrameError(f"{path}: no such file")
    with open(path, "rb") as f:
        head = f.read(8)
    try:
        if head.startswith(PNG_MAGIC):
            return read_png(path, page)
        if head[:4] in TIFF_MAGIC:
            return read_tiff(path, page)
    except FrameError:
        raise
    except Exception as e:  # a damaged file, whatever the decoder says
        raise FrameError(f"{path}: {e}") from None
    raise FrameError(f"{path}: neither PNG nor TIFF")


class Source:
    """Frames 1, 2, ... of a run, as gray planes of its window."""

    def __init__(self, options, base_dir):
        self.options = options
        pattern = str(options.get("-source", ""))
        if pattern and not os.path.isabs(pattern):
            pattern = os.path.join(base_dir, pattern)
        self.pattern = pattern
        self.first = int(options.get("-first", 1) or 0)
        self.x, self.y = int(options.get("-x", 0)), int(options.get("-y", 0))
        self.w, self.h = int(options.get("-w", 0)), int(options.get("-h", 0))
        self.mapping = gray_mapping(options)
        self.channels, self.channel = 1, max(1, int(options.get("-channel", 0) or 0))
        candidate = pattern.replace("^", "%")
        self.stack = not CONVERSION.search(candidate) and os.path.isfile(pattern)
        if self.stack:
            if self.first < 1:
                self.first = 1
            self.channels = self._stack_channels()
        else:
            self.pattern = candidate

    def _stack_channels(self):
        try:
            import tifffile

            with tifffile.TiffFile(self.pattern) as tif:
                meta = tif.imagej_metadata or {}
                return max(1, int(meta.get("channels", 1)))
        except Exception:
            return 1

    def path(self, j):
        if self.stack:
            return self.pattern
        return self.pattern % (self.first + j - 1)

    def describe(self, j):
        if self.stack:
            return f"{os.path.basename(self.pattern)} [page {self.page(j) + 1}]"
        return os.path.basename(self.path(j))

    def page(self, j):
        return (self.first + j - 2) * self.channels + self.channel - 1 if self.stack else 0

    def gray(self, j):
        """Frame j's window as the program analysed it, or FrameError."""
        pixels, palette = read_image(self.path(j), self.page(j))
        if pixels.ndim == 3 and pixels.shape[2] > 4 and not palette:
            raise FrameError(f"{self.describe(j)}: {pixels.shape[2]} samples a pixel")
        if self.y + self.h > pixels.shape[0] or self.x + self.w > pixels.shape[1] or self.x < 0 or self.y < 0:
            raise FrameError(f"{self.describe(j)}: the window lies outside the {pixels.shape[1]} x "
                             f"{pixels.shape[0]} image")
        window = pixels[self.y:self.y + self.h, self.x:self.x + self.w]
        values, integer = sample_values(window, palette)
        if self.mapping is None and (window.dtype.itemsize > 1 and window.dtype != bool):
            raise FrameError(f"{self.describe(j)}: samples of more than 8 bits and no -range")
        return map_to_gray(values, integer, self.mapping)
