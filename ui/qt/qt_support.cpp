#include "ui/qt/qt_support.h"

#include "ui/window_logic.h"

int virtual_key_for(int qt_key, Qt::KeyboardModifiers modifiers) {
    if (modifiers & Qt::AltModifier) return -1;
    switch (qt_key) {
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_F10:
            return -1;
        case Qt::Key_Right:
            return kKeyRight;
        case Qt::Key_Left:
            return kKeyLeft;
        case Qt::Key_PageUp:
            return kKeyPageUp;
        case Qt::Key_PageDown:
            return kKeyPageDown;
        case Qt::Key_Home:
            return kKeyHome;
        case Qt::Key_End:
            return kKeyEnd;
        case Qt::Key_Comma:
            return kKeyComma;
        case Qt::Key_Period:
            return kKeyPeriod;
        case Qt::Key_Shift:
            return 0x10;
        case Qt::Key_Control:
            return 0x11;
        default:
            break;
    }
    // Letters and digits have the same codes in both worlds; everything else is
    // just "another key" and pauses.
    if ((qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) ||
        (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9))
        return qt_key;
    return 0xFF;
}

QByteArray command_line_path(int argc, char** argv) {
    QByteArray path;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) path += ' ';
        path += argv[i];
    }
    return path;
}
