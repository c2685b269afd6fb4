// The already-converted question as a two-button message box. The encoder asks it on the worker
// thread; the box is shown on the GUI thread while the worker waits for the answer.
#pragma once

#include <QObject>

#include "pipeline/encoder.h"

namespace tolvane::wizard {

class QtConvertedQuestion : public QObject, public ConvertedQuestion {
    Q_OBJECT
public:
    // Lives on the GUI thread; `parent` is the box's owner window (may be null).
    explicit QtConvertedQuestion(QWidget* owner);
    ConvertedAnswer askAlreadyConverted(const std::string& ringtonePath) override;

    // Shows the box about `ringtonePath` and returns the user's choice (GUI thread only).
    ConvertedAnswer ask(const std::string& ringtonePath);

private:
    QWidget* owner_;
};

}  // namespace tolvane::wizard
