// The wizard by keyboard alone, offscreen, as a user without a mouse (or with a screen reader)
// drives it: Enter does what the default button does, text links take Enter only with the focus
// and show it, the Target page's browse button is a Tab stop, Delete removes files, the Add files
// dialog comes back to its folder, the window grows, the Success page leads to the ringtones'
// folder, and every control has a name a screen reader can say.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <functional>

#include "app/QtPartEditor.h"
#include "app/QtUi.h"
#include "app/QtWizardSheet.h"
#include "app/WizPage1_Welcome.h"
#include "app/WizPage2_Files.h"
#include "app/WizPage4_Target.h"
#include "app/WizPage7_Success.h"
#include "app/wizard_flow.h"
#include "pipeline/settings.h"
#include "qt_wizard_fixture.h"
#include "support/test_support.h"

namespace tolvane::wizard::test {
namespace {

using tolvane::test::TempDir;

class KeyboardTest : public WizardTest {
protected:
    // Shows the wizard as the active window, so that keys and access keys reach it.
    void startActive() {
        start();
        sheet().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet()));
    }
    // A key pressed and released where the focus is.
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget();
        QTest::keyClick(target ? target : &sheet(), key, modifiers);
        QApplication::processEvents();
    }
    // Runs `answer` on the next file dialog once it is up (the dialog's own event loop runs).
    void onNextFileDialog(std::function<void(QFileDialog*)> answer) {
        auto* poll = new QTimer;
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, [poll, answer] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            poll->stop();
            poll->deleteLater();
            answer(dialog);
        });
        poll->start();
    }
    std::string tone(const std::string& name) {
        const std::string path = music_.file(name);
        EXPECT_TRUE(tolvane::test::makeTone(path, 8000, 1, 16, 2.0));
        return path;
    }

    TempDir music_;
};

TEST_F(KeyboardTest, EnterOnTheClosingPagesFinishesWhereverTheFocusWasBefore) {
    const struct {
        PageId page;
        bool focusOnALink;  // the focus was on a link of the Welcome page when the page came
    } cases[] = {{kSuccess, false}, {kSuccess, true}, {kFailure, false}, {kFailure, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(pageInfo(c.page)->className) +
                     (c.focusOnALink ? ", from a link" : ", from Next"));
        urls_.urls.clear();
        startActive();
        if (c.focusOnALink)
            sheet().activePage()->findChild<QtLinkLabel*>("siteLink")->setFocus();
        else
            sheet().nextButton()->setFocus();
        sheet().selectPageById(c.page);
        ASSERT_EQ(activeId(), c.page);
        EXPECT_EQ(qobject_cast<QtLinkLabel*>(QApplication::focusWidget()), nullptr)
            << "a page never starts with the focus on a link";
        press(Qt::Key_Return);
        EXPECT_FALSE(sheet().isVisible()) << "Enter is Finish";
        EXPECT_EQ(sheet().result(), QDialog::Accepted);
        EXPECT_TRUE(urls_.urls.empty())
            << "Enter opened " << urls_.urls[0].toString().toStdString();
    }
}

TEST_F(KeyboardTest, EnterOnTheWelcomePageAfterTheAccountPagesIsNext) {
    {
        Settings settings;
        settings.load();
        settings.setAccountStatus(1);
    }
    startActive();
    auto* manage = page<WizPage1_Welcome>(kWelcome)->manageLink();
    ASSERT_TRUE(manage->isVisible());
    EXPECT_EQ(qobject_cast<QtLinkLabel*>(QApplication::focusWidget()), nullptr)
        << "the wizard opens with the focus on a link";
    // A link takes Enter when the user has tabbed to it.
    manage->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Return);
    ASSERT_EQ(activeId(), kManage);
    press(Qt::Key_B, Qt::AltModifier);  // "< Back"
    ASSERT_TRUE(waitFor([&] { return activeId() == kWelcome; }, 2000));
    EXPECT_NE(QApplication::focusWidget(), manage);
    press(Qt::Key_Return);
    EXPECT_EQ(activeId(), kFiles) << "Enter is Next, not the link";
    EXPECT_TRUE(urls_.urls.empty());
}

TEST_F(KeyboardTest, ALinkWithTheFocusShowsAFrame) {
    startActive();
    auto* site = sheet().activePage()->findChild<QtLinkLabel*>("siteLink");
    sheet().nextButton()->setFocus();
    const QImage plain = site->grab().toImage();
    site->setFocus(Qt::TabFocusReason);
    const QImage focused = site->grab().toImage();
    ASSERT_EQ(plain.size(), focused.size());
    int changed = 0;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x)
            changed += plain.pixel(x, y) != focused.pixel(x, y);
    EXPECT_GT(changed, plain.width()) << "no visible focus frame";
}

TEST_F(KeyboardTest, TheBrowseButtonIsATabStopAfterTheFolderField) {
    {
        Settings settings;
        settings.load();
        settings.setSave(1);
        settings.setFolder(music_.path().string());
    }
    startActive();
    sheet().selectPageById(kTarget);
    auto* target = page<WizPage4_Target>(kTarget);
    target->folderField()->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), target->browseButton());
    QString shownFolder;
    onNextFileDialog([&](QFileDialog* dialog) {
        shownFolder = dialog->directory().absolutePath();
        dialog->reject();
    });
    press(Qt::Key_Space);
    EXPECT_EQ(shownFolder.toStdString(), music_.path().string()) << "the dialog never opened";
}

TEST_F(KeyboardTest, DeleteRemovesTheSelectedFiles) {
    const std::string one = tone("one.wav");
    const std::string two = tone("two.wav");
    startActive();
    press(Qt::Key_Return);
    ASSERT_EQ(activeId(), kFiles);
    auto* files = page<WizPage2_Files>(kFiles);
    addFiles({QString::fromStdString(one), QString::fromStdString(two)});
    ASSERT_EQ(files->list()->topLevelItemCount(), 2);
    files->list()->setFocus();
    files->list()->setCurrentItem(files->list()->topLevelItem(0));
    press(Qt::Key_Delete);
    ASSERT_EQ(files->list()->topLevelItemCount(), 1);
    EXPECT_EQ(files->list()->topLevelItem(0)->text(0), "two.wav");
    ASSERT_EQ(fileList().size(), 1u);
    EXPECT_EQ(fileList().entries()[0].path, two);
    // With nothing selected, Delete does nothing.
    files->list()->clearSelection();
    press(Qt::Key_Delete);
    EXPECT_EQ(fileList().size(), 1u);
}

TEST_F(KeyboardTest, TheAddFilesDialogOpensInTheFolderUsedLast) {
    const std::string song = tone("song.wav");
    startActive();
    sheet().selectPageById(kFiles);
    auto* files = page<WizPage2_Files>(kFiles);
    onNextFileDialog([&](QFileDialog* dialog) {
        dialog->selectFile(QString::fromStdString(song));
        static_cast<QDialog*>(dialog)->accept();  // Open
    });
    press(Qt::Key_A, Qt::AltModifier);  // "&Add files"
    ASSERT_TRUE(waitFor([&] { return !files->isBusy() && fileList().size() == 1; }));

    // The folder is one of the stored choices: a new wizard opens the dialog there.
    wizard_.reset();
    {
        Settings stored;
        stored.load();
        EXPECT_EQ(stored.sourceFolder(), music_.path().string());
    }
    startActive();
    sheet().selectPageById(kFiles);
    QString shownFolder;
    onNextFileDialog([&](QFileDialog* dialog) {
        shownFolder = dialog->directory().absolutePath();
        dialog->reject();
    });
    press(Qt::Key_A, Qt::AltModifier);
    ASSERT_TRUE(waitFor([&] { return !shownFolder.isEmpty(); }, 5000)) << "no dialog";
    EXPECT_EQ(shownFolder.toStdString(), music_.path().string());
}

TEST_F(KeyboardTest, TheWindowGrowsAndTheFileListWithIt) {
    startActive();
    sheet().selectPageById(kFiles);
    QTreeWidget* list = page<WizPage2_Files>(kFiles)->list();
    QApplication::processEvents();
    const QSize before = list->size();
    EXPECT_GT(sheet().maximumWidth(), sheet().minimumWidth()) << "the window has a fixed size";
    sheet().resize(sheet().width() + 300, sheet().height() + 200);
    ASSERT_TRUE(waitFor([&] { return list->width() > before.width(); }, 2000));
    EXPECT_GE(list->width(), before.width() + 250);
    EXPECT_GE(list->height(), before.height() + 150);
}

TEST_F(KeyboardTest, TheSuccessPageNamesTheFolderAndOpensIt) {
    {
        Settings settings;
        settings.load();
        settings.setSave(1);
        settings.setFolder(music_.path().string());
    }
    startActive();
    sheet().selectPageById(kSuccess);
    auto* success = page<WizPage7_Success>(kSuccess);
    EXPECT_EQ(success->folderLine()->text().toStdString(),
              "The ringtones are in " + music_.path().string());
    success->openFolderLink()->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Return);
    ASSERT_EQ(urls_.urls.size(), 1u);
    EXPECT_EQ(urls_.urls[0], QUrl::fromLocalFile(QString::fromStdString(music_.path().string())));
    EXPECT_TRUE(sheet().isVisible()) << "the link does not end the wizard";
}

// Every control a user can tab to, on every page, has a name (its text, its label's text or a
// name of its own), so that a screen reader never says just "button" or "edit".
TEST_F(KeyboardTest, EveryControlOfEveryPageHasAnAccessibleName) {
    start();
    QtWizardSheet& wizard = sheet();
    for (int position = 0; position < wizard.pageCount(); ++position) {
        WizPageBase* page = wizard.page(position);
        if (page != wizard.activePage())
            page->onInitDialog();  // builds the page's controls without running its tasks
        QList<QWidget*> controls = page->findChildren<QWidget*>();
        for (QPushButton* button : {wizard.helpButton(), wizard.backButton(), wizard.nextButton(),
                                    wizard.finishButton(), wizard.cancelButton()})
            controls.push_back(button);
        for (QWidget* control : controls) {
            if (!(control->focusPolicy() & Qt::TabFocus) || control->focusProxy())
                continue;
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
            ASSERT_NE(accessible, nullptr);
            EXPECT_FALSE(accessible->text(QAccessible::Name).trimmed().isEmpty())
                << page->info().className << ": " << control->metaObject()->className() << " '"
                << control->objectName().toStdString() << "' has no name";
        }
    }
}

// A screen reader reads the part bar as text: the part in seconds and the file's length.
TEST_F(KeyboardTest, ThePartBarIsReadAsText) {
    const std::string song = tone("song.wav");
    start();
    sheet().selectPageById(kFiles);
    auto* files = page<WizPage2_Files>(kFiles);
    addFiles({QString::fromStdString(song)});
    QTreeWidget* list = files->list();
    ASSERT_EQ(list->topLevelItemCount(), 1);
    const QModelIndex bar = list->model()->index(0, 1);
    EXPECT_EQ(bar.data(Qt::AccessibleTextRole).toString(), "whole file, 0:02");
    // A part set in the editor is what the reader says next.
    FileEntry& entry = fileList().entries()[0];
    entry.partMarked = true;
    entry.partStart = 0;
    entry.partLength = 1;
    files->onSetActive();
    list->topLevelItem(0)->setSelected(true);
    auto* editor = files->openPartEditor();
    ASSERT_NE(editor, nullptr);
    // The editor's controls have names too.
    for (QWidget* control : editor->findChildren<QWidget*>()) {
        if (!(control->focusPolicy() & Qt::TabFocus) || control->focusProxy())
            continue;
        EXPECT_FALSE(QAccessible::queryAccessibleInterface(control)
                         ->text(QAccessible::Name)
                         .trimmed()
                         .isEmpty())
            << "part editor: " << control->metaObject()->className() << " '"
            << control->objectName().toStdString() << "' has no name";
    }
    editor->accept();
    QApplication::processEvents();
    EXPECT_EQ(bar.data(Qt::AccessibleTextRole).toString(), "part 0 s to 1 s of 0:02");
}

}  // namespace
}  // namespace tolvane::wizard::test
