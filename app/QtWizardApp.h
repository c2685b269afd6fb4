// Builds the wizard: the sheet with its fourteen pages in order, the already-converted question,
// and the embedded pictures. Used by the program, the screenshot tool and the page tests.
#pragma once

#include <memory>

#include "app/QtWizardSheet.h"

namespace tolvane::wizard {

class QtConvertedQuestion;

// Registers the embedded pictures; call once after the QApplication exists.
void initWizardResources();

struct Wizard {
    std::unique_ptr<QtWizardSheet> sheet;
    std::unique_ptr<QtConvertedQuestion> question;
    ~Wizard();
};

// The sheet titled "Tolvane" with the fourteen pages in sheet order, on the Welcome page, and
// the process-wide already-converted question installed (removed again when the result goes).
std::unique_ptr<Wizard> buildWizard();

}  // namespace tolvane::wizard
