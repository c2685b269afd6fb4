// The closing page after a run with errors: the error lines the worker collected.
#pragma once

#include "app/WizPageBase.h"
#include "pipeline/settings.h"

class QPlainTextEdit;

namespace tolvane::wizard {

class WizPage8_Failure : public WizPageBase {
    Q_OBJECT
public:
    explicit WizPage8_Failure(QWidget* parent = nullptr);
    void onInitDialog() override;
    void onSetActive() override;

    // The lines to show (CR LF separated); set by the Progress page before it selects this page.
    void setErrorText(const std::string& text);
    QPlainTextEdit* errorBox() const { return errors_; }

private:
    void showErrors();

    Settings settings_;
    std::string errorText_;
    QPlainTextEdit* errors_ = nullptr;
};

}  // namespace tolvane::wizard
