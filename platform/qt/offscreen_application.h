#pragma once

/// Makes the application object text drawing needs when there is none yet (a batch tool, a
/// Python module, a test): a QGuiApplication on the "offscreen" platform unless QT_QPA_PLATFORM
/// names another. It lives until the process ends. Numbers in drawn texts keep a decimal point
/// whatever the locale, and Qt's start-up warning about a missing runtime folder (no session: a
/// batch job, a terminal over ssh) is not passed on while the application starts, since pictures
/// need none. Call it from the
/// thread that draws; the first call decides.
void ensureOffscreenApplication();
