#include "ui/qt/signal_windows.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

TextBox::TextBox(QWidget* parent, const QString& title, const QString& text) : QDialog(parent) {
    setWindowTitle(title);
    setModal(true);
    auto* field = new QPlainTextEdit(this);
    field->setReadOnly(true);
    field->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    field->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    field->setLineWrapMode(QPlainTextEdit::NoWrap);
    field->setPlainText(text);
    field->setObjectName(QStringLiteral("text"));
    // Wide enough for the longest line, up to most of a screen.
    const QFontMetrics fm(field->font());
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, fm.horizontalAdvance(line));
    field->setMinimumSize(
        std::min(widest + 40, 900),
        std::min(fm.lineSpacing() * (static_cast<int>(text.count('\n')) + 2), 600));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(field);
    layout->addWidget(buttons);
    field->setFocus();
}

ScopesWindow::ScopesWindow(Window& win, QWidget* parent) : QWidget(parent, Qt::Window), win_(win) {
    setWindowTitle(QStringLiteral("Scopes"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    const qreal dpr = devicePixelRatioF();
    setFixedSize(static_cast<int>(std::ceil(kScopesWidth / dpr)),
                 static_cast<int>(std::ceil(kScopesHeight / dpr)));
}

void ScopesWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const ScopesPicture shown = window_scopes_picture(win_);
    if (!shown.pixels) {
        painter.fillRect(rect(), QColor(18, 18, 18));
        return;
    }
    // Blue, green, red, 255 in memory is Qt's 32-bit RGB on a little-endian machine.
    QImage image(shown.pixels, shown.width, shown.height, static_cast<qsizetype>(shown.width) * 4,
                 QImage::Format_RGB32);
    image.setDevicePixelRatio(devicePixelRatioF());
    painter.drawImage(QPointF(0, 0), image);
    ++drawn_paints;
}

void ScopesWindow::closeEvent(QCloseEvent* event) {
    window_scopes_closed(win_);
    event->accept();
}
