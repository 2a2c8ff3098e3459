// The floor: exactly the image-library calls orvane makes for one edit
// sequence, and nothing else. No tool built on this library can do the same
// work faster, so orvane's cost is its ratio to this program.
//
//   floor [-s <side>] [-f <filter>] <input> <output> <save flags> [edit ...]
//
// Edits: r<angle>, w<width>[x<height>], h<height>, fh, fv, c<x>,<y>,<w>,<h>.
// The formats come from the file endings, as in orvane. -s asks the JPEG load
// for a picture whose longer side is at least <side>, which the library meets
// by decoding at 1/2, 1/4 or 1/8 scale: a resize's shrink on load. The
// reduced picture's proportions are rounded, so such a resize names both
// sides, worked out from the photo's own size. -f names the resize's filter
// as orvane's -filter does (box, bilinear, bspline, bicubic, catmullrom,
// lanczos3); B-spline when not given, as in orvane.
#include <FreeImage.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

static FREE_IMAGE_FORMAT FormatOf(const char *path) {
  const char *dot = strrchr(path, '.');
  if (dot == NULL) return FIF_UNKNOWN;
  if (strcasecmp(dot, ".jpg") == 0 || strcasecmp(dot, ".jpeg") == 0)
    return FIF_JPEG;
  if (strcasecmp(dot, ".png") == 0) return FIF_PNG;
  if (strcasecmp(dot, ".bmp") == 0) return FIF_BMP;
  return FIF_UNKNOWN;
}

static FREE_IMAGE_FILTER filter = FILTER_BSPLINE;

static int FilterNamed(const char *name, FREE_IMAGE_FILTER *named) {
  static const struct {
    const char *name;
    FREE_IMAGE_FILTER filter;
  } kFilters[] = {{"box", FILTER_BOX},
                  {"bilinear", FILTER_BILINEAR},
                  {"bspline", FILTER_BSPLINE},
                  {"bicubic", FILTER_BICUBIC},
                  {"catmullrom", FILTER_CATMULLROM},
                  {"lanczos3", FILTER_LANCZOS3}};
  for (size_t i = 0; i < sizeof kFilters / sizeof kFilters[0]; i++)
    if (strcasecmp(name, kFilters[i].name) == 0) {
      *named = kFilters[i].filter;
      return 1;
    }
  return 0;
}

// A resize to one side keeps the proportions, as orvane's does.
static FIBITMAP *Rescale(FIBITMAP *image, long width, long height) {
  long W = FreeImage_GetWidth(image), H = FreeImage_GetHeight(image);
  if (width <= 0) width = W * height / H;
  if (height <= 0) height = H * width / W;
  return FreeImage_Rescale(image, (int)width, (int)height, filter);
}

static FIBITMAP *Crop(FIBITMAP *image, const char *values) {
  int x, y, w, h;
  if (sscanf(values, "%d,%d,%d,%d", &x, &y, &w, &h) != 4) return NULL;
  return FreeImage_Copy(image, x, y, x + w, y + h);
}

// Orvane asks each bitmap what it is after loading it and before each edit
// and the save, to hand the library a form it handles right; for 8 and
// 24-bit images without alpha these header reads are all it adds.
static void AskForm(FIBITMAP *image) {
  FreeImage_GetImageType(image);
  FreeImage_GetBPP(image);
  FreeImage_IsTransparent(image);
}

// What orvane hands to every bitmap that replaces another: the ICC profile,
// then the metadata and resolution.
static void Carry(FIBITMAP *from, FIBITMAP *to) {
  FIICCPROFILE *profile = FreeImage_GetICCProfile(from);
  if (profile->size > 0)
    FreeImage_CreateICCProfile(to, profile->data, profile->size);
  FreeImage_CloneMetadata(to, from);
}

// Applies one edit; returns the bitmap that is current afterwards.
static FIBITMAP *Apply(FIBITMAP *image, const char *edit) {
  FIBITMAP *next = NULL;
  AskForm(image);
  switch (edit[0]) {
    case 'r': next = FreeImage_Rotate(image, atof(edit + 1), NULL); break;
    case 'w': {
      const char *x = strchr(edit, 'x');
      next = Rescale(image, atol(edit + 1), x == NULL ? 0 : atol(x + 1));
      break;
    }
    case 'h': next = Rescale(image, 0, atol(edit + 1)); break;
    case 'c': next = Crop(image, edit + 1); break;
    case 'f':
      if (edit[1] == 'h') FreeImage_FlipHorizontal(image);
      else FreeImage_FlipVertical(image);
      return image;
  }
  if (next == NULL) {
    fprintf(stderr, "floor: %s failed\n", edit);
    exit(1);
  }
  Carry(image, next);
  FreeImage_Unload(image);
  return next;
}

static unsigned DLL_CALLCONV ReadProc(void *b, unsigned s, unsigned c,
                                      fi_handle f) {
  return (unsigned)fread(b, s, c, (FILE *)f);
}
static unsigned DLL_CALLCONV WriteProc(void *b, unsigned s, unsigned c,
                                       fi_handle f) {
  return (unsigned)fwrite(b, s, c, (FILE *)f);
}
static int DLL_CALLCONV SeekProc(fi_handle f, long o, int w) {
  return fseek((FILE *)f, o, w);
}
static long DLL_CALLCONV TellProc(fi_handle f) { return ftell((FILE *)f); }

// Saved through stdio as orvane saves, so that a failed close counts.
static int Save(FIBITMAP *image, const char *path, int flags) {
  FILE *file = fopen(path, "w+b");
  if (file == NULL) return 0;
  FreeImageIO io = {ReadProc, WriteProc, SeekProc, TellProc};
  int ok = FreeImage_SaveToHandle(FormatOf(path), image, &io, file, flags);
  return fclose(file) == 0 && ok;
}

int main(int argc, char **argv) {
  // The library takes the longer side wanted in the upper 16 bits.
  int side = 0, named = 1;
  for (; argc > 2 && argv[1][0] == '-'; argc -= 2, argv += 2) {
    if (strcmp(argv[1], "-s") == 0) side = atoi(argv[2]);
    else if (strcmp(argv[1], "-f") == 0) named = FilterNamed(argv[2], &filter);
    else break;
  }
  if (argc < 4 || side < 0 || side > 0xFFFF || !named) {
    fprintf(stderr, "usage: floor [-s side] [-f filter] input output flags "
                    "[edit ...]\n");
    return 2;
  }
  // orvane loads a JPEG with the accurate DCT and smooth chroma upsampling.
  FREE_IMAGE_FORMAT format = FormatOf(argv[1]);
  int flags = format == FIF_JPEG ? JPEG_ACCURATE | side << 16 : 0;
  FIBITMAP *image = FreeImage_Load(format, argv[1], flags);
  if (image == NULL) return 1;
  AskForm(image);
  // orvane looks at the profile after loading: its colour space must be
  // the pixels'. The photos measured have none, or an RGB one.
  if (FreeImage_GetICCProfile(image)->size > 0) FreeImage_GetColorType(image);
  for (int i = 4; i < argc; i++) image = Apply(image, argv[i]);
  AskForm(image);
  int saved = Save(image, argv[2], atoi(argv[3]));
  FreeImage_Unload(image);
  return saved ? 0 : 1;
}
