// Who is logged on at the machine's console, for the events' record of who
// was there when a device came or went.
#pragma once

#include "eventlog/event_text.h"

// The user of the active console session as "DOMAIN\user"; empty when no
// session is attached to the console or nobody is logged on there.
void ReadConsoleUser(char (&szUser)[CONSOLE_USER_SIZE]);
