// The console window's start-up calls. Each call's result is ignored; the
// order is the one the window layer expects.
#include "console/console.h"
#include "driver/driver.h"
#include "numeric/numeric.h"

namespace {

// System menu entries removed so the window cannot be restored, resized or
// maximised: restore, separator, size, the two last items, maximise.
constexpr int MenuItemsToDelete[] = {61728, 0, 61440, -2, -1, 61488};
constexpr int DefaultIcon = 32512;

}  // namespace

void SetUpConsoleWindow() {
    InitConsoleTools();
    ConsoleToolBar(0, 5);
    ConsoleTitle("Phonoskew");
    ConsoleIcon(DefaultIcon);
    for (int item : MenuItemsToDelete) DeleteWindowMenuItem(item);
    SetColours(Black, BrightWhite);
    ClearScreen();
    Console80x(ScreenRows);
    ConsoleMove(32767, 32767);
    // The window layer may have touched the floating-point environment.
    SetNumericEnvironment();
}
