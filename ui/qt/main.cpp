// The viewer program: start-up in the order the window logic expects, then the
// Qt event loop.
#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>

#include "ui/command_line.h"
#include "ui/frame_info.h"
#include "ui/qt/qt_front_end.h"

namespace {

QtMessageHandler g_previous_handler = nullptr;

/// Qt ends the process with abort() when it cannot reach a display; say why in
/// plain words and end with exit code 1 instead.
void message_handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "karvelin: cannot open the window: %s\n", qPrintable(message));
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (g_previous_handler) g_previous_handler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before QApplication exists, so that no display is needed.
    CommandLine options;
    if (parse_command_words(argc - 1, argv + 1, options) != 0) {
        std::fprintf(stderr, "karvelin: %s\n", options.error.c_str());
        return 2;
    }
    if (options.answer) {
        std::fputs(options.answer, stdout);
        return 0;
    }
    // Printed without a display, for scripts.
    if (options.info) {
        std::string listing, error;
        const int code = info_command(options.frame.c_str(), listing, error);
        std::fputs(listing.c_str(), stdout);
        std::fputs(error.c_str(), stderr);
        return code;
    }
    g_previous_handler = qInstallMessageHandler(message_handler);
    QApplication app(argc, argv);
    if (QGuiApplication::primaryScreen() == nullptr) {
        std::fprintf(stderr, "karvelin: cannot open the window: no screen\n");
        return 1;
    }
    QApplication::setApplicationName(QStringLiteral("Karvelin"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("karvelin")));

    // QApplication took its own options out of argv; what is left is ours.
    parse_command_words(argc - 1, argv + 1, options);
    static Window win;
    install_error_boxes(win);
    // An empty argument ("") names a path too, one that opens nothing.
    if (window_startup(win, options.named ? options.frame.c_str() : nullptr, &options) != 0) {
        std::fprintf(stderr, "karvelin: not enough memory for the picture\n");
        return 1;
    }
    int code = 0;
    {
        MainWindow main_window(win);
        window_created(win);
        main_window.show();
        code = app.exec();
    }
    window_shutdown(win);
    return code;
}
