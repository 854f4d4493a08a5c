// What the program asks of its host before it opens anything, so that the
// console and the listing can only ever fail as writes do, and a console
// descriptor that would block is waited for rather than lost.
//
// On a POSIX host, three hazards come with the process's standard
// descriptors, and each is met without changing anything that the parent
// shares with the program:
//
//   - A closed standard descriptor would be handed to the listing when it is
//     opened, and the console's lines would land in the file.  Each is filled
//     with an open file of the program's own: the null device (input for
//     reading, output and error for writing), or, where there is none, a pipe
//     whose other end is closed, so that a read meets the end of the input
//     and a write fails.
//   - A reader that leaves a pipe early, or a file-size limit, would end the
//     process by a signal in the middle of the listing.  SIGPIPE and SIGXFSZ
//     are caught instead, so that the write fails with an error; commands
//     that the program starts get their default handling back, as any child
//     would.
//   - The parent may have left a standard descriptor non-blocking (event
//     loops do, on descriptors that they share with their children), and may
//     set the flag again at any moment: it belongs to the open file, not to
//     the program.  std::cin and std::cout therefore read and write
//     descriptors 0 and 1 through stream buffers of the host's own.  A call
//     that would block waits with poll(2) until the descriptor is ready and
//     is made again; a call interrupted by a signal is made again; a write
//     goes on after a partial write until everything flushed is out.  End of
//     input and read errors end the input; any other write error fails the
//     stream.  Each flush is one write call, and a second only for what a
//     descriptor did not take the first time.
//
// No descriptor's flags, and no terminal's settings, are changed, so there
// is nothing to give back however the process ends, and commands that the
// program starts inherit the descriptors as the parent gave them.
//
// Windows has none of these hazards (its console never answers "try again"),
// and there the standard streams keep the standard library's own buffers.
//
// Call first, before anything is read, written or opened.
#ifndef APP_HOST_H_
#define APP_HOST_H_

void prepare_host();

#endif  // APP_HOST_H_
