// opxwin: the window program for TSO TRANSMIT files.
//
//   opxwin [FILE [-iotrace LEVEL]]
//
// Opens FILE (or asks for one), shows its data sets and members, extracts them through the
// extraction wizard, and builds new transmit files with the build wizard (New). LEVEL is the
// trace level handed to the core libraries (0 none to 4 data dumps).
#include <QApplication>
#include <QSocketNotifier>
#include <QStyleFactory>
#include <cstdio>

#include "connectdialog.h"
#include "connections.h"
#include "opx.h"
#include "opxframe.h"

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int wakeFds[2] = {-1, -1};

extern "C" void onQuitSignal(int) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(wakeFds[0], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP close the main window through the event loop, as Exit does.
void closeOnSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, wakeFds) != 0) return;
    auto* notifier = new QSocketNotifier(wakeFds[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(wakeFds[1], &byte, 1);
        if (opxwin::Opx::theFrame != nullptr) opxwin::Opx::theFrame->exitApplication();
        QApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &action, nullptr);
}

} // namespace
#endif

int main(int argc, char* argv[]) {
    if (argc >= 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::printf("Usage: %s [FILE [-iotrace LEVEL]]\n\n"
                    "Shows the data sets and members of a TSO TRANSMIT file, extracts them, and\n"
                    "builds new transmit files (File, New...). LEVEL is the core libraries' trace\n"
                    "level: 1 errors, 2 opens and closes, 3 every call, 4 data dumps.\n",
                    argv[0]);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("opxkit"));
    QApplication::setApplicationName(QStringLiteral("opxwin"));

    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    opxwin::Opx::parseArguments(arguments);

    // Both connections are made now, so that their messages come first.
    opxwin::OpxConnection* opx = opxwin::OpxConnection::theConnection();
    opxwin::BrenConnection::theConnection();
    QApplication::setWindowIcon(opxwin::Opx::iconImage());

#ifdef Q_OS_UNIX
    closeOnSignals(app);
#endif

    if (!opx->isConnected()) {
        // No main window: the box shows why, and closing it ends the program with code 16.
        auto* box = new opxwin::ConnectDialog(nullptr);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->show();
        return app.exec();
    }
    opxwin::OpxFrame frame;
    auto* splash = new opxwin::ConnectDialog(&frame);
    splash->setAttribute(Qt::WA_DeleteOnClose);
    frame.show();
    splash->show();
    return app.exec();
}
