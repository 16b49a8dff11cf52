#pragma once

#include <span>

/// One row of a main menu: the popup it belongs to (" File", or " Settings/ Select Task Type"
/// for a nested popup, popup texts with their blanks joined by '/'), the item text, its command
/// id and whether a separator follows it. On the last row of a nested popup the separator
/// follows the nested popup in its parent. The window builds its menu from a table of rows in
/// order; popups appear in the order of their first row.
struct MenuRow {
    const char* popup;
    const char* text;
    int id;
    bool separatorAfter;
};

/// What a window handler shows in its window's frame: the title, the menu table, which items
/// show a check box and the command F5 runs (0: none).
struct MenuDescription {
    const char* caption = "";
    std::span<const MenuRow> rows{};
    bool (*checkable)(int id) = nullptr;
    int refreshCommand = 0;
};
