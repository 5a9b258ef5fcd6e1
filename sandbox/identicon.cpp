#include "sandbox/identicon.h"

#include <QCryptographicHash>

namespace quill::sandbox {

namespace {

void appendLittleEndian(QByteArray &out, quint32 value, int bytes)
{
    for (int index = 0; index < bytes; ++index)
        out.append(char((value >> (8 * index)) & 0xFF));
}

} // namespace

QByteArray identiconBitmap(const QByteArray &name)
{
    constexpr int cells = 5;
    constexpr int cellSize = 8;
    constexpr int side = cells * cellSize; // 40 pixels: rows of 120 bytes, already a multiple of 4
    const QByteArray hash = QCryptographicHash::hash(name, QCryptographicHash::Md5);
    const auto byte = [&hash](int index) { return quint8(hash.at(index % hash.size())); };
    // A soft colour from the hash on a light background.
    const quint8 red = quint8(64 + byte(0) / 2), green = quint8(64 + byte(1) / 2), blue = quint8(64 + byte(2) / 2);

    const int pixelBytes = side * side * 3;
    QByteArray bitmap;
    bitmap.reserve(54 + pixelBytes);
    bitmap.append("BM");
    appendLittleEndian(bitmap, quint32(54 + pixelBytes), 4);
    appendLittleEndian(bitmap, 0, 4);
    appendLittleEndian(bitmap, 54, 4);
    appendLittleEndian(bitmap, 40, 4); // the info header
    appendLittleEndian(bitmap, side, 4);
    appendLittleEndian(bitmap, side, 4);
    appendLittleEndian(bitmap, 1, 2);
    appendLittleEndian(bitmap, 24, 2);
    appendLittleEndian(bitmap, 0, 4);
    appendLittleEndian(bitmap, quint32(pixelBytes), 4);
    appendLittleEndian(bitmap, 2835, 4);
    appendLittleEndian(bitmap, 2835, 4);
    appendLittleEndian(bitmap, 0, 4);
    appendLittleEndian(bitmap, 0, 4);
    for (int y = side - 1; y >= 0; --y) { // BMP rows run bottom-up
        for (int x = 0; x < side; ++x) {
            const int column = x / cellSize;
            const int mirrored = column < cells / 2 + 1 ? column : cells - 1 - column;
            const bool filled = (byte(3 + (y / cellSize) * 3 + mirrored) & 1) != 0;
            bitmap.append(char(filled ? blue : 0xF0));
            bitmap.append(char(filled ? green : 0xF0));
            bitmap.append(char(filled ? red : 0xF0));
        }
    }
    return bitmap;
}

} // namespace quill::sandbox
