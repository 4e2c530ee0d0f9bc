// tavolen: the program with a real Wii Remote. It takes no command line.
#include "control/startup.h"
#include "platform/process.h"

int main() { EndProcess(RunTavolen()); }
