// The wizard driven offscreen as a user would: pages, buttons, links, help, a real conversion of
// real files, the question box asked from the worker thread, cancel, the password exchange.
#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <mutex>

#include "app/QtUi.h"
#include "app/WizPage1_Welcome.h"
#include "app/WizPage2_Files.h"
#include "app/WizPage4_Target.h"
#include "app/WizPage5_Password.h"
#include "app/WizPage6_Progress.h"
#include "app/WizPage8_Failure.h"
#include "app/WizPage9_Uploads.h"
#include "app/WizSkylet2_Password.h"
#include "pipeline/job.h"
#include "pipeline/settings.h"
#include "pipeline/worker.h"
#include "qt_wizard_fixture.h"
#include "support/test_support.h"

namespace tolvane::wizard::test {
namespace {

using tolvane::test::TempDir;

// A click on the check box's square, where a user clicks.
void clickBox(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

// Stands in for delivery: records what it was asked to send.
class RecordingSending : public SendingPhase {
public:
    SendOutcome send(RunState& state, Settings&, ProgressView& view) override {
        std::lock_guard lock(mutex);
        ++calls;
        sentFiles = state.ProducedFiles;
        passwords.push_back(passwordExchange().password);
        view.setStatus("Sending...");
        if (askPasswordFirst && calls == 1) {
            passwordExchange().password.clear();
            passwordExchange().request = PasswordRequest::ForUpload;
            return SendOutcome::PasswordNeeded;
        }
        return SendOutcome::Finished;
    }
    std::mutex mutex;
    bool askPasswordFirst = false;
    int calls = 0;
    std::vector<std::string> sentFiles;
    std::vector<std::string> passwords;
};

class WizardFlowTest : public WizardTest {
protected:
    // Real music files made by sox.
    std::string tone(const std::string& name, double seconds, int rate = 44100, int channels = 2) {
        std::string path = music_.file(name);
        EXPECT_TRUE(tolvane::test::makeTone(path, rate, channels, 16, seconds)) << "sox failed";
        return path;
    }
    void storeChoices(bool save, bool send, const std::string& delivery = "WAP") {
        Settings settings;
        settings.load();
        settings.setSave(save);
        settings.setSend(send);
        settings.setFolder(out_.path().string());
        settings.setDelivery(delivery);
        settings.setFormat(0);
    }
    // Welcome -> Files with `paths` added -> Format -> Target -> Progress.
    void runToProgress(const QStringList& paths) {
        clickNext();
        ASSERT_EQ(activeId(), kFiles);
        addFiles(paths);
        clickNext();
        ASSERT_EQ(activeId(), kFormat);
        clickNext();
        ASSERT_EQ(activeId(), kTarget);
        clickNext();
        ASSERT_EQ(activeId(), kProgress);
    }
    bool waitForClosingPage() {
        return waitFor([&] { return activeId() != kProgress; });
    }

    TempDir music_;
    TempDir out_;
};

TEST_F(WizardTest, StartsOnWelcomeWithOnlyNextAndTheManageLinkHiddenOnAFirstRun) {
    start();
    EXPECT_EQ(sheet().windowTitle(), "Tolvane");
    EXPECT_EQ(sheet().pageCount(), 14);
    EXPECT_EQ(activeId(), kWelcome);
    EXPECT_TRUE(sheet().nextButton()->isEnabled());
    EXPECT_FALSE(sheet().backButton()->isEnabled());
    EXPECT_FALSE(page<WizPage1_Welcome>(kWelcome)->manageLink()->isVisible());
}

TEST_F(WizardTest, ManageLinkShownOnceAnAccountExistsAndLeadsToTheManagePage) {
    Settings settings;
    settings.load();
    settings.setAccountStatus(1);
    start();
    QtLinkLabel* link = page<WizPage1_Welcome>(kWelcome)->manageLink();
    ASSERT_TRUE(link->isVisible());
    QTest::mouseClick(link, Qt::LeftButton);
    EXPECT_EQ(activeId(), kManage);
    EXPECT_TRUE(sheet().backButton()->isEnabled());
    EXPECT_FALSE(sheet().nextButton()->isEnabled());
    clickBack();
    EXPECT_EQ(activeId(), kWelcome);
}

TEST_F(WizardTest, SiteLinksOpenHomeUrlAndContacts) {
    start();
    Settings settings;
    settings.load();
    ASSERT_FALSE(settings.homeUrl().empty()) << "the build's machine hive names HomeURL";
    auto* welcome = page<WizPage1_Welcome>(kWelcome);
    QTest::mouseClick(welcome->findChild<QtLinkLabel*>("siteLink"), Qt::LeftButton);
    QTest::mouseClick(welcome->findChild<QtLinkLabel*>("contactsLink"), Qt::LeftButton);
    ASSERT_EQ(urls_.urls.size(), 2u);
    EXPECT_EQ(urls_.urls[0].toString().toStdString(), settings.homeUrl());
    EXPECT_EQ(urls_.urls[1].toString().toStdString(), settings.homeUrl() + "?contacts");
}

TEST_F(WizardTest, HelpButtonAndF1OpenTheHelpPageAtThePagesTopic) {
    start();
    QTest::mouseClick(sheet().helpButton(), Qt::LeftButton);
    clickNext();
    QTest::keyClick(&sheet(), Qt::Key_F1);
    ASSERT_EQ(urls_.urls.size(), 2u);
    EXPECT_EQ(urls_.urls[0].fragment(), "context-2");
    EXPECT_EQ(urls_.urls[1].fragment(), "context-3");
    const QString file = urls_.urls[1].toLocalFile();
    EXPECT_TRUE(file.endsWith("/tolvanehelp.html"));
    EXPECT_TRUE(std::filesystem::exists(file.toStdString()))
        << "help page not installed: " << file.toStdString();
}

TEST_F(WizardFlowTest, FilesPageEnablesNextOnlyWithFilesAndWarnsOnceForRefusedOnes) {
    const std::string good = tone("good.wav", 1);
    const std::string text = music_.file("notes.wav");
    tolvane::test::writeFile(text, {'h', 'e', 'l', 'l', 'o'});
    std::filesystem::create_directories(music_.file("folder"));
    start();
    clickNext();
    auto* files = page<WizPage2_Files>(kFiles);
    EXPECT_FALSE(sheet().nextButton()->isEnabled());
    EXPECT_TRUE(sheet().backButton()->isEnabled());
    EXPECT_FALSE(files->markButton()->isEnabled());

    std::string warning;
    answerNextBox(&warning);
    EXPECT_TRUE(files->addButton()->isEnabled());
    addFiles({QString::fromStdString(good), QString::fromStdString(text),
              QString::fromStdString(music_.file("folder")), QString::fromStdString(good)},
             pages::WarningName::FileName);
    EXPECT_EQ(warning, "notes.wav: broken file.\n");
    ASSERT_EQ(files->list()->topLevelItemCount(), 2);  // listed twice, folder skipped
    EXPECT_EQ(fileList().size(), 2u);
    EXPECT_NE(fileList().entries()[0].id, fileList().entries()[1].id);
    EXPECT_TRUE(sheet().nextButton()->isEnabled());
    EXPECT_FALSE(files->removeButton()->isEnabled());

    QTest::mouseClick(files->selectAllButton(), Qt::LeftButton);
    EXPECT_TRUE(files->removeButton()->isEnabled());
    QTest::mouseClick(files->removeButton(), Qt::LeftButton);
    EXPECT_EQ(files->list()->topLevelItemCount(), 0);
    EXPECT_TRUE(fileList().empty());
    EXPECT_FALSE(sheet().nextButton()->isEnabled());
    EXPECT_TRUE(std::filesystem::exists(good)) << "removing a row never touches the file";
}

TEST_F(WizardFlowTest, DroppedFilesAreAddedAndFoldersSkippedSilently) {
    const std::string good = tone("dropped.wav", 1);
    std::filesystem::create_directories(music_.file("album"));
    start();
    clickNext();
    auto* files = page<WizPage2_Files>(kFiles);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(music_.file("album"))),
                  QUrl::fromLocalFile(QString::fromStdString(good))});
    // A drag enters the page, then drops there.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(files, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(files, &drop);
    // The files are read off the GUI thread; meanwhile the page takes nothing else.
    EXPECT_TRUE(files->isBusy());
    EXPECT_FALSE(files->addButton()->isEnabled());
    EXPECT_FALSE(sheet().backButton()->isEnabled());
    ASSERT_TRUE(waitFor([files] { return !files->isBusy(); }));
    ASSERT_EQ(files->list()->topLevelItemCount(), 1);
    EXPECT_EQ(files->list()->topLevelItem(0)->text(0), "dropped.wav");
}

TEST_F(WizardFlowTest, NextIsDisabledWithStoreAndSendUnchecked) {
    start();
    sheet().selectPageById(kTarget);
    auto* target = page<WizPage4_Target>(kTarget);
    target->storeBox()->setChecked(true);
    target->sendBox()->setChecked(false);
    EXPECT_TRUE(sheet().nextButton()->isEnabled());
    clickBox(target->storeBox());
    EXPECT_FALSE(target->storeBox()->isChecked());
    EXPECT_FALSE(sheet().nextButton()->isEnabled());
    EXPECT_FALSE(target->folderField()->isEnabled());
    clickBox(target->sendBox());
    EXPECT_TRUE(sheet().nextButton()->isEnabled());
}

TEST_F(WizardFlowTest, FullRunFromFilesToSuccessWritesRingtonesThatFfprobeReads) {
    storeChoices(/*save=*/true, /*send=*/false);
    const std::string first = tone("First Song.wav", 2);
    const std::string second = tone("second.wav", 3, 22050, 1);
    start();
    // The Progress page's "File n of m" line, as it changes.
    auto* progress = page<WizPage6_Progress>(kProgress);
    QStringList counts;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QLabel* line = progress->fileCountLine();
            line && !line->text().isEmpty() && (counts.isEmpty() || counts.last() != line->text()))
            counts << line->text();
    });
    watch.start(1);
    runToProgress({QString::fromStdString(first), QString::fromStdString(second)});
    EXPECT_FALSE(sheet().nextButton()->isEnabled());
    EXPECT_FALSE(sheet().backButton()->isEnabled());
    ASSERT_TRUE(waitForClosingPage());
    watch.stop();
    EXPECT_EQ(counts, (QStringList{"File 1 of 2", "File 2 of 2"}));
    EXPECT_EQ(activeId(), kSuccess);
    // The time left shows once the run is long enough to say (the page's clock started with the
    // run; the estimate itself is table-tested with its wording).
    QTest::qWait(2100);
    progress->setOverallProgress(40);
    ASSERT_TRUE(waitFor([&] { return !progress->timeLeftLine()->text().isEmpty(); }, 2000));
    EXPECT_TRUE(progress->timeLeftLine()->text().endsWith(" left"))
        << progress->timeLeftLine()->text().toStdString();
    EXPECT_TRUE(sheet().finishButton()->isVisible());
    for (const char* name : {"First Song.wav", "second.wav"}) {
        const std::string ringtone = out_.file(name);
        ASSERT_TRUE(std::filesystem::exists(ringtone)) << name;
        EXPECT_EQ(tolvane::test::probe(ringtone, "sample_rate"), "8000");
        EXPECT_EQ(tolvane::test::probe(ringtone, "channels"), "1");
        EXPECT_EQ(tolvane::test::probe(ringtone, "codec_name"), "pcm_u8");
    }
    QTest::mouseClick(sheet().finishButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet().isVisible());
}

TEST_F(WizardFlowTest, ErrorsEndOnTheFailurePageEvenWhenSendingSucceeded) {
    storeChoices(/*save=*/true, /*send=*/true, "WAP");
    const std::string good = tone("good.wav", 1);
    const std::string gone = tone("gone.wav", 1);
    RecordingSending sending;
    start();
    page<WizPage6_Progress>(kProgress)->setSendingPhase(&sending);
    clickNext();
    addFiles({QString::fromStdString(gone), QString::fromStdString(good)});
    std::filesystem::remove(gone);  // deleted after it was added
    clickNext();
    clickNext();
    clickNext();
    ASSERT_TRUE(waitForClosingPage());
    EXPECT_EQ(activeId(), kFailure);
    EXPECT_EQ(sending.calls, 1);
    ASSERT_EQ(sending.sentFiles.size(), 1u);
    EXPECT_EQ(sending.sentFiles[0], out_.file("good.wav"));
    QPlainTextEdit* box = page<WizPage8_Failure>(kFailure)->errorBox();
    EXPECT_TRUE(box->isReadOnly());
    EXPECT_EQ(box->toPlainText().toStdString(), "gone.wav: cannot open file.");
}

TEST_F(WizardFlowTest, CancelWaitsForTheWorkerAndTheQuestionIsAnsweredOnTheGuiThread) {
    storeChoices(/*save=*/true, /*send=*/false);
    const std::string source = tone("song.wav", 4);
    tolvane::test::writeFile(out_.file("song.wav"), {'o', 'l', 'd'});  // converted before
    start();
    std::string question;
    bool closedWhileWorking = true;
    // While the question is up the worker waits; Cancel now must not close the wizard.
    answerNextBox(&question, "Reconvert All", [&] {
        clickCancel();
        closedWhileWorking = !sheet().isVisible() || activeId() != kProgress;
    });
    runToProgress({QString::fromStdString(source)});
    ASSERT_TRUE(waitForClosingPage());
    EXPECT_FALSE(closedWhileWorking);
    EXPECT_NE(question.find("already converted"), std::string::npos);
    EXPECT_EQ(question.rfind(out_.file("song.wav"), 0), 0u) << "the box names the ringtone first";
    EXPECT_TRUE(sheet().isVisible());
    EXPECT_EQ(activeId(), kFailure);
    EXPECT_EQ(page<WizPage8_Failure>(kFailure)->errorBox()->toPlainText(), "Conversion cancelled.");
    EXPECT_FALSE(std::filesystem::exists(out_.file("song.wav"))) << "the partial ringtone stays";
}

TEST_F(WizardFlowTest, SkipAllKeepsTheOldRingtoneAndReportsIt) {
    storeChoices(/*save=*/true, /*send=*/false);
    const std::string source = tone("song.wav", 1);
    tolvane::test::writeFile(out_.file("song.wav"), {'o', 'l', 'd'});
    start();
    answerNextBox(nullptr, "Skip All");
    runToProgress({QString::fromStdString(source)});
    ASSERT_TRUE(waitForClosingPage());
    EXPECT_EQ(activeId(), kFailure);
    EXPECT_EQ(page<WizPage8_Failure>(kFailure)->errorBox()->toPlainText(),
              "song.wav: file skipped.");
    EXPECT_EQ(tolvane::test::readFile(out_.file("song.wav")),
              (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

TEST_F(WizardFlowTest, RefusedPasswordAsksForItThenOnlySendsAgain) {
    storeChoices(/*save=*/true, /*send=*/true, "WAP");
    {
        Settings settings;
        settings.load();
        settings.setAccountNumber("0042");
        settings.setAccountStatus(1);
    }
    const std::string source = tone("song.wav", 1);
    RecordingSending sending;
    sending.askPasswordFirst = true;
    start();
    page<WizPage6_Progress>(kProgress)->setSendingPhase(&sending);
    runToProgress({QString::fromStdString(source)});
    ASSERT_TRUE(waitForClosingPage());
    ASSERT_EQ(activeId(), kPassword);
    EXPECT_TRUE(sheet().backButton()->isEnabled());
    EXPECT_TRUE(sheet().nextButton()->isEnabled());

    auto* password = page<WizPage5_Password>(kPassword);
    QTest::keyClicks(password->passwordField(), "2468");
    clickBox(password->rememberBox());
    const auto written = std::filesystem::last_write_time(out_.file("song.wav"));
    clickNext();
    ASSERT_TRUE(waitFor([&] { return activeId() != kProgress; }));
    EXPECT_EQ(activeId(), kUploads);
    EXPECT_EQ(sending.calls, 2);
    EXPECT_EQ(sending.passwords.back(), "2468");
    EXPECT_EQ(std::filesystem::last_write_time(out_.file("song.wav")), written)
        << "the second run only sends";
    Settings settings;
    settings.load();
    EXPECT_EQ(settings.accountPassword(), "2468");
    EXPECT_EQ(page<WizPage9_Uploads>(kUploads)->codePanel()->text().contains("0042"), true);
}

TEST_F(WizardTest, PasswordPageBackLeadsToTheTargetTheWorkerSet) {
    passwordExchange().request = PasswordRequest::ForUpload;
    start();
    sheet().selectPageById(kPassword);
    clickBack();
    EXPECT_EQ(activeId(), kTarget);

    passwordExchange().request = PasswordRequest::None;
    sheet().selectPageById(kPassword);
    EXPECT_FALSE(sheet().backButton()->isEnabled());
    EXPECT_TRUE(sheet().nextButton()->isEnabled());
}

TEST_F(WizardTest, MismatchedNewPasswordsKeepTheUserOnTheSetPasswordPage) {
    start();
    sheet().selectPageById(kSetPassword);
    auto* setPassword = page<WizSkylet2_Password>(kSetPassword);
    QTest::keyClicks(setPassword->oldField(), "1111");
    QTest::keyClicks(setPassword->newField(), "2222");
    QTest::keyClicks(setPassword->confirmField(), "2223");
    std::string warning;
    answerNextBox(&warning);
    clickNext();
    EXPECT_EQ(warning, "You have mistyped entering new password. Please reenter.");
    EXPECT_EQ(activeId(), kSetPassword);
    EXPECT_EQ(setPassword->oldField()->text(), "1111");
    EXPECT_TRUE(setPassword->newField()->text().isEmpty());
    EXPECT_TRUE(setPassword->confirmField()->text().isEmpty());
    clickBack();
    EXPECT_EQ(activeId(), kManage);
}

TEST_F(WizardTest, FinalSmsLinkShowsTheManualPickUpInstructions) {
    start();
    sheet().selectPageById(kFinalSms);
    EXPECT_TRUE(sheet().finishButton()->isVisible());
    QTest::mouseClick(sheet().activePage()->findChild<QtLinkLabel*>("manualLink"), Qt::LeftButton);
    EXPECT_EQ(activeId(), kUploads);
}

TEST_F(WizardTest, CancelClosesTheWizardOnOrdinaryPages) {
    start();
    clickNext();
    clickCancel();
    EXPECT_FALSE(sheet().isVisible());
}

}  // namespace
}  // namespace tolvane::wizard::test
