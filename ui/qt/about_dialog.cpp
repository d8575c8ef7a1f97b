#include "ui/qt/about_dialog.h"

#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#ifndef KARVELIN_VERSION
#define KARVELIN_VERSION "0.0"
#endif

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QStringLiteral("About"));
    setModal(true);
    // Arial 10 pt; fontconfig gives its metric-compatible substitute where Arial
    // itself is not installed, so the dialog units come out the same size.
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(10);
    setFont(font);
    const QFontMetrics fm(font);
    // Dialog base units as the system computes them: the average width of the 52
    // letters, rounded, and the font's height.
    const int letters = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    base_x_ = std::max(1, (letters / 26 + 1) / 2);
    base_y_ = std::max(1, fm.height());

    auto label = [&](const char* text, int x, int y, int w, int h, bool centred) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setGeometry(dialog_rect(x, y, w, h));
        l->setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
        return l;
    };
    label("Karvelin", 5, 6, 140, 8, true);
    label("Version " KARVELIN_VERSION, 62, 18, 70, 8, true);
    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);  // etched
    frame->setGeometry(dialog_rect(6, 30, 138, 66));
    label("Keyboard operation", 15, 34, 110, 8, false);
    label("[->]: Move forward", 30, 46, 90, 8, false);
    label("[<-]: Move backward", 30, 58, 90, 8, false);
    label("[Q]: Quit", 30, 70, 90, 8, false);
    label("Other keys: Pause", 30, 82, 90, 8, false);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(dialog_rect(55, 102, 40, 14));
    ok->setDefault(true);
    ok->setAutoDefault(true);
    // OK, Esc (reject) and the close box all simply end the dialog.
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(dialog_rect(0, 0, 150, 120).size());
}

QRect AboutDialog::dialog_rect(int x, int y, int width, int height) const {
    auto px = [](int units, int base, int div) { return (units * base + div / 2) / div; };
    return QRect(px(x, base_x_, 4), px(y, base_y_, 8), px(width, base_x_, 4),
                 px(height, base_y_, 8));
}
