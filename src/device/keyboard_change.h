// Turns a keyboard's arrival into event 109: the keyboard joined to the USB
// device it belongs to, and whether it is new to this machine. On the
// window's thread, with SetupDi and the device tree only.
#pragma once

// The arrival of a keyboard interface, by its path. Removals report nothing.
void OnKeyboardArrival(const char* pszInterfacePath);
