// The wizard program: one modal sheet, no command line, no other window.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>

#include "app/QtUi.h"
#include "app/QtWizardApp.h"
#include "encoders/mmf_encoder.h"

namespace {

// Termination requests and a closed terminal end the wizard the way closing it does, so that a
// running conversion is cancelled and the run's temporary files and the converter copy are
// removed. The handler only writes the signal's number into a pipe; the event loop reads it.
int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t endingSignal = 0;

extern "C" void onTerminationSignal(int signal) {
    endingSignal = signal;
    const char byte = 1;
    (void)!::write(signalPipe[1], &byte, 1);
}

void endOnTerminationSignals(QApplication& app) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char byte;
        while (::read(signalPipe[0], &byte, 1) > 0) {
        }
        // Every event loop ends, the sheet's modal one included.
        QCoreApplication::exit(128 + endingSignal);
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tolvane"));
    QApplication::setDesktopFileName(QStringLiteral("tolvane"));
    endOnTerminationSignals(app);
    // Converter copies of earlier runs that were killed before they could remove them.
    tolvane::CMMFEncoder::removeLeftoverConverterCopies();
    tolvane::wizard::initWizardResources();
    QApplication::setWindowIcon(tolvane::wizard::picture("tolvane"));
    auto wizard = tolvane::wizard::buildWizard();
    wizard->sheet->exec();
    // Pages go before the application; the Progress page cancels a running conversion and
    // deletes the run's temporary files.
    wizard.reset();
    return endingSignal != 0 ? 128 + endingSignal : 0;
}
