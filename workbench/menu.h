#pragma once

#include <array>

#include "platform/menu.h"

/// The main menu of the workbench, row by row.
inline constexpr std::array<MenuRow, 32> mainMenu = {{
    {" File", " New pulses... ", 40002, false},
    {" File", " Create series... ", 40001, true},
    {" File", " View series parameters...", 40031, true},
    {" File", " Select set of pulses", 40016, true},
    {" File", " Save image as...", 40003, true},
    {" File", " Exit", 40004, false},
    {" Processing", " Processing Same Data", 40017, false},
    {" Processing", " Processing Next Data ", 40018, true},
    {" Processing", " More details", 40019, false},
    {" Processing", " Type more detales", 40020, true},
    {" Processing", " Fixed case", 40021, false},
    {" Processing", " Unfixed case", 40022, true},
    {" Processing", " Statistical Simulation", 40012, false},
    {" Processing", " Show Statistical Simulation", 40015, true},
    {" Processing", " Repeat Detection", 40023, false},
    {" Processing", " Repeat Recognition", 40024, false},
    {" Processing", " Repeat Joint Detection and Discrimination", 40025, false},
    {" Processing", " Repeat Series Processing", 40026, false},
    {" Settings/ Select Task Type", " Detection", 40005, false},
    {" Settings/ Select Task Type", " Recognition", 40006, false},
    {" Settings/ Select Task Type", " Joint Detection and Identification", 40007, false},
    {" Settings/ Select Task Type", " Series Processing", 40027, false},
    {" Settings/ Select Series Type", " Fixed Number of Whole Pulses", 40008, false},
    {" Settings/ Select Series Type", " Unfixed Number of Whole Pulses", 40009, false},
    {" Settings/ Select Series Type", " Fixed Number of Cutoffs Pulses", 40010, false},
    {" Settings/ Select Series Type", " Unfuxed Number of Cutoffs Pulses", 40011, false},
    {" Settings/ Select Series Type", " Fixed Number of Whole Pulses Tuples ", 40028, false},
    {" Settings/ Select Series Type", " Unfixed Number of Whole Pulses Tuples ", 40032, true},
    {" Settings", " Subset settings ...", 40029, true},
    {" Settings", " Drawing settings ...", 40030, false},
    {" Else One", " Create Series...", 40014, true},
    {" Else One", " Debugging repeat ", 40033, false},
}};

/// The window class name.
inline constexpr const char* mainWindowTitle = "ZizudAvaridereRidEziriveridarozIruvizeRazIroz";
/// The title the window shows.
inline constexpr const char* mainWindowCaption = "PulseBench";

/// Whether a menu item belongs to one of the two check groups (task type, series type): only
/// those items show a check box.
constexpr bool checkableMenuItem(int id) {
    return (id >= 40005 && id <= 40011) || id == 40027 || id == 40028 || id == 40032;
}

/// The menu table, the caption, the check groups and F5's command for the window.
inline MenuDescription mainMenuDescription() {
    return {mainWindowCaption, mainMenu, &checkableMenuItem, 40018};
}
