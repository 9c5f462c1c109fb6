// Brimread's entry: command line, set-up, the frame loop and the summary.
#pragma once

// Runs brimread with the command line `argv`; returns the exit status: -1 after
// the usage text, a bad command line, buffers that cannot be allocated, a log
// that cannot be opened, a restored file that cannot be written, or a -startfile
// name that never came; 0 when no frame was decoded; 1 after a complete run.
int brimread_main(int argc, char** argv);
