// Darvello: a window that drives the Quorlin automation component by name, the way a
// late-bound host does, and shows what it reports.
#include <windows.h>

#include "form1.hpp"
#include "handles.hpp"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  // The component is apartment-threaded and lets this thread's message loop run while it waits.
  darvello::ComApartment apartment;
  darvello::Form1 form(instance);
  return form.Run(show_command);
}
