#include "platform/qt/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QStringList>

#include <algorithm>

#include "core/menu.h"
#include "platform/qt/image_canvas.h"
#include "platform/qt/qt_shell.h"

// ---- key codes ----

int keyCodeOf(int key) {
    if (key == 0 || key == Qt::Key_unknown) return 0;
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return 'A' + (key - Qt::Key_A);
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return '0' + (key - Qt::Key_0);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 0x70 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Clear: return 0x0C;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt: return 0x12;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Print: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Help: return 0x2F;
    case Qt::Key_Meta: return 0x5B;
    case Qt::Key_Menu: return 0x5D;
    case Qt::Key_NumLock: return 0x90;
    case Qt::Key_ScrollLock: return 0x91;
    // Shifted digits of the usual layout give the code of their key.
    case Qt::Key_ParenRight: return '0';
    case Qt::Key_Exclam: return '1';
    case Qt::Key_At: return '2';
    case Qt::Key_NumberSign: return '3';
    case Qt::Key_Dollar: return '4';
    case Qt::Key_Percent: return '5';
    case Qt::Key_AsciiCircum: return '6';
    case Qt::Key_Ampersand: return '7';
    case Qt::Key_Asterisk: return '8';
    case Qt::Key_ParenLeft: return '9';
    case Qt::Key_Semicolon:
    case Qt::Key_Colon: return 0xBA;
    case Qt::Key_Equal:
    case Qt::Key_Plus: return 0xBB;
    case Qt::Key_Comma:
    case Qt::Key_Less: return 0xBC;
    case Qt::Key_Minus:
    case Qt::Key_Underscore: return 0xBD;
    case Qt::Key_Period:
    case Qt::Key_Greater: return 0xBE;
    case Qt::Key_Slash:
    case Qt::Key_Question: return 0xBF;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde: return 0xC0;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft: return 0xDB;
    case Qt::Key_Backslash:
    case Qt::Key_Bar: return 0xDC;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight: return 0xDD;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl: return 0xDE;
    default: return 0xFF;
    }
}

// ---- client area ----

ClientArea::ClientArea(WindowHandler& handler, QWidget* parent)
    : QWidget(parent), handler_(handler), edit_(new QLineEdit(QStringLiteral("Tmin Text"), this)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    edit_->setObjectName(QStringLiteral("225"));
    edit_->setGeometry(0, 0, 0, 0);
}

void ClientArea::invalidate(const QRect* rect, bool erase) {
    const QRect area = rect ? rect->intersected(this->rect()) : this->rect();
    if (area.isEmpty()) return;
    pending_ += area;
    if (erase) erase_ += area;
    if (painting_) {
        // What a paint asks for while it runs is drawn by the next paint.
        QMetaObject::invokeMethod(this, [this, area] { update(area); }, Qt::QueuedConnection);
    } else {
        update(area);
    }
}

void ClientArea::paintPending() {
    if (pending_.isEmpty() || painting_) return;
    // Like the classic paint cycle, the region counts as redrawn before the handler draws.
    const QRegion region = pending_;
    const QRegion erase = erase_;
    pending_ = QRegion();
    erase_ = QRegion();
    if (buffer_.isNull()) return;
    QImageCanvas canvas(buffer_);
    for (const QRect& r : erase)
        canvas.fillRect(Rect{r.left(), r.top(), r.right() + 1, r.bottom() + 1}, Color{255, 255, 255});
    if (!attached_) return;
    canvas.setClip(region);
    const QRect bounds = region.boundingRect();
    painting_ = true;
    handler_.onPaint(canvas, Rect{bounds.left(), bounds.top(), bounds.right() + 1, bounds.bottom() + 1});
    painting_ = false;
    if (buffer_.size() != size()) remakeBuffer();   // resized while the handler drew
}

void ClientArea::paintEvent(QPaintEvent* event) {
    paintPending();
    QPainter painter(this);
    for (const QRect& r : event->region())
        painter.drawImage(r, buffer_, r);
}

void ClientArea::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The canvas of a paint in progress draws on the buffer; it is remade when the paint ends.
    if (!painting_) remakeBuffer();
}

void ClientArea::remakeBuffer() {
    buffer_ = size().isEmpty() ? QImage() : QImage(size(), QImage::Format_RGB32);
    if (!buffer_.isNull()) buffer_.fill(Qt::white);
    pending_ = QRegion();
    erase_ = QRegion();
    invalidate(nullptr, true);
}

void ClientArea::mousePressEvent(QMouseEvent* event) {
    if (!attached_ || event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    handler_.onLeftButtonDown(p.x(), p.y());
}

void ClientArea::mouseDoubleClickEvent(QMouseEvent* event) {
    // The handler has no double clicks: the second click is another press.
    mousePressEvent(event);
}

void ClientArea::mouseMoveEvent(QMouseEvent* event) {
    if (!attached_) return;
    const QPoint p = event->position().toPoint();
    handler_.onMouseMove(p.x(), p.y());
}

void ClientArea::mouseReleaseEvent(QMouseEvent* event) {
    if (!attached_ || event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    handler_.onLeftButtonUp(p.x(), p.y());
}

void ClientArea::keyPressEvent(QKeyEvent* event) {
    if (!attached_) return;
    const int code = keyCodeOf(event->key());
    // Codes 0 and 1 come with no real key; they ask for a full repaint.
    if (code == 0 || code == 1) invalidate(nullptr, true);
    handler_.onKeyDown(code);
}

// ---- main window ----

MainWindow::MainWindow(WindowHandler& handler, QWidget* parent)
    : QMainWindow(parent), handler_(handler), client_(new ClientArea(handler, this)) {
    setWindowTitle(QString::fromUtf8(mainWindowTitle));
    setObjectName(QStringLiteral("mainWindow"));
    setCentralWidget(client_);
    client_->setFocus();
    resize(1024, 768);
    buildMenu();
    shell_ = std::make_unique<QtShell>(*this);
    created_ = handler_.onCreate(*shell_);
}

MainWindow::~MainWindow() {
    destroyOnce();
}

Shell& MainWindow::shell() {
    return *shell_;
}

QAction* MainWindow::commandAction(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::dispatch(int id) {
    if (!destroyed_) handler_.onCommand(id);
}

void MainWindow::setVisible(bool visible) {
    if (visible && (!created_ || destroyed_)) return;
    QMainWindow::setVisible(visible);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) destroyOnce();
}

void MainWindow::destroyOnce() {
    if (destroyed_) return;
    destroyed_ = true;
    client_->detach();
    handler_.onDestroy();
}

void MainWindow::buildMenu() {
    std::map<QString, QMenu*> popups;
    // The popup of a path like " Settings/ Select Task Type", made on first use.
    auto popupOf = [&](const QString& path) {
        QMenu* menu = nullptr;
        QString sofar;
        for (const QString& title : path.split(QLatin1Char('/'))) {
            sofar = sofar.isEmpty() ? title : sofar + QLatin1Char('/') + title;
            auto& known = popups[sofar];
            if (!known) known = menu ? menu->addMenu(title) : menuBar()->addMenu(title);
            menu = known;
        }
        return menu;
    };
    for (size_t i = 0; i < mainMenu.size(); ++i) {
        const MenuRow& row = mainMenu[i];
        const QString path = QString::fromUtf8(row.popup);
        QMenu* menu = popupOf(path);
        QAction* action = menu->addAction(QString::fromUtf8(row.text));
        action->setData(row.id);
        action->setCheckable(true);
        const int id = row.id;
        connect(action, &QAction::triggered, this, [this, action, id](bool checked) {
            // Check marks belong to the commands: undo the toggle a click makes.
            action->setChecked(!checked);
            dispatch(id);
        });
        actions_.emplace(row.id, action);
        if (!row.separatorAfter) continue;
        const bool lastOfPopup = i + 1 == mainMenu.size() || path != QString::fromUtf8(mainMenu[i + 1].popup);
        const int slash = path.lastIndexOf(QLatin1Char('/'));
        if (!lastOfPopup || slash < 0) {
            menu->addSeparator();
            continue;
        }
        // After the last row of a nested popup the separator follows the popup in its parent.
        QMenu* parent = popups[path.left(slash)];
        const QList<QAction*> siblings = parent->actions();
        const qsizetype at = siblings.indexOf(menu->menuAction());
        if (at + 1 < siblings.size())
            parent->insertSeparator(siblings[at + 1]);
        else
            parent->addSeparator();
    }
}
