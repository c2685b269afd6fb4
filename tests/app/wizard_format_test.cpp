// The Format page over the catalogue and the unlisted-phone report, as a user meets them.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "app/QtUi.h"
#include "pipeline/settings.h"
#include "app/PhoneNotifyDlg.h"
#include "app/WizPage3_Format.h"
#include "catalogue/catalogue.h"
#include "encoders/ringtone_formats.h"
#include "local_servers.h"
#include "platform/registry.h"
#include "qt_wizard_fixture.h"
#include "support/test_support.h"

namespace tolvane::wizard::test {
namespace {

class FormatPageTest : public WizardTest {
protected:
    WizPage3_Format* openFormat() {
        start();
        sheet().selectPageById(kFormat);
        return page<WizPage3_Format>(kFormat);
    }
    // Picks an entry of a drop-down list by its catalogue id, as a click on it would.
    static void choose(QComboBox* list, std::uint32_t id) {
        const int position = list->findData(id);
        ASSERT_GE(position, 0) << id;
        list->setCurrentIndex(position);
        emit list->activated(position);
    }
    static std::vector<int> enabledChoices(WizPage3_Format* format) {
        std::vector<int> on;
        for (int i = 0; i < catalogue::kFormatCount; ++i)
            if (format->formatChoice(i)->isEnabled())
                on.push_back(i);
        return on;
    }
    static int checkedChoice(WizPage3_Format* format) {
        for (int i = 0; i < catalogue::kFormatCount; ++i)
            if (format->formatChoice(i)->isChecked())
                return i;
        return -1;
    }
    // The first offered model of `vendor` whose mask is exactly `mask`.
    static std::uint32_t modelWithMask(std::uint32_t vendor, std::uint32_t mask) {
        for (const catalogue::CatalogueEntry& entry : catalogue::offeredModels(vendor))
            if (catalogue::modelMask(entry.id) == mask)
                return entry.id;
        ADD_FAILURE() << "no model with mask " << mask;
        return 0;
    }
};

TEST_F(FormatPageTest, FirstRunOffersNotListedWithEveryFormat) {
    WizPage3_Format* format = openFormat();
    EXPECT_EQ(format->vendorList()->currentText(), "> Not listed <");
    EXPECT_EQ(format->modelList()->count(), 1);
    EXPECT_EQ(enabledChoices(format), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(checkedChoice(format), 0);
    EXPECT_TRUE(format->formatChoice(3)->font().bold());
    EXPECT_EQ(format->formatChoice(0)->text(), "M&eduim quality WAV");
}

TEST_F(FormatPageTest, AModelEnablesItsFormatsAndAFallbackReplacesADisabledChoice) {
    WizPage3_Format* format = openFormat();
    QTest::mouseClick(format->formatChoice(3), Qt::LeftButton, {}, QPoint(8, 8));  // Mp3High
    choose(format->vendorList(), 1);                                               // Nokia
    EXPECT_EQ(format->modelList()->count(), 245 + 76);  // the phones of 2005-2008 and today's
    choose(format->modelList(), modelWithMask(1, 0x10));
    EXPECT_EQ(enabledChoices(format), std::vector<int>{5});
    EXPECT_EQ(checkedChoice(format), 5) << "AMR replaces MP3";
    choose(format->modelList(), modelWithMask(1, 0x03));
    EXPECT_EQ(checkedChoice(format), 3) << "MP3 replaces the disabled AMR";
    choose(format->modelList(), modelWithMask(1, 0x02));
    EXPECT_EQ(checkedChoice(format), 3) << "a still-enabled choice stays";
}

TEST_F(FormatPageTest, NineChoicesTheNewestBelowTheSevenAndReachableByKeyboard) {
    WizPage3_Format* format = openFormat();
    EXPECT_EQ(format->formatChoice(7)->text(), "&iPhone ringtone (M4R)");
    EXPECT_EQ(format->formatChoice(8)->text(), "An&droid ringtone (Ogg)");
    for (int i = 1; i < catalogue::kFormatCount; ++i) {
        EXPECT_GT(format->formatChoice(i)->geometry().top(),
                  format->formatChoice(i - 1)->geometry().top())
            << i;
        EXPECT_TRUE(format->formatChoice(i)->font().bold()) << i;
    }
    // Alt+I and Alt+D check the two choices, as their access keys promise (the button animates
    // its click, so the check comes a moment later).
    sheet().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_I, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return checkedChoice(format) == 7; }));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_D, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return checkedChoice(format) == 8; }));

    // An iPhone plays the iPhone ringtone only; a Pixel the Android ringtone first.
    choose(format->vendorList(), 16);  // Apple
    const int iphone15 = format->modelList()->findText("iPhone 15");
    ASSERT_GE(iphone15, 0);
    format->modelList()->setCurrentIndex(iphone15);
    emit format->modelList()->activated(iphone15);
    EXPECT_EQ(enabledChoices(format), std::vector<int>{7});
    EXPECT_EQ(checkedChoice(format), 7);
    choose(format->vendorList(), 34);  // Google
    EXPECT_EQ(enabledChoices(format), (std::vector<int>{0, 1, 2, 3, 5, 8}));
    EXPECT_EQ(checkedChoice(format), 8);

    clickNext();
    Settings stored;
    stored.load();
    EXPECT_EQ(stored.format(), 8);
}

TEST_F(FormatPageTest, AStoredNewFormatIsCheckedAgain) {
    Settings settings;
    settings.load();
    settings.setFormat(7);
    WizPage3_Format* format = openFormat();
    EXPECT_EQ(checkedChoice(format), 7);
}

TEST_F(FormatPageTest, LeavingStoresTheListPositionsAndTheFormat) {
    WizPage3_Format* format = openFormat();
    choose(format->vendorList(), 6);  // SonyEricsson
    choose(format->modelList(), modelWithMask(6, 0x02));
    QTest::mouseClick(format->formatChoice(2), Qt::LeftButton, {}, QPoint(8, 8));
    const int vendorPosition = format->vendorList()->currentIndex();
    const int modelPosition = format->modelList()->currentIndex();
    clickNext();
    ASSERT_EQ(activeId(), kTarget);
    Settings stored;
    stored.load();
    EXPECT_EQ(stored.vendorPosition(), vendorPosition);
    EXPECT_EQ(stored.modelPosition(), modelPosition);
    EXPECT_EQ(stored.format(), 2);
}

TEST_F(FormatPageTest, CancelOnTheFormatPageStoresItsValuesFirst) {
    WizPage3_Format* format = openFormat();
    QTest::mouseClick(format->formatChoice(6), Qt::LeftButton, {}, QPoint(8, 8));
    clickCancel();
    EXPECT_FALSE(sheet().isVisible());
    Settings stored;
    stored.load();
    EXPECT_EQ(stored.vendorPosition(), 0);
    EXPECT_EQ(stored.format(), 6);
}

TEST_F(FormatPageTest, TheReportReachesTheServerEncodedAndNotListedIsSelectedAfterwards) {
    tolvane::test::ScriptedHttpServer server;
    TempMachineHive hive(server.baseUrl());
    WizPage3_Format* format = openFormat();
    choose(format->vendorList(), 1);
    std::string headline;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<PhoneNotifyDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        QTest::keyClicks(dialog->vendorField(), "Acme Phones");
        QTest::keyClicks(dialog->modelField(), "X1 & Co");
        QTest::mouseClick(dialog->submitButton(), Qt::LeftButton);
        EXPECT_FALSE(dialog->submitButton()->isEnabled());
        EXPECT_FALSE(dialog->dontSendButton()->isEnabled());
        EXPECT_FALSE(dialog->vendorField()->isVisible());
        // Escape is refused while the report is on its way.
        QTest::keyClick(dialog, Qt::Key_Escape);
        EXPECT_TRUE(dialog->isVisible());
        QObject::connect(dialog, &QDialog::finished,
                         [&, dialog] { headline = dialog->statusLabel()->text().toStdString(); });
    });
    QTest::mouseClick(format->notListedLink(), Qt::LeftButton);  // runs the dialog to its end
    EXPECT_EQ(headline, "Successfully sent");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].uri, "/phone_notify.php?vendor=Acme%20Phones&model=X1%20%26%20Co");
    EXPECT_EQ(format->vendorList()->currentText(), "> Not listed <");
    EXPECT_EQ(enabledChoices(format).size(), 9u);
}

TEST_F(FormatPageTest, DontSendClosesWithoutARequest) {
    tolvane::test::ScriptedHttpServer server;
    TempMachineHive hive(server.baseUrl());
    PhoneNotifyDlg dialog("http://127.0.0.1:1/");
    QTimer::singleShot(0, [&] { QTest::mouseClick(dialog.dontSendButton(), Qt::LeftButton); });
    EXPECT_EQ(dialog.exec(), PhoneNotifyDlg::kNotSent);
    EXPECT_TRUE(server.requests().empty());
}

}  // namespace
}  // namespace tolvane::wizard::test
