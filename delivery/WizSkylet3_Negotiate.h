// Runs the chosen account task against the upload service on a thread of its own and shows the
// outcome in its status line; Back and Next lead where the task's result says.
#pragma once

#include <QTimer>
#include <functional>
#include <string>
#include <thread>

#include "app/WizPageBase.h"

class QLabel;

namespace tolvane::wizard {

// Task codes shared by the account pages.
constexpr int kTaskSetPassword = 1;
constexpr int kTaskWipe = 2;
constexpr int kTaskNewAccount = 3;

class WizSkylet3_Negotiate : public WizPageBase {
    Q_OBJECT
public:
    explicit WizSkylet3_Negotiate(QWidget* parent = nullptr);
    ~WizSkylet3_Negotiate() override;

    void setTask(int task) { task_ = task; }
    int task() const { return task_; }
    void setPasswords(std::string oldPassword, std::string newPassword);

    void onInitDialog() override;
    void onSetActive() override;
    void onKillActive() override { timer_.stop(); }
    bool onQueryCancel() override { return false; }
    int onWizardNext() override { return nextTarget_; }
    int onWizardBack() override { return backTarget_; }

    QLabel* statusLine() const { return status_; }

protected:
    bool event(QEvent* event) override;

private:
    void startTask();
    void finishThread();
    void taskFinished();

    int task_ = 0;
    std::string oldPassword_;
    std::string newPassword_;
    int backTarget_ = kNoTarget;
    int nextTarget_ = kNoTarget;
    std::thread worker_;
    QTimer timer_;
    int frame_ = 0;
    QLabel* animation_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace tolvane::wizard
