// What the program asks of a POSIX host before it opens anything, so that the
// console and the listing can only ever fail as writes do.
//
// A closed standard descriptor would be handed to the listing when it is
// opened, and the console's lines would land in the file; a reader that leaves
// a pipe early, or a file-size limit, would end the process by a signal in the
// middle of the listing.  Windows has neither hazard, and there this does
// nothing.
#ifndef APP_HOST_H_
#define APP_HOST_H_

// Opens each closed standard descriptor on the null device (input for
// reading, output and error for writing), and makes a write to a pipe with no
// reader, or past the file-size limit, fail with an error instead of raising
// its signal.  Commands the program starts get the default handling of those
// signals back, as any child would.  Call first, before any file is opened.
void prepare_host();

#endif  // APP_HOST_H_
