/* The modem-line side channel between a client carrying libpraxon-lines.so and praxon-sim.
 *
 * A pseudo-terminal has no DTR, RTS or break. Each simulator listens on an abstract UNIX socket
 * (SOCK_SEQPACKET) named after the pty it serves, "praxon-sim/pts/N"; the library finds it from
 * a descriptor alone (fstat: the slave's device number). One request per packet, one reply per
 * request, plain text:
 *
 *   open DEV RDEV     this connection holds the port open, as the client's open() did: the
 *                     kernel asserts DTR and RTS (unless the speed is B0); when the last such
 *                     connection ends, HUPCL in the port's settings releases both
 *   attach DEV RDEV   identifies the port only (a descriptor opened before the library knew)
 *   get               the levels
 *   set [dtr=0|1] [rts=0|1] [brk=0|1]   changes the named levels at once (1 = asserted, on)
 *
 * DEV and RDEV are st_dev and st_rdev of the client's descriptor, in decimal: the simulator
 * answers "no" when they are not its pty (another devpts instance with the same number). Every
 * other reply is "ok dtr=D rts=R brk=B", sent when the change is in effect on the board.
 * Plain C: included by the library and by the simulator. */
#ifndef PRAXON_LINE_PROTOCOL_H
#define PRAXON_LINE_PROTOCOL_H

#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>

#define PRAXON_LINES_MAX_MESSAGE 128

/* The socket name (without the abstract namespace's leading NUL) for a pty slave's device
 * number; 0 when rdev is not a UNIX98 pty slave (majors 136 to 143). */
static inline int praxon_lines_socket_name(dev_t rdev, char* name, size_t size) {
    const unsigned int maj = major(rdev);
    if (maj < 136 || maj > 143) return 0;
    const unsigned int number = (maj - 136) * 256 + minor(rdev);
    const int n = snprintf(name, size, "praxon-sim/pts/%u", number);
    return n > 0 && (size_t)n < size;
}

#endif
