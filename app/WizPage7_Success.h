// The closing pages: Success, Failure (with the collected error lines), and the two pages that
// say what happens on the phone after MMS or SMS delivery.
#pragma once

#include "app/WizPageBase.h"
#include "pipeline/settings.h"

class QPlainTextEdit;

namespace tolvane::wizard {

class WizPage7_Success : public WizPageBase {
    Q_OBJECT
public:
    explicit WizPage7_Success(QWidget* parent = nullptr);
    void onInitDialog() override;
    void onSetActive() override;

private:
    Settings settings_;
};

}  // namespace tolvane::wizard
