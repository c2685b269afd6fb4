// The wizard's pages and the rules that move the user between them. Qt-free, so that the rules
// are tested without a display; the Qt sheet and pages in Wiz*.cpp are views over them.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "delivery/account_tasks.h"
#include "pipeline/worker.h"

namespace tolvane::wizard {

// Template ids: a page's identity. A page's Next or Back handler returns one of these to choose
// its successor; the ascending order of the ids is also the order of the pages in the sheet.
enum PageId : int {
    kWelcome = 201,
    kFiles = 203,
    kFormat = 205,
    kTarget = 207,
    kPassword = 219,
    kProgress = 220,
    kSuccess = 253,
    kFailure = 254,
    kUploads = 257,
    kManage = 262,
    kSetPassword = 263,
    kNegotiate = 264,
    kFinalSms = 279,
    kFinalMms = 282,
};

// What a Next or Back handler returns besides a page id.
constexpr int kDefaultNeighbour = 0;  // the neighbouring page in sheet order
constexpr int kStayOnPage = -1;       // refuse to move
constexpr int kNoTarget = -1;         // "no Back/Next target" in the password and task exchanges

struct PageInfo {
    PageId id;
    const char* className;
    const char* caption;   // bold first header line
    const char* subtitle;  // second header line (interior pages)
    bool exterior;         // full-height picture instead of a header
    int helpContext;       // anchor number in the help page
};

constexpr int kPageCount = 14;

// The fourteen pages in sheet order.
const std::array<PageInfo, kPageCount>& pages();
// Sheet position of a page id, -1 when the id names no page.
int positionOf(int id);
// The page's row, nullptr for an unknown id.
const PageInfo* pageInfo(int id);

// Message posted by the unlisted-phone report's thread to its dialog (a Qt event type). The
// worker's messages 1123 and 1124 are in pipeline/worker.h.
constexpr int kMsgReportDone = 1025;

// Caption of every message box.
constexpr const char* kMessageCaption = "Tolvane 1.19";

// Wizard buttons a page enables (combinable).
enum WizardButtons : int { kBack = 1, kNext = 2, kFinish = 4 };

// The closing page after the worker's finished message: Failure when it collected error lines,
// else Success when nothing was sent, else by the delivery method ("MMS", "SMS+WAP", "WAP").
PageId closingPage(std::string_view errorText, bool sendChosen, std::string_view delivery);

// Where the Password page's Back and Next lead for whoever asked for the password: the Target
// and Progress pages for an upload, the Manage and Negotiate pages for an account task, no Back
// and staying on the page when nobody asked (kNoTarget).
int passwordBackPage(PasswordRequest request);
int passwordNextPage(PasswordRequest request);

// Where the Negotiate page's Back and Next lead once its task ended: Next to the Welcome page
// when it was done, Back to the Set-or-change page after a wrong old password, Back to the Manage
// page after a failure; kNoTarget for the other button, and for both while the task runs.
int taskBackPage(delivery::TaskOutcome outcome);
int taskNextPage(delivery::TaskOutcome outcome);
// The Negotiate page's first line: "Please wait ..." while the task runs, then what happened
// and where the buttons lead (the status line below gives the details).
inline constexpr const char* kNegotiateWaitText =
    "Please wait while wizard performs requested operations";
std::string_view taskEndText(delivery::TaskOutcome outcome);

// The help page file inside the application folder, and the address that opens it at a topic.
constexpr const char* kHelpFileName = "tolvanehelp.html";
std::string helpFilePath(std::string_view appPath);
std::string helpAnchor(int context);  // "context-N"

// The site link opens the home address; "Contact us >>" the home address with "?contacts".
std::string contactsUrl(std::string_view homeUrl);

}  // namespace tolvane::wizard
