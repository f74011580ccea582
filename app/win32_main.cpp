// zorvik-discovery.exe: the desktop window.
#include <windows.h>
#include <commctrl.h>

#include "window_program.hpp"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    // Buttons drawn with the system's visual styles (common controls 6, from the manifest).
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    return zorvik::win32::WindowProgram().exec(showCommand);
}
