#pragma once

#include <functional>
#include <string>

#include "workbench/workbench.h"
#include "export/snapshot.h"

/// Renders the workbench's window content (its real paint handler) into an image of the given
/// client size, without a window. Creates the offscreen GUI application text drawing needs when
/// there is none yet.
SnapshotImage renderWorkbench(Workbench& workbench, int width, int height);

/// Renders what `paint` draws on a white client area of the given size into an image, without a
/// window (the GUI application made as for renderWorkbench).
SnapshotImage renderImage(int width, int height, const std::function<void(Canvas&)>& paint);

/// Writes an image as BMP, PCX or PNG by the file name's ending (case-insensitive). Returns 1,
/// or 0 after a message (another ending, or a failed write).
int saveImage(MessageSink& window, const std::string& fileName, const SnapshotImage& image);

/// "1600x1000" -> width and height; false when malformed or outside 200..8000.
bool parseSize(const std::string& text, int& width, int& height);
