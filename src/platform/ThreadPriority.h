// Lets the serial threads pick up bytes promptly while the main thread is busy.
#pragma once

// Lowers the calling thread's nice value by `steps`; a refusal (no privilege) is ignored.
void RaiseCurrentThreadPriority(int steps);
