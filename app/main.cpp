// Quorvane: the controller for the real board. Built a second time as quorvane-virtual, the
// same program driving the in-process virtual board, with its window beside the main one.
#include "app/main_form.h"
#include "app/operator_messages.h"
#include "app/window_memory.h"
#include "device/hid_library.h"
#include "device/steady_timeline.h"
#if defined(QUORVANE_VIRTUAL_BOARD)
#include "device/virtual_board.h"
#include "device/virtual_board_options.h"
#include "device/virtual_board_window.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>
#else
#include "device/hidapi_library.h"
#endif

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>

#if defined(QUORVANE_VIRTUAL_BOARD)
namespace {

std::vector<std::string_view> argumentsOf(int argc, char** argv) {
    return std::vector<std::string_view>(argv + 1, argv + argc);
}

// -1 to go on; otherwise the exit status after the usage text.
int readOptions(const std::vector<std::string_view>& args, device::VirtualBoardOptions& options) {
    std::string error;
    if (device::ParseVirtualBoardOptions(args, options, error)) {
        return -1;
    }
    if (error.empty()) {
        std::fputs(device::VirtualBoardUsage().c_str(), stdout);
        return 0;
    }
    std::fprintf(stderr, "quorvane-virtual: %s\n%s", error.c_str(),
                 device::VirtualBoardUsage().c_str());
    return device::VirtualExitUsage;
}

// Beside the main window when the screen has room, moving the main window over if that makes
// it; else over the lower left of the plot, never over a control or off the screen.
void placeBeside(QWidget& boardWindow, QWidget& window) {
    const app::SideBySide places =
        app::PlaceBeside(window.frameGeometry(), boardWindow.sizeHint() + app::FrameAllowance,
                         window.screen()->availableGeometry());
    window.move(places.mainWindow);
    boardWindow.move(places.board);
}

} // namespace
#endif

#if defined(QUORVANE_VIRTUAL_BOARD)
#define QUORVANE_PROGRAM_NAME "quorvane-virtual"
#else
#define QUORVANE_PROGRAM_NAME "quorvane"
#endif

namespace {

// The status when no display can be opened.
constexpr int ExitNoDisplay = 3;

// While the application is made, Qt ends the process with abort() (a core dump, SIGABRT) when
// no platform can be opened: no display, or an X server not yet taking connections (a virtual
// one that is still starting, or one still going away under the same number). That is said
// plainly instead, and the program ends with its own status.
void startupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    const bool named =
        context.category != nullptr && std::string_view(context.category) != "default";
    std::fprintf(stderr, "%s%s%s\n", named ? context.category : "", named ? ": " : "",
                 text.toLocal8Bit().constData());
    if (type == QtFatalMsg) {
        std::fprintf(stderr,
                     "%s: no display could be opened, so the window cannot be shown; nothing was "
                     "started.\n",
                     QUORVANE_PROGRAM_NAME);
        std::fflush(stderr);
        std::_Exit(ExitNoDisplay);
    }
}

// Where the program keeps its files and finds its help, and what it drives.
app::MainForm::Services programServices(device::HidLibrary& board, device::Timeline& clock) {
    app::MainForm::Services services;
    services.hid = &board;
    services.clock = &clock;
    services.programDirectory = QCoreApplication::applicationDirPath();
    services.programDirectoryWritable = QFileInfo(services.programDirectory).isWritable();
    services.fallbackDirectory =
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    services.cacheDirectory = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    services.homeDirectory = QDir::homePath();
    if (!services.fallbackDirectory.isEmpty()) {
        services.windowMemoryPath =
            QDir(services.fallbackDirectory).filePath(QStringLiteral("window.ini"));
    }
    // The resume point of a live run: in the per-user state folder, one for each program, so a
    // run on the virtual board is never offered to the real machine.
#if defined(Q_OS_WIN)
    const QString state = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
#else
    const QString state =
        QDir(qEnvironmentVariable("XDG_STATE_HOME", QDir::home().filePath(".local/state")))
            .filePath(QStringLiteral("quorvane"));
#endif
#if defined(QUORVANE_VIRTUAL_BOARD)
    services.journalPath = QDir(state).filePath(QStringLiteral("run-journal-virtual.txt"));
#else
    services.journalPath = QDir(state).filePath(QStringLiteral("run-journal.txt"));
#endif
    // help.rtf: the current folder first, then beside the program, then the installed data.
    services.helpFolders
        << QDir::currentPath() << services.programDirectory
        << QDir(services.programDirectory).filePath(QStringLiteral("../share/quorvane"));
    for (const QString& folder :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        services.helpFolders << QDir(folder).filePath(QStringLiteral("quorvane"));
    }
    return services;
}

} // namespace

int main(int argc, char** argv) {
#if defined(QUORVANE_VIRTUAL_BOARD)
    device::VirtualBoardOptions options;
    // Help and usage errors need no display, unless Qt's own arguments could change them.
    if (device::ParseIsFinalWithoutToolkit(argumentsOf(argc, argv))) {
        if (const int status = readOptions(argumentsOf(argc, argv), options); status >= 0) {
            return status;
        }
    }
#endif
    qInstallMessageHandler(startupMessage);
    QApplication application(argc, argv);
    qInstallMessageHandler(nullptr); // from here on, Qt's own handling
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/quorvane.png")));
    QApplication::setApplicationName(QStringLiteral("Quorvane"));

    device::SteadyTimeline clock;
#if defined(QUORVANE_VIRTUAL_BOARD)
    // Read again once Qt has taken its own arguments out of argv.
    if (const int status = readOptions(argumentsOf(argc, argv), options); status >= 0) {
        return status;
    }
    device::VirtualBoard board(clock);
    // Before the board's window is built: its speed box shows the factor the board has then.
    if (std::string error; !device::ApplyVirtualBoardOptions(options, board, error)) {
        std::fprintf(stderr, "quorvane-virtual: %s\n", error.c_str());
        return device::VirtualExitUsage;
    }
#else
    device::HidapiLibrary board;
#endif
    app::MainForm::Services services = programServices(board, clock);
    app::MessageBoxMessages messages(nullptr);
    services.messages = &messages;
    app::MainForm window(services);
    messages.SetParent(&window); // messages stay in front of the window they belong to
    window.PlaceOnScreen();
#if defined(QUORVANE_VIRTUAL_BOARD)
    // Shown first, so the board is there while start-up messages are open.
    device::VirtualBoardWindow boardWindow(board);
    placeBeside(boardWindow, window);
    // Closing the main window ends the program; closing the board's window alone hides it.
    boardWindow.setAttribute(Qt::WA_QuitOnClose, false);
    boardWindow.show();
#endif
    window.Startup();
    window.show();
    // Once the window is up, so the question has it behind it.
    QTimer::singleShot(0, &window, [&window] { window.OfferUnfinishedRun(); });
#if defined(QUORVANE_VIRTUAL_BOARD)
    boardWindow.raise(); // over the plot on a small screen, it stays in reach
#endif
    return application.exec();
}
