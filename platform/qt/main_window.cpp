#include "platform/qt/main_window.h"

#include <QAction>
#include <QApplication>
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
#include <QLabel>
#include <QShortcut>
#include <QStatusBar>
#include <QToolTip>
#include <QHelpEvent>

#include <algorithm>

#include "platform/menu.h"
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

// ---- menu texts ----

QString withMnemonic(const QString& text, QString& taken) {
    // The first letter of a word not yet taken in its menu, else any such letter.
    QString marked = text;
    marked.replace(QLatin1Char('&'), QStringLiteral("&&"));
    for (int pass = 0; pass < 2; ++pass) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (!c.isLetter() || c.unicode() > 127) continue;
            const bool wordStart = i == 0 || !text[i - 1].isLetterOrNumber();
            if (pass == 0 && !wordStart) continue;
            if (taken.contains(c.toLower())) continue;
            taken += c.toLower();
            // Position i of `text` in `marked`: every '&' before it was doubled.
            const qsizetype at = i + text.left(i).count(QLatin1Char('&'));
            return marked.insert(at, QLatin1Char('&'));
        }
    }
    return marked;
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

bool ClientArea::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && attached_) {
        auto* help = static_cast<QHelpEvent*>(event);
        const std::string tip = handler_.toolTipAt(help->pos().x(), help->pos().y());
        if (tip.empty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), QString::fromStdString(tip), this);
        }
        return true;
    }
    return QWidget::event(event);
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
    setWindowTitle(QString::fromUtf8(handler.menu().caption));
    setObjectName(QStringLiteral("mainWindow"));
    setCentralWidget(client_);
    client_->setFocus();
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(status_, 1);
    resize(1024, 768);
    buildMenu();
    // F10 opens the menu bar, as Alt does.
    auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(menuKey, &QShortcut::activated, this, [this] {
        const QList<QAction*> popups = menuBar()->actions();
        if (!popups.isEmpty()) {
            menuBar()->setFocus(Qt::ShortcutFocusReason);
            menuBar()->setActiveAction(popups.first());
        }
    });
    // The menu bar keeps the keyboard focus after F10 and Esc unless it is given back: watch
    // its keys, its popups closing and its commands.
    menuBar()->installEventFilter(this);
    for (QMenu* popup : menuBar()->findChildren<QMenu*>())
        connect(popup, &QMenu::aboutToHide, this, [this] { focusClientWhenMenuIdle(); });
    connect(menuBar(), &QMenuBar::triggered, this, [this] { focusClientWhenMenuIdle(); });
    shell_ = std::make_unique<QtShell>(*this);
    created_ = handler_.onCreate(*shell_);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == menuBar() && (event->type() == QEvent::KeyPress || event->type() == QEvent::MouseButtonRelease))
        focusClientWhenMenuIdle();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::focusClientWhenMenuIdle() {
    // Checked after the menu bar has handled the event that may close it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (destroyed_) return;
            if (QApplication::focusWidget() == menuBar() && menuBar()->activeAction() == nullptr &&
                QApplication::activePopupWidget() == nullptr)
                client_->setFocus(Qt::OtherFocusReason);
        },
        Qt::QueuedConnection);
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

void MainWindow::setStatusLine(const QString& text) {
    status_->setText(text);
}

QString MainWindow::statusLine() const {
    return status_->text();
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
    // Letters already taken as mnemonics, per menu (null: the menu bar).
    std::map<const QMenu*, QString> taken;
    // The popup of a path like " Settings/ Select Task Type", made on first use.
    auto popupOf = [&](const QString& path) {
        QMenu* menu = nullptr;
        QString sofar;
        for (const QString& title : path.split(QLatin1Char('/'))) {
            sofar = sofar.isEmpty() ? title : sofar + QLatin1Char('/') + title;
            auto& known = popups[sofar];
            if (!known) {
                const QString text = withMnemonic(title, taken[menu]);
                known = menu ? menu->addMenu(text) : menuBar()->addMenu(text);
            }
            menu = known;
        }
        return menu;
    };
    const MenuDescription description = handler_.menu();
    const std::span<const MenuRow> rows = description.rows;
    for (size_t i = 0; i < rows.size(); ++i) {
        const MenuRow& row = rows[i];
        const QString path = QString::fromUtf8(row.popup);
        QMenu* menu = popupOf(path);
        QAction* action = menu->addAction(withMnemonic(QString::fromUtf8(row.text), taken[menu]));
        action->setData(row.id);
        // Only the items of the two check groups show a check box.
        action->setCheckable(description.checkable && description.checkable(row.id));
        if (description.refreshCommand != 0 && row.id == description.refreshCommand)
            action->setShortcut(QKeySequence(Qt::Key_F5));
        const int id = row.id;
        connect(action, &QAction::triggered, this, [this, action, id](bool checked) {
            // Check marks belong to the commands: undo the toggle a click makes.
            if (action->isCheckable()) action->setChecked(!checked);
            dispatch(id);
        });
        actions_.emplace(row.id, action);
        if (!row.separatorAfter) continue;
        const bool lastOfPopup = i + 1 == rows.size() || path != QString::fromUtf8(rows[i + 1].popup);
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
