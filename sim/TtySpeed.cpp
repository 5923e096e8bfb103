// The kernel's own termios: its output speed is a number, custom speeds (BOTHER) included.
// Kept apart because <asm/termbits.h> clashes with the C library's <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace praxon::sim {

int ttyBaud(int fd) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return -1;
    return (t.c_cflag & CBAUD) == B0 ? 0 : static_cast<int>(t.c_ospeed);
}

}  // namespace praxon::sim
