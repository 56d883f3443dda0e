// The driver's counts of one open port as a test sets them: its line-error counters and its
// output queue. The test program is linked with --wrap for ioctl, tcflush and close, so the
// serial backend's calls on the watched descriptor come here first; everything else goes on
// to the system. Natively only: a pseudo-terminal counts no line errors and never holds
// output, so no real line could show what these tests look at.
#pragma once

namespace driver_seam {

// From now on the counts of descriptor `fd` are the seam's: no line errors, an empty
// output queue. Its closing ends the watch.
void Watch(int fd);
void Release();

// Line errors the driver counts from now on, added to its counters.
struct LineErrors {
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufferOverrun = 0;
};
void CountLineErrors(const LineErrors& errors);

// Bytes in the driver's output queue. Each look at the queue finds `carriedPerLook` fewer
// (the line carries them meanwhile); 0 is a line that carries nothing.
void QueueOutput(int bytes, int carriedPerLook);

// From now on purges of the output queue fail with `error` (0: they work again), and
// discard nothing.
void FailPurges(int error);

// What happened to the output queue.
struct Record {
    bool closed = false;     // the watched descriptor was closed
    int queuedAtClose = -1;  // bytes still queued when it was
    int discarded = 0;       // bytes thrown away by a purge of the output queue
    int purges = 0;          // purges of the output queue asked for, failed ones included
    int looks = 0;           // looks at the output queue
};
Record Seen();

}  // namespace driver_seam
