#pragma once
// Process-wide set-up of the Qt application: the title and the "Carbon" theme.
// main() and the GUI tests both call SetupApplication, so the tests see the
// window exactly as the user does.

class QApplication;
class QString;

// "Lirvo音乐播放器 2.4": the application title, which the main window takes as
// its caption and first status line.
const QString& AppTitle();

// Fusion style with a dark palette and the style sheet carried as the resource
// ":/carbon.qss".
void ApplyCarbonTheme(QApplication& app);

// Applies the theme and sets the application title (the display name).
void SetupApplication(QApplication& app);
