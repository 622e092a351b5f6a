#pragma once
// A 1920×1080 PNG that looks like a screenshot (gradients, tiles, a little noise),
// different for each i, so every copy is a new entry.
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QRandomGenerator>

namespace BenchImages {

inline QByteArray screenshotPng(int i)
{
    QImage image(1920, 1080, QImage::Format_RGB32);
    QRandomGenerator noise(i);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = qRgb((x + i) % 256, y % 256, ((x / 64 + y / 64) % 2) * 200 + noise.bounded(8));
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace BenchImages
