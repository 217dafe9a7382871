// The debugger monitor, entered when the machine stops for a break, a processor error
// or an undecoded port access.
#pragma once

// Shows the machine state; returns when the machine should run on.
void monitor_run();
