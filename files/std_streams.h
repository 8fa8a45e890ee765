// SPDX-License-Identifier: MIT
// Keeps the standard streams in their places. A program started with descriptor 0, 1 or 2
// closed (by cron, a service manager, a script's ">&-") would hand the lowest free number to
// the next file it opens: the serial port or a data file would then receive everything
// printed to that stream. Both programs call this first, before they open anything.
#pragma once

// Opens the null device on each of the three standard streams that is not open. False when
// one of them could not be filled (the streams that could be are filled all the same).
bool ensureStandardStreamsOpen();

// A reader of our output that goes away (a pager that quits, a closed pipe) costs that output,
// not the program: writes to it then fail instead of ending the process. On Windows a write
// to a closed pipe already just fails.
void ignoreBrokenPipes();
