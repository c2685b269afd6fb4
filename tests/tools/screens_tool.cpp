// Renders every page of the wizard offscreen into OUTDIR/<PageClass>.png, in representative
// states (files in the list with and without parts, errors on the Failure page, ...), plus the
// already-converted question and the message boxes. Runs in its own settings folder so that it
// never touches the user's choices.
//
// Usage: tolvane-screens OUTDIR
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/PhoneNotifyDlg.h"
#include "app/QtConvertedQuestion.h"
#include "app/QtUi.h"
#include "app/QtWizardApp.h"
#include "app/WizPage2_Files.h"
#include "app/WizPage6_Progress.h"
#include "app/WizPage8_Failure.h"
#include "app/WizSkylet3_Negotiate.h"
#include "pipeline/job.h"
#include "pipeline/settings.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "support/test_support.h"

using namespace tolvane;
using namespace tolvane::wizard;

namespace {

QString outDir;
int failures = 0;

void save(QWidget* widget, const QString& name) {
    QApplication::processEvents();
    const QString path = outDir + "/" + name + ".png";
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++failures;
    }
}

// A 16-bit mono WAV of `seconds` of a quiet saw tone.
void writeWav(const std::string& path, int seconds) {
    std::vector<std::uint8_t> samples(8000u * 2u * static_cast<unsigned>(seconds));
    for (std::size_t i = 0; i < samples.size() / 2; ++i) {
        const auto value =
            static_cast<std::uint16_t>(static_cast<std::int16_t>((i % 80) * 200 - 8000));
        samples[2 * i] = static_cast<std::uint8_t>(value & 0xff);
        samples[2 * i + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    tolvane::test::writeFile(path, tolvane::test::wavBytes(8000, 1, 16, samples));
}

// A message box rendered the way the user meets it.
void saveBox(QMessageBox& box, const QString& name) {
    box.show();
    save(&box, name);
    box.close();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Settings of a made-up user in a folder of our own.
    const std::filesystem::path home =
        std::filesystem::temp_directory_path() / ("tolvane-screens-" + std::to_string(getpid()));
    std::filesystem::create_directories(home / "config");
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("HOME", home.c_str(), 1);
    setenv("TMPDIR", home.c_str(), 1);

    QApplication app(argc, argv);
    outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outDir);

    // The machine-wide values: nothing listens at the service address while the pages run.
    const std::string appFolder = platform::applicationFolder();  // the build's, for the help
    registry::setHiveRoot(registry::Hive::LocalMachine, home / "machine");
    auto setService = [&](const std::string& url) {
        auto key = registry::Key::create(registry::Hive::LocalMachine, kSettingsKey);
        key->setString("AppPath", appFolder);
        key->setString("HomeURL", "http://127.0.0.1:8099/");
        key->setString("SkyletURL", url);
    };
    setService("http://127.0.0.1:1/");
    {
        Settings settings;
        settings.load();
        settings.setAccountNumber("0042");
        settings.setAccountStatus(1);
        settings.setFolder((home / "My Ringtones").string());
        settings.setFormat(3);
        settings.setCarrier(15);  // a carrier with an MMS gateway
        settings.setDelivery("MMS");
        settings.setPhoneNumber("5550100");
        settings.setEmail("me@example.org");
    }
    const std::string music = (home / "Music").string();
    std::filesystem::create_directories(music);
    for (const char* name : {"Morning Song.wav", "Rain on the Window.wav", "Theme.wav"})
        writeWav(music + "/" + name, 30);

    auto wizard = buildWizard();
    QtWizardSheet& sheet = *wizard->sheet;
    sheet.show();
    auto shoot = [&](PageId id) {
        sheet.selectPageById(id);
        save(&sheet, QString::fromUtf8(pageInfo(id)->className));
    };

    shoot(kWelcome);

    sheet.selectPageById(kFiles);
    auto* files = qobject_cast<WizPage2_Files*>(sheet.pageById(kFiles));
    files->addFiles({QString::fromStdString(music + "/Morning Song.wav"),
                     QString::fromStdString(music + "/Rain on the Window.wav"),
                     QString::fromStdString(music + "/Theme.wav")},
                    pages::WarningName::FileName);
    while (files->isBusy())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    FileEntry& marked = fileList().entries()[1];
    marked.partMarked = true;
    marked.partStart = 8;
    marked.partLength = 12;
    files->list()->topLevelItem(1)->setSelected(true);
    shoot(kFiles);
    // The window made larger: the list takes the room.
    sheet.resize(900, 620);
    save(&sheet, "WizPage2_Files_Resized");
    sheet.resize(sheet.minimumSize());

    shoot(kFormat);
    shoot(kTarget);
    shoot(kPassword);

    // The Progress page in the middle of a conversion. Its worker runs on the files above; the
    // lines are set directly for a steady picture.
    auto* progress = qobject_cast<WizPage6_Progress*>(sheet.pageById(kProgress));
    sheet.selectPageById(kProgress);
    // The worker's own updates are queued: let them in first, then stage the lines and grab at
    // once, before more arrive.
    QApplication::processEvents();
    progress->statusLine()->setText("Converting...");
    progress->fileNameLine()->setText("Rain on the Window.wav");
    progress->fileCountLine()->setText("File 2 of 3");
    progress->timeLeftLine()->setText("About 15 seconds left");
    progress->fileBar()->setValue(40);
    progress->overallBar()->setValue(55);
    progress->layout()->activate();
    if (!sheet.grab().save(outDir + "/WizPage6_Progress.png"))
        ++failures;
    // Let that run end; its closing page is chosen by the page itself.
    for (int i = 0; i < 200 && sheet.activePage() == progress; ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }

    setService("http://127.0.0.1:8099/");
    shoot(kSuccess);
    // A link with the focus shows it (Enter then follows the link instead of finishing).
    if (auto* link = sheet.activePage()->findChild<QtLinkLabel*>("openFolderLink")) {
        link->setFocus(Qt::TabFocusReason);
        save(&sheet, "WizPage7_Success_LinkFocus");
    }
    auto* failure = qobject_cast<WizPage8_Failure*>(sheet.pageById(kFailure));
    failure->setErrorText(
        "notes.wav: cannot open file.\r\nTheme.mp3: file skipped.\r\nSMTP server error.\r\n");
    shoot(kFailure);
    shoot(kUploads);
    shoot(kManage);
    shoot(kSetPassword);
    // The Negotiate page once its task has ended: a new account asked of a service that nobody
    // runs.
    setService("http://127.0.0.1:1/");
    qobject_cast<WizSkylet3_Negotiate*>(sheet.pageById(kNegotiate))->setTask(kTaskNewAccount);
    sheet.selectPageById(kNegotiate);
    for (int i = 0; i < 300 && !sheet.backButton()->isEnabled() && !sheet.nextButton()->isEnabled();
         ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    save(&sheet, "WizSkylet3_Negotiate");
    shoot(kFinalSms);
    shoot(kFinalMms);

    {
        // The unlisted-phone report, before and after a report to an address nobody answers.
        PhoneNotifyDlg report("http://127.0.0.1:1/", &sheet);
        report.show();
        save(&report, "PhoneNotifyDlg");
        report.vendorField()->setText("Acme");
        report.modelField()->setText("X1");
        report.submit();
        for (int i = 0; i < 300 && report.detailLabel()->text() == "Please wait..."; ++i) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(10);
        }
        save(&report, "PhoneNotifyDlg_Outcome");
        report.hide();
    }

    QtConvertedQuestion question(&sheet);
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                save(box, "QtConvertedQuestion");
                box->reject();
            }
    });
    question.ask("/home/user/Documents/My Ringtones/Summer Song.mmf");

    {
        QMessageBox warning(QMessageBox::Warning, kMessageCaption,
                            "notes.wav: broken file.\nreadme.wav: unknown file type.\n",
                            QMessageBox::Ok, &sheet);
        saveBox(warning, "FilesWarningBox");
        QMessageBox error(QMessageBox::Critical, kMessageCaption,
                          "Only digits are allowed in phone number.", QMessageBox::Ok, &sheet);
        saveBox(error, "TargetErrorBox");
    }

    wizard.reset();
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    return failures == 0 ? 0 : 1;
}
