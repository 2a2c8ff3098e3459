#!/usr/bin/env bash
# Runs the program on a corpus of damaged JPEG, PNG and BMP files made from its
# own sample photo, and on the inputs in damage/regressions, decoded and
# (-lossless) transformed: every run must end within its time with status 0 or
# 1, a failure must say why, no damaged input may change (unless the program
# itself saved a whole image over it), and no temporary file may stay. Then on
# bombs (JPEG frames claiming up to 65,500 x 65,500 pixels, cut far short, made
# from those and from real photos, and BMP and JPEG headers of rarer kinds),
# loaded and read for the lossless edits: each must be refused within 50 MB, and
# its time and memory are reported. Then on photos whose metadata once cost
# gigabytes or crashed the library (make_damaged --metadata, bomb-*): each
# run must end with status 0 and no warning within 100 MB and write no more
# than 1 MB.
# Then the outputs of photos whose metadata an edit or -strip once left untrue
# or kept, or that stands where viewers don't read it (behind a JPEG's first
# scan), as exiftool reads them. Last, real photos cut at 10% to 90%: each
# one the JPEG library still decodes must be accepted, and one it decodes
# with a warning must say so once. Installs the photos (mate-backgrounds),
# djpeg, exiftool and GNU time when missing (run as root).
# Usage: damaged_images.sh orvane make_damaged sample.jpg [seconds-per-run]
# With ORVANE_TEST_EMULATOR set (wine64), orvane is Orvane.exe, run through it.
set -euo pipefail
orvane=$(realpath "$1") make_damaged=$(realpath "$2") sample=$(realpath "$3")
limit=${4:-30}
photos=/usr/share/backgrounds/mate

need=()
[ -d $photos ] || need+=(mate-backgrounds)
[ -x /usr/bin/djpeg ] || need+=(libjpeg-turbo-progs)
[ -x /usr/bin/time ] || need+=(time)
[ -x /usr/bin/exiftool ] || need+=(libimage-exiftool-perl)
if ((${#need[@]} > 0)); then
  apt-get update >/dev/null &&
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${need[@]}" >/dev/null || { echo "could not install ${need[*]}"; exit 1; }
fi
run=(${ORVANE_TEST_EMULATOR:+"$ORVANE_TEST_EMULATOR"} "$orvane")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/good" "$work/damaged" "$work/run" "$work/temp" "$work/appdata"
export TEMP=$work/temp AppData=$work/appdata PATH=/usr/bin:/bin
export ORVANE_TEST_TEMP=$TEMP  # Wine's TEMP, in the suite's prefix

# The good files, made by the program itself from the sample photo.
"${run[@]}" -w 200 -o "$work/good/photo.jpg" "$sample" >/dev/null &&
"${run[@]}" -w 180 -oq 8282 -o "$work/good/progressive.jpg" "$sample" >/dev/null &&
"${run[@]}" -w 160 -o "$work/good/photo.png" "$sample" >/dev/null &&
"${run[@]}" -w 120 -o "$work/good/photo.bmp" "$sample" >/dev/null || {
  echo "could not make the good files"; exit 1; }
"$make_damaged" "$work/damaged" "$work"/good/* || exit 1
# Inputs that once found a fault inside the image library, each named for
# what it holds; they are also turned and saved as JPEG.
regressions=$(cd "$(dirname "$0")" && pwd)/damage/regressions
cp "$regressions"/* "$work/damaged/"
mkdir "$work/damaged/folder.jpg"

files=0 runs=0 ok=0 refused=0 failures=0 slowest=0 slowest_run=
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# One run on a copy of the damaged file; $1 names the file, the rest are the
# options that go before it.
check_run() {
  local name=$1; shift
  rm -rf "$work/run" && mkdir "$work/run"
  cp -r "$work/damaged/$name" "$work/run/$name"
  local before
  before=$(cd "$work/run" && find . -type f -exec sha256sum {} + | sort)
  local status=0 started elapsed
  started=$(date +%s%N)
  (cd "$work/run" && timeout -s KILL "$limit" "${run[@]}" "$@" "$name" \
      >"$work/out" 2>"$work/err") || status=$?
  elapsed=$((($(date +%s%N) - started) / 1000000))
  if [ "$elapsed" -gt "$slowest" ]; then
    slowest=$elapsed slowest_run="$* $name"
  fi
  runs=$((runs + 1))
  local after
  after=$(cd "$work/run" && find . -type f -exec sha256sum {} + | sort)
  local names
  names=$(cd "$work/run" && ls -A)
  case $status in
    0)
      ok=$((ok + 1))
      if [ "$1" = -fh ] && [ "$before" != "$after" ]; then
        # Saved over: what is there now must be a whole image.
        (cd "$work/run" && "${run[@]}" -o check.bmp "$name" >/dev/null 2>&1) ||
          fail "$name: saved over, but the result does not load"
      fi ;;
    1)
      refused=$((refused + 1))
      [ -s "$work/err" ] || [ -s "$work/out" ] ||
        fail "$name ($*): status 1 without a message"
      [ "$before" = "$after" ] || fail "$name ($*): failed, yet files changed"
      [ "$names" = "$name" ] || fail "$name ($*): left behind: $names" ;;
    137) fail "$name ($*): still running after ${limit}s" ;;
    *) fail "$name ($*): status $status: $(head -c 300 "$work/err")" ;;
  esac
}

for path in "$work"/damaged/*; do
  name=$(basename "$path")
  files=$((files + 1))
  check_run "$name" -r 90 -o out.png
  check_run "$name" -fh
  # A transpose moves no partial block, so every JPEG gets to TurboJPEG.
  check_run "$name" -lossless -fh -r 90 -o out.jpg
  [ ! -f "$regressions/$name" ] || check_run "$name" -r 33 -o out.jpg
done

echo "damaged files: $files, runs: $runs, saved: $ok, refused with a message: $refused, failures: $failures"
echo "slowest run: ${slowest} ms ($slowest_run)"

# ---- Bombs: every one refused; how long and how much memory it took ----

mkdir "$work/bombs"
"$make_damaged" --bombs "$work/bombs" "$work/good/photo.jpg" \
  "$work/good/progressive.jpg" $photos/nature/Blinds.jpg \
  $photos/nature/Aqua.jpg $photos/abstract/Elephants.jpg \
  $photos/nature/FreshFlower.jpg || exit 1
bombs=0 bomb_ms=() bomb_cpu=0 bomb_kb=0 bomb_slowest=
for path in "$work"/bombs/*; do
  name=$(basename "$path")
  # Loaded, and read for the lossless edits: both judge the file first.
  for options in "-o out.png" "-lossless -fh -r 90 -o out.jpg"; do
    rm -rf "$work/run" && mkdir "$work/run"
    cp "$path" "$work/run/$name"
    status=0 started=$(date +%s%N)
    # shellcheck disable=SC2086  # the options are words
    (cd "$work/run" && timeout -s KILL "$limit" /usr/bin/time -f "%U %S %M" \
        -o "$work/usage" "${run[@]}" $options "$name" >"$work/out" \
        2>"$work/err") || status=$?
    elapsed=$((($(date +%s%N) - started) / 1000000))
    bombs=$((bombs + 1))
    if [ "$status" != 1 ] ||
       ! grep -q "Couldn't open input file: $name" "$work/err"; then
      fail "bomb $name ($options): status $status, not refused:" \
           "$(head -c 300 "$work/err")"
      continue
    fi
    cmp -s "$path" "$work/run/$name" || fail "bomb $name: changed"
    [ "$(ls -A "$work/run")" = "$name" ] ||
      fail "bomb $name ($options): left files behind"
    # GNU time puts a line about the exit status first.
    read -r user system kb < <(tail -n 1 "$work/usage")
    cpu=$(awk "BEGIN { print int(($user + $system) * 1000 + 0.5) }")
    bomb_ms+=("$elapsed")
    # A refusal costs no more than start-up (Wine's own start-up is larger).
    if [ -z "${ORVANE_TEST_EMULATOR:-}" ] && [ "$kb" -gt $((50 * 1024)) ]; then
      fail "bomb $name ($options): $((kb / 1024)) MB resident to refuse it"
    fi
    [ "$cpu" -le "$bomb_cpu" ] || bomb_cpu=$cpu
    [ "$kb" -le "$bomb_kb" ] || bomb_kb=$kb
    if [ "$elapsed" -ge "${bomb_max:-0}" ]; then
      bomb_max=$elapsed bomb_slowest="$options $name"
    fi
  done
done
median=$(printf '%s\n' "${bomb_ms[@]}" | sort -n |
         awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
echo "bombs: $bombs, refused: ${#bomb_ms[@]}; elapsed median ${median} ms," \
     "slowest ${bomb_max:-0} ms ($bomb_slowest); most CPU ${bomb_cpu} ms;" \
     "largest resident $((bomb_kb / 1024)) MB"

# ---- Metadata bombs: photos whose metadata once cost gigabytes ----

# Each run is watched and killed once it holds more than twice what it may,
# so that one the program still lets through costs the machine no more.
most_kb=$((100 * 1024))
[ -z "${ORVANE_TEST_EMULATOR:-}" ] || most_kb=$((400 * 1024))
mkdir "$work/metadata"
"$make_damaged" --metadata "$work/metadata" >/dev/null || exit 1
# Runs the program on $work/run/$1 with the options after it; sets status
# (137 when killed) and peak_kb, the most it held.
watched_run() {
  local name=$1; shift
  (cd "$work/run" && exec "${run[@]}" "$@" "$name") >"$work/out" \
    2>"$work/err" &
  local pid=$! kb ticks=0
  peak_kb=0 status=0
  while kill -0 "$pid" 2>/dev/null; do
    kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null) || kb=
    [ -z "$kb" ] || [ "$kb" -le "$peak_kb" ] || peak_kb=$kb
    if [ "$peak_kb" -gt $((2 * most_kb)) ] || [ $ticks -ge $((limit * 20)) ]
    then
      kill -KILL "$pid" 2>/dev/null || true
    fi
    sleep 0.05
    ticks=$((ticks + 1))
  done
  wait "$pid" || status=$?
}
metadata_runs=0 metadata_kb=0
for path in "$work"/metadata/bomb-*; do
  name=$(basename "$path")
  for options in "-o out.png" "-strip -o out.jpg" "-lossless -strip -fh -o out.jpg"
  do
    rm -rf "$work/run" && mkdir "$work/run"
    cp "$path" "$work/run/$name"
    # shellcheck disable=SC2086  # the options are words
    watched_run "$name" $options
    metadata_runs=$((metadata_runs + 1))
    [ "$peak_kb" -le "$metadata_kb" ] || metadata_kb=$peak_kb
    what="metadata bomb $name ($options)"
    # Each is a sound picture: loaded without a warning, refused only by
    # -lossless when it is no JPEG.
    case $status in
      0) ! grep -q "^Orvane Ver [0-9.]*: Warning" "$work/err" ||
           fail "$what: warned: $(head -c 300 "$work/err")" ;;
      1) [[ $options == -lossless* && $name != *.jpg ]] ||
           fail "$what: status 1: $(head -c 300 "$work/err")" ;;
      137) fail "$what: killed at $((peak_kb / 1024)) MB or ${limit}s" ;;
      *) fail "$what: status $status: $(head -c 300 "$work/err")" ;;
    esac
    [ "$peak_kb" -le "$most_kb" ] ||
      fail "$what: $((peak_kb / 1024)) MB resident"
    cmp -s "$path" "$work/run/$name" || fail "$what: the input changed"
    # What is written holds the picture, not the metadata's bulk.
    for out in "$work"/run/out.*; do
      [ ! -f "$out" ] || [ "$(stat -c %s "$out")" -le 1048576 ] ||
        fail "$what: wrote $(stat -c %s "$out") bytes"
    done
  done
done
echo "metadata bombs: $metadata_runs runs; largest resident" \
     "$((metadata_kb / 1024)) MB"

# ---- Metadata faults: what each output says of itself, as exiftool reads it
# Nothing from behind a JPEG's first scan (LATE-SECRET) or its EOI, nor what
# points there (TRAILER-SECRET); nothing -strip leaves out (STRIP-SECRET),
# nothing of the picture before an edit (OLD-PICTURE); every orientation
# one, 1 after -upright; every size field (EXIF's, Interop's, XMP's, a
# panorama's) the picture's; no thumbnail nor subject area after a geometry
# edit; no profile whose chunks make none for the picture (icc-*); at most
# one comment in a JPEG made from a PNG.
metadata_checks=0
for path in "$work"/metadata/*; do
  name=$(basename "$path")
  case $name in bomb-*) continue ;; esac
  for options in "-o out.jpg" "-strip -o out.jpg" "-r 90 -o out.jpg" \
                 "-upright -o out.jpg" "-w 16 -o out.png" "-strip -o out.png" \
                 "-c 0 0 4 4 -o out.jpg" "-lossless -r 90 -o out.jpg" \
                 "-lossless -c 0 0 16 16 -o out.jpg" "-lossless -o out.jpg"; do
    [[ $name == *.jpg || $options != -lossless* ]] || continue
    rm -rf "$work/run" && mkdir "$work/run"
    cp "$path" "$work/run/$name"
    what="metadata $name ($options)"
    # shellcheck disable=SC2086  # the options are words
    (cd "$work/run" && timeout -s KILL "$limit" "${run[@]}" $options "$name" \
       >"$work/out" 2>"$work/err") || { fail "$what: $(head -c 300 "$work/err")"
                                         continue; }
    out=$(ls "$work"/run/out.*)
    metadata_checks=$((metadata_checks + 1))
    tags=$(exiftool -a -u -s -G1 -n "$out")
    secrets="LATE-SECRET|TRAILER-SECRET"
    [[ $options != -strip* ]] || secrets="$secrets|STRIP-SECRET"
    [[ $options != *-[rcw]\ * ]] || secrets="$secrets|OLD-PICTURE"
    ! grep -aqE "$secrets" <<<"$tags" || fail "$what: exiftool reads $secrets"
    ! grep -aqE "$secrets" "$out" || fail "$what: holds $secrets"
    value() { awk -v tag="$1" '$2 == tag { print $4 }' <<<"$tags" | sort -u; }
    turns=$({ value Orientation; value ExifOrientation; } | sort -u | xargs)
    [[ $options != -upright* || $turns == 1 || -z $turns ]] ||
      fail "$what: orientations $turns after -upright"
    [ "$(wc -w <<<"$turns")" -le 1 ] ||
      fail "$what: orientations $turns disagree"
    # The picture's size as the file's own header gives it.
    picture() { awk -v tag="$1" '($1 == "[File]" || $1 == "[PNG]") &&
                                 $2 == tag { print $4 }' <<<"$tags"; }
    for size in ImageWidth ExifImageWidth RelatedImageWidth \
                CroppedAreaImageWidthPixels FullPanoWidthPixels \
                ImageHeight ExifImageHeight RelatedImageHeight \
                CroppedAreaImageHeightPixels FullPanoHeightPixels; do
      side=ImageWidth
      [[ $size != *Height* ]] || side=ImageHeight
      for said in $(value "$size"); do
        [ "$said" = "$(picture $side)" ] ||
          fail "$what: $size $said, the picture's $side $(picture $side)"
      done
    done
    [[ $options != *-r* && $options != *-w* ]] ||
      [ -z "$(value ThumbnailLength)$(value SubjectArea)" ] ||
      fail "$what: keeps a thumbnail or the subject's place"
    [[ $name != icc-* ]] || ! grep -aqE "ICC_PROFILE|iCCP" "$out" ||
      fail "$what: keeps a profile that fits no picture"
    [[ $name != *.png || $out != *.jpg ]] ||
      [ "$(grep -c '^\[File\] *Comment ' <<<"$tags")" -le 1 ] ||
      fail "$what: more than one comment"
  done
done
echo "metadata faults: $metadata_checks outputs read by exiftool"

# ---- Real photos cut at 10% to 90%: what the library decodes, accepted ----

cuts=0 decodable=0 accepted=0
for photo in $photos/*/*.jpg; do
  size=$(stat -c %s "$photo")
  [ "$size" -le 2000000 ] || continue  # the largest add time, not cases
  for percent in 10 19 20 30 40 50 60 70 80 90; do
    name=$(basename "$photo" .jpg)-$percent.jpg
    rm -rf "$work/run" && mkdir "$work/run"
    head -c $((size * percent / 100)) "$photo" >"$work/run/$name"
    cuts=$((cuts + 1))
    decoder=0
    /usr/bin/djpeg -outfile /dev/null "$work/run/$name" 2>/dev/null ||
      decoder=$?
    status=0
    (cd "$work/run" && timeout -s KILL "$limit" "${run[@]}" -o out.bmp \
        "$name" >"$work/out" 2>"$work/err") || status=$?
    # djpeg's status 2: it warned, and the user must hear of it once.
    told=$(grep -c "^Orvane Ver [0-9.]*: Warning: $name is damaged: " \
      "$work/err" || true)
    [ "$status" != 0 ] || [ "$told" = $((decoder / 2)) ] ||
      fail "$name: djpeg's status $decoder, told of damage $told times:" \
           "$(head -c 300 "$work/err")"
    case $decoder/$status in
      [02]/0) decodable=$((decodable + 1)) accepted=$((accepted + 1)) ;;
      [02]/*) decodable=$((decodable + 1))
              fail "$name: the library decodes it, yet status $status:" \
                   "$(head -c 300 "$work/err")" ;;
      1/[01]) ;;
      *) fail "$name: status $status: $(head -c 300 "$work/err")" ;;
    esac
  done
done
echo "real photos cut at 10% to 90%: $cuts cuts, the library decodes" \
     "$decodable, accepted $accepted"
[ "$failures" = 0 ]
