#!/usr/bin/env bash
# The layers look down only: each folder includes its own headers and those
# of the layers below it (platform, then lib, then log, then image, then
# app), the platform's primitives stay inside the platform, and only image/
# sees the image libraries, FreeImage and TurboJPEG. The build runs it too
# (cmake/LayerCheck.cmake).
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(platform lib log image app)
failed=0
for i in "${!layers[@]}"; do
  for upper in "${layers[@]:i+1}"; do
    if grep -rn "#include \"$upper/" "${layers[i]}"; then
      echo "^ ${layers[i]}/ includes a header of $upper/, a layer above it"
      failed=1
    fi
  done
done
if grep -rn '#include "platform/system.h"' lib log app; then
  echo "^ platform/system.h is the platform's own"
  failed=1
fi
if grep -rn '#include [<"]\(FreeImage\|turbojpeg\|jpeglib\|jerror\).h' platform lib log app; then
  echo "^ only image/ talks to the image libraries"
  failed=1
fi
exit $failed
