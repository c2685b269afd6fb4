#include "app/QtWizardApp.h"

#include "app/QtConvertedQuestion.h"
#include "app/WizPage10_FinalSMS.h"
#include "app/WizPage11_FinalMMS.h"
#include "app/WizPage1_Welcome.h"
#include "app/WizPage5_Password.h"
#include "app/WizPage6_Progress.h"
#include "app/WizPage7_Success.h"
#include "app/WizPage8_Failure.h"
#include "app/WizPage9_Uploads.h"
#include "app/WizPage3_Format.h"
#include "app/WizPage4_Target.h"
#include "app/WizSkylet1_Manage.h"
#include "app/WizSkylet2_Password.h"
#include "app/WizSkylet3_Negotiate.h"
#include "delivery/sending_phase.h"
#include "app/WizPage2_Files.h"

static void registerPictures() {
    Q_INIT_RESOURCE(pictures);
}

namespace tolvane::wizard {

void initWizardResources() {
    static const bool registered = (registerPictures(), true);
    (void)registered;
}

Wizard::~Wizard() {
    setConvertedQuestion(nullptr);
    sheet.reset();
}

std::unique_ptr<Wizard> buildWizard() {
    initWizardResources();
    auto wizard = std::make_unique<Wizard>();
    wizard->sheet = std::make_unique<QtWizardSheet>();
    QtWizardSheet& sheet = *wizard->sheet;
    sheet.addPage(new WizPage1_Welcome);
    sheet.addPage(new WizPage2_Files);
    sheet.addPage(new WizPage3_Format);
    sheet.addPage(new WizPage4_Target);
    sheet.addPage(new WizPage5_Password);
    wizard->sending = std::make_unique<delivery::DeliverySendingPhase>();
    auto* progress = new WizPage6_Progress;
    progress->setSendingPhase(wizard->sending.get());
    sheet.addPage(progress);
    sheet.addPage(new WizPage7_Success);
    sheet.addPage(new WizPage8_Failure);
    sheet.addPage(new WizPage9_Uploads);
    sheet.addPage(new WizSkylet1_Manage);
    sheet.addPage(new WizSkylet2_Password);
    sheet.addPage(new WizSkylet3_Negotiate);
    sheet.addPage(new WizPage10_FinalSMS);
    sheet.addPage(new WizPage11_FinalMMS);
    wizard->question = std::make_unique<QtConvertedQuestion>(&sheet);
    setConvertedQuestion(wizard->question.get());
    return wizard;
}

}  // namespace tolvane::wizard
