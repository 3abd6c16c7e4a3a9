// Pelda: an editor for mainframe assembler source that runs the assembler.
//
//   Pelda [FILE...]
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QSocketNotifier>

#include "mainwindow.h"

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void onTerminate(int) {
    char c = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] ssize_t n = ::write(signalPipe[0], &c, 1);
}

// SIGTERM, SIGINT and SIGHUP end the program through its event loop, so that the profile is
// written and a running assembler is stopped.
void quitOnSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char c;
        [[maybe_unused]] ssize_t n = ::read(signalPipe[1], &c, 1);
        app.quit();
    });
    struct sigaction sa = {};
    sa.sa_handler = onTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
}

} // namespace
#endif

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("opxkit"));
    QApplication::setApplicationName(QStringLiteral("Pelda"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "An editor for mainframe assembler source that keeps the assembler's options,\n"
        "runs the assembler \"zora\" of the installation directory and leads from its\n"
        "error list to the source lines.\n\n"
        "The installation directory is \"Path\" in ~/.config/opxkit/Pelda.conf (default:\n"
        "the current directory, or the share/opxkit folder of an installation); the options\n"
        "are kept in its QCONFIG.INI, or in ~/.config/opxkit/ when it cannot be written."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Source files to open."),
                                 QStringLiteral("[FILE...]"));
    parser.process(app);

    // The main window changes the current directory: resolve the files first.
    QStringList files;
    for (const QString& f : parser.positionalArguments()) files << QFileInfo(f).absoluteFilePath();

#ifdef Q_OS_UNIX
    quitOnSignals(app);
#endif

    pelda::MainWindow window;
    window.show();
    for (const QString& f : files) window.openFile(f);
    window.showTipAtStartUp();
    return app.exec();
}
