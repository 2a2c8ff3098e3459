#!/usr/bin/env bash
# Runs README's GNU parallel recipes for many photos. With this machine (":")
# as its only host: every photo's result lands in the output folder, the
# photos stay as they were, and the job log lets a second run skip what is
# done and retry what failed. The web copies of a camera's folder: JPEG, PNG
# and BMP photos named in either letter case, each written to the output
# folder under its own name and format at one quality, none refused.
# Installs GNU parallel when missing (as root).
# Usage: batch_test.sh orvane sample.jpg
set -euo pipefail
orvane=$(realpath "$1") sample=$(realpath "$2")
if ! command -v parallel >/dev/null; then
  apt-get update >/dev/null &&
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    -o DPkg::Lock::Timeout=600 parallel >/dev/null || { echo "could not install parallel"; exit 1; }
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/photos"
ln -s "$orvane" "$work/bin/orvane"  # the recipe calls it by name
export PATH=$work/bin:$PATH
cd "$work/photos"
for width in 120 160 200; do
  orvane -w $width -o "$width.jpg" "$sample" >/dev/null
done
orvane -r 90 -o 'turned photo.jpg' "$sample" >/dev/null
echo 'not a photo' >damaged.jpg
good=(120.jpg 160.jpg 200.jpg 'turned photo.jpg')

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# README's recipe, "here" with two slots for its hosts; $1 the resume option.
recipe() {
  mkdir -p small && touch small/.keep
  find . -maxdepth 1 -name '*.jpg' -print0 |
    parallel -0 -S 2/: --bf small/.keep --trc small/{/} \
      --joblog small/jobs.log "$1" orvane -w 64 -o small/{/} {} 2>/dev/null
}
# How many jobs of the log name photo $1 (as parallel quotes it) with status $2.
logged() { awk -F'\t' -v name="$1" -v status="$2" \
  'NR > 1 && index($NF, name) && $7 == status' small/jobs.log | wc -l; }
# A result's width, read from the BMP that orvane makes of it.
width() { orvane -o "$work/check.bmp" "$1" >/dev/null &&
          od -An -tu4 -j18 -N4 "$work/check.bmp" | tr -d ' '; }
sums() { sha256sum ./*.jpg; }

before=$(sums)
status=0
recipe --resume-failed || status=$?
[ "$status" = 1 ] || fail "first run: status $status, not 1 (one photo failed)"
for name in "${good[@]}"; do
  [ "$(width "small/$name")" = 64 ] || fail "small/$name is not 64 wide"
done
[ ! -e small/damaged.jpg ] || fail "the damaged photo has a result"
[ "$(sums)" = "$before" ] || fail "the photos changed"
for name in "${good[@]}" damaged.jpg; do
  status=0
  [ "$name" != damaged.jpg ] || status=1
  [ "$(logged "$name" $status)" = 1 ] ||
    fail "the job log does not give $name status $status"
done
[ "$(wc -l <small/jobs.log)" = 6 ] || fail "the job log holds other jobs"

results=$(cd small && sha256sum ./*.jpg)
recipe --resume || fail "--resume: status $?"
[ "$(wc -l <small/jobs.log)" = 6 ] || fail "--resume ran jobs again"
[ "$(cd small && sha256sum ./*.jpg)" = "$results" ] ||
  fail "--resume changed results"

cp 120.jpg damaged.jpg  # mended
recipe --resume-failed || fail "--resume-failed: status $?"
[ "$(tail -n 1 small/jobs.log | cut -f7)" = 0 ] &&
  [ "$(wc -l <small/jobs.log)" = 7 ] ||
  fail "--resume-failed did not retry only the failed photo"
[ "$(width small/damaged.jpg)" = 64 ] || fail "the mended photo has no result"
cmp -s 120.jpg damaged.jpg || fail "the mended photo changed"

mkdir "$work/camera"
cd "$work/camera"
cp "$sample" IMG_0001.JPG
cp "$sample" 'holiday photo.jpeg'
orvane -o IMG_0002.PNG "$sample" >/dev/null
orvane -o scan.bmp "$sample" >/dev/null
before=$(sha256sum ./*.*)
status=0
mkdir -p web
find . -maxdepth 1 \( -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.png' \
  -o -iname '*.bmp' \) -print0 |
  parallel -0 --bar orvane -upright -strip -filter Lanczos -w 1600 -oq 85 \
    -o web/ {} 2>/dev/null || status=$?
[ "$status" = 0 ] || fail "web copies: status $status, not 0"
for name in IMG_0001.JPG 'holiday photo.jpeg' IMG_0002.PNG scan.bmp; do
  [ "$(width "web/$name")" = 1600 ] || fail "web/$name is not 1600 wide"
done
[ "$(head -c 4 web/IMG_0002.PNG | tail -c 3)" = PNG ] ||
  fail "web/IMG_0002.PNG is no PNG"
[ "$(sha256sum ./*.*)" = "$before" ] || fail "the camera's photos changed"
[ "$failures" = 0 ] && echo "the batch recipes passed"
