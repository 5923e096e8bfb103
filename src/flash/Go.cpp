#include "Go.h"

#include <QByteArray>

#include "BootLink.h"

namespace praxon {

void SendGoAddress(BootLink& link, uint32_t address) {
    link.RecvCount = 0;
    link.port().write(BootLink::AddressFrame(address));
}

bool Go(BootLink& link, uint32_t address) {
    if (!link.SendCmdWaitAck(0x21)) return false;
    SendGoAddress(link, address);
    return true;
}

}  // namespace praxon
