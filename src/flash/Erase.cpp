#include "Erase.h"

#include "BootLink.h"

namespace praxon {

bool MassErase(BootLink& link) {
    if (link.SendCmdWaitAck(0x43)) {
        link.ShowMsg(QStringLiteral("开始整片擦除......"));
        if (link.SendCmdWaitAck(0xFF)) {
            link.host().setPanelText(2, QStringLiteral("Flash擦除完毕。"));
            link.ShowMsg(QStringLiteral("擦除成功。"));
            return true;
        }
    }
    link.host().setPanelText(2, QStringLiteral("Flash擦除失败。"));
    link.ShowMsg(QStringLiteral("擦除失败，请清除读保护......"));
    return false;
}

}  // namespace praxon
