// The formats this FreeImage.dll leaves out. FreeImage numbers formats by
// their place in its registration list (BMP 0, JPEG 2, PNG 13), and callers
// pass those numbers, so every left-out plugin still registers under its own
// name, with no way to load or save: FreeImage then reports such a file as
// one it cannot read. Each has an empty extension list: the library's
// lookup by file name takes the length of every plugin's list, and a
// missing one would be strlen(NULL).
#include "FreeImage.h"
#include "Plugin.h"

static const char *DLL_CALLCONV NoExtensions() { return ""; }

#define ABSENT_PLUGIN(init, name)                                   \
  static const char *DLL_CALLCONV init##Format() { return name; }   \
  void DLL_CALLCONV init(Plugin *plugin, int) {                     \
    plugin->format_proc = init##Format;                             \
    plugin->extension_proc = NoExtensions;                          \
  }

ABSENT_PLUGIN(InitICO, "ICO")
ABSENT_PLUGIN(InitJNG, "JNG")
ABSENT_PLUGIN(InitKOALA, "KOALA")
ABSENT_PLUGIN(InitIFF, "IFF")
ABSENT_PLUGIN(InitMNG, "MNG")
ABSENT_PLUGIN(InitPNM, "PNM")  // registered as PBM, PGM, PPM and RAW forms
ABSENT_PLUGIN(InitPCD, "PCD")
ABSENT_PLUGIN(InitPCX, "PCX")
ABSENT_PLUGIN(InitRAS, "RAS")
ABSENT_PLUGIN(InitTARGA, "TARGA")
ABSENT_PLUGIN(InitTIFF, "TIFF")
ABSENT_PLUGIN(InitWBMP, "WBMP")
ABSENT_PLUGIN(InitPSD, "PSD")
ABSENT_PLUGIN(InitCUT, "CUT")
ABSENT_PLUGIN(InitXBM, "XBM")
ABSENT_PLUGIN(InitXPM, "XPM")
ABSENT_PLUGIN(InitDDS, "DDS")
ABSENT_PLUGIN(InitGIF, "GIF")
ABSENT_PLUGIN(InitHDR, "HDR")
ABSENT_PLUGIN(InitG3, "G3")
ABSENT_PLUGIN(InitSGI, "SGI")
ABSENT_PLUGIN(InitEXR, "EXR")
ABSENT_PLUGIN(InitJ2K, "J2K")
ABSENT_PLUGIN(InitJP2, "JP2")
ABSENT_PLUGIN(InitPFM, "PFM")
ABSENT_PLUGIN(InitPICT, "PICT")
ABSENT_PLUGIN(InitRAW, "RAW")
ABSENT_PLUGIN(InitWEBP, "WebP")
ABSENT_PLUGIN(InitJXR, "JPEG-XR")
