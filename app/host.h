// What the program asks of a POSIX host before it opens anything, so that the
// console and the listing can only ever fail as writes do.
//
// A closed standard descriptor would be handed to the listing when it is
// opened, and the console's lines would land in the file; a reader that leaves
// a pipe early, or a file-size limit, would end the process by a signal in the
// middle of the listing; and a standard descriptor left non-blocking by the
// parent would turn a slow reader into lost lines and a late writer into the
// end of the input.  Windows has none of these hazards, and there this does
// nothing.
#ifndef APP_HOST_H_
#define APP_HOST_H_

// Fills each closed standard descriptor with an open file of the program's
// own that is not the listing: the null device (input for reading, output
// and error for writing), or, where there is none, a pipe whose other end is
// closed, so that a read meets the end of the input and a write fails.  Makes
// a write to a pipe with no reader, or past the file-size limit, fail with an
// error instead of raising its signal.  Commands the program starts get the
// default handling of those signals back, as any child would.
//
// A standard descriptor whose open file is non-blocking is made to block for
// the rest of the run, and stays on the very pipe, terminal or socket it was
// given.  On Linux a pipe, or a terminal that its device number names, is
// opened afresh through /proc as a blocking open file of the program's own,
// and takes the old one's place only once it has proved to be the same pipe
// or terminal; the parent's open file is never touched.  Anything else (a
// socket, a pseudo-terminal's master, /dev/tty, whose fresh open would be
// another terminal) has the flag cleared in place, and set again when the
// program ends: at exit, or on SIGHUP, SIGINT or SIGTERM, after which the
// program ends by that signal as it would have without the handler.  Only
// that flag is set again; the parent's other flags stay as it left them.
// Commands the program starts inherit the blocking descriptors.
//
// Call first, before any file is opened.
void prepare_host();

#endif  // APP_HOST_H_
