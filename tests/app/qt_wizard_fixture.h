// Drives the wizard offscreen as a user would: one QApplication for the test program, a fresh
// wizard and fresh settings for every test, and helpers to wait for the event loop and to answer
// message boxes.
#pragma once

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QObject>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/QtWizardApp.h"
#include "app/WizPageBase.h"
#include "app/WizPage2_Files.h"

namespace tolvane::wizard::test {

// Records the addresses the wizard asks the desktop to open, instead of starting a browser.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

// Points the machine-wide values somewhere else for one test: the build's application folder,
// and `serviceUrl` as both HomeURL and SkyletURL.
class TempMachineHive {
public:
    explicit TempMachineHive(const std::string& serviceUrl);
    ~TempMachineHive();
    // Changes the service address (a page reads it when it loads its settings again).
    void setServiceUrl(const std::string& serviceUrl) const;

private:
    std::string folder_;
};

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds and shows the wizard (settings written before this are what it loads).
    void start();
    QtWizardSheet& sheet() { return *wizard_->sheet; }
    template <class Page>
    Page* page(PageId id) {
        return qobject_cast<Page*>(sheet().pageById(id));
    }
    PageId activeId() { return sheet().activePage()->templateId(); }

    void clickNext();
    void clickBack();
    void clickCancel();
    // Adds files on the Files page as the dialog does and waits until they are in the list.
    void addFiles(const QStringList& paths,
                  pages::WarningName naming = pages::WarningName::FileName);
    // Runs the event loop until `done` holds; false after `timeoutMs`.
    bool waitFor(const std::function<bool()>& done, int timeoutMs = 20000);

    // Answers the next message box that opens: records its text and presses the button whose
    // text is `button` (the default button when empty). `before` runs while the box is up.
    void answerNextBox(std::string* text, const QString& button = {},
                       std::function<void()> before = {});

    UrlRecorder urls_;
    std::unique_ptr<Wizard> wizard_;
};

}  // namespace tolvane::wizard::test
