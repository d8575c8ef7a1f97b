// Helpers of the Qt front end that need no window: the keys the window logic
// understands, and the path on the command line.
#pragma once

#include <QByteArray>
#include <Qt>

/// The key code the window logic understands for a Qt key press, or -1 when the
/// key belongs to the menus (Alt combinations, Alt alone and F10).
int virtual_key_for(int qt_key, Qt::KeyboardModifiers modifiers);

/// Joins the arguments after the program name with single spaces: the shell split
/// an unquoted name with spaces into words, and the viewer takes one path.
QByteArray command_line_path(int argc, char** argv);
