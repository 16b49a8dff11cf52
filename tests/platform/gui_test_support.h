#pragma once

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "platform/window_handler.h"
#include "workbench/menu.h"

/// Once a top-level widget of type W is visible (a modal dialog about to run its own event
/// loop), calls `act` with it. If none shows up after many polls, or the one acted on is still
/// open many polls later, the test fails and the active modal widget is closed, so that a broken
/// dialog (or an act the dialog ignored) cannot hang the run.
template <class W>
void whenShown(std::function<void(W*)> act) {
    auto* timer = new QTimer;
    auto polls = std::make_shared<int>(0);
    auto acted = std::make_shared<bool>(false);
    auto target = std::make_shared<QPointer<QWidget>>();
    QObject::connect(timer, &QTimer::timeout, [timer, polls, acted, target, act] {
        const auto finish = [timer] {
            timer->stop();
            timer->deleteLater();
        };
        if (!*acted) {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* found = dynamic_cast<W*>(widget); found && found->isVisible()) {
                    *acted = true;
                    *target = found;
                    *polls = 0;
                    // From now on the timer watches this window and goes with it.
                    timer->setParent(found);
                    return act(found);
                }
            }
        } else if (target->isNull() || !(*target)->isVisible()) {
            return finish();
        }
        if (++*polls < 4000) return;
        finish();
        ADD_FAILURE() << (*acted ? "the window stayed open after the test acted on it"
                                 : "the expected window never appeared");
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    timer->start(5);
}

/// A WindowHandler that records every call; hooks let a test act inside them.
struct RecordingHandler : WindowHandler {
    bool createResult = true;
    int creates = 0, destroys = 0;
    Shell* shell = nullptr;
    std::vector<int> commands, keys;
    std::vector<Rect> paints;
    std::vector<std::pair<int, int>> downs, moves, ups;
    std::function<void(int)> commandHook;
    std::function<void(Canvas&)> paintHook;
    MenuDescription menuShown = mainMenuDescription();  ///< the workbench's own menu

    bool onCreate(Shell& s) override { return ++creates, shell = &s, createResult; }
    void onDestroy() override { ++destroys; }
    void onPaint(Canvas& canvas, const Rect& clip) override {
        paints.push_back(clip);
        if (paintHook) paintHook(canvas);
    }
    void onCommand(int id) override {
        commands.push_back(id);
        if (commandHook) commandHook(id);
    }
    void onLeftButtonDown(int32_t x, int32_t y) override { downs.emplace_back(x, y); }
    void onMouseMove(int32_t x, int32_t y) override { moves.emplace_back(x, y); }
    void onLeftButtonUp(int32_t x, int32_t y) override { ups.emplace_back(x, y); }
    void onKeyDown(int key) override { keys.push_back(key); }
    MenuDescription menu() const override { return menuShown; }
};

inline bool operator==(const Rect& a, const Rect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline std::ostream& operator<<(std::ostream& out, const Rect& r) {
    return out << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}
