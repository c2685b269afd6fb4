#include "app/wizard_flow.h"

#include <algorithm>

namespace tolvane::wizard {

const std::array<PageInfo, kPageCount>& pages() {
    static const std::array<PageInfo, kPageCount> table{{
        {kWelcome, "WizPage1_Welcome", "Welcome to Tolvane", "", true, 2},
        {kFiles, "WizPage2_Files", "Select music files",
         "Add or drag-and-drop files to conversion list", false, 3},
        {kFormat, "WizPage3_Format", "Select ringtones format",
         "Pick your phone, or a ringtone format that your phone plays", false, 4},
        {kTarget, "WizPage4_Target", "Select destination",
         "Store the ringtones on this computer, send them to your phone, or both", false, 5},
        {kPassword, "WizPage5_Password", "Enter password",
         "Your Skylet uploads are protected by a password", false, 1},
        {kProgress, "WizPage6_Progress", "Converting...",
         "Please wait while your music files become ringtones", false, 6},
        {kSuccess, "WizPage7_Success", "Completing Tolvane", "", true, 1},
        {kFailure, "WizPage8_Failure", "Completing Tolvane", "", true, 1},
        {kUploads, "WizPage9_Uploads", "Save ringtones to your phone",
         "Your ringtones are waiting for your phone on the Skylet service", false, 1},
        {kManage, "WizSkylet1_Manage", "Manage my uploads",
         "Look after the ringtones you uploaded to the Skylet service", false, 7},
        {kSetPassword, "WizSkylet2_Password", "Set or change password",
         "Protect your Skylet uploads with a password", false, 8},
        {kNegotiate, "WizSkylet3_Negotiate", "Negotiating with Skylet service...",
         "Your request is on its way to the Skylet service", false, 1},
        {kFinalSms, "WizPage10_FinalSMS", "Save ringtones to your phone",
         "Your ringtones are on their way to your phone", false, 1},
        {kFinalMms, "WizPage11_FinalMMS", "Save ringtones to your phone",
         "Your ringtones are on their way to your phone", false, 1},
    }};
    return table;
}

int positionOf(int id) {
    const auto& table = pages();
    auto it =
        std::find_if(table.begin(), table.end(), [id](const PageInfo& p) { return p.id == id; });
    return it == table.end() ? -1 : static_cast<int>(it - table.begin());
}

const PageInfo* pageInfo(int id) {
    int position = positionOf(id);
    return position < 0 ? nullptr : &pages()[position];
}

PageId closingPage(std::string_view errorText, bool sendChosen, std::string_view delivery) {
    if (!errorText.empty())
        return kFailure;
    if (!sendChosen)
        return kSuccess;
    if (delivery == "MMS")
        return kFinalMms;
    if (delivery == "SMS+WAP")
        return kFinalSms;
    return kUploads;
}

std::string helpFilePath(std::string_view appPath) {
    std::string path(appPath);
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + kHelpFileName;
}

std::string helpAnchor(int context) {
    return "context-" + std::to_string(context);
}

std::string contactsUrl(std::string_view homeUrl) {
    return std::string(homeUrl) + "?contacts";
}

int passwordBackPage(PasswordRequest request) {
    switch (request) {
        case PasswordRequest::ForUpload:
            return kTarget;
        case PasswordRequest::ForAccountTask:
            return kManage;
        case PasswordRequest::None:
            break;
    }
    return kNoTarget;
}

int passwordNextPage(PasswordRequest request) {
    switch (request) {
        case PasswordRequest::ForUpload:
            return kProgress;
        case PasswordRequest::ForAccountTask:
            return kNegotiate;
        case PasswordRequest::None:
            break;
    }
    return kNoTarget;
}

int taskBackPage(delivery::TaskOutcome outcome) {
    switch (outcome) {
        case delivery::TaskOutcome::WrongOldPassword:
            return kSetPassword;
        case delivery::TaskOutcome::Failed:
            return kManage;
        case delivery::TaskOutcome::None:
        case delivery::TaskOutcome::Done:
            break;
    }
    return kNoTarget;
}

int taskNextPage(delivery::TaskOutcome outcome) {
    return outcome == delivery::TaskOutcome::Done ? kWelcome : kNoTarget;
}

std::string_view taskEndText(delivery::TaskOutcome outcome) {
    switch (outcome) {
        case delivery::TaskOutcome::Done:
            return "Done. Click Next to return to the first page.";
        case delivery::TaskOutcome::WrongOldPassword:
            return "The password was not changed. Click Back to enter the old password again.";
        case delivery::TaskOutcome::Failed:
            return "The operation did not succeed. Click Back to choose again.";
        case delivery::TaskOutcome::None:
            break;
    }
    return kNegotiateWaitText;
}

}  // namespace tolvane::wizard
