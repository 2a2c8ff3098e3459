#!/usr/bin/python3
"""Runs Orvane on every image of the conformance corpus with the usual edits
and compares each output with a reference rendering of the same edit made by
Pillow (and ImageMagick for the resize; the check's own reader of BMP bit
fields), never by the image library Orvane uses.

Usage: check.py ORVANE CORPUS-IMAGES WORK-FOLDER KNOWN-FAILURES [--jobs N]
                [--table docs/conformance.md] [--only GLOB]

A case is "group/file:edit". It passes when Orvane ends with status 0 or 1
and no sanitizer report, says why when it refuses, and (for an image a
reference tool reads) saves a file whose pixels match the reference: exactly
for a lossless output of a lossless input, within a PSNR bound otherwise,
with the metadata the task names (the ICC profile kept, never a CMYK profile
on RGB pixels, the EXIF data of a JPEG kept). Cases listed in the known
failures file are expected to fail for the reason given there; one that
passes is reported, so that its line is removed.
"""

import argparse
import concurrent.futures
import fnmatch
import io
import math
import os
import shutil
import subprocess
import sys

from PIL import Image, ImageChops, ImageStat

CONVERT = "/usr/bin/convert"
EDITS = ["to-png", "to-jpg", "to-bmp", "r90", "fh", "fv", "crop", "w64"]
DAMAGED_EDITS = ["to-png", "r90"]

# Bounds, in dB. Pillow and the program both decode JPEG with libjpeg's
# defaults (the accurate integer DCT, smooth chroma upsampling): the same
# pixels, within 1 for rounding (the fast DCT the program once used agreed
# to only 35.7 to 51 dB). Only CMYK is turned into RGB in two ways, which
# agree to 54 dB on the corpus.
JPEG_INPUT_TOLERANCE = 1
CMYK_INPUT_PSNR = 50.0
# A JPEG output is held to what Pillow's own JPEG of the same reference at the
# same quality 100 reaches, less 3 dB, capped at 40: synthetic images with
# sharp colour edges lose more to chroma subsampling than photos do.
JPEG_OUTPUT_MARGIN = 3.0
JPEG_OUTPUT_CAP = 40.0
# The resize reference is ImageMagick's B-spline ("Spline"), the same kernel
# as the library's; the two differ in edge handling and rounding, which costs
# a few dB on detailed images (measured: 37 to 60 dB). Dark fringes on a
# soft-edged icon bring it to about 27, a wrong size or shift below 20.
RESIZE_PSNR = 32.0
# A 16-bit colour image with a gamma to apply: the reference corrects the
# high byte that Pillow gives, libpng the whole sample; they part most in the
# darkest shades (measured: 45 dB and more). A wrong or missing correction
# of a gamma-1.0 file is about 15 dB.
SIXTEEN_GAMMA_PSNR = 40.0


class Outcome:
    def __init__(self, case, ok, reason=""):
        self.case, self.ok, self.reason = case, ok, reason


# ---------------------------------------------------------------- reference

def png_header(path):
    """(bit depth, colour type) of a PNG file, or None."""
    with open(path, "rb") as f:
        head = f.read(29)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return head[24], head[25]


def gamma_exponent(info):
    """The exponent libpng corrects a gAMA file with for a 2.2 display
    (png_set_gamma(2.2, file gamma)), None when it leaves the samples alone.
    Gamma-aware viewers and ImageMagick show a gAMA file corrected; the
    library corrects truecolour and grey this way, so every colour type is
    held to it."""
    if "gamma" not in info or "srgb" in info:
        return None
    screen, gamma = 220000, int(math.floor(info["gamma"] * 100000 + 0.5))
    product = int(math.floor(screen * gamma / 100000 + 0.5))
    if 95000 <= product <= 105000:
        return None
    return math.floor(1e15 / gamma / screen + 0.5) * 0.00001


def gamma_table(exponent):
    """libpng's 8-bit table (png_gamma_8bit_correct)."""
    return [v if v in (0, 255) else
            int(math.floor(255 * math.pow(v / 255, exponent) + 0.5))
            for v in range(256)]


def apply_gamma(im, info):
    exponent = gamma_exponent(info)
    if exponent is None:
        return im
    # Grey of every depth as 8-bit grey: the sample widened, then corrected.
    table = gamma_table(exponent)
    bands = list(im.split())
    colour = 1 if im.mode in ("L", "LA") else 3
    for i in range(colour):
        bands[i] = bands[i].point(table)
    return Image.merge(im.mode, bands)


def widen_grey_key(im, header):
    """Pillow 9.4 widens 2 and 4-bit grey samples to 8 bits but not their
    tRNS key (15 for white at 4 bits, which no widened sample equals)."""
    key = im.info.get("transparency")
    if header is None or header[1] != 0 or header[0] not in (2, 4) or \
            im.mode != "L" or not isinstance(key, int):
        return
    top = 2 ** header[0] - 1
    if 0 < key <= top:  # a Pillow that widens it gives a multiple of 255 / top
        im.info["transparency"] = key * (255 // top)


def sixteen_bit_grey(im):
    """An 'I' image as 8-bit grey (the high byte), gamma-corrected at 16 bits
    as libpng does it, with its tRNS key as alpha."""
    values = list(im.getdata())
    exponent = gamma_exponent(im.info)
    shown = values
    if exponent is not None:
        shown = [int(math.floor(65535 * math.pow(v / 65535, exponent) + 0.5))
                 for v in values]
    grey = Image.new("L", im.size)
    grey.putdata([v >> 8 for v in shown])
    key = im.info.get("transparency")
    if key is None:
        return grey
    alpha = Image.new("L", im.size)
    alpha.putdata([0 if v == key else 255 for v in values])
    return Image.merge("LA", (grey, alpha))


def as_display(im):
    """L, LA, RGB or RGBA at 8 bits, as a viewer shows the image."""
    if im.mode in ("I", "I;16", "I;16B"):
        return sixteen_bit_grey(im)
    if im.mode == "P" or im.mode == "PA":
        return im.convert("RGBA" if "transparency" in im.info or
                          im.mode == "PA" else "RGB")
    if im.mode == "1":
        grey = im.convert("L")
        if "transparency" not in im.info:
            return grey
        key = 255 if im.info["transparency"] else 0
        return Image.merge("LA", (grey, grey.point(
            lambda v: 0 if v == key else 255)))
    if im.mode in ("L", "RGB") and "transparency" in im.info:
        return im.convert("RGBA" if im.mode == "RGB" else "LA")
    if im.mode in ("L", "LA", "RGB", "RGBA"):
        return im
    return im.convert("RGB")  # CMYK, YCbCr, RGBX


def bmp_compression(path):
    with open(path, "rb") as f:
        head = f.read(34)
    if len(head) < 34 or head[:2] != b"BM" or head[14] < 40:
        return None
    return int.from_bytes(head[30:34], "little")


def bit_field_masks(data):
    """The red, green, blue and alpha masks of a BMP whose 16, 24 or 32-bit
    pixels are bit fields (compression 3, or 6 with alpha), else None: inside
    V2 headers and later (alpha from V3 on), or behind a 40-byte one."""
    if len(data) < 34 or data[:2] != b"BM":
        return None
    info = int.from_bytes(data[14:18], "little")
    bits = int.from_bytes(data[28:30], "little")
    compression = int.from_bytes(data[30:34], "little")
    if info not in (40, 52, 56, 108, 124) or compression not in (3, 6) or \
            bits not in (16, 24, 32):  # OS/2 numbers its Huffman coding 3
        return None
    count = 4 if info >= 56 or compression == 6 else 3
    masks = [int.from_bytes(data[54 + 4 * i:58 + 4 * i], "little")
             for i in range(count)]
    return masks + [0] * (4 - count)


def widened(value, mask):
    """A channel's value as the nearest 8-bit one, whatever its width."""
    if not mask:
        return 0
    shift = (mask & -mask).bit_length() - 1
    top = mask >> shift
    return (((value & mask) >> shift) * 255 + top // 2) // top


def read_bit_fields(path):
    """A bit-field BMP read by its masks, or None for any other file. Pillow
    reads only a few mask layouts, and ImageMagick widens a channel of 2, 3
    or 4 bits by shifting it (a full 2-bit red shows as 192)."""
    with open(path, "rb") as f:
        data = f.read()
    masks = bit_field_masks(data)
    if masks is None:
        return None
    offset = int.from_bytes(data[10:14], "little")
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = int.from_bytes(data[22:26], "little", signed=True)
    step = int.from_bytes(data[28:30], "little") // 8
    row = (width * step * 8 + 31) // 32 * 4
    channels = masks if masks[3] else masks[:3]
    pixels = []
    for y in range(abs(height)):
        at = offset + (y if height < 0 else abs(height) - 1 - y) * row
        for x in range(width):
            stored = data[at + x * step:at + (x + 1) * step].ljust(step, b"\0")
            value = int.from_bytes(stored, "little")
            pixels.append(tuple(widened(value, m) for m in channels))
    im = Image.new("RGBA" if masks[3] else "RGB", (width, abs(height)))
    im.putdata(pixels)
    if masks[3] and im.getchannel("A").getextrema() == (0, 0):
        return im.convert("RGB")  # as Windows shows 32-bit BMPs
    return im


def bit_fields_round(path):
    """Whether a bit-field BMP has a channel of other than 8 bits, which a
    reader may widen or narrow rounding either way."""
    with open(path, "rb") as f:
        masks = bit_field_masks(f.read(70))
    return masks is not None and any(
        m and bin(m).count("1") != 8 for m in masks)


def bmp_profile(path):
    """The ICC profile a V5 BMP embeds (its colour space "MBED"), else None:
    Pillow does not read it."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 138 or data[:2] != b"BM" or \
            int.from_bytes(data[14:18], "little") != 124 or \
            data[70:74] != b"DEBM":  # "MBED", stored little-endian
        return None
    at = 14 + int.from_bytes(data[126:130], "little")
    size = int.from_bytes(data[130:134], "little")
    return data[at:at + size] if size and at + size <= len(data) else None


def read_with_imagemagick(path, work):
    png = os.path.join(work, "imagemagick.png")
    try:
        subprocess.run([CONVERT, path, "PNG32:" + png], check=True,
                       capture_output=True, timeout=60)
        im = Image.open(png)
        im.load()
        im = im.convert("RGBA")
    except (subprocess.SubprocessError, OSError):
        return None
    if im.getchannel("A").getextrema() == (0, 0):
        # ImageMagick reads a 32-bit BMP without an alpha mask as wholly
        # transparent; Windows shows it opaque.
        return im.convert("RGB")
    return im


class Reference:
    """An input as the reference tools read it."""

    def __init__(self, path, work):
        self.path = path
        self.image = None
        self.lossy = path.lower().endswith((".jpg", ".jpeg"))
        self.cmyk = False  # a JPEG in CMYK
        header = png_header(path)
        sixteen = header is not None and header[0] == 16
        # The high byte or the rounded value of a 16-bit sample, and a BMP
        # channel of other than 8 bits widened or narrowed by shifting, by
        # scaling or to the nearest value, are all right.
        self.tolerance = 1 if sixteen or self.bmp_bits(path) == 16 or \
            bit_fields_round(path) else 0
        # Pillow gives only the high byte of 16-bit colour: a gamma
        # correction of that is close to libpng's at 16 bits, not equal.
        self.approximate = False
        self.icc = bmp_profile(path)
        self.exif = False
        if bmp_compression(path) in (1, 2):
            # Pillow 9.4 misplaces RLE runs after a delta or end of line.
            self.image = read_with_imagemagick(path, work)
            return
        self.image = read_bit_fields(path)
        if self.image is not None:
            return
        try:
            im = Image.open(path)
            im.load()
            self.icc = im.info.get("icc_profile", self.icc)
            self.exif = "exif" in im.info
            self.cmyk = self.lossy and im.mode == "CMYK"
            widen_grey_key(im, header)
            self.image = as_display(im)  # 16-bit grey: corrected already
            if header and im.mode not in ("I", "I;16", "I;16B"):
                self.image = apply_gamma(self.image, im.info)
                self.approximate = sixteen and gamma_exponent(im.info) is not None
        except Exception:  # Pillow refuses; ImageMagick may read it
            self.image = read_with_imagemagick(path, work)

    @staticmethod
    def bmp_bits(path):
        with open(path, "rb") as f:
            head = f.read(30)
        return head[28] if len(head) == 30 and head[:2] == b"BM" else None

    def has_alpha(self):
        return self.image.mode in ("LA", "RGBA")

    def icc_space(self):
        return self.icc[16:20] if self.icc and len(self.icc) > 20 else None


def crop_box(width, height):
    return (width // 4, height // 4, max(1, width // 2), max(1, height // 2))


def resize_size(width, height):
    # The program's truncating arithmetic; a derived side keeps one pixel.
    return 64, max(1, height * 64 // width)


def resized_reference(ref, work):
    """ImageMagick's B-spline resize of the reference, weighted by alpha."""
    width, height = resize_size(*ref.image.size)
    source = os.path.join(work, "reference.png")
    target = os.path.join(work, "reference-w64.png")
    ref.image.save(source)
    subprocess.run([CONVERT, source, "-filter", "Spline", "-resize",
                    "%dx%d!" % (width, height), target], check=True,
                   capture_output=True, timeout=60)
    im = Image.open(target)
    im.load()
    return im.convert(ref.image.mode)


def edited_reference(ref, edit, work):
    im = ref.image
    if edit == "r90":
        return im.transpose(Image.Transpose.ROTATE_90)  # counter-clockwise
    if edit == "fh":
        return im.transpose(Image.Transpose.FLIP_LEFT_RIGHT)
    if edit == "fv":
        return im.transpose(Image.Transpose.FLIP_TOP_BOTTOM)
    if edit == "crop":
        x, y, w, h = crop_box(*im.size)
        return im.crop((x, y, x + w, y + h))
    if edit == "w64":
        return resized_reference(ref, work)
    return im


# ------------------------------------------------------------- comparison

def flattened(im):
    """RGB on white, as a viewer without alpha (or a JPEG) shows it."""
    im = im.convert("RGBA")
    white = Image.new("RGBA", im.size, (255, 255, 255, 255))
    return Image.alpha_composite(white, im).convert("RGB")


def psnr(a, b):
    diff = ImageChops.difference(a, b)
    squares = ImageStat.Stat(diff).sum2
    mse = sum(squares) / (a.size[0] * a.size[1] * len(squares))
    return 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)


def visible_colour_psnr(a, b, least=16):
    """PSNR of the colours themselves (not weighted by alpha) where both
    images are at least a little opaque: dark fringes on a soft edge hide in
    an alpha-weighted measure, and show here."""
    alpha = ImageChops.darker(a.getchannel("A"), b.getchannel("A"))
    mask = alpha.point(lambda v: 255 if v >= least else 0)
    diff = ImageChops.difference(a.convert("RGB"), b.convert("RGB"))
    diff = Image.composite(diff, Image.new("RGB", a.size), mask)
    count = ImageStat.Stat(mask).sum[0] / 255
    mse = sum(ImageStat.Stat(diff).sum2) / (3 * count) if count else 0
    return 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)


def largest_difference(a, b):
    return max(high for low, high in ImageChops.difference(a, b).getextrema())


def jpeg_bound(expected, work):
    trip = os.path.join(work, "reference-q100.jpg")
    expected.save(trip, quality=100)
    achieved = psnr(expected, Image.open(trip).convert("RGB"))
    return min(JPEG_OUTPUT_CAP, achieved - JPEG_OUTPUT_MARGIN)


def compare_pixels(ref, expected, out_path, out_format, edit, work):
    """'' when the output matches the expected picture, else why not."""
    try:
        got = Image.open(out_path)
        got.load()
    except Exception as error:
        return "output unreadable by Pillow: %s" % error
    got_display = as_display(got)
    if got.size != expected.size:
        return "size %dx%d, expected %dx%d" % (got.size + expected.size)
    if out_format == "jpg":
        want = flattened(expected)
        bound = jpeg_bound(want, work)
        if ref.cmyk:
            bound = min(bound, CMYK_INPUT_PSNR - JPEG_OUTPUT_MARGIN)
        value = psnr(want, flattened(got_display))
        return "" if value >= bound else "PSNR %.1f dB < %.1f" % (value, bound)
    if out_format == "bmp":
        # BMP readers show the colours and ignore a fourth byte.
        want, have = expected.convert("RGB"), got_display.convert("RGB")
    else:
        want, have = expected.convert("RGBA"), got_display.convert("RGBA")
    if edit == "w64":
        value = psnr(flattened(want), flattened(have))
        if want.mode == "RGBA":
            value = min(value, psnr(want.getchannel("A"), have.getchannel("A")),
                        visible_colour_psnr(want, have))
        return "" if value >= RESIZE_PSNR else \
            "PSNR %.1f dB < %.1f" % (value, RESIZE_PSNR)
    if ref.cmyk:
        value = psnr(flattened(want), flattened(have))
        return "" if value >= CMYK_INPUT_PSNR else \
            "PSNR %.1f dB < %.1f" % (value, CMYK_INPUT_PSNR)
    if ref.approximate:
        value = psnr(want, have)
        return "" if value >= SIXTEEN_GAMMA_PSNR else \
            "PSNR %.1f dB < %.1f" % (value, SIXTEEN_GAMMA_PSNR)
    worst = largest_difference(want, have)
    tolerance = JPEG_INPUT_TOLERANCE if ref.lossy else ref.tolerance
    return "" if worst <= tolerance else \
        "pixels differ by up to %d (PSNR %.1f dB)" % (worst, psnr(want, have))


def compare_metadata(ref, out_path, out_format):
    if out_format == "bmp":
        return ""
    info = Image.open(out_path).info
    icc = info.get("icc_profile")
    if icc and icc[16:20] == b"CMYK":
        return "CMYK profile on RGB pixels"
    if ref.icc and ref.icc_space() != b"CMYK" and icc != ref.icc:
        return "ICC profile lost"
    if ref.exif and out_format == "jpg" and "exif" not in info:
        return "EXIF data lost"
    return ""


# -------------------------------------------------------------- one case

def arguments(edit, size, name):
    if edit.startswith("to-"):
        return ["-o", "out." + edit[3:]], "out." + edit[3:]
    options = {"r90": ["-r", "90"], "fh": ["-fh"], "fv": ["-fv"],
               "w64": ["-w", "64"]}
    if edit == "crop":
        options["crop"] = ["-c"] + [str(v) for v in crop_box(*size)]
    return options[edit], name


SANITIZER_MARKS = ("ERROR: AddressSanitizer", "runtime error:",
                   "ERROR: LeakSanitizer", "SUMMARY: UndefinedBehavior")


# With ORVANE_TEST_EMULATOR set (wine64), orvane is Orvane.exe, run through it.
EMULATOR = [os.environ["ORVANE_TEST_EMULATOR"]] \
    if os.environ.get("ORVANE_TEST_EMULATOR") else []


def run_orvane(orvane, folder, args):
    env = dict(os.environ, TEMP=folder, AppData=folder)
    try:
        done = subprocess.run(EMULATOR + [orvane] + args, cwd=folder, env=env,
                              capture_output=True, timeout=120)
    except subprocess.TimeoutExpired:
        return None, "no end within 120 seconds"
    return done.returncode, done.stdout.decode(errors="replace") + \
        done.stderr.decode(errors="replace")


def case_folder(image, edit, work):
    """The case's name, and a fresh folder holding a copy of the image."""
    group, name = image.split("/")[-2:]
    folder = os.path.join(work, "cases", group, name, edit)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    shutil.copy(image, os.path.join(folder, name))
    return "%s/%s:%s" % (group, name, edit), folder


def end_fault(status, text):
    """What is wrong with how a run ended, whatever it did: no end, a
    sanitizer's report, a status other than 0 and 1, or status 1 in
    silence. '' when nothing is."""
    if status is None:
        return text
    if any(mark in text for mark in SANITIZER_MARKS):
        line = next(l for l in text.splitlines()
                    if any(m in l for m in SANITIZER_MARKS))
        return "sanitizer: " + line.strip()[:160]
    if status not in (0, 1):
        return "status %d" % status
    if status == 1 and not text.strip():
        return "status 1 without a message"
    return ""


def last_line(text):
    return text.strip().splitlines()[-1] if text.strip() else ""


def run_case(orvane, image, edit, ref, work):
    case, folder = case_folder(image, edit, work)
    name = os.path.basename(image)
    size = ref.image.size if ref and ref.image else (8, 8)
    args, output = arguments(edit, size, name)
    status, text = run_orvane(orvane, folder, args + [name])
    fault = end_fault(status, text)
    if fault:
        return Outcome(case, False, fault)
    message = last_line(text)
    if ref is None or ref.image is None:
        return Outcome(case, True)  # damaged, or no reference tool reads it
    if status == 1:
        return Outcome(case, False, "refused: " + message[:160])
    out_path = os.path.join(folder, output)
    out_format = output.rsplit(".", 1)[1].lower().replace("jpeg", "jpg")
    expected = edited_reference(ref, edit, folder)
    why = compare_pixels(ref, expected, out_path, out_format, edit, folder) or \
        compare_metadata(ref, out_path, out_format)
    if not why:
        shutil.rmtree(folder, ignore_errors=True)
    return Outcome(case, not why, why)


# --------------------------------------------------------- lossless edits

# -lossless on every JPEG: each quarter turn, both flips, a crop on the block
# grid, that crop of whole blocks then turned, and -upright. The reference
# is jpegtran doing the same single transform (with -perfect on the whole
# picture, which fails where partial blocks would have to move): Orvane must
# refuse exactly when it fails, and otherwise move the same blocks, so that
# both outputs decode alike. Then the output must show the edit made on the
# decoded original, decoded by djpeg with its float DCT and without fancy
# upsampling: exactly for flips, half turns and crops. Fancy upsampling
# leans each pair of pixels towards a different neighbour, so a flipped
# block decodes a level or two apart from the flipped pixels, though its
# coefficients are the same; and every DCT rounds differently once rows and
# columns swap (the integer ones between their column and row passes, the
# float one now and then by 1), which the colour conversion can make 2, so
# a quarter turn is held to 2.
LOSSLESS_EDITS = ["lossless-r90", "lossless-r180", "lossless-r270",
                  "lossless-fh", "lossless-fv", "lossless-crop",
                  "lossless-crop-r90", "lossless-upright"]
T = Image.Transpose
# jpegtran turns clockwise, Orvane and Pillow counter-clockwise.
TURNS = {"r90": (["-rotate", "270"], T.ROTATE_90),
         "r180": (["-rotate", "180"], T.ROTATE_180),
         "r270": (["-rotate", "90"], T.ROTATE_270),
         "fh": (["-flip", "horizontal"], T.FLIP_LEFT_RIGHT),
         "fv": (["-flip", "vertical"], T.FLIP_TOP_BOTTOM)}
# What each EXIF orientation takes to be upright.
UPRIGHT = {1: ([], None), 2: TURNS["fh"], 3: TURNS["r180"], 4: TURNS["fv"],
           5: (["-transpose"], T.TRANSPOSE), 6: TURNS["r270"],
           7: (["-transverse"], T.TRANSVERSE), 8: TURNS["r90"]}
LOSSLESS_TURN_LEVELS = 2
REFUSED = ("can't be done losslessly", "Without -lossless the photo is "
           "re-encoded.")


def jpeg_blocks(path):
    """(width, height, block width, block height) from the frame header of
    a JPEG, whose blocks (MCUs) span the largest sampling factors."""
    with open(path, "rb") as f:
        data = f.read()
    for marker, at, end in jpeg_segments(data):
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            body = data[at + 4:end]
            count = body[5]
            factors = [body[7 + 3 * i] for i in range(count)]
            h = max(f >> 4 for f in factors) if count > 1 else 1
            v = max(f & 15 for f in factors) if count > 1 else 1
            return (int.from_bytes(body[3:5], "big"),
                    int.from_bytes(body[1:3], "big"), 8 * h, 8 * v)
    return None


def jpeg_segments(data):
    """(marker, start, end) of each segment before the first scan."""
    at = 2
    while at + 4 <= len(data) and data[at] == 0xFF:
        marker = data[at + 1]
        end = at + 2 + int.from_bytes(data[at + 2:at + 4], "big")
        yield marker, at, end
        if marker == 0xDA:
            return
        at = end


def jpeg_progressive(path):
    with open(path, "rb") as f:
        data = f.read()
    return any(marker in (0xC2, 0xC6, 0xCA, 0xCE)
               for marker, _, _ in jpeg_segments(data))


def coded_part(path):
    """The bytes from the first quantization table on: the coding itself,
    whatever metadata comes before it."""
    with open(path, "rb") as f:
        data = f.read()
    for marker, start, _ in jpeg_segments(data):
        if marker == 0xDB:
            return data[start:]
    return data


def exif_orientation(path):
    try:
        value = Image.open(path).getexif().get(0x0112, 1)
    except Exception:
        return 1
    return value if value in UPRIGHT else 1


def lossless_arguments(edit, blocks, orientation):
    """Orvane's options, jpegtran's, the edit as Pillow makes it, and
    whether it swaps rows and columns."""
    width, height, bw, bh = blocks
    name = edit[len("lossless-"):]
    if name in TURNS:
        ours = ["-r", name[1:]] if name[0] == "r" else ["-" + name]
        theirs, way = TURNS[name]
        return ours, ["-perfect"] + theirs, lambda im: im.transpose(way), \
            name in ("r90", "r270")
    if name == "crop":
        x, y = width // 4 // bw * bw, height // 4 // bh * bh
        w, h = max(1, width // 2), max(1, height // 2)
        return ["-c", x, y, w, h], ["-crop", "%dx%d+%d+%d" % (w, h, x, y)], \
            lambda im: im.crop((x, y, x + w, y + h)), False
    if name == "crop-r90":
        w, h = width - width % bw, height - height % bh
        return ["-c", 0, 0, w, h, "-r", 90], \
            ["-rotate", "270", "-crop", "%dx%d+0+0" % (h, w)], \
            lambda im: im.crop((0, 0, w, h)).transpose(T.ROTATE_90), True
    theirs, way = UPRIGHT[orientation]
    return ["-upright"], ["-perfect"] + theirs, \
        lambda im: im.transpose(way) if way is not None else im, \
        orientation >= 5


def djpeg(path, *options):
    """The picture as djpeg decodes it, or None."""
    done = subprocess.run(["djpeg"] + list(options) + ["-pnm", path],
                          capture_output=True, timeout=120)
    if done.returncode != 0:
        return None
    im = Image.open(io.BytesIO(done.stdout))
    im.load()
    return im


def lossless_refusal(case, status, text, out, reference_error):
    """A refusal where jpegtran can't do it either: status 1, nothing
    written, and why."""
    if status != 1:
        return Outcome(case, False, "status %d, but jpegtran: %s" %
                       (status, reference_error[:100]))
    if os.path.exists(out):
        return Outcome(case, False, "refused, yet out.jpg written")
    if all(part in text for part in REFUSED):
        cause = text.split("losslessly: ", 1)[1]
        for end in (", and", ";", "\n"):
            cause = cause.split(end)[0]
        return Outcome(case, True, "refused: " + cause)
    if "Couldn't open input file" in text:
        return Outcome(case, True, "refused: " + last_line(text))
    return Outcome(case, False, "refused without saying why: " +
                   last_line(text)[:100])


def run_lossless_case(orvane, image, edit, work):
    case, folder = case_folder(image, edit, work)
    name = os.path.basename(image)
    out = os.path.join(folder, "out.jpg")
    ours, theirs, edited, swaps = lossless_arguments(
        edit, jpeg_blocks(image), exif_orientation(image))
    status, text = run_orvane(orvane, folder, ["-lossless"] +
                              [str(v) for v in ours] + ["-o", "out.jpg", name])
    fault = end_fault(status, text)
    if fault:
        return Outcome(case, False, fault)
    reference = os.path.join(folder, "jpegtran.jpg")
    # Optimised tables, and progressive where the photo is: the coding
    # Orvane's result must match byte for byte.
    coding = ["-optimize"] + (["-progressive"] if jpeg_progressive(image)
                              else [])
    made = subprocess.run(["jpegtran", "-copy", "all"] + coding + theirs +
                          ["-outfile", reference, image],
                          capture_output=True, timeout=120)
    if made.returncode != 0:
        return lossless_refusal(case, status, text, out,
                                made.stderr.decode(errors="replace"))
    if status != 0:
        return Outcome(case, False, "refused: " + last_line(text)[:160])
    if djpeg(out).tobytes() != djpeg(reference).tobytes():
        return Outcome(case, False, "other blocks than jpegtran moves")
    if coded_part(out) != coded_part(reference):
        return Outcome(case, False, "coded otherwise than by jpegtran "
                       "-optimize: %d bytes, jpegtran %d" %
                       (len(coded_part(out)), len(coded_part(reference))))
    want = edited(djpeg(image, "-dct", "float", "-nosmooth"))
    got = djpeg(out, "-dct", "float", "-nosmooth")
    if got.size != want.size:
        return Outcome(case, False, "size %dx%d, expected %dx%d" %
                       (got.size + want.size))
    worst = largest_difference(want.convert("RGB"), got.convert("RGB"))
    if worst > (LOSSLESS_TURN_LEVELS if swaps else 0):
        return Outcome(case, False, "pixels differ by up to %d" % worst)
    if edit == "lossless-upright" and exif_orientation(out) != 1:
        return Outcome(case, False, "Orientation not 1")
    shutil.rmtree(folder, ignore_errors=True)
    return Outcome(case, True, "exact" if worst == 0 else
                   "turned, within %d" % worst)


def lossless_summary(outcomes):
    """How the lossless cases ended: exact, within 1, refused and why."""
    counts = {}
    for o in outcomes:
        if o.ok and o.case.split(":")[-1].startswith("lossless-"):
            counts[o.reason] = counts.get(o.reason, 0) + 1
    return ["lossless: %d %s" % (n, reason.replace("|", "/")) for reason, n
            in sorted(counts.items(), key=lambda item: -item[1])]


# ----------------------------------------------------------- known faults

def read_known(path):
    """[(pattern, reason)] from 'case-or-glob  reason' lines."""
    known = []
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                parts = line.split(None, 1)
                known.append((parts[0], parts[1] if len(parts) > 1 else ""))
    return known


def known_reason(known, case):
    for pattern, reason in known:
        if fnmatch.fnmatchcase(case, pattern):
            return reason
    return None


TABLE_INTRO = """\
# Conformance

Orvane on real images: libpng's PNG suite and test PNGs, the BMP suite in
Pillow's tests, libjpeg-turbo's test images, three camera photos from
mate-backgrounds, and files derived from them with ImageMagick (Adobe RGB
JPEG and PNG, a CMYK JPEG with a CMYK profile, RGBA, grey+alpha, 16-bit, 1-
and 4-bit palettes at odd widths, ImageMagick's and RLE8 BMPs, EXIF
orientation 6). `tests/conformance/make_corpus.sh` makes the corpus from
Debian's packages into the build folder; nothing of it is committed.

Each case is one image and one edit: `-o` to PNG, JPEG and BMP, `-r 90`,
`-fh`, `-fv`, `-c` (the middle quarter) and `-w 64`. The reference is the
same edit made by Pillow (ImageMagick's B-spline for the resize,
ImageMagick's reader for RLE BMPs, which Pillow 9.4 misplaces, and the
check's own for BMP bit fields, of which Pillow reads a few layouts and
ImageMagick widens 2 to 4-bit channels short), never by FreeImage.
Lossless outputs of lossless inputs must match exactly (within 1 for 16-bit
samples and BMP channels of other than 8 bits, whose widening or narrowing
may round or shift); JPEG outputs must come within 3 dB of what Pillow's
own quality-100 JPEG of the reference reaches (at most 40 dB asked); JPEG
inputs must give Pillow's pixels within 1 (libjpeg's default decode), a CMYK one
50 dB; the resize 32 dB, on the colours
flattened on white, on alpha, and on the colours themselves where both are
at least 1/16 opaque (where dark fringes show). A PNG's gAMA is applied as
libpng applies it for a 2.2 display, to every colour type, and to grey of
every depth as to the same samples widened to 8 bits. The ICC profile
of an RGB or grey input must come out with PNG and JPEG outputs, no output
may carry a CMYK profile, and a JPEG's EXIF must stay in a JPEG. The suites'
damaged files get `-o` to PNG and `-r 90` and must end with status 0, or 1
and a message. Every case runs in the Release build and in the sanitizer
build (`Conformance.RealImages` in each), where any AddressSanitizer or
UndefinedBehaviorSanitizer report fails it.

Every JPEG also gets `-lossless` with `-r 90`, `-r 180`, `-r 270`, `-fh`,
`-fv`, a crop on its block grid, a crop to its whole blocks turned by 90,
and `-upright`. The reference is jpegtran's same single transform, with
`-perfect` on the whole picture: Orvane must refuse, with the option at
fault and why, exactly where that fails (partial blocks that would move;
a JPEG of 12 bits a sample, which neither reads), and otherwise write the
same blocks, so that both decode alike. The output must then show the
edit made on the decoded original, both decoded by djpeg with its float
DCT and without fancy upsampling: exactly for flips, half turns and
crops; within 2 levels for quarter turns, since every DCT rounds
differently once rows and columns swap, though the coefficients are the
same. With the usual decoders (fancy upsampling, integer DCT) a flip of
subsampled chroma differs by a level or two as well.

Run it on any branch, from the project's folder (as root: it installs
ImageMagick, Pillow and the packages it takes images from when missing):

    bash tests/conformance/run.sh build/orvane build [--only 'pngsuite/*:r90']
    bash tests/conformance/run.sh build/orvane build --table docs/conformance.md

Cases that fail for now are listed with their reason in
`tests/conformance/known_failures.txt`; the check expects them to fail and
reports any that passes, so that a mend removes its lines.
"""


def write_table(path, images, outcomes, known):
    passed = sum(1 for o in outcomes if o.ok)
    refused = [o for o in outcomes if not o.ok]
    lines = [TABLE_INTRO,
             "| images | cases | passed | still refused |",
             "|---|---|---|---|",
             "| %d | %d | %d | %d |" % (images, len(outcomes), passed,
                                        len(refused)), ""]
    lossless = lossless_summary(outcomes)
    if lossless:
        lines += ["## How the lossless cases that passed ended", "",
                  "| outcome | cases |", "|---|---|"]
        lines += ["| %s | %s |" % tuple(reversed(line.split(" ", 2)[1:]))
                  for line in lossless] + [""]
    if refused:
        counts = {}
        for o in refused:
            reason = known_reason(known, o.case) or "not listed"
            counts[reason] = counts.get(reason, 0) + 1
        lines += ["## Still refused, by reason", "",
                  "| reason | cases |", "|---|---|"]
        lines += ["| %s | %d |" % (r, n) for r, n in
                  sorted(counts.items(), key=lambda item: -item[1])]
        lines += ["", "## Every case still refused", "",
                  "The last column is what the run saw.", "",
                  "| case | reason | seen |", "|---|---|---|"]
        for o in sorted(refused, key=lambda o: o.case):
            reason = known_reason(known, o.case) or "not listed"
            lines.append("| `%s` | %s | %s |" % (o.case, reason,
                                                   o.reason.replace("|", "/")))
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


# ------------------------------------------------------------------ main

def all_images(corpus):
    for group in sorted(os.listdir(corpus)):
        folder = os.path.join(corpus, group)
        if os.path.isdir(folder):
            for name in sorted(os.listdir(folder)):
                if not name.startswith("."):
                    yield os.path.join(folder, name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("orvane")
    parser.add_argument("corpus")
    parser.add_argument("work")
    parser.add_argument("known")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--table")
    parser.add_argument("--only", default="*")
    options = parser.parse_args()
    known = read_known(options.known)
    orvane = os.path.abspath(options.orvane)
    work = os.path.abspath(options.work)
    os.makedirs(work, exist_ok=True)

    def image_cases(image):
        damaged = os.path.basename(os.path.dirname(image)) == "damaged"
        ref = None
        if not damaged:
            folder = os.path.join(work, "references", os.path.basename(image))
            os.makedirs(folder, exist_ok=True)
            ref = Reference(image, folder)
        results = []
        jpeg = not damaged and image.lower().endswith(".jpg")
        for edit in DAMAGED_EDITS if damaged else \
                EDITS + (LOSSLESS_EDITS if jpeg else []):
            case = "%s:%s" % ("/".join(image.split("/")[-2:]), edit)
            if not fnmatch.fnmatchcase(case, options.only):
                continue
            if edit in LOSSLESS_EDITS:
                results.append(run_lossless_case(orvane, image, edit, work))
            else:
                results.append(run_case(orvane, image, edit, ref, work))
        return results

    images = list(all_images(options.corpus))
    with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
        outcomes = [o for batch in pool.map(image_cases, images)
                    for o in batch]

    unexpected, fixed = [], []
    for o in outcomes:
        reason = known_reason(known, o.case)
        if not o.ok and reason is None:
            unexpected.append(o)
        if o.ok and reason is not None:
            fixed.append(o)
    for o in unexpected:
        print("FAIL %s: %s" % (o.case, o.reason))
    for o in fixed:
        print("PASSES NOW %s: remove it from %s" % (o.case, options.known))
    for line in lossless_summary(outcomes):
        print(line)
    passed = sum(1 for o in outcomes if o.ok)
    print("%d images, %d cases, %d passed, %d known failures, "
          "%d unexpected failures, %d known failures passing now"
          % (len(images), len(outcomes), passed, len(outcomes) - passed
             - len(unexpected), len(unexpected), len(fixed)))
    if options.table:
        write_table(options.table, len(images), outcomes, known)
    return 1 if unexpected or fixed else 0


if __name__ == "__main__":
    sys.exit(main())
