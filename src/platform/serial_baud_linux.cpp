// Arbitrary line rates (14400 and others without a B-constant) through termios2. This file must not
// include <termios.h>: the kernel's own termios header defines the same names.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "platform/serial_port.h"

namespace vg {

bool set_custom_baud_rate(int fd, unsigned baud_rate) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
    tio.c_cflag |= BOTHER;
    tio.c_ispeed = baud_rate;
    tio.c_ospeed = baud_rate;
    return ioctl(fd, TCSETS2, &tio) == 0;
}

unsigned read_custom_baud_rate(int fd) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
    return tio.c_ospeed;
}

}  // namespace vg
