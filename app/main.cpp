// Orrindale: blends bracketed RAW exposures into one low-noise image.
#include "app/frm_main.h"
#include "orrindale_version.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orrindale"));
    QApplication::setApplicationVersion(QStringLiteral(ORRINDALE_VERSION));
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);
    frmMain window;
    window.Form_Load();
    return QApplication::exec();
}
