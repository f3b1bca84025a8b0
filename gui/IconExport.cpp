// zel-icons DIR: writes the firewall's icon, as the programs draw it, into
// DIR/hicolor/NxN/apps/tessary.png for every installed size. Run at build
// time, so that the menu, the tray and the windows show one picture.
#include "gui/Art.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: zel-icons DIR\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    for (const int size : gui::art::kAppIconSizes) {
        const QString folder = QString("%1/hicolor/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (!QDir().mkpath(folder) || !gui::art::FirewallIcon(size).save(folder + "/tessary.png", "PNG")) {
            std::fprintf(stderr, "zel-icons: cannot write %s/tessary.png\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
