// A FreeImage.dll of the same exported names that decodes nothing, so the
// Windows program can be started under Wine where the real library is not
// installed. Every load fails, as for a file that is no image.
#include <stddef.h>

#define STUB extern "C" __declspec(dllexport)

STUB void *FreeImage_Load(int, const char *, int) { return NULL; }
STUB int FreeImage_SaveToHandle(int, void *, void *, void *, int) { return 0; }
STUB void *FreeImage_Copy(void *, int, int, int, int) { return NULL; }
STUB void *FreeImage_Rotate(void *, double, const void *) { return NULL; }
STUB int FreeImage_FlipHorizontal(void *) { return 0; }
STUB int FreeImage_FlipVertical(void *) { return 0; }
STUB void *FreeImage_Rescale(void *, int, int, int) { return NULL; }
STUB unsigned FreeImage_GetWidth(void *) { return 0; }
STUB unsigned FreeImage_GetHeight(void *) { return 0; }
STUB void FreeImage_Unload(void *) {}
