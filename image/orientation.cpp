#include "image/orientation.h"

static const UprightWay kWaysUpright[9] = {
    {0, 0, 0},                                    // none: as stored
    {0, 0, 0}, {0, 1, 0}, {2, 0, 0}, {0, 0, 1},
    {1, 0, 1}, {3, 0, 0}, {3, 0, 1}, {1, 0, 0}};

const UprightWay *WayUpright(int orientation) {
  return &kWaysUpright[orientation >= 1 && orientation <= 8 ? orientation : 0];
}
