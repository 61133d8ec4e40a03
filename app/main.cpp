// Quorvane: the controller for the real board.
#include "app/main_form.h"
#include "app/operator_messages.h"
#include "device/hid_library.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// Until the board's backend is wired in, a library that finds no board.
class NoBoard : public device::HidLibrary {
public:
    bool Connect(device::NotifySink) override { return false; }
    bool Disconnect() override { return false; }
    device::DeviceHandle GetHandle(int, int) override { return 0; }
    void SetReadNotify(device::DeviceHandle, bool) override {}
    bool Read(device::DeviceHandle, device::Report&) override { return false; }
    bool WriteEx(int, int, const device::Report&) override { return false; }
    int GetVendorID(device::DeviceHandle) override { return 0; }
    int GetProductID(device::DeviceHandle) override { return 0; }
};

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvane"));

    NoBoard board;
    app::MainForm::Services services;
    services.hid = &board;
    services.programDirectory = QCoreApplication::applicationDirPath();
    services.programDirectoryWritable = QFileInfo(services.programDirectory).isWritable();
    services.fallbackDirectory =
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    // help.rtf: the current folder first, then beside the program, then the installed data.
    services.helpFolders
        << QDir::currentPath() << services.programDirectory
        << QDir(services.programDirectory).filePath(QStringLiteral("../share/quorvane"));
    for (const QString& folder :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        services.helpFolders << QDir(folder).filePath(QStringLiteral("quorvane"));
    }

    app::MessageBoxMessages messages(nullptr);
    services.messages = &messages;
    app::MainForm window(services);
    messages.SetParent(&window); // messages stay in front of the window they belong to
    window.Startup();
    window.show();
    return application.exec();
}
