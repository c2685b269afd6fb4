// The wizard program: one modal sheet, no command line, no other window.
#include <QApplication>

#include "app/QtUi.h"
#include "app/QtWizardApp.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tolvane"));
    QApplication::setDesktopFileName(QStringLiteral("tolvane"));
    tolvane::wizard::initWizardResources();
    QApplication::setWindowIcon(tolvane::wizard::picture("tolvane"));
    auto wizard = tolvane::wizard::buildWizard();
    wizard->sheet->exec();
    // Pages go before the application; the Progress page deletes the run's temporary files.
    wizard.reset();
    return 0;
}
