#include "platform/qt/main_window.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>

#include <string>

#include "workbench/menu.h"
#include "gui_test_support.h"

namespace {

const Color black{0, 0, 0}, white{255, 255, 255};

Color colorAt(const QImage& image, int x, int y) {
    const QRgb rgb = image.pixel(x, y);
    return Color{uint8_t(qRed(rgb)), uint8_t(qGreen(rgb)), uint8_t(qBlue(rgb))};
}

// "popup path|text|id" of every command item in display order; '-' for each separator and
// '>' for each nested popup in the shape string of its parent.
void walk(QMenu* menu, const std::string& path, std::vector<std::string>& items, std::string& shape) {
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            shape += '-';
        } else if (action->menu()) {
            shape += '>';
            walk(action->menu(), path + "/" + action->text().remove('&').toStdString(), items, shape);
        } else {
            shape += 'a';
            items.push_back(path + "|" + action->text().remove('&').toStdString() + "|" +
                            std::to_string(action->data().toInt()));
        }
    }
    shape += ' ';
}

// A shown window whose first paint is done.
struct ShownWindow {
    RecordingHandler handler;
    MainWindow window{handler};
    ClientArea* client = window.clientArea();
    ShownWindow() {
        window.resize(400, 300);
        window.show();
        client->paintPending();
    }
    void invalidate(Rect r, bool erase) { window.shell().invalidate(&r, erase); }
};

} // namespace

TEST(MainWindowLife, CreatedOnceWithTitleAHiddenFailureAndOneDestroy) {
    RecordingHandler handler;
    {
        MainWindow window(handler);
        EXPECT_EQ(handler.creates, 1);
        EXPECT_EQ(handler.shell, &window.shell());
        EXPECT_EQ(window.windowTitle().toStdString(), mainWindowCaption);
        window.show();
        EXPECT_TRUE(window.isVisible());
        handler.commandHook = [&](int) { handler.shell->close(); };
        window.commandAction(40004)->trigger();
        EXPECT_EQ(handler.destroys, 1);
        EXPECT_FALSE(window.isVisible());
        window.commandAction(40003)->trigger();   // the handler is gone
        window.show();
        EXPECT_FALSE(window.isVisible());
    }
    EXPECT_EQ(handler.destroys, 1);
    EXPECT_EQ(handler.commands, std::vector<int>{40004});

    RecordingHandler failing;
    failing.createResult = false;
    MainWindow window(failing);
    EXPECT_FALSE(window.created());
    window.showMaximized();
    EXPECT_FALSE(window.isVisible());
}

TEST(MainWindowMenu, EveryRowInOrderWithExactTextIdAndSeparators) {
    RecordingHandler handler;
    MainWindow window(handler);
    std::vector<std::string> items, expected;
    std::string shape, titles;
    for (QAction* top : window.menuBar()->actions()) {
        titles += top->text().toStdString() + ";";
        walk(top->menu(), top->text().remove('&').toStdString(), items, shape);
    }
    for (const MenuRow& row : mainMenu) {
        expected.push_back(std::string(row.popup) + "|" + row.text + "|" + std::to_string(row.id));
        // Only the items of the two check groups have a check box.
        EXPECT_EQ(window.commandAction(row.id)->isCheckable(), checkableMenuItem(row.id)) << row.id;
    }
    // Each popup title with its Alt mnemonic.
    EXPECT_EQ(titles, " &File; &Processing; &Settings; &Else One;");
    EXPECT_EQ(items, expected);
    // A nested popup's last separator follows the popup in its parent.
    EXPECT_EQ(shape, "aa-a-a-a-a aa-aa-aa-aa-aaaa >aaaa >aaaaaa -a-a a-a ");
}

TEST(MainWindowMenu, MnemonicsTakeTheFirstFreeWordInitial) {
    QString taken;
    EXPECT_EQ(withMnemonic(" Processing Same Data", taken), QStringLiteral(" &Processing Same Data"));
    EXPECT_EQ(withMnemonic(" Processing Next Data ", taken), QStringLiteral(" Processing &Next Data "));
    EXPECT_EQ(withMnemonic(" Pnsd", taken), QStringLiteral(" Pn&sd"));  // no free initial: a later letter
    EXPECT_EQ(withMnemonic(" A & B", taken), QStringLiteral(" &A && B"));
    EXPECT_EQ(taken, QStringLiteral("pnsa"));
}

TEST(MainWindowMenu, CommandsRunAtOnceAndCheckMarksBelongToThem) {
    RecordingHandler handler;
    MainWindow window(handler);
    std::vector<std::string> trace;
    handler.commandHook = [&](int id) {
        trace.push_back("begin " + std::to_string(id));
        if (id == 40017) handler.shell->sendCommand(40021);
        trace.push_back("end " + std::to_string(id));
    };
    window.commandAction(40017)->trigger();
    EXPECT_EQ(trace, (std::vector<std::string>{"begin 40017", "begin 40021", "end 40021", "end 40017"}));
    EXPECT_FALSE(window.commandAction(40017)->isChecked());   // not a check item
    window.commandAction(40008)->trigger();
    EXPECT_FALSE(window.commandAction(40008)->isChecked());   // a click does not toggle
    window.shell().checkMenuItem(40005, true);
    window.commandAction(40005)->trigger();
    EXPECT_TRUE(window.commandAction(40005)->isChecked());
    window.shell().checkMenuItem(40005, false);
    window.shell().checkMenuItem(99999, true);
    EXPECT_FALSE(window.commandAction(40005)->isChecked());
}

TEST(MainWindowPaint, FirstPaintCoversTheWhiteClientThenOnlyThePendingRegion) {
    ShownWindow w;
    ASSERT_EQ(w.handler.paints.size(), 1u);
    EXPECT_EQ(w.handler.paints[0], (Rect{0, 0, w.client->width(), w.client->height()}));
    EXPECT_EQ(w.client->backBuffer().size(), w.client->size());
    w.handler.paintHook = [](Canvas& c) { c.fillRect(Rect{0, 0, c.width(), c.height()}, Color{0, 0, 0}); };
    w.invalidate(Rect{10, 10, 20, 20}, false);
    w.invalidate(Rect{50, 40, 60, 45}, false);
    w.client->paintPending();
    ASSERT_EQ(w.handler.paints.size(), 2u);
    EXPECT_EQ(w.handler.paints[1], (Rect{10, 10, 60, 45}));   // the bounds of the region
    const QImage& buffer = w.client->backBuffer();
    EXPECT_EQ(colorAt(buffer, 10, 10), black);
    EXPECT_EQ(colorAt(buffer, 59, 44), black);
    EXPECT_EQ(colorAt(buffer, 30, 30), white);   // inside the bounds, outside the region
    EXPECT_EQ(colorAt(buffer, 20, 20), white);
    // Erasing whitens only what was asked; the rest of the buffer persists.
    w.invalidate(Rect{0, 0, 100, 100}, false);
    w.client->paintPending();
    w.handler.paintHook = nullptr;
    w.invalidate(Rect{10, 10, 20, 20}, true);
    w.invalidate(Rect{30, 30, 40, 40}, false);
    w.client->paintPending();
    EXPECT_EQ(colorAt(buffer, 19, 19), white);
    EXPECT_EQ(colorAt(buffer, 20, 20), black);
    EXPECT_EQ(colorAt(buffer, 35, 35), black);
    const QImage shown = w.client->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(colorAt(shown, 19, 19), white);
    EXPECT_EQ(colorAt(shown, 35, 35), black);
}

TEST(MainWindowPaint, PendingRegionCutToTheClientKeptAcrossAPaintAndRemadeOnResize) {
    ShownWindow w;
    w.invalidate(Rect{20, 20, 10, 10}, true);
    w.invalidate(Rect{-50, -50, -10, -10}, true);
    EXPECT_TRUE(w.client->pendingRegion().isEmpty());
    w.invalidate(Rect{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, true);
    EXPECT_EQ(w.client->pendingErase(), QRegion(w.client->rect()));
    w.handler.paintHook = [&](Canvas&) {
        w.handler.paintHook = nullptr;
        w.invalidate(Rect{5, 5, 15, 15}, false);
    };
    w.client->paintPending();
    EXPECT_EQ(w.client->pendingRegion(), QRegion(5, 5, 10, 10));   // drawn by the next paint
    w.client->paintPending();
    EXPECT_EQ(w.handler.paints.back(), (Rect{5, 5, 15, 15}));
    w.handler.paintHook = [](Canvas& c) { c.setPixel(0, 0, Color{0, 0, 0}); };
    w.window.shell().invalidate(nullptr, false);
    w.client->paintPending();
    w.window.resize(500, 350);
    EXPECT_EQ(w.client->backBuffer().size(), w.client->size());
    EXPECT_EQ(colorAt(w.client->backBuffer(), 0, 0), white);
    EXPECT_EQ(w.client->pendingRegion(), QRegion(w.client->rect()));
}

TEST(MainWindowInput, LeftButtonMoveAndKeysReachTheHandler) {
    ShownWindow w;
    auto mouse = [&](QEvent::Type type, Qt::MouseButton button, QPoint at) {
        QMouseEvent event(type, QPointF(at), w.client->mapToGlobal(QPointF(at)), button,
                          type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::MouseButtons(),
                          Qt::NoModifier);
        QApplication::sendEvent(w.client, &event);
    };
    mouse(QEvent::MouseButtonPress, Qt::LeftButton, {10, 20});
    mouse(QEvent::MouseMove, Qt::NoButton, {11, 21});
    mouse(QEvent::MouseButtonRelease, Qt::LeftButton, {12, 22});
    mouse(QEvent::MouseButtonDblClick, Qt::LeftButton, {13, 23});
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick})
        mouse(type, Qt::RightButton, {1, 1});
    using Points = std::vector<std::pair<int, int>>;
    EXPECT_EQ(w.handler.downs, (Points{{10, 20}, {13, 23}}));
    EXPECT_EQ(w.handler.moves, (Points{{11, 21}}));
    EXPECT_EQ(w.handler.ups, (Points{{12, 22}}));
    for (const int key : {int(Qt::Key_A), int(Qt::Key_F1), int(Qt::Key_Escape), 0}) {
        EXPECT_TRUE(w.client->pendingRegion().isEmpty());
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(w.client, &event);
    }
    EXPECT_EQ(w.handler.keys, (std::vector<int>{'A', 0x70, 0x1B, 0}));
    EXPECT_EQ(w.client->pendingErase(), QRegion(w.client->rect()));   // the keyless event
}

TEST(MainWindowInput, EditControlCursorAndCapture) {
    ShownWindow w;
    Shell& shell = w.window.shell();
    auto* edit = w.window.findChild<QLineEdit*>("225");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->parentWidget(), w.client);
    EXPECT_EQ(edit->text(), QString("Tmin Text"));
    EXPECT_EQ(edit->geometry(), QRect(0, 0, 0, 0));
    shell.moveEdit(Rect{10, 20, 110, 40});
    EXPECT_EQ(edit->geometry(), QRect(10, 20, 100, 20));
    shell.setEditText("42 \xc3\x84");
    EXPECT_EQ(edit->text(), QString::fromUtf8("42 \xc3\x84"));
    edit->setText(QString::fromUtf8("7\xc3\xa9"));
    EXPECT_EQ(shell.editText(), "7\xc3\xa9");
    shell.setCursor(CursorShape::Hand);
    EXPECT_EQ(w.client->cursor().shape(), Qt::PointingHandCursor);
    shell.setCursor(CursorShape::ResizeVertical);
    EXPECT_EQ(w.client->cursor().shape(), Qt::SizeVerCursor);
    shell.setCursor(CursorShape::ResizeDiagonal);
    EXPECT_EQ(w.client->cursor().shape(), Qt::SizeFDiagCursor);
    shell.setCursor(CursorShape::Arrow);
    EXPECT_EQ(w.client->cursor().shape(), Qt::ArrowCursor);
    shell.setCapture(true);
    EXPECT_EQ(QWidget::mouseGrabber(), w.client);
    shell.setCapture(false);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}
