#include "app/render.h"

#include <QImage>

#include <cstdio>

#include "platform/qt/image_canvas.h"
#include "platform/qt/offscreen_application.h"
#include "model/text_format.h"

SnapshotImage renderWorkbench(Workbench& workbench, int width, int height) {
    return renderImage(width, height, [&](Canvas& canvas) { workbench.onPaint(canvas, {0, 0, width, height}); });
}

SnapshotImage renderImage(int width, int height, const std::function<void(Canvas&)>& paint) {
    ensureOffscreenApplication();
    QImage buffer(width, height, QImage::Format_RGB32);
    buffer.fill(Qt::white);
    {
        QImageCanvas canvas(buffer);
        paint(canvas);
    }
    SnapshotImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(buffer.constScanLine(y));
        for (int x = 0; x < width; ++x) image.pixels[static_cast<size_t>(y) * width + x] = row[x] & 0x00FFFFFFu;
    }
    return image;
}

int saveImage(MessageSink& window, const std::string& fileName, const SnapshotImage& image) {
    if (endsWithIgnoringCase(fileName, ".png")) return writePngFile(window, fileName, image);
    if (endsWithIgnoringCase(fileName, ".pcx")) return writePcxFile(window, fileName, image);
    if (endsWithIgnoringCase(fileName, ".bmp")) {
        const auto info = makeBitmapInfo(window, image);
        return info ? writeBmpFile(window, fileName, *info, image) : 0;
    }
    window.messageBox("The picture's file name must end in \".bmp\", \".pcx\" or \".png\" (got \"" + fileName + "\").",
                      " pulsebench-cli ", MessageIcon::Warning);
    return 0;
}

bool parseSize(const std::string& text, int& width, int& height) {
    int w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &tail) != 2) return false;
    if (w < 200 || h < 200 || w > 8000 || h > 8000) return false;
    width = w;
    height = h;
    return true;
}
