#include "Go.h"

#include <QByteArray>

#include "BootLink.h"

namespace praxon {

void SendGoAddress(BootLink& link, uint32_t address) {
    link.RecvCount = 0;
    QByteArray frame;
    frame.append(char(address >> 24));
    frame.append(char(address >> 16));
    frame.append(char(address >> 8));
    frame.append(char(address));
    frame.append(char(frame[0] ^ frame[1] ^ frame[2] ^ frame[3]));
    link.port().write(frame);
}

bool Go(BootLink& link, uint32_t address) {
    if (!link.SendCmdWaitAck(0x21)) return false;
    SendGoAddress(link, address);
    return true;
}

}  // namespace praxon
