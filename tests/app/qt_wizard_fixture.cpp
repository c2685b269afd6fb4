#include "qt_wizard_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include "pipeline/settings.h"
#include "pipeline/encoder.h"
#include "pipeline/job.h"
#include "pipeline/worker.h"
#include "platform/registry.h"
#include "support/test_support.h"

namespace tolvane::wizard::test {

namespace {

QApplication& application() {
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "test_wizard";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);  // lives as long as the process
    }();
    return *app;
}

}  // namespace

TempMachineHive::TempMachineHive(const std::string& serviceUrl) {
    char pattern[] = "/tmp/tolvane-machine-XXXXXX";
    folder_ = mkdtemp(pattern);
    registry::setHiveRoot(registry::Hive::LocalMachine, folder_);
    setServiceUrl(serviceUrl);
}

TempMachineHive::~TempMachineHive() {
    registry::setHiveRoot(registry::Hive::LocalMachine, {});
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
}

void TempMachineHive::setServiceUrl(const std::string& serviceUrl) const {
    auto key = registry::Key::create(registry::Hive::LocalMachine, kSettingsKey);
    key->setString("AppPath", tolvane::test::appDir().string());
    key->setString("HomeURL", serviceUrl);
    key->setString("SkyletURL", serviceUrl);
}

void WizardTest::SetUp() {
    application();
    // Every test starts as a first run.
    std::error_code ec;
    std::filesystem::remove_all(registry::hiveRoot(registry::Hive::CurrentUser), ec);
    fileList().clear();
    passwordExchange() = PasswordExchange{};
    resetConvertedQuestionForTesting();
    QDesktopServices::setUrlHandler("http", &urls_, "open");
    QDesktopServices::setUrlHandler("file", &urls_, "open");
}

void WizardTest::TearDown() {
    wizard_.reset();
    QDesktopServices::unsetUrlHandler("http");
    QDesktopServices::unsetUrlHandler("file");
    fileList().clear();
}

void WizardTest::start() {
    wizard_ = buildWizard();
    sheet().show();
    QApplication::processEvents();
}

void WizardTest::clickNext() {
    QTest::mouseClick(sheet().nextButton(), Qt::LeftButton);
}
void WizardTest::clickBack() {
    QTest::mouseClick(sheet().backButton(), Qt::LeftButton);
}
void WizardTest::clickCancel() {
    QTest::mouseClick(sheet().cancelButton(), Qt::LeftButton);
}

void WizardTest::addFiles(const QStringList& paths, pages::WarningName naming) {
    auto* files = page<WizPage2_Files>(kFiles);
    files->addFiles(paths, naming);
    EXPECT_TRUE(waitFor([files] { return !files->isBusy(); })) << "adding files never ended";
}

bool WizardTest::waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

void WizardTest::answerNextBox(std::string* text, const QString& button,
                               std::function<void()> before) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        if (text)
            *text = box->text().toStdString();
        if (before)
            before();
        QAbstractButton* press = box->defaultButton();
        for (QAbstractButton* candidate : box->buttons())
            if (!button.isEmpty() && candidate->text() == button)
                press = candidate;
        if (!press && !box->buttons().isEmpty())
            press = box->buttons().first();
        press->click();
    });
    poll->start();
}

}  // namespace tolvane::wizard::test
