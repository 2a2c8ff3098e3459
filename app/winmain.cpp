// The Windows entry of a graphical-subsystem program: no console window.
#include <windows.h>

#include "app/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail,
                   int show) {
  return AppMain(instance, previous, tail, show);
}
