// The program's entry point: one installer, one run, exit code 1 whatever happened.

#include "installer/update_installer.h"

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR argumentText, int) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
  InitCommonControlsEx(&controls);
  {
    installer::UpdateInstaller updateInstaller;
    updateInstaller.Run(instance, argumentText);
  }
  return 1;
}
