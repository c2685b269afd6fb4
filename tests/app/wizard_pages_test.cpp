// The Target page's checks and the sending pages, driven as a user drives them, with our real
// skyletd as the upload service.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/QtUi.h"
#include "app/WizPage2_Files.h"
#include "app/WizPage4_Target.h"
#include "app/WizPage9_Uploads.h"
#include "app/WizSkylet3_Negotiate.h"
#include "local_servers.h"
#include "pipeline/settings.h"
#include "platform/registry.h"
#include "qt_wizard_fixture.h"
#include "support/test_support.h"

namespace tolvane::wizard::test {
namespace {

using tolvane::test::SkyletServer;
using tolvane::test::TempDir;

class WizardDeliveryTest : public WizardTest {
protected:
    void useService(const std::string& url) { machine_.setServiceUrl(url); }
    void storeSending(std::uint32_t carrier, const std::string& delivery, bool save = false) {
        Settings settings;
        settings.load();
        settings.setSave(save);
        settings.setSend(1);
        settings.setCarrier(static_cast<std::int32_t>(carrier));
        settings.setDelivery(delivery);
        settings.setFolder(out_.path().string());
    }
    WizPage4_Target* openTarget() {
        start();
        sheet().selectPageById(kTarget);
        return page<WizPage4_Target>(kTarget);
    }

    TempMachineHive machine_{"http://127.0.0.1:1/"};  // nothing listens there
    TempDir out_;
};

TEST_F(WizardDeliveryTest, FirstRunStoresAndSendsByWapToTheDocumentsFolder) {
    WizPage4_Target* target = openTarget();
    EXPECT_TRUE(target->storeBox()->isChecked());
    EXPECT_TRUE(target->sendBox()->isChecked());
    EXPECT_TRUE(target->folderField()->text().endsWith("/Documents/My Ringtones"))
        << target->folderField()->text().toStdString();
    EXPECT_EQ(target->carrierList()->currentText(), "> Not listed <");
    EXPECT_EQ(target->deliveryList()->currentText(), "WAP");
    EXPECT_TRUE(sheet().nextButton()->isEnabled());
}

TEST_F(WizardDeliveryTest, CancelOnTheTargetPageStoresItsValuesFirst) {
    WizPage4_Target* target = openTarget();
    QTest::mouseClick(target->storeBox(), Qt::LeftButton, {},
                      QPoint(8, target->storeBox()->height() / 2));
    const int verizon = target->carrierList()->findText("Verizon");
    target->carrierList()->setCurrentIndex(verizon);
    emit target->carrierList()->activated(verizon);
    QTest::keyClicks(target->phoneField(), "5550100");
    clickCancel();
    EXPECT_FALSE(sheet().isVisible());
    Settings stored;
    stored.load();
    EXPECT_EQ(stored.save(), 0);
    EXPECT_EQ(stored.carrier(), 15);
    EXPECT_EQ(stored.delivery(), "MMS");
    EXPECT_EQ(stored.phoneNumber(), "5550100");
}

TEST_F(WizardDeliveryTest, TargetChecksRefuseWithTheirMessageAndPutTheFocusInTheField) {
    struct Case {
        const char* phone;
        const char* email;
        const char* message;
        const char* focus;
    };
    const Case cases[] = {
        {"", "me@example.org", "You cannot proceed without entering your phone number.", "phone"},
        {"555-0100", "me@example.org", "Only digits are allowed in phone number.", "phone"},
        {"5550100", "", "You cannot proceed without entering your e-mail address.", "email"},
        {"5550100", "1me@example.org", "E-mail address you entered seems to be invalid.", "email"},
        {"5550100", "me.example.org", "E-mail address you entered seems to be invalid.", "email"},
    };
    storeSending(15, "MMS");  // Verizon offers MMS
    WizPage4_Target* target = openTarget();
    ASSERT_EQ(target->deliveryList()->currentText(), "MMS");
    for (const Case& c : cases) {
        target->phoneField()->setText(c.phone);
        target->emailField()->setText(c.email);
        std::string message;
        answerNextBox(&message);
        clickNext();
        EXPECT_EQ(message, c.message) << c.phone << " " << c.email;
        EXPECT_EQ(activeId(), kTarget);
        QLineEdit* expected =
            std::string(c.focus) == "phone" ? target->phoneField() : target->emailField();
        EXPECT_EQ(sheet().focusWidget(), expected) << c.message;
    }
}

TEST_F(WizardDeliveryTest, AShortButValidAddressIsAcceptedAndTheChoicesAreStored) {
    storeSending(15, "MMS");
    WizPage4_Target* target = openTarget();
    QTest::keyClicks(target->phoneField(), "5550100");
    QTest::keyClicks(target->emailField(), "a@b");
    clickNext();
    EXPECT_EQ(activeId(), kProgress);
    ASSERT_TRUE(waitFor([&] { return activeId() != kProgress; }));
    Settings stored;
    stored.load();
    EXPECT_EQ(stored.phoneNumber(), "5550100");
    EXPECT_EQ(stored.email(), "a@b");
    EXPECT_EQ(stored.delivery(), "MMS");
    EXPECT_EQ(stored.carrier(), 15);
}

TEST_F(WizardDeliveryTest, WapNeedsNoPhoneNumber) {
    storeSending(0, "WAP");
    WizPage4_Target* target = openTarget();
    EXPECT_EQ(target->carrierList()->currentText(), "> Not listed <");
    EXPECT_EQ(target->deliveryList()->count(), 1);
    EXPECT_FALSE(target->phoneField()->isEnabled());
    EXPECT_FALSE(target->emailField()->isEnabled());
    EXPECT_FALSE(target->note()->isVisible());
    clickNext();  // no message box: the phone number is not asked for
    EXPECT_EQ(activeId(), kProgress);
    ASSERT_TRUE(waitFor([&] { return activeId() != kProgress; }));
}

TEST_F(WizardDeliveryTest, ChoosingACarrierOffersItsMethodsRichestFirst) {
    storeSending(3, "SMS+WAP");  // AT&T: no MMS gateway
    WizPage4_Target* target = openTarget();
    ASSERT_EQ(target->deliveryList()->count(), 2);
    const int verizon = target->carrierList()->findText("Verizon");
    ASSERT_GE(verizon, 0);
    target->carrierList()->setCurrentIndex(verizon);
    emit target->carrierList()->activated(verizon);
    QStringList methods;
    for (int i = 0; i < target->deliveryList()->count(); ++i)
        methods << target->deliveryList()->itemText(i);
    EXPECT_EQ(methods, QStringList({"MMS", "SMS+WAP", "WAP"}));
    EXPECT_EQ(target->deliveryList()->currentText(), "MMS");
    EXPECT_TRUE(target->phoneField()->isEnabled());
    EXPECT_TRUE(target->note()->isVisible());
    QTest::mouseClick(target->sendBox(), Qt::LeftButton, {},
                      QPoint(8, target->sendBox()->height() / 2));
    EXPECT_FALSE(target->carrierList()->isEnabled());
    EXPECT_FALSE(target->phoneField()->isEnabled());
}

TEST_F(WizardDeliveryTest, UploadRunToSkyletdEndsOnUploadsWithThePersonalCode) {
    SkyletServer skylet;
    useService(skylet.baseUrl());
    storeSending(0, "WAP", /*save=*/false);
    TempDir music;
    const std::string song = music.file("Ring Me.wav");
    ASSERT_TRUE(tolvane::test::makeTone(song, 22050, 1, 16, 2.0));
    start();
    clickNext();
    addFiles({QString::fromStdString(song)}, pages::WarningName::FullPath);
    clickNext();
    clickNext();
    clickNext();
    ASSERT_EQ(activeId(), kProgress);
    ASSERT_TRUE(waitFor([&] { return activeId() != kProgress; }));
    ASSERT_EQ(activeId(), kUploads) << skylet.log();

    Settings stored;
    stored.load();
    EXPECT_EQ(stored.accountStatus(), 1);
    ASSERT_EQ(stored.accountNumber().size(), 4u);
    auto* uploads = page<WizPage9_Uploads>(kUploads);
    EXPECT_TRUE(
        uploads->codePanel()->text().contains(QString::fromStdString(stored.accountNumber())));
    EXPECT_TRUE(uploads->hostPanel()->text().contains(serviceHost(skylet.baseUrl())));
    // The QR code beside the personal code, as a screenshot of the page shows it, decodes to
    // the pick-up page.
    // The page's layout takes in the new image when its posted layout request is handled.
    QCoreApplication::sendPostedEvents();
    uploads->layout()->activate();
    EXPECT_GE(uploads->qrCode()->height(), uploads->qrCode()->pixmap().height());
    EXPECT_TRUE(uploads->rect().contains(uploads->qrCode()->geometry()))  // not cut off
        << uploads->qrCode()->geometry().bottom() << " > " << uploads->rect().bottom();
    if (tolvane::test::haveTool("zbarimg")) {
        const std::string shot = skylet.dataDir().parent_path() / "uploads-page.png";
        ASSERT_TRUE(uploads->grab().save(QString::fromStdString(shot)));
        const auto decoded = tolvane::test::run({"zbarimg", "--raw", "-q", shot});
        EXPECT_EQ(decoded.output, skylet.baseUrl() + "?id=" + stored.accountNumber() + "\n");
    }
    // The service keeps each upload with the name the phone lists.
    std::vector<std::string> names, ringtones;
    for (const auto& upload : skylet.uploads(stored.accountNumber())) {
        names.push_back(upload.name);
        ringtones.push_back(skylet.dataDir().parent_path() / ("fetched-" + upload.name));
        std::ofstream(ringtones.back(), std::ios::binary) << upload.bytes;
    }
    EXPECT_EQ(names, std::vector<std::string>{"Ring Me.wav"}) << skylet.log();
    ASSERT_EQ(ringtones.size(), 1u);
    EXPECT_EQ(tolvane::test::probe(ringtones[0], "sample_rate"), "8000");

    // Ringtones made only for sending are gone when the wizard ends.
    wizard_.reset();
    std::vector<std::string> leftovers;
    for (const auto& entry : std::filesystem::directory_iterator(std::getenv("TMPDIR")))
        if (entry.path().extension() == ".wav")
            leftovers.push_back(entry.path().string());
    EXPECT_TRUE(leftovers.empty()) << leftovers.front();
}

TEST_F(WizardDeliveryTest, LostPasswordTaskCreatesANewAccountOnTheNegotiatePage) {
    SkyletServer skylet;
    useService(skylet.baseUrl());
    {
        Settings settings;
        settings.load();
        settings.setAccountStatus(1);
        settings.setAccountNumber("0777");
    }
    start();
    QTest::mouseClick(sheet().activePage()->findChild<QtLinkLabel*>("manageLink"), Qt::LeftButton);
    ASSERT_EQ(activeId(), kManage);
    QTest::mouseClick(sheet().activePage()->findChild<QtLinkLabel*>("lostLink"), Qt::LeftButton);
    ASSERT_EQ(activeId(), kNegotiate);
    EXPECT_FALSE(sheet().nextButton()->isEnabled());
    clickCancel();
    EXPECT_TRUE(sheet().isVisible()) << "Cancel is refused while the task runs";
    auto* negotiate = page<WizSkylet3_Negotiate>(kNegotiate);
    ASSERT_TRUE(waitFor([&] { return sheet().nextButton()->isEnabled(); })) << skylet.log();
    EXPECT_EQ(negotiate->statusLine()->text(), "Success. New account created.");
    EXPECT_EQ(negotiate->introLine()->text(), "Done. Click Next to return to the first page.")
        << "the page says it is done, not to wait";
    Settings stored;
    stored.load();
    EXPECT_NE(stored.accountNumber(), "0777");
    EXPECT_EQ(stored.accountStatus(), 1);
    EXPECT_TRUE(negotiate->personalCodeLine()->isVisible());
    EXPECT_EQ(negotiate->personalCodeLine()->text().toStdString(),
              "Your new personal code: " + stored.accountNumber());
    clickNext();
    EXPECT_EQ(activeId(), kWelcome);
}

}  // namespace
}  // namespace tolvane::wizard::test
