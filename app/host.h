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

// Opens each closed standard descriptor on the null device (input for
// reading, output and error for writing), and makes a write to a pipe with no
// reader, or past the file-size limit, fail with an error instead of raising
// its signal.  Commands the program starts get the default handling of those
// signals back, as any child would.
//
// A standard descriptor whose open file is non-blocking is made to block for
// the rest of the run, without the change reaching anyone else who holds that
// open file: a pipe or a terminal is opened afresh, as a blocking open file of
// the program's own, in its place.  Where that cannot be done (a socket, or no
// /proc), the flag is cleared in place and given back when the program exits.
// Commands the program starts inherit the blocking descriptors.
//
// Call first, before any file is opened.
void prepare_host();

#endif  // APP_HOST_H_
