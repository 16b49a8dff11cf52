#include "platform/qt/qt_shell.h"

#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <thread>
#include <type_traits>

#include "platform/qt/form_dialog.h"
#include "platform/qt/main_window.h"
#include "platform/qt/progress_dialog.h"

namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

// The extension a name filter such as "PNG (*.png)" stands for.
QString suffixOf(const QString& filter) {
    static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
    const QRegularExpressionMatch match = pattern.match(filter);
    return match.hasMatch() ? match.captured(1) : QString();
}

// The save dialog; on accepting, a name without an extension gets the one of the filter chosen
// at that moment, before the dialog checks whether the file exists.
class SaveFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override {
        setDefaultSuffix(suffixOf(selectedNameFilter()));
        QFileDialog::accept();
    }
};

} // namespace

QtShell::QtShell(MainWindow& window) : window_(window) {}

template <class Call>
auto QtShell::onGuiThread(Call&& call) -> decltype(call()) {
    using Result = decltype(call());
    if (QThread::currentThread() == window_.thread()) return call();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(&window_, [&call] { call(); }, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(&window_, [&call, &result] { result = call(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

void QtShell::messageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
    onGuiThread([&] {
        QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                        fromUtf8(caption), fromUtf8(text), QMessageBox::Ok, &window_);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    });
}

void QtShell::postMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
    QMetaObject::invokeMethod(
        &window_, [this, text, caption, icon] { messageBox(text, caption, icon); }, Qt::QueuedConnection);
}

void QtShell::setStatusText(const std::string& text) {
    onGuiThread([&] { window_.setStatusLine(fromUtf8(text)); });
}

void QtShell::invalidate(const Rect* rect, bool erase) {
    onGuiThread([&] { invalidateNow(rect, erase); });
}

void QtShell::invalidateNow(const Rect* rect, bool erase) {
    if (!rect) {
        window_.clientArea()->invalidate(nullptr, erase);
        return;
    }
    // Clamp to what a QRect can hold; the client area cuts it down further.
    auto clampCoordinate = [](int64_t v) {
        return static_cast<int>(std::clamp<int64_t>(v, -(int64_t{1} << 30), int64_t{1} << 30));
    };
    if (rect->right <= rect->left || rect->bottom <= rect->top) return;
    const QRect area(QPoint(clampCoordinate(rect->left), clampCoordinate(rect->top)),
                     QPoint(clampCoordinate(int64_t{rect->right} - 1), clampCoordinate(int64_t{rect->bottom} - 1)));
    window_.clientArea()->invalidate(&area, erase);
}

void QtShell::sendCommand(int id) {
    onGuiThread([&] { window_.dispatch(id); });
}

void QtShell::checkMenuItem(int id, bool checked) {
    onGuiThread([&] {
        if (QAction* action = window_.commandAction(id)) action->setChecked(checked);
    });
}

DialogResult QtShell::runDialog(const DialogForm& form) {
    return onGuiThread([&] { return FormDialog::run(form, &window_); });
}

void QtShell::close() {
    onGuiThread([&] { window_.close(); });
}

void QtShell::setCapture(bool captured) {
    onGuiThread([&] { setCaptureNow(captured); });
}

void QtShell::setCaptureNow(bool captured) {
    ClientArea* client = window_.clientArea();
    if (captured) {
        if (client->isVisible()) client->grabMouse();
    } else if (QWidget::mouseGrabber() == client) {
        client->releaseMouse();
    }
}

void QtShell::setCursor(CursorShape shape) {
    onGuiThread([&] {
        Qt::CursorShape qt = Qt::ArrowCursor;
        switch (shape) {
            case CursorShape::Arrow: qt = Qt::ArrowCursor; break;
            case CursorShape::Hand: qt = Qt::PointingHandCursor; break;
            case CursorShape::ResizeVertical: qt = Qt::SizeVerCursor; break;
            case CursorShape::ResizeDiagonal: qt = Qt::SizeFDiagCursor; break;
        }
        window_.clientArea()->setCursor(qt);
    });
}

void QtShell::moveEdit(const Rect& rect) {
    onGuiThread([&] { moveEditNow(rect); });
}

void QtShell::moveEditNow(const Rect& rect) {
    const int64_t w = std::max<int64_t>(int64_t{rect.right} - rect.left, 0);
    const int64_t h = std::max<int64_t>(int64_t{rect.bottom} - rect.top, 0);
    const int64_t limit = int64_t{1} << 24;
    window_.clientArea()->edit()->setGeometry(
        static_cast<int>(std::clamp<int64_t>(rect.left, -limit, limit)),
        static_cast<int>(std::clamp<int64_t>(rect.top, -limit, limit)),
        static_cast<int>(std::min(w, limit)), static_cast<int>(std::min(h, limit)));
}

void QtShell::setEditText(const std::string& text) {
    onGuiThread([&] { window_.clientArea()->edit()->setText(fromUtf8(text)); });
}

std::string QtShell::editText() {
    return onGuiThread([&] { return window_.clientArea()->edit()->text().toStdString(); });
}

std::optional<std::string> QtShell::chooseSaveFile(const std::string& title) {
    return onGuiThread([&] { return chooseSaveFileNow(title); });
}

std::optional<std::string> QtShell::chooseSaveFileNow(const std::string& title) {
    SaveFileDialog dialog(&window_, fromUtf8(title));
    dialog.setObjectName(QStringLiteral("saveFile"));
    // The toolkit's own dialog, the same everywhere: filters in this order, the suffix rule.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters{QStringLiteral("Bitmap (*.bmp)"), QStringLiteral("PCX (*.pcx)"),
                              QStringLiteral("PNG (*.png)")};
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.first());
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) return std::nullopt;
    return chosen.first().toStdString();
}

int QtShell::runWithProgress(
    const std::string& title,
    const std::function<int(const std::function<void(int, int)>& progress,
                            const std::atomic<bool>& cancel)>& work) {
    if (!work) return 0;
    std::atomic<bool> cancel{false};
    // The latest (done, total) packed in one word so that a reader never mixes two reports,
    // and whether a refresh is already on its way to the dialog.
    std::atomic<uint64_t> latest{0};
    std::atomic<bool> refreshPosted{false};
    QEventLoop loop;
    ProgressDialog dialog(fromUtf8(title), cancel, &window_);

    const std::function<void(int, int)> progress = [&](int done, int total) {
        latest.store(uint64_t{static_cast<uint32_t>(done)} << 32 | static_cast<uint32_t>(total));
        if (refreshPosted.exchange(true)) return;
        QMetaObject::invokeMethod(
            &dialog,
            [&] {
                refreshPosted.store(false);
                const uint64_t packed = latest.load();
                dialog.setProgress(static_cast<int>(static_cast<uint32_t>(packed >> 32)),
                                   static_cast<int>(static_cast<uint32_t>(packed)));
            },
            Qt::QueuedConnection);
    };

    dialog.show();
    int result = 0;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        try {
            result = work(progress, cancel);
        } catch (...) {
            result = 0;
        }
        finished.store(true);
        QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    // The loop also ends when the application quits; the work is then told to stop. Calls it
    // still makes to this thread are served until it has ended.
    if (!finished.load()) cancel.store(true);
    while (!finished.load()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    worker.join();
    dialog.hide();
    return result;
}

bool QtShell::clientPixels(int32_t& width, int32_t& height, std::vector<uint32_t>& pixels) {
    const QImage image =
        onGuiThread([&] { return window_.clientArea()->backBuffer().convertToFormat(QImage::Format_RGB32); });
    if (image.isNull()) return false;
    width = image.width();
    height = image.height();
    pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) pixels[static_cast<size_t>(y) * width + x] = row[x] & 0x00FFFFFFu;
    }
    return true;
}
