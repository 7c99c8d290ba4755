// The program's entry point. It lives apart from the framework library so that test programs, which link
// the library and bring their own main, do not get a second one.
#include "framework/app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    return AfxWinMain(instance, showCommand);
}
