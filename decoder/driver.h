// Brimread's entry: command line, set-up, the frame loop and the summary.
#pragma once

// Runs brimread with the command line `argv`; returns the exit status: -1 after
// the usage text, a bad command line, a log that cannot be opened or a restored
// file that cannot be written; 1 when buffers cannot be allocated; 0 when no
// frame was decoded; 1 after a complete run.
int brimread_main(int argc, char** argv);
