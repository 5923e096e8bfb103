#pragma once

#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace praxon {

// The window's pictures, drawn in code so they stay sharp at any scale and need no image plugin.
namespace artwork {

enum class LampColour { Gray, Green, Red };

QPixmap logo(const QSize& size);       // Picture2: the distributor's logo
QPixmap promotion(const QSize& size);  // Picture1: the microcontroller family
QPixmap chip(const QSize& size);       // Picture3: a chip in a quad flat package
QPixmap lamp(LampColour colour, int side = 16);
QPixmap iconImage(int side);  // green arrow pointing down into a device box
QIcon windowIcon();
QCursor handshakeCursor();  // two shaking hands, for the clickable pictures

}  // namespace artwork
}  // namespace praxon
