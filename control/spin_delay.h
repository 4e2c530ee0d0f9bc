// A wait that keeps the processor: for the short, exact pauses of the remote's
// set-up and of start-up. Returns as soon as strictly more than ms
// milliseconds have passed.
#pragma once

void SpinDelay(double ms);
