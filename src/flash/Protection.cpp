#include "Protection.h"

#include "BootLink.h"

namespace praxon {

bool SendReadProtect(BootLink& link) {
    return link.SendCmdWaitAck(0x82);
}

bool SendReadUnprotect(BootLink& link) {
    return link.SendCmdWaitAck(0x92);
}

}  // namespace praxon
