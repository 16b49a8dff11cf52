#pragma once

#include <QImage>
#include <QMainWindow>
#include <QRegion>
#include <QWidget>

#include <map>
#include <memory>

#include "platform/window_handler.h"

class QAction;
class QLabel;
class QLineEdit;
class QtShell;

/// The client area of the main window. It keeps the persistent back buffer (white, the size of
/// the client area) and the region still to be redrawn. A paint first erases what was asked to
/// be erased, then lets the handler draw into the buffer clipped to the pending region, then
/// shows the buffer. Mouse and key events go to the handler in client coordinates.
class ClientArea : public QWidget {
public:
    ClientArea(WindowHandler& handler, QWidget* parent = nullptr);

    /// Adds `rect` (null: the whole client area) to the pending region; `erase` whitens it
    /// before the next paint draws.
    void invalidate(const QRect* rect, bool erase);
    /// Runs the pending paint into the back buffer now (the next paint event only shows it).
    void paintPending();

    const QImage& backBuffer() const { return buffer_; }
    QRegion pendingRegion() const { return pending_; }
    QRegion pendingErase() const { return erase_; }
    QLineEdit* edit() const { return edit_; }

    /// Stops calling the handler (after the window was destroyed).
    void detach() { attached_ = false; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    void remakeBuffer();

    WindowHandler& handler_;
    QImage buffer_;
    QRegion pending_;
    QRegion erase_;
    QLineEdit* edit_;
    bool attached_ = true;
    bool painting_ = false;
};

/// The workbench's main window: the title, the menu built from the menu table, the client area
/// and the Shell its handler uses. The constructor calls handler.onCreate(shell()) once; when
/// that fails the window refuses to be shown. Closing (or destroying) the window calls
/// handler.onDestroy() once; after that the handler is not called again.
class MainWindow : public QMainWindow {
public:
    explicit MainWindow(WindowHandler& handler, QWidget* parent = nullptr);
    ~MainWindow() override;

    /// Whether onCreate succeeded.
    bool created() const { return created_; }
    Shell& shell();
    ClientArea* clientArea() const { return client_; }
    /// The menu action of a command id, or null. Its data() holds the id.
    QAction* commandAction(int id) const;
    /// Runs a command through the handler at once (nothing after the window was destroyed).
    void dispatch(int id);
    /// The permanent text of the status bar.
    void setStatusLine(const QString& text);
    QString statusLine() const;

    void setVisible(bool visible) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenu();
    /// Once the menu bar is left (F10 or Alt, then Esc, or a command chosen), the keys go to
    /// the client area again.
    void focusClientWhenMenuIdle();
    void destroyOnce();

    WindowHandler& handler_;
    ClientArea* client_;
    std::unique_ptr<QtShell> shell_;
    std::map<int, QAction*> actions_;
    QLabel* status_ = nullptr;
    bool created_ = false;
    bool destroyed_ = false;
};

/// The key code the handler receives for a key event: letters and digits as their upper-case
/// characters, the usual codes for the control, navigation, function and punctuation keys, 0 for
/// an event without a key and 255 for other keys.
int keyCodeOf(int qtKey);

/// A menu text with a mnemonic: '&' before the first letter that starts a word and is not yet
/// in `taken` (else before any such letter), which then takes it; '&' in the text is doubled.
QString withMnemonic(const QString& text, QString& taken);
