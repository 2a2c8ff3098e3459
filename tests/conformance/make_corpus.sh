#!/usr/bin/env bash
# Makes the conformance corpus from Debian's own packages: libpng's PNG suite
# and test PNGs, the BMP suite in Pillow's tests, libjpeg-turbo's test images,
# three camera photos from mate-backgrounds, and files derived from them with
# ImageMagick in the forms users meet (profiles, CMYK, alpha, 16 bits,
# palettes, BMP headers, EXIF orientation, JPEG samplings). Nothing of it is
# committed.
# Installs what it needs when missing (run as root). A second run with the
# corpus in place only prints its folder.
# Usage: tests/conformance/make_corpus.sh OUT-FOLDER [SOURCE-CACHE]
#   OUT-FOLDER/images/<group>/<file>  the images; group "damaged" holds the
#   suites' corrupt files, which only have to be refused cleanly.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
cache=${2:-$out/sources}
convert=/usr/bin/convert

# Bumped whenever the list below changes, so an old corpus is made anew.
version=7
if [ "$(cat "$out/images/.made" 2>/dev/null)" = "$version" ]; then
  echo "$out/images"
  exit 0
fi

packages="imagemagick icc-profiles-free libgs-common mate-backgrounds
          python3-pil dpkg-dev libjpeg-turbo-progs"
if ! dpkg -s $packages >/dev/null 2>&1; then
  apt-get update >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    -o DPkg::Lock::Timeout=600 $packages >&2
fi

libpng=$(bash "$here/../../tools/debian_source.sh" libpng1.6 "$cache")
pillow=$(bash "$here/../../tools/debian_source.sh" pillow "$cache")
jpeg=$(bash "$here/../../tools/debian_source.sh" libjpeg-turbo "$cache")

rm -rf "$out/images"
img=$out/images
mkdir -p "$img"/{pngsuite,gamma,bmpsuite,jpeg,camera,derived,damaged}

# libpng's suite: every basic, filter, transparency and interlaced file.
cp "$libpng"/contrib/pngsuite/*.png "$img/pngsuite/"
for f in "$libpng"/contrib/pngsuite/interlaced/*.png; do
  cp "$f" "$img/pngsuite/interlaced-$(basename "$f")"
done
# The same pictures in every colour type with a linear and a 1.8 gamma: the
# gAMA chunk must act alike whatever the colour type.
for kind in gray-8 rgb-8 palette-1 palette-4 palette-8 rgb-alpha-8 gray-16; do
  for gamma in linear 1.8; do
    cp "$libpng/contrib/testpngs/$kind-$gamma.png" "$img/gamma/"
  done
done
cp "$libpng"/contrib/testpngs/crashers/*.png "$img/damaged/"

# The BMP suite: g/ good, q/ questionable (loaded or refused, never a
# crash), b/ bad.
for f in "$pillow"/Tests/images/bmp/g/*.bmp; do cp "$f" "$img/bmpsuite/"; done
for f in "$pillow"/Tests/images/bmp/q/*.bmp; do
  cp "$f" "$img/bmpsuite/q-$(basename "$f")"
done
cp "$pillow"/Tests/images/bmp/b/*.bmp "$img/damaged/"

# libjpeg-turbo's test images, the 12-bit one included (a refusal is fine).
cp "$jpeg"/testimages/{testorig,testimgint,testimgari,testorig12}.jpg \
   "$jpeg"/testimages/vgl_*.bmp "$img/jpeg/"

# Camera photos with their EXIF data, at their own size.
for f in Blinds Dune Storm; do
  cp "/usr/share/backgrounds/mate/nature/$f.jpg" "$img/camera/"
done

# Derived files, from a 401-pixel-wide slice of a photo: an odd width finds
# the row-padding faults of packed pixels.
d=$img/derived
photo=/usr/share/backgrounds/mate/nature/Dune.jpg
base="$d/.base.png"
$convert "$photo" -resize 401x -crop 401x267+0+0 +repage -strip "$base"
icc=/usr/share/color/icc
$convert "$base" -profile "$icc/sRGB.icc" \
  -profile "$icc/compatibleWithAdobeRGB1998.icc" -quality 92 "$d/adobe-rgb.jpg"
$convert "$base" -profile "$icc/sRGB.icc" \
  -profile "$icc/compatibleWithAdobeRGB1998.icc" "$d/adobe-rgb.png"
$convert "$base" -profile "$icc/sRGB.icc" \
  -profile "$icc/ghostscript/default_cmyk.icc" -quality 92 "$d/cmyk.jpg"
$convert "$base" -alpha set -define png:color-type=6 "$d/rgba-opaque.png"
# An icon with soft (antialiased) edges on transparent black, as icon
# editors store it.
$convert -size 256x256 xc:none -fill '#2a8f3c' -draw 'circle 128,128 128,20' \
  -background black -alpha background -define png:color-type=6 \
  "$d/rgba-soft-icon.png"
$convert "$base" -colorspace Gray \( -size 401x267 gradient:white-black \) \
  -alpha off -compose CopyOpacity -composite -define png:color-type=4 \
  "$d/grey-alpha.png"
$convert "$base" -depth 16 -define png:bit-depth=16 "$d/rgb-16.png"
$convert "$base" -colorspace Gray -depth 16 -define png:bit-depth=16 \
  -define png:color-type=0 "$d/grey-16.png"
# A two-colour logo (navy and yellow, 1 bit: ImageMagick won't write a
# 1-bit or 4-bit palette of these, Pillow does) and a 16-colour picture, odd widths.
$convert -size 401x120 xc:'#1a2a6c' +antialias -fill '#ffd200' \
  -draw 'rectangle 20,20 180,100' -draw 'circle 300,60 300,20' -colors 2 \
  "$d/palette-1-logo.png"
/usr/bin/python3 -c 'import sys; from PIL import Image
Image.open(sys.argv[1]).convert("RGB").quantize(2).save(sys.argv[1], bits=1)
' "$d/palette-1-logo.png"
/usr/bin/python3 -c 'import sys; from PIL import Image
Image.open(sys.argv[1]).quantize(16).save(sys.argv[2])' "$base" \
  "$d/palette-4.png"
$convert "$base" -colors 16 -type Palette BMP3:"$d/palette-4.bmp"
$convert "$base" "$d/imagemagick-default.bmp"
$convert "$base" -colors 200 -type Palette -compress RLE BMP3:"$d/rle8.bmp"
$convert "$base" -alpha set -channel A -evaluate set 50% +channel \
  "$d/imagemagick-rgba.bmp"
# A camera photo turned by its EXIF tag, the way phones save portraits.
$convert "$photo" -resize 401x -orient RightTop -quality 92 \
  "$d/orientation-6.jpg"
$convert "$base" -colorspace Gray -quality 92 "$d/grey.jpg"
# JPEGs in the other samplings whose blocks the lossless edits move: one
# progressive in whole blocks, as large photos are often stored, and two in
# partial ones.
$convert "$base" -crop 400x248+0+0 +repage -sampling-factor 2x1 \
  -interlace JPEG -quality 92 "$d/progressive-422.jpg"
$convert "$base" -sampling-factor 1x2 -quality 92 "$d/sampling-440.jpg"
$convert "$base" -sampling-factor 4x1 -quality 92 "$d/sampling-411.jpg"
# An 8-bit BMP as Pillow writes it.
/usr/bin/python3 -c 'import sys; from PIL import Image
Image.open(sys.argv[1]).quantize(200).save(sys.argv[2])' "$base" \
  "$d/pillow-pal8.bmp"
rm -f "$base"

echo "$version" > "$img/.made"
echo "$img"
