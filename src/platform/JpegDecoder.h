#pragma once

#include <QByteArrayView>
#include <QImage>

// Decodes a JPEG picture with libjpeg. A picture that is not a JPEG, is
// truncated or corrupt, or is too large to be a sensible picture gives a null
// image; nothing is printed and the process never ends because of it.
QImage decodeJpeg(QByteArrayView data);
