// nimbra-desktop's entry point, and the one source file that reads
// NimbraConfig.h: the window is built from the same objects for every copy
// of the library, and told here which addresses that copy has.
#include <QApplication>
#include <QIcon>
#include <QSettings>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BuildInfo.h"
#include "DialogChooser.h"
#include "MainWindow.h"
#include "Nimbra/NimbraConfig.h"

int main(int argc, char** argv) {
    // Without a display: what `make desktop` reads to start its server.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("nimbra-desktop %s\nweb API:  %s\nendpoint: %s\nbucket:   %s\n", NIMBRA_VERSION,
                    NIMBRA_SERVER_URL, NIMBRA_ENDPOINT, NIMBRA_BUCKET);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Nimbra");
    QApplication::setApplicationName("nimbra-desktop");
    QApplication::setApplicationDisplayName("Nimbra Backup");
    QApplication::setApplicationVersion(NIMBRA_VERSION);
    QApplication::setWindowIcon(QIcon::fromTheme("nimbra-desktop"));

    IOssManager* manager = nullptr;
    InitOssManager(&manager);
    desktop::DialogChooser chooser;
    const desktop::BuildInfo info{NIMBRA_VERSION, NIMBRA_SERVER_URL, NIMBRA_ENDPOINT,
                                  NIMBRA_BUCKET};
    auto* window = new desktop::MainWindow(*manager, chooser, info);
    window->show();
    const int status = QApplication::exec();
    if (window->abandoned()) {
        // A library call still runs on the runner's thread and would be
        // waited for: quit without it (its temporary files are gone).
        QSettings().sync();
        std::_Exit(status);
    }
    delete window;
    return status;
}
