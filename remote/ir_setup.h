// Switches the remote's IR camera on, loads its sensitivity settings, selects
// the 3-byte point format and reporting mode 0x33. A fixed script of output
// commands with short spins between them; nothing is read back.
#pragma once

void SetUpIrCamera();
