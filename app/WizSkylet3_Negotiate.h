// Runs the chosen account task against the upload service on a thread of its own and shows the
// outcome in its status line; Back and Next lead where the task's result says.
#pragma once

#include <QTimer>
#include <functional>
#include <string>
#include <thread>

#include "app/WizPageBase.h"
#include "delivery/account_tasks.h"
#include "pipeline/settings.h"

class QLabel;

namespace tolvane::wizard {

using delivery::kTaskNewAccount;
using delivery::kTaskSetPassword;
using delivery::kTaskWipe;

class WizSkylet3_Negotiate : public WizPageBase, public delivery::AccountTaskView {
    Q_OBJECT
public:
    explicit WizSkylet3_Negotiate(QWidget* parent = nullptr);
    ~WizSkylet3_Negotiate() override;

    void setTask(int task) { request_.task = task; }
    int task() const { return request_.task; }
    void setPasswords(std::string oldPassword, std::string newPassword);

    void onInitDialog() override;
    void onSetActive() override;
    void onKillActive() override { timer_.stop(); }
    bool onQueryCancel() override { return false; }
    int onWizardNext() override { return taskNextPage(result_.outcome); }
    int onWizardBack() override { return taskBackPage(result_.outcome); }

    // AccountTaskView: called on the task's thread.
    void setStatus(std::string_view text) override;
    void postMessage(int message) override;

    QLabel* statusLine() const { return status_; }
    QLabel* introLine() const { return intro_; }
    QLabel* personalCodeLine() const { return code_; }

protected:
    bool event(QEvent* event) override;

private:
    void startTask();
    void finishThread();
    void taskFinished();

    Settings settings_;
    delivery::AccountTaskRequest request_;
    delivery::AccountTaskResult result_;
    std::thread worker_;
    QTimer timer_;
    int frame_ = 0;
    QLabel* animation_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* intro_ = nullptr;
    QLabel* code_ = nullptr;
    std::string accountBefore_;  // the account number when the task started
};

}  // namespace tolvane::wizard
